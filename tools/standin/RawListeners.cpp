#include "RawListeners.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>

#include "Certificate.h"

#include <sys/socket.h>

#include <deque>
#include <optional>

namespace Standin {

namespace {

struct Head {
    QByteArray method;
    QString path;
    QUrlQuery query;
    QMap<QByteArray, QByteArray> headers; // lower-cased names
    qint64 length = 0;
};

// The request line and header fields of a head that ends in CR LF CR LF.
std::optional<Head> parseHead(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    if (lines.isEmpty())
        return std::nullopt;
    const QList<QByteArray> start = lines.first().trimmed().split(' ');
    if (start.size() < 2)
        return std::nullopt;
    Head h;
    h.method = start[0];
    const QUrl target(QString::fromLatin1(start[1]));
    h.path = target.path();
    h.query = QUrlQuery(target.query());
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        h.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    h.length = h.headers.value("content-length").toLongLong();
    return h;
}

// The content length of an answer head; the stand-in always sends one.
qint64 answerLength(const QByteArray &head)
{
    for (const QByteArray &line : head.split('\n')) {
        const QByteArray l = line.trimmed();
        if (l.toLower().startsWith("content-length:"))
            return l.mid(15).trimmed().toLongLong();
    }
    return 0;
}

// The same answer with its body in two chunks instead of a declared length.
QByteArray chunked(const QByteArray &head, const QByteArray &body)
{
    QByteArray out;
    for (const QByteArray &line : head.split('\n')) {
        const QByteArray l = line.trimmed();
        if (!l.isEmpty() && !l.toLower().startsWith("content-length:"))
            out += l + "\r\n";
    }
    out += "Transfer-Encoding: chunked\r\n\r\n";
    const qsizetype half = body.size() / 2;
    for (const QByteArray &piece : {body.left(half), body.mid(half)}) {
        if (!piece.isEmpty())
            out += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

// Closes with a reset rather than an orderly end, as a crashing server does.
void reset(QTcpSocket *socket)
{
    if (!socket)
        return;
    const linger hard{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
}

} // namespace

struct Front::Link {
    enum class In { head, body, swallow, ignore };
    using Kind = Switch::Kind;

    Front *front = nullptr;
    QPointer<QTcpSocket> client;
    QPointer<QTcpSocket> backend;
    QByteArray in;
    In state = In::head;
    qint64 bodyLeft = 0;
    std::optional<Switch> swallowing;
    qint64 swallowed = 0;
    qint64 swallowTotal = 0;
    QByteArray out;
    std::deque<std::optional<Kind>> owed; // one per forwarded request: what to do to its answer
    bool inAnswerBody = false;
    qint64 answerLeft = 0;
    QByteArray answerHead;
    QByteArray answerBody;
    bool endless = false;

    void fromClient()
    {
        if (!client)
            return;
        in += client->readAll();
        for (;;) {
            switch (state) {
            case In::head: {
                const qsizetype end = in.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                const QByteArray head = in.left(end + 4);
                in.remove(0, end + 4);
                const auto parsed = parseHead(head);
                if (!parsed) {
                    reset(client);
                    return;
                }
                ++front->m_requests[parsed->path];
                const auto sw = front->take(parsed->method, parsed->path);
                if (sw && sw->kind == Kind::endlessBody) {
                    startEndless();
                    state = In::ignore;
                    continue;
                }
                if (sw && (sw->kind == Kind::refuseBeforeBody || sw->kind == Kind::refuseCutBeforeBody ||
                           sw->kind == Kind::dropBeforeBody)) {
                    refuseAtOnce(sw->kind);
                    state = In::ignore;
                    continue;
                }
                if (sw && (sw->kind == Kind::refuseMidUpload || sw->kind == Kind::resetMidUpload ||
                           sw->kind == Kind::refuseExpectationLate)) {
                    swallowing = sw;
                    swallowed = 0;
                    swallowTotal = parsed->length;
                    state = In::swallow;
                    continue;
                }
                const bool expects = parsed->headers.value("expect").toLower() == "100-continue";
                if (sw && sw->kind == Kind::refuseExpectation && expects) {
                    client->write("HTTP/1.1 417 Expectation Failed\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
                    client->flush();
                    client->close();
                    state = In::ignore;
                    continue;
                }
                // As a proxy does, it gives the go-ahead for a body itself.
                if (parsed->length > 0 && expects)
                    client->write("HTTP/1.1 100 Continue\r\n\r\n");
                backend->write(head);
                owed.push_back(sw ? std::optional<Kind>(sw->kind) : std::nullopt);
                bodyLeft = parsed->length;
                state = bodyLeft > 0 ? In::body : In::head;
                continue;
            }
            case In::body: {
                const qint64 n = std::min<qint64>(bodyLeft, in.size());
                backend->write(in.left(n));
                in.remove(0, n);
                bodyLeft -= n;
                if (bodyLeft > 0)
                    return;
                state = In::head;
                continue;
            }
            case In::swallow: {
                swallowed += in.size();
                in.clear();
                if (swallowed < std::min(swallowing->afterBytes, swallowTotal))
                    return;
                if (swallowing->kind == Kind::refuseExpectationLate) {
                    client->write("HTTP/1.1 417 Expectation Failed\r\nContent-Length: 0\r\n\r\n");
                    client->flush();
                } else if (swallowing->kind == Kind::refuseMidUpload) {
                    const QByteArray body = R"({"code":"payload_too_large"})";
                    client->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\nConnection: close\r\n"
                                  "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    client->flush();
                    client->close();
                } else {
                    reset(client);
                }
                state = In::ignore;
                return;
            }
            case In::ignore:
                in.clear();
                return;
            }
        }
    }

    // What a proxy with a size limit does on the head alone; the body is
    // never read, so the close leaves it unread and the kernel resets.
    void refuseAtOnce(Kind kind)
    {
        if (kind == Kind::dropBeforeBody) {
            reset(client);
            return;
        }
        const QByteArray page = Front::refusalPage();
        const bool cut = kind == Kind::refuseCutBeforeBody;
        const qint64 declared = cut ? page.size() + 4096 : page.size();
        client->write("HTTP/1.1 413 Request Entity Too Large\r\nServer: nginx\r\nContent-Type: text/html\r\n"
                      "Connection: close\r\nContent-Length: " + QByteArray::number(declared) + "\r\n\r\n" +
                      (cut ? page.left(page.size() / 2) : page));
        client->flush();
        client->close();
    }

    void fromBackend()
    {
        if (!backend)
            return;
        out += backend->readAll();
        while (!owed.empty()) {
            const std::optional<Kind> kind = owed.front();
            // Answers that leave changed are kept whole first.
            const bool withheld = kind == Kind::resetAfterAnswer || kind == Kind::resetAfterAnswerThenGone ||
                                  kind == Kind::earlyHints || kind == Kind::earlyHintsThenGone;
            if (!inAnswerBody) {
                const qsizetype end = out.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                answerHead = out.left(end + 4);
                answerBody.clear();
                out.remove(0, end + 4);
                if (!withheld && client)
                    client->write(answerHead);
                inAnswerBody = true;
                answerLeft = answerLength(answerHead);
            }
            const qint64 n = std::min<qint64>(answerLeft, out.size());
            if (!withheld && client)
                client->write(out.left(n));
            else
                answerBody += out.left(n);
            out.remove(0, n);
            answerLeft -= n;
            if (answerLeft > 0)
                return;
            inAnswerBody = false;
            owed.pop_front();
            if (kind == Kind::resetAfterAnswer || kind == Kind::resetAfterAnswerThenGone) {
                // The work is done and its answer is in hand; the client never gets it.
                if (kind == Kind::resetAfterAnswerThenGone) {
                    goAway();
                    return;
                }
                reset(client);
                return;
            }
            if ((kind == Kind::earlyHints || kind == Kind::earlyHintsThenGone) && client) {
                // An interim answer first, then the answer itself in chunks.
                client->write("HTTP/1.1 103 Early Hints\r\nLink: </assets/app.css>; rel=preload; as=style\r\n\r\n");
                client->write(chunked(answerHead, answerBody));
                if (kind == Kind::earlyHintsThenGone) {
                    client->flush();
                    goAway();
                    return;
                }
            }
        }
    }

    // Every connection ends (closed, as a relay whose far side went closes
    // them, not reset), and none is taken after.
    void goAway()
    {
        front->m_server->close();
        QList<QPointer<QTcpSocket>> clients;
        for (const auto &link : front->m_links)
            clients << link->client;
        for (const QPointer<QTcpSocket> &open : clients) {
            if (open)
                open->close();
        }
    }

    void startEndless()
    {
        endless = true;
        client->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
        pump();
    }

    void pump()
    {
        static const QByteArray piece = QByteArray(16 * 1024, '[');
        static const QByteArray chunk = QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
        while (client && client->state() == QAbstractSocket::ConnectedState && client->bytesToWrite() < 256 * 1024) {
            client->write(chunk);
            front->m_endlessBytes += piece.size();
        }
    }
};

Front::Front(quint16 backendPort, QObject *parent) : QObject(parent), m_backend(backendPort) {}

void Front::accept(QTcpSocket *client)
{
    auto link = std::make_shared<Link>();
    Link *l = link.get();
    l->front = this;
    l->client = client;
    if (m_secure) {
        auto *tls = new QSslSocket(this);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setPeerVerifyMode(QSslSocket::VerifyNone); // our own upload host, on this machine
        tls->setSslConfiguration(config);
        l->backend = tls;
        tls->connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_backend);
    } else {
        l->backend = new QTcpSocket(this);
        l->backend->connectToHost(QHostAddress::LocalHost, m_backend);
    }
    connect(client, &QTcpSocket::readyRead, this, [l] { l->fromClient(); });
    connect(client, &QTcpSocket::bytesWritten, this, [l] {
        if (l->endless)
            l->pump();
    });
    connect(client, &QTcpSocket::disconnected, this, [this, l] {
        if (l->endless)
            ++m_endlessClosed;
        if (l->backend)
            l->backend->abort();
        l->client->deleteLater();
    });
    connect(l->backend, &QTcpSocket::readyRead, this, [l] { l->fromBackend(); });
    m_links.push_back(std::move(link));
    // A secure client may have sent its head along with the end of the handshake.
    if (client->bytesAvailable() > 0)
        l->fromClient();
}

Front::~Front()
{
    if (m_server)
        m_server->close();
    for (const auto &link : m_links) {
        if (link->client)
            link->client->disconnect(this);
        if (link->backend)
            link->backend->disconnect(this);
    }
}

quint16 Front::start()
{
    if (m_secure) {
        auto tls = std::make_unique<QSslServer>();
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(certificate());
        config.setPrivateKey(certificateKey());
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls->setSslConfiguration(config);
        m_server = std::move(tls);
    } else {
        m_server = std::make_unique<QTcpServer>();
    }
    // Secure connections are pending only once their handshake is done.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *client = m_server->nextPendingConnection())
            accept(client);
    });
    return m_server->listen(QHostAddress::LocalHost, 0) ? m_server->serverPort() : 0;
}

QString Front::origin() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_secure ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(m_server ? m_server->serverPort() : 0);
}

QByteArray Front::refusalPage()
{
    return "<html>\r\n<head><title>413 Request Entity Too Large</title></head>\r\n<body>\r\n"
           "<center><h1>413 Request Entity Too Large</h1></center>\r\n<hr><center>nginx</center>\r\n</body>\r\n</html>\r\n";
}

std::optional<Front::Switch> Front::take(const QByteArray &method, const QString &path)
{
    for (auto it = m_switches.begin(); it != m_switches.end(); ++it) {
        const bool under = it->path.endsWith(QLatin1Char('/')) && path.startsWith(it->path);
        if ((it->path != path && !under) || (!it->method.isEmpty() && it->method != method))
            continue;
        Switch s = *it;
        if (it->times > 0 && --it->times == 0)
            m_switches.erase(it);
        return s;
    }
    return std::nullopt;
}

int Front::requestsUnder(const QString &prefix) const
{
    int n = 0;
    for (auto it = m_requests.begin(); it != m_requests.end(); ++it) {
        if (it.key().startsWith(prefix))
            n += it.value();
    }
    return n;
}

Recorder::Recorder(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
                *buffer += socket->readAll();
                for (;;) {
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    const auto head = parseHead(buffer->left(end + 4));
                    if (!head || buffer->size() < end + 4 + head->length)
                        return;
                    Seen seen;
                    seen.method = head->method;
                    seen.path = head->path;
                    seen.query = head->query;
                    seen.headers = head->headers;
                    seen.body = buffer->mid(end + 4, head->length);
                    buffer->remove(0, end + 4 + head->length);
                    m_seen.push_back(seen);
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}");
                }
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

quint16 Recorder::start()
{
    return m_server.listen(QHostAddress::LocalHost, 0) ? m_server.serverPort() : 0;
}

QString Recorder::origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

} // namespace Standin
