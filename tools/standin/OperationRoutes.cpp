#include "OperationRoutes.h"

#include <QDateTime>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QSslConfiguration>
#include <QTcpSocket>

namespace Standin {

namespace {

QByteArray methodOf(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    default: return "OTHER";
    }
}

} // namespace

SecureHost::SecureHost(QObject *parent) : QAbstractHttpServer(parent)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificate());
    tls.setPrivateKey(certificateKey());
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    sslSetup(tls);
}

quint16 SecureHost::start()
{
    m_port = listen(QHostAddress::LocalHost, 0);
    return m_port;
}

QString SecureHost::origin() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_port); }

bool SecureHost::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    Seen seen;
    seen.method = methodOf(request.method());
    seen.path = request.url().path();
    seen.query = request.query();
    for (const auto &[name, value] : request.headers())
        seen.headers.insert(name.toLower(), value);
    seen.body = request.body();
    // Only the size and digest of an upload matter; the bytes are not kept.
    Seen kept = seen;
    kept.body.clear();
    m_seen.push_back(kept);
    Answer answer = Answer::error(404, QStringLiteral("not_found"));
    for (const Route &route : m_routes) {
        if (route.method == seen.method && seen.path.startsWith(route.prefix)) {
            answer = route.handler(seen);
            break;
        }
    }
    QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + " Status\r\n";
    for (const auto &[name, value] : answer.headers)
        out += name + ": " + value + "\r\n";
    if (!answer.body.isEmpty())
        out += "Content-Type: " + answer.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n\r\n" + answer.body;
    socket->write(out);
    return true;
}

void SecureHost::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
}

Operations::Operations(Server &s) : QObject(&s), server(s)
{
    setObjectName(QStringLiteral("standin-operations"));
    now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    secure = new SecureHost(this);
    secure->start();
    // Seen before any fault or route decides the answer.
    server.addAdapter([this](Seen &seen) {
        if (seen.method == "POST" && seen.path == QLatin1String("/api/instagram/publications"))
            creationRequests.push_back({seen.header("idempotency-key"), seen.body});
    });
}

std::optional<QString> Operations::userFor(const Seen &seen) const
{
    const QByteArray value = seen.header("authorization");
    if (!value.startsWith("Bearer "))
        return std::nullopt;
    const QString token = QString::fromUtf8(value.mid(7));
    const auto it = server.state().accessTokens.constFind(token);
    if (it == server.state().accessTokens.constEnd())
        return std::nullopt;
    return *it;
}

Operations &operations(Server &server)
{
    return *server.findChild<Operations *>(QStringLiteral("standin-operations"), Qt::FindDirectChildrenOnly);
}

void addOperationRoutes(Server &server)
{
    auto *ops = new Operations(server);
    addAssistantRoutes(server, *ops);
    addInstagramRoutes(server, *ops);
    addMediaRoutes(server, *ops);
    addPublicationRoutes(server, *ops);

    // Switches over HTTP, for a stand-in run as its own process.
    server.route("POST", "/__standin/operations", [ops](const Seen &seen) {
        const QJsonObject o = seen.json();
        if (o.contains("directUnavailable"))
            ops->directUnavailable = o.value("directUnavailable").toBool();
        if (o.contains("transferStatus"))
            ops->transferStatus = o.value("transferStatus").toInt(200);
        if (o.contains("processingMs"))
            ops->processingMs = o.value("processingMs").toInteger(3000);
        if (o.contains("stayProcessing"))
            ops->stayProcessing = o.value("stayProcessing").toBool();
        if (o.contains("finalStatus"))
            ops->finalStatus = o.value("finalStatus").toString(QStringLiteral("published"));
        if (o.contains("finalError")) {
            const QJsonValue e = o.value("finalError");
            ops->finalError = e.isString() ? std::optional<QString>(e.toString()) : std::nullopt;
        }
        if (o.contains("afterStore")) {
            const QString after = o.value("afterStore").toString();
            ops->afterStore = after == QLatin1String("drop")   ? Answer::Delivery::drop
                              : after == QLatin1String("hang") ? Answer::Delivery::hang
                                                               : Answer::Delivery::normal;
            ops->afterStoreTimes = o.value("times").toInt(1);
        }
        return Answer::json(200, QJsonObject{{"ok", true}});
    });
}

} // namespace Standin
