#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QUrlQuery>

#include <functional>
#include <optional>

class QTcpSocket;

namespace Standin {

// One request as the stand-in saw it; header names are lower-cased.
struct Seen {
    QByteArray method;
    QString path;
    QUrlQuery query;
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;

    QJsonObject json() const;
    bool has(const QByteArray &header) const { return headers.contains(header.toLower()); }
    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

// A switch that changes the stand-in's answers for one test.
struct Fault {
    enum class Kind {
        slow,         // answer normally after `delayMs`
        unauthorized, // 401 with {"code": code} when a code is given, else an empty body
        serverError,  // `status` (5xx) with {"code": code}, or an HTML page without a code
        malformed,    // 200 with a body that is not JSON
        drop,         // send the first half of the answer, then drop the connection
        cutHead,      // send the status line and part of a header field, then drop the connection
        noContent,    // do the work; a success goes out as "204 No Content", without a body
        hang,         // never answer
        redirect,     // `status` (3xx) to `location`, an address or a path
    };
    Kind kind = Kind::serverError;
    QString path;            // exact path; empty: every path
    int status = 500;
    std::optional<QString> code;
    int delayMs = 0;
    int times = -1;          // how many requests it hits; -1: all
    QString location = QString(); // redirect: where to
    QByteArray method = QByteArray(); // only requests of this method ("PUT"); empty: every method
};

struct Answer {
    // How the answer leaves: normally, or (after the work was done) never, or
    // cut off half-way, as a server does that stores a request and then fails.
    enum class Delivery { normal, drop, hang };

    Answer() = default;
    Answer(int status_, QByteArray body_ = {}, QByteArray contentType_ = "application/json")
        : status(status_), body(std::move(body_)), contentType(std::move(contentType_))
    {
    }

    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    Delivery delivery = Delivery::normal;
    QList<QPair<QByteArray, QByteArray>> headers = {}; // extra fields, such as Set-Cookie

    static Answer json(int status, const QJsonObject &object);
    static Answer error(int status, const QString &code);
};

// In-memory accounts at the accounts provider, and the service's sessions.
struct State {
    struct Account {
        QString userId;
        QString email;
        QString password;
        QString fullName;
        bool confirmed = true;
    };
    struct RefreshToken {
        QString userId;
        QString family; // one chain of rotations; reuse of an old token ends the whole chain
        bool used = false;
    };

    QHash<QString, Account> accounts;            // by e-mail
    QHash<QString, QString> providerTokens;      // provider access token -> e-mail
    QHash<QString, QString> accessTokens;        // service access token -> user id
    QHash<QString, QString> accessFamilies;      // service access token -> family
    QHash<QString, RefreshToken> refreshTokens;  // service refresh token -> its state
    bool autoConfirm = true;                     // sign-up signs the account in at once
    bool strictRotation = false;                 // a refresh revokes every older access token of its chain
    int counter = 0;

    QString newToken(const QString &prefix);
    const Account *accountByUserId(const QString &userId) const;
    void revokeFamily(const QString &family);
    void revokeAccess(const QString &family);
};

// The local stand-in for the service and its accounts provider: a real HTTP
// server on 127.0.0.1 speaking the documented endpoints, with state in memory
// and switches for tests. Routes are grouped per area (see *Routes.cpp).
class Server final : public QAbstractHttpServer {
    Q_OBJECT

public:
    using Handler = std::function<Answer(const Seen &)>;

    static inline const QString anonKey = QStringLiteral("standin-anon-key");

    explicit Server(QObject *parent = nullptr);
    ~Server() override;

    // Listens on 127.0.0.1; port 0 picks a free one. Returns the port, 0 on failure.
    quint16 start(quint16 port = 0);
    quint16 port() const { return m_port; }
    QString origin() const;

    void route(const QByteArray &method, const QString &path, Handler handler);
    // A route for every path below `prefix` (which ends in "/"); exact routes win.
    void routePrefix(const QByteArray &method, const QString &prefix, Handler handler);
    // Runs on every request after it is recorded and before it is dispatched.
    void addAdapter(std::function<void(Seen &)> adapter) { m_adapters.push_back(std::move(adapter)); }

    // ---- Switches
    void addFault(Fault fault) { m_faults.push_back(std::move(fault)); }
    void clearFaults() { m_faults.clear(); }
    // Every path also answers with a trailing slash, as behind a proxy that
    // sends clients to the slashed path (a `redirect` fault does the sending).
    void setTrailingSlashes(bool on) { m_trailingSlashes = on; }
    // The address handed out as the provider's project URL; the stand-in's own origin by default.
    void setProviderURL(std::optional<QString> url) { m_providerURL = std::move(url); }
    QString providerURL() const;
    // Makes every access token handed out so far invalid (as if they had expired).
    void expireAccessTokens();
    // Forgets every session, refresh tokens included, as a service restarted
    // without its session store does.
    void forgetSessions();
    // Answers held by a `hang` fault are released (answered normally): those of
    // one path, or all.
    void releaseHeld(const QString &path = QString());
    // How a `slow` answer waits: a real timer unless a test runs the stand-in on
    // its own (virtual) time.
    using Scheduler = std::function<void(int delayMs, std::function<void()> then)>;
    void setScheduler(Scheduler scheduler) { m_scheduler = std::move(scheduler); }
    // Requests whose answers are being withheld (hang faults, stored creations
    // left hanging, slow answers not yet due) while their connection is open.
    QList<Seen> withheld() const;

    // ---- What happened
    State &state() { return m_state; }
    QList<Seen> seen(const QString &path = QString()) const;
    int count(const QString &path) const { return seen(path).size(); }
    void clearSeen() { m_seen.clear(); }

    // A demo account so a person can sign in right away.
    void addAccount(const QString &email, const QString &password, const QString &fullName = QString());

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    Answer dispatch(const Seen &seen);
    std::optional<Fault> takeFault(const Seen &seen);
    static void write(QTcpSocket *socket, const Answer &answer, bool cut = false);
    void registerAdminRoutes();

    quint16 m_port = 0;
    QHash<QByteArray, QHash<QString, Handler>> m_routes;
    QHash<QByteArray, QList<QPair<QString, Handler>>> m_prefixRoutes;
    QList<std::function<void(Seen &)>> m_adapters;
    QList<Fault> m_faults;
    QList<Seen> m_seen;
    State m_state;
    std::optional<QString> m_providerURL;
    QList<std::pair<QPointer<QTcpSocket>, Seen>> m_held;
    QList<std::pair<QPointer<QTcpSocket>, Seen>> m_hung;
    QList<std::pair<QPointer<QTcpSocket>, Seen>> m_slow;
    Scheduler m_scheduler;
    bool m_trailingSlashes = false;
};

// The areas of the stand-in; each adds its routes.
void addServiceAuthRoutes(Server &server);
void addProviderRoutes(Server &server);
// Assistant, Instagram, media, publications and plan drafts (OperationRoutes.h).
void addOperationRoutes(Server &server);
void addWebAppRoutes(Server &server); // WebApp.h

} // namespace Standin
