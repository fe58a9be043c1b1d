// Uploads refused before their bytes are read: a proxy with a size limit
// answers 413 on the request's head and closes under the body, both in front
// of the service (multipart upload) and in front of the upload host (direct
// upload). The refusal is the answer; a close with no answer is a lost connection.

#include "OperationRoutes.h"
#include "OpsTestSupport.h"
#include "RawListeners.h"
#include "StandinServer.h"
#include "services/ServiceTestSupport.h"
#include "support/TestSupport.h"

#include "app/AppModel.h"
#include "services/AsyncSupport.h"
#include "services/HttpCall.h"
#include "services/PlainReply.h"
#include "services/ZephylAPI.h"
#include "design/L10n.h"

#include <QBuffer>
#include <QNetworkProxy>
#include <QNetworkAccessManager>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

using APIError = ZephylAPI::APIError;
using NetworkError = ZephylAPI::NetworkError;
using Switch = Standin::Front::Switch;
using opstest::Ending;

namespace {

const QString kEmail = QStringLiteral("kitty@example.com");
const QString kPassword = QStringLiteral("meow-meow-meow");
const QString kMedia = QStringLiteral("/api/instagram/media");
const QString kDirect = QStringLiteral("/api/instagram/media/direct");
const QString kUploadAddress = QStringLiteral("/upload/");

class EarlyRefusal : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The upload host and the front before it present the stand-in's certificate.
        Standin::trustCertificate();
    }

    void SetUp() override
    {
        ASSERT_NE(server.start(), 0);
        front = std::make_unique<Standin::Front>(server.port());
        ASSERT_NE(front->start(), 0);
        storage = std::make_unique<Standin::Front>(quint16(QUrl(ops().secure->origin()).port()));
        storage->setSecure(true);
        ASSERT_NE(storage->start(), 0);
        ops().uploadOrigin = storage->origin();
        server.addAccount(kEmail, kPassword, QStringLiteral("Kitty"));
        keychain = KeychainStore::inMemory();
        api = opstest::signedInClient(QUrl(front->origin()), clock, *keychain, kEmail, kPassword);
        server.clearSeen();
    }

    Standin::Operations &ops() { return Standin::operations(server); }

    Ending upload(const QByteArray &file)
    {
        return opstest::endingOf(opstest::settleOnWire(
            api->uploadInstagramMedia(file, QStringLiteral("image/jpeg"), QStringLiteral("cat.jpg")), clock));
    }
    int confirmations() const
    {
        int n = 0;
        for (const Standin::Seen &seen : server.seen())
            n += seen.method == "PUT" && seen.path == kDirect;
        return n;
    }

    Standin::Server server;
    std::unique_ptr<Standin::Front> front;   // before the service
    std::unique_ptr<Standin::Front> storage; // before the upload host
    FakeClock clock{QDateTime::currentDateTimeUtc()};
    std::unique_ptr<KeychainStore> keychain;
    std::unique_ptr<ZephylAPI> api;
};

QString refusedWithoutReason(int status)
{
    return QStringLiteral("sorvane.app refused the request (HTTP %1) without a reason.").arg(status);
}

const APIError kTooLarge = APIError::rejected(QStringLiteral("payload_too_large"));

// What the user reads for an upload's ending, in the given language.
QString shown(const Ending &ending, AppLanguage language)
{
    L10n::setPreference(language);
    const QString text = ending.api ? AppModel::describe(*ending.api)
                                    : AppModel::describe(NetworkError(ending.network.value_or(NetworkError::Code::other)));
    L10n::setPreference(AppLanguage::system);
    return text;
}

const QString kTooLargeEnglish = QStringLiteral("This file is too large for the server to take.");
const QString kTooLargeGerman = QStringLiteral("Diese Datei ist zu groß, um vom Server angenommen zu werden.");

} // namespace

TEST_F(EarlyRefusal, AServiceUploadRefusedBeforeItsBodyIsReadIsTooLarge)
{
    // Small enough to go whole into the socket, and big enough not to; the
    // largest that still goes as multipart form data.
    const QList<qint64> sizes{16 * 1024, 1024 * 1024, 3'145'728};
    int sent = 0;
    for (int round = 0; round < 3; ++round) {
        for (const qint64 size : sizes) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", " << size << " bytes");
            front->add({Switch::Kind::refuseBeforeBody, "POST", kMedia, 0, 1});
            const Ending refused = upload(QByteArray(size, 'k'));
            EXPECT_EQ(refused.api, kTooLarge) << "network " << int(refused.network.value_or(NetworkError::Code::other));
            EXPECT_EQ(shown(refused, AppLanguage::en), kTooLargeEnglish);
            // Refused is not lost: it is neither sent again nor renewed.
            EXPECT_EQ(front->requests(kMedia), ++sent);
        }
    }
    // A page cut short by the close: the status still stands.
    front->add({Switch::Kind::refuseCutBeforeBody, "POST", kMedia, 0, 1});
    const Ending cut = upload(QByteArray(2 * 1024 * 1024, 'k'));
    EXPECT_EQ(cut.api, kTooLarge);
    EXPECT_EQ(shown(cut, AppLanguage::en), kTooLargeEnglish);
    EXPECT_EQ(shown(cut, AppLanguage::de), kTooLargeGerman);
    EXPECT_TRUE(ops().media.isEmpty());

    // With the front passing requests on again, the same file goes through.
    EXPECT_TRUE(upload(QByteArray(3'145'728, 'k')).succeeded);
    ASSERT_EQ(ops().media.size(), 1);
    EXPECT_EQ(ops().media.begin()->size, 3'145'728);
}

TEST_F(EarlyRefusal, ADirectUploadRefusedBeforeItsBytesAreReadIsTooLarge)
{
    const QByteArray file(5 * 1024 * 1024, 'v');
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        storage->add({Switch::Kind::refuseBeforeBody, "PUT", kUploadAddress, 0, 1});
        const Ending refused = upload(file);
        EXPECT_EQ(refused.api, kTooLarge) << "network " << int(refused.network.value_or(NetworkError::Code::other));
        EXPECT_EQ(shown(refused, AppLanguage::en), kTooLargeEnglish);
        EXPECT_EQ(storage->requestsUnder(kUploadAddress), round + 1);
    }
    storage->add({Switch::Kind::refuseCutBeforeBody, "PUT", kUploadAddress, 0, 1});
    const Ending cut = upload(file);
    EXPECT_EQ(cut.api, kTooLarge);
    EXPECT_EQ(shown(cut, AppLanguage::en), kTooLargeEnglish);
    EXPECT_EQ(shown(cut, AppLanguage::de), kTooLargeGerman);
    // A refused transfer is never confirmed, and no multipart upload stands in for it.
    EXPECT_EQ(confirmations(), 0);
    EXPECT_EQ(front->requests(kMedia), 0);
    EXPECT_TRUE(ops().media.isEmpty());

    // The same file through the same front, now passing it on, is stored.
    EXPECT_TRUE(upload(file).succeeded);
    ASSERT_EQ(ops().media.size(), 1);
    EXPECT_EQ(ops().media.begin()->via, QStringLiteral("direct"));
    EXPECT_EQ(ops().media.begin()->size, file.size());
}

TEST_F(EarlyRefusal, AConnectionClosedWithoutAnAnswerIsStillLost)
{
    front->add({Switch::Kind::dropBeforeBody, "POST", kMedia, 0, 1});
    const Ending service = upload(QByteArray(1024 * 1024, 'k'));
    EXPECT_EQ(service.network, NetworkError::Code::connectionLost);
    EXPECT_FALSE(service.api);
    EXPECT_EQ(front->requests(kMedia), 1);

    storage->add({Switch::Kind::dropBeforeBody, "PUT", kUploadAddress, 0, 1});
    const Ending direct = upload(QByteArray(5 * 1024 * 1024, 'v'));
    EXPECT_EQ(direct.network, NetworkError::Code::connectionLost);
    EXPECT_FALSE(direct.api);
    EXPECT_EQ(storage->requestsUnder(kUploadAddress), 1);
    EXPECT_EQ(confirmations(), 0);
    EXPECT_TRUE(ops().media.isEmpty());
    EXPECT_EQ(AppModel::describe(NetworkError(NetworkError::Code::connectionLost)),
              QStringLiteral("No connection to sorvane.app right now."));
}

TEST_F(EarlyRefusal, TheClientsOwnExchangeReadsTheRefusalWhileItSends)
{
    const QList<qint64> sizes{1024, 100 * 1024, 256 * 1024, 1024 * 1024, 5 * 1024 * 1024};
    for (const bool secure : {false, true}) {
        Standin::Front &proxy = secure ? *storage : *front;
        for (const qint64 size : sizes) {
            SCOPED_TRACE(testing::Message() << (secure ? "https, " : "http, ") << size << " bytes");
            proxy.add({Switch::Kind::refuseBeforeBody, "PUT", QStringLiteral("/bytes"), 0, 1});
            QBuffer body;
            body.setData(QByteArray(size, 'x'));
            ASSERT_TRUE(body.open(QIODevice::ReadOnly));
            HttpCall::Network network;
            QNetworkRequest request(QUrl(proxy.origin() + QStringLiteral("/bytes")));
            request.setAttribute(HttpCall::Network::ownExchange, true);
            std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, "PUT", &body));
            qint64 sent = 0;
            QObject::connect(reply.get(), &QNetworkReply::uploadProgress, [&sent](qint64 s, qint64) { sent = s; });
            ASSERT_TRUE(zktest::spinUntil([&] { return reply->isFinished(); }));
            EXPECT_EQ(reply->error(), QNetworkReply::NoError);
            EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 413);
            EXPECT_EQ(reply->readAll(), Standin::Front::refusalPage());
            if (secure) {
                EXPECT_EQ(sent, 0) << "the body went before the go-ahead";
            } else if (size >= 1024 * 1024) {
                EXPECT_LT(sent, size) << "the body went on after the refusal";
            }
        }
    }
}

TEST_F(EarlyRefusal, AnUploadWhoseGoAheadIsRefusedGoesOnceMoreWithoutAsking)
{
    // An https upload asks for the go-ahead; a proxy that refuses to give it
    // did nothing with the request, so it goes once more, body and all.
    const QByteArray file(4 * 1024 * 1024, 'v');
    storage->add({Switch::Kind::refuseExpectation, "PUT", kUploadAddress, 0, 1});
    EXPECT_TRUE(upload(file).succeeded);
    EXPECT_EQ(storage->requestsUnder(kUploadAddress), 2);
    ASSERT_EQ(ops().media.size(), 1);
    EXPECT_EQ(ops().media.begin()->size, file.size());
}

TEST_F(EarlyRefusal, AnExpectationRefusedAfterTheBodyBeganIsNotSentAgain)
{
    // The go-ahead never came, so the body went after a while; a 417 then is
    // the answer, since the server may already hold some of it.
    const QByteArray file(4 * 1024 * 1024, 'v');
    storage->add({Switch::Kind::refuseExpectationLate, "PUT", kUploadAddress, 1, 1});
    const Ending refused = upload(file);
    EXPECT_EQ(refused.api, APIError::rejected(QStringLiteral("media_upload_failed")))
        << "network " << int(refused.network.value_or(NetworkError::Code::other));
    EXPECT_EQ(storage->requestsUnder(kUploadAddress), 1);
    EXPECT_EQ(confirmations(), 0);
    EXPECT_TRUE(ops().media.isEmpty());
}

TEST_F(EarlyRefusal, AWholeBodyRefusedOnItsHeadIsTheRefusalToo)
{
    // A small body the stack sends in one go, then reads the answer.
    ZephylAPI::PlanDraft draft;
    draft.id = 9;
    draft.title = QString(8 * 1024, QLatin1Char('t'));
    front->add({Switch::Kind::refuseBeforeBody, {}, QStringLiteral("/api/plan/drafts"), 0, 1});
    const Ending refused =
        opstest::endingOf(opstest::settleOnWire(zktest::asDone(api->savePlanDrafts({draft})), clock));
    EXPECT_EQ(refused.api, APIError::serverRefused(413))
        << "network " << int(refused.network.value_or(NetworkError::Code::other));
    EXPECT_EQ(front->requests(QStringLiteral("/api/plan/drafts")), 1);
    // Not a file: the plain refusal's words.
    EXPECT_EQ(shown(refused, AppLanguage::en), refusedWithoutReason(413));
}

namespace {

// A factory as a desktop's proxy settings would give: one proxy for every address.
class OneProxy final : public QNetworkProxyFactory {
public:
    explicit OneProxy(QNetworkProxy proxy) : m_proxy(std::move(proxy)) {}
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &) override { return {m_proxy}; }

private:
    QNetworkProxy m_proxy;
};

} // namespace

TEST_F(EarlyRefusal, AStreamedUploadGoesThroughTheProxyTheUserConfigured)
{
    Standin::Recorder proxy;
    Standin::Recorder target;
    ASSERT_NE(proxy.start(), 0);
    ASSERT_NE(target.start(), 0);
    const QNetworkProxy viaProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), QUrl(proxy.origin()).port());
    const QByteArray bytes(512 * 1024, 'p');

    // Qt never asks the application's proxy about a loopback address; this
    // host only the proxy can reach.
    const QUrl remote(QStringLiteral("http://uploads.example.invalid/bytes"));

    // Sends one streamed upload and tells how it was answered.
    const auto put = [&](HttpCall::Network &network, const QUrl &url) {
        QBuffer body;
        body.setData(bytes);
        EXPECT_TRUE(body.open(QIODevice::ReadOnly));
        QNetworkRequest request(url);
        request.setAttribute(HttpCall::Network::ownExchange, true);
        std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, "PUT", &body));
        EXPECT_TRUE(zktest::spinUntil([&] { return reply->isFinished(); }));
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    };

    struct Setting {
        const char *name;
        std::function<void(HttpCall::Network &)> apply;
    };
    const Setting settings[] = {
        {"the network's own proxy", [&](HttpCall::Network &n) { n.setProxy(viaProxy); }},
        {"the network's proxy factory", [&](HttpCall::Network &n) { n.setProxyFactory(new OneProxy(viaProxy)); }},
        {"the application's proxy", [&](HttpCall::Network &) { QNetworkProxy::setApplicationProxy(viaProxy); }},
    };
    int throughProxy = 0;
    for (const Setting &setting : settings) {
        SCOPED_TRACE(setting.name);
        HttpCall::Network network;
        setting.apply(network);
        EXPECT_FALSE(HttpCall::reachesDirectly(&network, remote));
        EXPECT_EQ(put(network, remote), 200);
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
        ASSERT_EQ(proxy.seen().size(), ++throughProxy);
        EXPECT_EQ(proxy.seen().last().method, "PUT");
        EXPECT_EQ(proxy.seen().last().body, bytes);
        EXPECT_EQ(proxy.seen().last().header("host"), "uploads.example.invalid");
    }

    // Without one, the client's own exchange goes straight to the target.
    HttpCall::Network direct;
    EXPECT_TRUE(HttpCall::reachesDirectly(&direct, QUrl(target.origin())));
    EXPECT_EQ(put(direct, QUrl(target.origin() + QStringLiteral("/bytes"))), 200);
    EXPECT_EQ(target.connections(), 1);
    ASSERT_EQ(target.seen().size(), 1);
    EXPECT_EQ(target.seen().first().body, bytes);
    EXPECT_EQ(proxy.seen().size(), throughProxy);
}

TEST_F(EarlyRefusal, AHeaderThatWouldSplitTheRequestIsNeverSent)
{
    Standin::Recorder target;
    ASSERT_NE(target.start(), 0);
    const QList<QPair<QByteArray, QByteArray>> unsafe{{"Content-Type", "video/mp4\r\nX-Injected: yes"},
                                                     {"Content-Type", QByteArray("video/mp4\0x", 11)},
                                                     {"X-Name\r\nX-Injected", "yes"},
                                                     {"X-Name: x", "yes"}};
    for (const auto &[name, value] : unsafe) {
        SCOPED_TRACE(name.toStdString());
        QBuffer body;
        body.setData(QByteArray(64 * 1024, 'h'));
        ASSERT_TRUE(body.open(QIODevice::ReadOnly));
        HttpCall::Network network;
        QNetworkRequest request(QUrl(target.origin() + QStringLiteral("/bytes")));
        request.setAttribute(HttpCall::Network::ownExchange, true);
        request.setRawHeader(name, value);
        std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, "PUT", &body));
        ASSERT_TRUE(zktest::spinUntil([&] { return reply->isFinished(); }));
        EXPECT_EQ(reply->error(), QNetworkReply::ProtocolInvalidOperationError);
        EXPECT_EQ(body.pos(), 0);
    }
    EXPECT_EQ(target.connections(), 0);
}

TEST_F(EarlyRefusal, TheClientsOwnExchangeChecksTheNameTheCertificateIsFor)
{
    // A TLS host on every loopback address with the stand-in's certificate,
    // which names 127.0.0.1 and localhost only; it refuses whatever it reads.
    QSslServer host;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(Standin::certificate());
    tls.setPrivateKey(Standin::certificateKey());
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // the host asks nothing of its clients
    host.setSslConfiguration(tls);
    int heads = 0;
    QObject::connect(&host, &QTcpServer::pendingConnectionAvailable, [&] {
        while (QTcpSocket *socket = host.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &heads] {
                if (!socket->readAll().contains("\r\n\r\n"))
                    return;
                ++heads;
                socket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\n\r\n");
            });
        }
    });
    ASSERT_TRUE(host.listen(QHostAddress::AnyIPv4, 0));

    const auto put = [&](const QString &address) {
        QBuffer body;
        body.setData(QByteArray(256 * 1024, 'n'));
        EXPECT_TRUE(body.open(QIODevice::ReadOnly));
        HttpCall::Network network;
        QNetworkRequest request(QUrl(QStringLiteral("https://%1:%2/bytes").arg(address).arg(host.serverPort())));
        request.setAttribute(HttpCall::Network::ownExchange, true);
        std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, "PUT", &body));
        EXPECT_TRUE(zktest::spinUntil([&] { return reply->isFinished(); }));
        return std::make_pair(reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
    };
    // Another loopback address reaches the same host, under a name its certificate does not hold.
    EXPECT_EQ(put(QStringLiteral("127.0.0.2")).first, QNetworkReply::SslHandshakeFailedError);
    EXPECT_EQ(heads, 0) << "the request went to a host that is not the one named";
    // The name it holds: the exchange goes on, and the refusal is read.
    EXPECT_EQ(put(QStringLiteral("127.0.0.1")), std::make_pair(QNetworkReply::NoError, 413));
    EXPECT_EQ(heads, 1);
}

TEST_F(EarlyRefusal, AStalledUploadOverTheOwnExchangeEndsOnItsIdleTimeOrWhenCancelled)
{
    // A host that takes the connection and never reads: the body stalls once
    // the kernel's buffers are full.
    QTcpServer host;
    QList<QPointer<QTcpSocket>> peers;
    // Set while a round cancels its request once the request's first bytes are in.
    Async::Abort *cancelOnArrival = nullptr;
    QObject::connect(&host, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = host.nextPendingConnection()) {
            socket->setReadBufferSize(1);
            peers << socket;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [&cancelOnArrival] {
                if (auto *abort = std::exchange(cancelOnArrival, nullptr))
                    QTimer::singleShot(0, [abort] { abort->cancel(); });
            });
        }
    });
    ASSERT_TRUE(host.listen(QHostAddress::LocalHost, 0));
    const QByteArray bytes(24 * 1024 * 1024, 's');

    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "idle");
        QBuffer body;
        body.setData(bytes);
        ASSERT_TRUE(body.open(QIODevice::ReadOnly));
        HttpCall::Network network;
        QObject context;
        Async::Abort abort;
        HttpCall::Request request;
        request.url = QUrl(QStringLiteral("http://127.0.0.1:%1/bytes").arg(host.serverPort()));
        request.method = "PUT";
        request.bodyDevice = &body;
        request.timeout = std::chrono::minutes(10);
        // Cancelled mid-body, long before any time-out.
        request.idleTimeout = cancel ? std::chrono::minutes(10) : std::chrono::minutes(0) + std::chrono::seconds(30);
        if (cancel)
            cancelOnArrival = &abort;
        const double started = clock.uptime();
        std::optional<NetworkError::Code> ended;
        try {
            opstest::drive(HttpCall::perform(&network, clock, &context, request, &abort), clock);
        } catch (const NetworkError &error) {
            ended = error.code();
        }
        EXPECT_EQ(ended, cancel ? NetworkError::Code::cancelled : NetworkError::Code::timedOut);
        if (!cancel) {
            EXPECT_GE(clock.uptime() - started, 30.0);
        }
        EXPECT_LT(body.pos(), bytes.size()) << "the whole body went to a host that reads nothing";
        // The connection is let go, not left open.
        ASSERT_EQ(peers.size(), cancel ? 2 : 1);
        QPointer<QTcpSocket> peer = peers.last();
        ASSERT_TRUE(peer);
        peer->setReadBufferSize(0);
        EXPECT_TRUE(zktest::spinUntil([&] {
            peer->readAll();
            return peer->state() == QAbstractSocket::UnconnectedState;
        }));
    }
}
