// The client's own HTTP/1.1 reader fed whatever bytes a server might send: a
// loopback server answers each request with the input and closes, in pieces
// whose sizes the input's first byte chooses, and the reply is read to its end.
#include "services/PlainReply.h"

#include <QCoreApplication>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <cstdlib>

namespace {

struct Rig {
    int argc = 1;
    char name[16] = "plain_reply";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTcpServer server;
    Rig()
    {
        if (!server.listen(QHostAddress::LocalHost))
            std::abort();
    }
};

Rig &rig()
{
    static Rig *r = new Rig;
    return *r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Rig &r = rig();
    const int piece = size > 0 ? 1 + data[0] % 64 : 1;
    const QByteArray answer(reinterpret_cast<const char *>(data) + (size > 0 ? 1 : 0),
                            qsizetype(size > 0 ? size - 1 : 0));
    QObject::connect(&r.server, &QTcpServer::newConnection, &r.server, [&] {
        QTcpSocket *peer = r.server.nextPendingConnection();
        if (!peer)
            return;
        for (qsizetype at = 0; at < answer.size(); at += piece) {
            peer->write(answer.mid(at, piece));
            peer->flush();
        }
        peer->disconnectFromHost();
        QObject::connect(peer, &QTcpSocket::disconnected, peer, &QObject::deleteLater);
    });

    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/x").arg(r.server.serverPort())));
    auto *reply = new HttpCall::PlainReply(request, size % 2 ? "GET" : "HEAD", QByteArray(), nullptr);
    reply->setReadBufferSize(4096);
    qint64 taken = 0;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] { taken += reply->readAll().size(); });
    while (!reply->isFinished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    taken += reply->readAll().size();
    if (taken > answer.size())
        std::abort(); // more body than bytes sent
    reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    delete reply;
    QObject::disconnect(&r.server, &QTcpServer::newConnection, nullptr, nullptr);
    QCoreApplication::processEvents();
    return 0;
}
