#include "shell/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

#include <unistd.h>

namespace {
constexpr char kAck = '1';
// A frame is a 4-byte big-endian length and a JSON array of strings.
constexpr qsizetype kMaximumFrame = 16 + SingleInstance::maximumLinks * (SingleInstance::maximumLinkLength * 6 + 8);
constexpr auto kPeerDeadline = std::chrono::seconds(5);

QByteArray frame(const QStringList &links)
{
    const QByteArray body = QJsonDocument(QJsonArray::fromStringList(links)).toJson(QJsonDocument::Compact);
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), out.data());
    return out + body;
}

// A folder only this user can enter: the runtime folder as the session made it,
// or one of our own under the temporary folder.
QString privateFolder()
{
    // Only a runtime folder that is this user's alone: a socket in one that others
    // may write (XDG_RUNTIME_DIR=/tmp is a common mistake) could be made first by
    // another user, who would then receive our links, sign-in callbacks included.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo runtimeInfo(runtime);
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                        QFile::WriteOther | QFile::ExeOther;
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && runtimeInfo.isDir() && !runtimeInfo.isSymLink() &&
        runtimeInfo.ownerId() == ::getuid() && !(runtimeInfo.permissions() & others))
        return runtime;
    const QString folder = QDir::tempPath() + QStringLiteral("/zephyl-kitty-%1").arg(::getuid());
    QDir().mkpath(folder);
    // A folder someone else made in the shared temporary folder is not used.
    if (QFileInfo(folder).ownerId() != ::getuid() || QFileInfo(folder).isSymLink())
        return {};
    if (!QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return {};
    return folder;
}
} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath))
{
}

SingleInstance::~SingleInstance() { release(); }

QString SingleInstance::defaultSocketPath()
{
    const QString folder = privateFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/zephyl-kitty.socket");
}

QStringList SingleInstance::linksFrom(const QStringList &arguments)
{
    QStringList links;
    for (const QString &argument : arguments) {
        if (links.size() >= maximumLinks)
            break;
        if (argument.size() > maximumLinkLength || !argument.startsWith(QStringLiteral("sorvane:"), Qt::CaseInsensitive))
            continue;
        if (!QUrl(argument, QUrl::StrictMode).isValid())
            continue;
        links << argument;
    }
    return links;
}

bool SingleInstance::listening() const { return m_server && m_server->isListening(); }

SingleInstance::Outcome SingleInstance::claim(const QStringList &links, std::chrono::milliseconds timeout)
{
    if (m_path.isEmpty())
        return Outcome::failed;
    // Two launches at the same moment must not both remove and remake the socket.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    lock.setStaleLockTime(0); // stale only when its process is gone
    if (!lock.tryLock(int(timeout.count())))
        return Outcome::unanswered;

    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (socket.waitForConnected(int(timeout.count()))) {
        lock.unlock();
        return forward(socket, links, timeout);
    }
    switch (socket.error()) {
    case QLocalSocket::ServerNotFoundError:
    case QLocalSocket::ConnectionRefusedError:
        // Nobody listens: no socket, or one left by a process that died.
        QLocalServer::removeServer(m_path);
        return listen() ? Outcome::primary : Outcome::failed;
    case QLocalSocket::SocketTimeoutError:
        return Outcome::unanswered;
    default:
        return Outcome::failed;
    }
}

SingleInstance::Outcome SingleInstance::forward(QLocalSocket &socket, const QStringList &links,
                                                std::chrono::milliseconds timeout)
{
    socket.write(frame(links));
    if (!socket.waitForBytesWritten(int(timeout.count())))
        return Outcome::unanswered;
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(int(timeout.count())))
            return Outcome::unanswered;
    }
    char ack = 0;
    socket.getChar(&ack);
    return ack == kAck ? Outcome::forwarded : Outcome::unanswered;
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path)) {
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::release()
{
    if (!m_server)
        return;
    m_server->close();
    delete m_server;
    m_server = nullptr;
}

void SingleInstance::accept()
{
    while (QLocalSocket *peer = m_server->nextPendingConnection()) {
        peer->setParent(this);
        // A peer that connects and then says nothing is dropped after a while.
        auto *deadline = new QTimer(peer);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, peer, &QLocalSocket::abort);
        deadline->start(kPeerDeadline);
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
            if (peer->property("zkDone").toBool())
                return;
            const QByteArray buffered = peer->peek(4);
            if (buffered.size() < 4)
                return;
            const quint32 length = qFromBigEndian<quint32>(buffered.constData());
            if (length > quint32(kMaximumFrame)) {
                peer->abort();
                return;
            }
            if (peer->bytesAvailable() < qint64(length) + 4)
                return;
            peer->read(4);
            const QJsonDocument doc = QJsonDocument::fromJson(peer->read(length));
            peer->setProperty("zkDone", true);
            QStringList arguments;
            if (doc.isArray()) {
                for (const QJsonValue &value : doc.array())
                    if (value.isString())
                        arguments << value.toString();
            }
            // Acknowledged before it is handled: the launch may end as soon as its
            // links are here, however long showing them takes. Handled from the
            // event loop, never inside the socket's own signal: a handler that runs
            // a loop of its own must not see this peer deleted under it.
            peer->putChar(kAck);
            peer->flush();
            peer->disconnectFromServer();
            // A frame that is not a list of strings still counts as a launch.
            QMetaObject::invokeMethod(
                this, [this, links = linksFrom(arguments)] { Q_EMIT activated(links); }, Qt::QueuedConnection);
        });
    }
}
