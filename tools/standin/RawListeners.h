#pragma once

// Listeners below HTTP for what a server library will not do on purpose: a
// front that sits between a client and the stand-in the way a proxy or a
// failing server does (refusing an upload half-way, resetting connections,
// interim answers, an answer that never ends), and another origin that only
// records what reaches it.

#include "StandinServer.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <memory>
#include <optional>

namespace Standin {

// A raw TCP front for the stand-in: forwards each request to it and its answer
// back, unless a switch says otherwise for that request.
class Front final : public QObject {
    Q_OBJECT
public:
    struct Switch {
        enum class Kind {
            refuseMidUpload, // after `afterBytes` of the body: 413, then the connection closed under the sender
            resetMidUpload,  // after `afterBytes` of the body: the connection reset
            // As a proxy with a size limit: a 413 page the moment the head is
            // in, before any of the body is read, then the connection closed.
            refuseBeforeBody,
            // The same proxy's close with no answer at all.
            dropBeforeBody,
            // A 413 page whose body is cut off by the close (it declares more).
            refuseCutBeforeBody,
            // An old proxy: "417 Expectation Failed" to a request that expects
            // "100 Continue"; one without the expectation passes.
            refuseExpectation,
            // A server that lets "100 Continue" wait, takes `afterBytes` of the
            // body that came anyway, then answers "417 Expectation Failed" and
            // reads on.
            refuseExpectationLate,
            resetAfterAnswer,// the stand-in does the work and answers; the client gets a reset instead
            // The work done, the connection closed (not reset) instead of the
            // answer, and no connection taken after it, as a network that went
            // away: the client's own attempt to send again is refused.
            resetAfterAnswerThenGone,
            earlyHints,      // a "103 Early Hints" goes out before the stand-in's answer
            earlyHintsThenGone, // the same, then gone as resetAfterAnswerThenGone
            endlessBody,     // a 200 whose chunked body never ends
        };
        Kind kind = Kind::resetAfterAnswer;
        QByteArray method;       // empty: any
        QString path;            // exact path; one ending in "/" takes every path under it
        qint64 afterBytes = 64 * 1024;
        int times = -1;          // how many requests it hits; -1: all
    };

    explicit Front(quint16 backendPort, QObject *parent = nullptr);
    ~Front() override;

    // Before start(): speaks https to clients with the stand-in's certificate
    // and https to the backend, as in front of the upload host.
    void setSecure(bool secure) { m_secure = secure; }

    // Listens on 127.0.0.1; returns the port, 0 on failure.
    quint16 start();
    QString origin() const;

    // The page such a proxy answers with.
    static QByteArray refusalPage();

    void add(Switch s) { m_switches.push_back(std::move(s)); }
    // Requests that reached the front for `path`, whatever became of them.
    int requests(const QString &path) const { return m_requests.value(path); }
    // The same for every path that starts with `prefix`.
    int requestsUnder(const QString &prefix) const;
    // Body bytes of endless answers written so far, and whether their readers have gone.
    qint64 endlessBytes() const { return m_endlessBytes; }
    int endlessClosed() const { return m_endlessClosed; }

private:
    struct Link;
    friend struct Link;
    std::optional<Switch> take(const QByteArray &method, const QString &path);
    void accept(QTcpSocket *client);

    bool m_secure = false;
    std::unique_ptr<QTcpServer> m_server;
    quint16 m_backend;
    QList<Switch> m_switches;
    QHash<QString, int> m_requests;
    QList<std::shared_ptr<Link>> m_links;
    qint64 m_endlessBytes = 0;
    int m_endlessClosed = 0;
};

// Another origin: answers every request with 200 and {} and keeps what it got.
class Recorder final : public QObject {
    Q_OBJECT
public:
    explicit Recorder(QObject *parent = nullptr);
    quint16 start();
    QString origin() const;
    QList<Seen> seen() const { return m_seen; }
    // Connections opened to it, requests or not.
    int connections() const { return m_connections; }

private:
    QTcpServer m_server;
    QList<Seen> m_seen;
    int m_connections = 0;
};

} // namespace Standin
