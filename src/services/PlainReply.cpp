#include "services/PlainReply.h"

#include "services/ServiceOrigin.h"

#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace HttpCall {

namespace {

constexpr qint64 kPiece = 64 * 1024;
constexpr qsizetype kLongestLine = 64 * 1024; // a status, header or chunk-size line
// How long a body waits for "100 Continue" before it goes anyway.
constexpr std::chrono::milliseconds kContinueWait{1000};

QNetworkReply::NetworkError socketError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::HostNotFoundError: return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::RemoteHostClosedError: return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::SocketTimeoutError: return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError: return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError: return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError: return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyNotFoundError: return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyConnectionTimeoutError: return QNetworkReply::ProxyTimeoutError;
    default: return QNetworkReply::UnknownNetworkError;
    }
}

// A header line that a name or value could end early, or double, is never written.
bool isWritableHeader(const QByteArray &name, const QByteArray &value)
{
    const auto unsafe = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
    return !name.isEmpty() && std::none_of(name.begin(), name.end(), unsafe) &&
           std::none_of(value.begin(), value.end(), unsafe) && !name.contains(':');
}

// The request line and header fields, with the framing this exchange uses.
QByteArray requestHead(const QNetworkRequest &request, const QByteArray &method, qint64 bodySize, bool hasBody,
                       bool expectContinue)
{
    const QUrl url = request.url();
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    const bool secure = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() != -1 && url.port() != (secure ? 443 : 80))
        host += ':' + QByteArray::number(url.port());
    QByteArray head = method + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const QByteArray &name : request.rawHeaderList()) {
        const QByteArray lower = name.toLower();
        if (lower == "host" || lower == "content-length" || lower == "connection" || lower == "transfer-encoding" ||
            lower == "expect")
            continue;
        head += name + ": " + request.rawHeader(name) + "\r\n";
    }
    if (hasBody)
        head += "Content-Length: " + QByteArray::number(bodySize) + "\r\n";
    if (expectContinue)
        head += "Expect: 100-continue\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

} // namespace

PlainReply::PlainReply(const QNetworkRequest &request, const QByteArray &method, const QByteArray &body,
                       QIODevice *device, QObject *parent)
    : QNetworkReply(parent), m_method(method), m_body(body), m_device(device),
      m_bodySize(device ? device->size() : body.size())
{
    setRequest(request);
    setUrl(request.url());
    setOperation(QNetworkAccessManager::CustomOperation);
    setAttribute(QNetworkRequest::CustomVerbAttribute, method);
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);

    const QUrl url = request.url();
    const QList<QByteArray> names = request.rawHeaderList();
    if (!std::all_of(names.begin(), names.end(), [&](const QByteArray &name) {
            return isWritableHeader(name, request.rawHeader(name));
        })) {
        // Nothing is sent; the caller hears of it once it listens.
        QMetaObject::invokeMethod(this, [this] { fail(ProtocolInvalidOperationError); }, Qt::QueuedConnection);
        return;
    }
    const bool secure = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    // Over TLS the socket writes what waits before it reads what came in, and
    // a server that refused an upload and closed under it resets the
    // connection, taking its unread answer along: the body waits for a go-ahead.
    m_awaitingContinue = secure && device && m_bodySize > 0 && !request.attribute(Network::withoutExpectation).toBool();
    if (secure) {
        auto *tls = new QSslSocket(this);
        QSslConfiguration config = request.sslConfiguration();
        config.setAllowedNextProtocols(QList<QByteArray>{QByteArrayLiteral("http/1.1")});
        tls->setSslConfiguration(config);
        tls->setPeerVerifyName(url.host());
        connect(tls, &QSslSocket::encrypted, this, &PlainReply::send);
        // Its own bytesWritten counts bytes encrypted, not bytes gone.
        connect(tls, &QSslSocket::encryptedBytesWritten, this, &PlainReply::feedBody);
        m_socket = tls;
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, &PlainReply::send);
    }
    // Taken only where no proxy applies (reachesDirectly): the socket must not look for one of its own.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    // The socket holds little; the rest waits in the kernel until the answer is taken.
    m_socket->setReadBufferSize(kPiece);
    connect(m_socket, &QTcpSocket::readyRead, this, &PlainReply::readSocket);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &PlainReply::feedBody);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // The peer's end comes as an error before the bytes that preceded it are read.
        if (error == QAbstractSocket::RemoteHostClosedError) {
            QMetaObject::invokeMethod(this, &PlainReply::closed, Qt::QueuedConnection);
            return;
        }
        // What the server said before the failure still counts (a refusal read
        // while the body was going out); the socket is closed after this.
        if (m_socket && m_stage != Stage::done) {
            m_in += m_socket->readAll();
            if (parse() && m_stage == Stage::done) {
                finish();
                return;
            }
        }
        fail(socketError(error));
    });
    // Both can come from inside a read; the bytes read must be parsed first.
    connect(m_socket, &QTcpSocket::disconnected, this, &PlainReply::closed, Qt::QueuedConnection);
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket.data()))
        tls->connectToHostEncrypted(url.host(), quint16(url.port(443)));
    else
        m_socket->connectToHost(url.host(), quint16(url.port(80)));
}

PlainReply::~PlainReply()
{
    if (m_socket)
        m_socket->disconnect(this);
}

void PlainReply::send()
{
    const bool hasBody = m_device || !m_body.isEmpty() || m_method == "POST" || m_method == "PUT" || m_method == "PATCH";
    m_socket->write(requestHead(request(), m_method, m_bodySize, hasBody, m_awaitingContinue));
    m_headSent = true;
    Q_EMIT requestSent();
    if (m_awaitingContinue) {
        // A server that does not answer the expectation gets the body anyway.
        QTimer::singleShot(kContinueWait, this, [this] {
            m_awaitingContinue = false;
            feedBody();
        });
        return;
    }
    feedBody();
}

void PlainReply::feedBody()
{
    // A server that refused (or moved) the request before reading its body
    // will not read the rest; sending it on only makes it reset the connection.
    if (!m_socket || !m_headSent || m_awaitingContinue || m_stage == Stage::done || m_status >= 300 || m_answered)
        return;
    auto *tls = qobject_cast<QSslSocket *>(m_socket.data());
    // What waits to go out, encrypted or not: a body is held two pieces at a time.
    const auto waiting = [this, tls] { return m_socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0); };
    while (m_bodySent < m_bodySize && waiting() < 2 * kPiece) {
        QByteArray piece;
        if (m_device) {
            piece = m_device->read(std::min(kPiece, m_bodySize - m_bodySent));
            if (piece.isEmpty()) {
                fail(UnknownNetworkError);
                return;
            }
        } else {
            piece = m_body.mid(m_bodySent, kPiece);
        }
        m_socket->write(piece);
        m_bodySent += piece.size();
        Q_EMIT uploadProgress(m_bodySent, m_bodySize);
    }
}

void PlainReply::closed()
{
    if (isFinished())
        return;
    if (m_socket)
        m_in += m_socket->readAll();
    readSocket();
    // The end of the connection ends an answer framed by it, and fails any other.
    if (m_stage == Stage::untilClose)
        finish();
    else if (!isFinished())
        fail(RemoteHostClosedError);
}

void PlainReply::readSocket()
{
    if (!m_socket || m_stage == Stage::done)
        return;
    // Only as much as the reader has room for; more stays in the kernel. A
    // closed connection has nowhere else to keep it.
    const bool open = m_socket->state() == QAbstractSocket::ConnectedState;
    const qint64 room = readBufferSize() > 0 ? readBufferSize() - m_answer.size() : kPiece;
    if (!open)
        m_in += m_socket->readAll();
    else if (room > 0 && m_socket->bytesAvailable() > 0)
        m_in += m_socket->read(std::max<qint64>(room, 4096));
    const qint64 before = m_answer.size();
    if (!parse())
        return;
    if (m_answer.size() > before) {
        m_received += m_answer.size() - before;
        Q_EMIT downloadProgress(m_received, -1);
        Q_EMIT readyRead();
    }
    if (m_stage == Stage::done)
        finish();
}

bool PlainReply::parse()
{
    for (;;) {
        switch (m_stage) {
        case Stage::status:
        case Stage::headers:
        case Stage::chunkSize:
        case Stage::chunkEnd:
        case Stage::trailers: {
            const qsizetype end = m_in.indexOf("\r\n");
            if (end < 0) {
                if (m_in.size() > kLongestLine) {
                    fail(ProtocolFailure);
                    return false;
                }
                return true;
            }
            const QByteArray line = m_in.left(end);
            m_in.remove(0, end + 2);
            if (m_stage == Stage::status) {
                if (!parseStatus(line))
                    return false;
                m_headers.clear();
                m_stage = Stage::headers;
            } else if (m_stage == Stage::headers) {
                if (!line.isEmpty()) {
                    const qsizetype colon = line.indexOf(':');
                    if (colon <= 0) {
                        fail(ProtocolFailure);
                        return false;
                    }
                    m_headers.push_back({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
                } else if (m_status >= 100 && m_status <= 199 && m_status != 101) {
                    m_stage = Stage::status; // an interim answer: the final one follows
                    if (m_status == 100 && m_awaitingContinue) {
                        m_awaitingContinue = false;
                        QMetaObject::invokeMethod(this, &PlainReply::feedBody, Qt::QueuedConnection);
                    }
                } else {
                    startBody();
                }
            } else if (m_stage == Stage::chunkSize) {
                bool ok = false;
                const qsizetype extension = line.indexOf(';');
                const QByteArray size = (extension < 0 ? line : line.left(extension)).trimmed();
                m_left = size.toLongLong(&ok, 16);
                if (!ok || m_left < 0) {
                    fail(ProtocolFailure);
                    return false;
                }
                m_stage = m_left == 0 ? Stage::trailers : Stage::chunkData;
            } else if (m_stage == Stage::chunkEnd) {
                if (!line.isEmpty()) {
                    fail(ProtocolFailure);
                    return false;
                }
                m_stage = Stage::chunkSize;
            } else if (line.isEmpty()) { // trailers end
                m_stage = Stage::done;
            }
            continue;
        }
        case Stage::length:
        case Stage::chunkData: {
            const qint64 n = std::min<qint64>(m_left, m_in.size());
            m_answer += m_in.left(n);
            m_in.remove(0, n);
            m_left -= n;
            if (m_left > 0)
                return true;
            m_stage = m_stage == Stage::length ? Stage::done : Stage::chunkEnd;
            continue;
        }
        case Stage::untilClose:
            m_answer += m_in;
            m_in.clear();
            return true;
        case Stage::done:
            return true;
        }
    }
}

bool PlainReply::parseStatus(const QByteArray &line)
{
    // "HTTP/1.1 200 OK"
    const QList<QByteArray> parts = line.split(' ');
    bool ok = false;
    const int status = parts.size() >= 2 && parts[0].startsWith("HTTP/1.") ? parts[1].toInt(&ok) : 0;
    if (!ok || status < 100 || status > 999) {
        fail(ProtocolFailure);
        return false;
    }
    m_status = status;
    return true;
}

void PlainReply::startBody()
{
    // Answered before the go-ahead: the body is not wanted.
    if (m_awaitingContinue) {
        m_answered = true;
        setAttribute(Network::expectedContinue, true);
    }
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_status);
    bool chunked = false;
    std::optional<qint64> length;
    for (const auto &[name, value] : m_headers) {
        setRawHeader(name, value);
        if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0 && value.toLower().contains("chunked"))
            chunked = true;
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = value.toLongLong();
    }
    Q_EMIT metaDataChanged();
    const bool bodiless = m_method == "HEAD" || m_status == 204 || m_status == 304;
    if (bodiless || (!chunked && length == 0)) {
        m_stage = Stage::done;
    } else if (chunked) {
        m_stage = Stage::chunkSize;
    } else if (length) {
        m_left = *length;
        m_stage = Stage::length;
    } else {
        m_stage = Stage::untilClose;
    }
}

void PlainReply::fail(NetworkError error)
{
    if (isFinished())
        return;
    m_stage = Stage::done;
    setError(error, QStringLiteral("plain exchange failed"));
    if (m_socket)
        m_socket->abort();
    setFinished(true);
    Q_EMIT errorOccurred(error);
    Q_EMIT finished();
}

void PlainReply::finish()
{
    if (isFinished())
        return;
    m_stage = Stage::done;
    if (m_socket)
        m_socket->abort();
    setFinished(true);
    Q_EMIT finished();
}

void PlainReply::abort()
{
    fail(OperationCanceledError);
}

qint64 PlainReply::bytesAvailable() const
{
    return m_answer.size() + QIODevice::bytesAvailable();
}

bool reachesDirectly(const QNetworkAccessManager *network, const QUrl &url)
{
    // The order in which Qt's stack asks.
    const QNetworkProxyQuery query(url);
    QList<QNetworkProxy> proxies;
    if (network && network->proxyFactory())
        proxies = network->proxyFactory()->queryProxy(query);
    else if (network && network->proxy().type() != QNetworkProxy::DefaultProxy)
        proxies = {network->proxy()};
    else
        proxies = QNetworkProxyFactory::proxyForQuery(query);
    return proxies.isEmpty() || proxies.first().type() == QNetworkProxy::NoProxy;
}

void Network::applyTrust(QNetworkRequest &request) const
{
    const QUrl url = request.url();
    if (!m_loopbackCertificate || url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0 ||
        !ServiceOrigin::isLoopback(url))
        return;
    QSslConfiguration config = request.sslConfiguration();
    config.addCaCertificate(*m_loopbackCertificate);
    request.setSslConfiguration(config);
}

QNetworkReply *Network::createRequest(Operation op, const QNetworkRequest &request, QIODevice *outgoingData)
{
    if (!request.attribute(ownExchange).toBool() || !reachesDirectly(this, request.url()))
        return QNetworkAccessManager::createRequest(op, request, outgoingData);
    QByteArray method;
    switch (op) {
    case PutOperation: method = "PUT"; break;
    case PostOperation: method = "POST"; break;
    case CustomOperation: method = request.attribute(QNetworkRequest::CustomVerbAttribute).toByteArray(); break;
    default: return QNetworkAccessManager::createRequest(op, request, outgoingData);
    }
    return new PlainReply(request, method, QByteArray(), outgoingData, this);
}

qint64 PlainReply::readData(char *data, qint64 maxSize)
{
    const qint64 n = std::min<qint64>(maxSize, m_answer.size());
    if (n <= 0)
        return isFinished() ? -1 : 0;
    std::memcpy(data, m_answer.constData(), size_t(n));
    m_answer.remove(0, n);
    // Room again: take what waits on the socket.
    if (m_socket && m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &PlainReply::readSocket, Qt::QueuedConnection);
    return n;
}

} // namespace HttpCall
