#pragma once

// State and switches of the stand-in's operation areas: the assistant and its
// threads, the Instagram account and feed, media uploads, publications and the
// plan's drafts. Reached from a test with Standin::operations(server).

#include "Certificate.h"
#include "StandinServer.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QSet>

#include <functional>

namespace Standin {

// The https host that takes direct uploads and serves the Instagram
// authorization page, on 127.0.0.1 with the stand-in's certificate.
class SecureHost final : public QAbstractHttpServer {
    Q_OBJECT
public:
    using Handler = std::function<Answer(const Seen &)>;
    explicit SecureHost(QObject *parent = nullptr);
    quint16 start();
    QString origin() const;
    // Handles the paths that start with `prefix`.
    void route(const QByteArray &method, const QString &prefix, Handler handler)
    {
        m_routes.push_back({method, prefix, std::move(handler)});
    }
    QList<Seen> seen() const { return m_seen; }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Route {
        QByteArray method;
        QString prefix;
        Handler handler;
    };
    QList<Route> m_routes;
    QList<Seen> m_seen;
    quint16 m_port = 0;
};

struct Operations final : QObject {
    Q_OBJECT
public:
    explicit Operations(Server &server);

    Server &server;
    SecureHost *secure = nullptr;
    // Milliseconds since 1970; the system's time unless a test gives its own.
    std::function<qint64()> now;

    // ---- Assistant
    struct Thread {
        QString id;
        QString title;
        QJsonArray messages;
        qint64 createdAt = 0;
        qint64 updatedAt = 0;
    };
    struct ThreadStore {
        qint64 version = 1;
        QString activeThreadId;
        QList<Thread> threads;
    };
    QHash<QString, ThreadStore> threadStores; // by user id

    // ---- Instagram
    QSet<QString> connected;                  // user ids with a connected account
    QHash<QString, QString> connectGrants;    // one-off grant on the authorization page -> user id
    int abandonedReports = 0;
    int feedSize = 23;
    int feedPageSize = 10;
    QString connectStatus = QStringLiteral("connected"); // what the authorization page reports

    // ---- Media
    struct Media {
        QString id;
        QString userId;
        QString contentType;
        QString fileName;
        qint64 size = 0;
        QByteArray sha256;
        QString via; // "multipart" or "direct"
    };
    struct Ticket {
        QString userId;
        QString contentType;
        qint64 byteSize = 0;
        bool received = false;
        qint64 receivedSize = 0;
        QByteArray sha256;
    };
    QHash<QString, Media> media;
    QHash<QString, Ticket> tickets;
    bool directUnavailable = false;  // the intent answers "direct_upload_unavailable"
    int transferStatus = 200;        // the status the upload address answers
    // When set (307, 308, 302...), the upload address sends the bytes on with
    // this status to the same path at "localhost", another origin of the same host.
    int transferRedirectStatus = 0;
    bool plainHttpUploadAddress = false; // hand out an http address (the client must refuse it)
    // Hand out addresses on this origin instead (a front before the upload host).
    QString uploadOrigin;

    // ---- Publications
    struct Publication {
        QString userId;
        QString key;
        QJsonObject json;
        qint64 createdAt = 0;
        bool final = false;
    };
    QList<Publication> publications;
    // Every creation request as it arrived, whatever became of it (refused,
    // held, answered with an existing record): what the client sent, kept
    // apart from what the service made of it.
    struct CreationRequest {
        QByteArray key; // the "Idempotency-Key" field, empty when none came
        QByteArray body;
    };
    QList<CreationRequest> creationRequests;
    int publicationsMade = 0; // ids are "pub-" and this count, never reused
    qint64 processingMs = 3000;  // how long a new publication stays "processing"
    bool stayProcessing = false; // never leave "processing"
    // What a publication ends as once processed: "published" (with a link), or
    // a failure status with the reason the service records (none: no reason).
    // A draft the service cannot keep ends in that failure at once.
    QString finalStatus = QStringLiteral("published");
    std::optional<QString> finalError;
    // What happens to a creation after it is stored: answered normally,
    // connection dropped, or never answered (the client's time-out ends it).
    Answer::Delivery afterStore = Answer::Delivery::normal;
    int afterStoreTimes = 1;
    // Creations refused with this status and code (the code may be empty).
    std::optional<std::pair<int, QString>> creationFailure;

    // ---- Plan
    QHash<QString, QJsonArray> drafts;

    // The user a request speaks for (bearer token), else none.
    std::optional<QString> userFor(const Seen &seen) const;
    Publication *publication(const QString &userId, const QString &idOrKey);
    QJsonObject publicationJson(Publication &p);
};

Operations &operations(Server &server);

void addAssistantRoutes(Server &server, Operations &ops);
void addInstagramRoutes(Server &server, Operations &ops);
void addMediaRoutes(Server &server, Operations &ops);
void addPublicationRoutes(Server &server, Operations &ops);

} // namespace Standin
