#include "services/ops/MediaUpload.h"

#include "../services/ScriptedNetwork.h"
#include "../services/ServiceTestSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace MediaUpload;
using namespace std::chrono_literals;

namespace {

QByteArray readAllInPieces(QIODevice &device, qint64 piece)
{
    QByteArray out;
    while (!device.atEnd()) {
        const QByteArray chunk = device.read(piece);
        if (chunk.isEmpty())
            break;
        out += chunk;
    }
    return out;
}

QByteArray multipart(const QByteArray &boundary, const QString &name, const QString &type, const MediaSource &source)
{
    MultipartDevice device(partHead(boundary, name, type), source.open(), source.size(), partTail(boundary));
    return readAllInPieces(device, 7);
}

} // namespace

TEST(Multipart, BodyBytesAreTheDocumentedFraming)
{
    const QByteArray boundary = "Zephyl-B";
    const QByteArray body = multipart(boundary, QStringLiteral("poster.jpg"), QStringLiteral("image/jpeg"),
                                      MediaSource::fromData(QByteArray("\x00\x01JPEG\r\n", 8)));
    const QByteArray expected = QByteArray("--Zephyl-B\r\n"
                                           "Content-Disposition: form-data; name=\"file\"; filename=\"poster.jpg\"\r\n"
                                           "Content-Type: image/jpeg\r\n\r\n") +
                                QByteArray("\x00\x01JPEG\r\n", 8) + QByteArray("\r\n--Zephyl-B--\r\n");
    EXPECT_EQ(body, expected);

    // An empty file: nothing between the blank line and the closing CR LF.
    const QByteArray empty =
        multipart(boundary, QStringLiteral("e.bin"), QStringLiteral("application/octet-stream"), MediaSource::fromData({}));
    EXPECT_TRUE(empty.endsWith("Content-Type: application/octet-stream\r\n\r\n\r\n--Zephyl-B--\r\n"));
}

TEST(Multipart, FileNameCannotBreakTheHeaderOrAddAPart)
{
    const QString hostile = QStringLiteral("a\"b\r\nContent-Type: text/html\r\n\r\n--Zephyl-B\nc.jpg");
    const QByteArray head = partHead("Zephyl-B", hostile, QStringLiteral("image/jpeg\r\nX-Evil: 1"));
    EXPECT_EQ(head, QByteArray("--Zephyl-B\r\n"
                               "Content-Disposition: form-data; name=\"file\"; "
                               "filename=\"a%22b%0D%0AContent-Type: text/html%0D%0A%0D%0A--Zephyl-B%0Ac.jpg\"\r\n"
                               "Content-Type: image/jpegX-Evil: 1\r\n\r\n"));
    // Exactly one part header line break pair and one opening boundary line.
    EXPECT_EQ(head.count("\r\n"), 4);
    // Non-ASCII names pass through as UTF-8.
    EXPECT_EQ(escapedFileName(QStringLiteral("кот.jpg")), QStringLiteral("кот.jpg").toUtf8());
}

TEST(Multipart, BoundaryIsFreshUpperCaseUuid)
{
    const QByteArray a = makeBoundary();
    const QByteArray b = makeBoundary();
    EXPECT_NE(a, b);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Zephyl-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(QString::fromLatin1(a))
                    .hasMatch())
        << a.constData();
    EXPECT_EQ(contentTypeHeader(a), "multipart/form-data; boundary=" + a);
}

TEST(Multipart, StreamsFromAFileAndRewinds)
{
    const QString path = zktest::tempDir() + QStringLiteral("/clip.bin");
    QByteArray bytes(300'001, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 31 % 251);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const MediaSource source = MediaSource::fromFile(path);
    EXPECT_EQ(source.size(), bytes.size());
    MultipartDevice device(partHead("Zephyl-X", QStringLiteral("clip.bin"), QStringLiteral("video/mp4")), source.open(),
                           source.size(), partTail("Zephyl-X"));
    const QByteArray expected = partHead("Zephyl-X", QStringLiteral("clip.bin"), QStringLiteral("video/mp4")) + bytes +
                                partTail("Zephyl-X");
    EXPECT_EQ(device.size(), expected.size());
    EXPECT_EQ(readAllInPieces(device, 65'536), expected);

    // A repeat of the request reads the same bytes again, from any point.
    ASSERT_TRUE(device.seek(100));
    EXPECT_EQ(readAllInPieces(device, 4096), expected.mid(100));
    ASSERT_TRUE(device.reset());
    EXPECT_EQ(readAllInPieces(device, 1 << 20), expected);

    EXPECT_EQ(MediaSource::fromFile(path + QStringLiteral(".missing")).size(), -1);
    EXPECT_EQ(MediaSource::fromFile(path + QStringLiteral(".missing")).open(), nullptr);
}

TEST(Multipart, DirectThresholdAndUploadAddresses)
{
    EXPECT_FALSE(goesDirect(0));
    EXPECT_FALSE(goesDirect(3'145'728));
    EXPECT_TRUE(goesDirect(3'145'729));

    EXPECT_TRUE(isUsableUploadAddress(QStringLiteral("https://uploads.example.com/put/abc?sig=1")));
    EXPECT_TRUE(isUsableUploadAddress(QStringLiteral("HTTPS://uploads.example.com/put")));
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("http://uploads.example.com/put")));
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("ftp://uploads.example.com/put")));
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("/relative/put")));
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("https:///put/abc"))) << "no host";
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("https:put/abc"))) << "no host";
    EXPECT_FALSE(isUsableUploadAddress(QStringLiteral("not a url")));
    EXPECT_FALSE(isUsableUploadAddress(QString()));

    EXPECT_TRUE(isUsableContentType(QStringLiteral("video/mp4")));
    EXPECT_TRUE(isUsableContentType(QStringLiteral("image/jpeg; charset=binary")));
    EXPECT_FALSE(isUsableContentType(QStringLiteral("video/mp4\r\nX-Injected: yes")));
    EXPECT_FALSE(isUsableContentType(QStringLiteral("video/mp4\n")));
    EXPECT_FALSE(isUsableContentType(QString::fromUtf8("vidéo/mp4")));
}

// ---- The upload's roads, against a scripted network in virtual time

namespace {

using zktest::Scripted;
using zktest::Sent;
using APIError = ZephylAPI::APIError;

const QString kDirect = QStringLiteral("/api/instagram/media/direct");
const QString kMultipart = QStringLiteral("/api/instagram/media");
const QString kRefresh = QStringLiteral("/api/v1/auth/refresh");
const QByteArray kTarget =
    R"({"upload":{"url":"https://uploads.example.com/put/t1?sig=x","contentType":"video/mp4","ticket":"t1"}})";

class UploadRoads : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(zktest::runVirtual(clock, ZephylAPITestAccess::persist(api, zktest::sampleSession("a")))->done);
    }

    // The service's side of a direct upload; `transfer` answers the PUT of the bytes.
    void scriptDirect(Scripted transfer)
    {
        net.setScript([transfer](const Sent &s) {
            if (s.url.path() == kRefresh)
                return Scripted::json(200, zktest::sessionJson("fresh"));
            if (s.url.host() == QLatin1String("uploads.example.com"))
                return transfer;
            if (s.url.path() == kDirect && s.method == "POST")
                return Scripted::json(200, kTarget);
            if (s.url.path() == kDirect && s.method == "PUT")
                return Scripted::json(200, R"({"media":{"id":"m-direct"}})");
            return Scripted::json(200, R"({"media":{"id":"m-multipart"}})");
        });
    }
    QList<Sent> transfers() const
    {
        QList<Sent> out;
        for (const Sent &s : net.sent)
            if (s.url.host() == QLatin1String("uploads.example.com"))
                out << s;
        return out;
    }
    auto upload(qint64 size)
    {
        return zktest::runVirtual(clock, api.uploadInstagramMedia(QByteArray(size, 'v'), QStringLiteral("VIDEO/MP4"),
                                                                  QStringLiteral("clip.mp4")),
                                  1s, 700s);
    }

    FakeClock clock;
    zktest::ScriptedNetwork net;
    std::unique_ptr<KeychainStore> keychain = KeychainStore::inMemory();
    ZephylAPI api{ZephylAPI::Setup{QUrl(QStringLiteral("https://service.test")), &net, &clock, keychain.get()}};
};

} // namespace

TEST_F(UploadRoads, TransferCarriesOnlyTheServicesTypeAndEndsAfterSixHundredSeconds)
{
    scriptDirect(Scripted::silence());
    const auto out = upload(3'145'729);
    const auto failure = out->errorAs<ZephylAPI::NetworkError>();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->code(), ZephylAPI::NetworkError::Code::timedOut);
    EXPECT_GE(out->virtualElapsed, 600s);
    EXPECT_LT(out->virtualElapsed, 602s);

    const auto intent = net.sentTo(kDirect);
    ASSERT_EQ(intent.size(), 1); // no confirmation of an unfinished transfer
    EXPECT_EQ(intent[0].json(), (QJsonObject{{"contentType", "VIDEO/MP4"}, {"byteSize", 3'145'729}}));
    const auto put = transfers();
    ASSERT_EQ(put.size(), 1);
    EXPECT_EQ(put[0].method, "PUT");
    EXPECT_EQ(put[0].body.size(), 3'145'729);
    // Its own header is the service's content type alone: no token, no Accept.
    QStringList own;
    for (const QByteArray &name : put[0].headers.keys())
        if (name.compare("Content-Length", Qt::CaseInsensitive) != 0)
            own << QString::fromLatin1(name);
    EXPECT_EQ(own, QStringList{QStringLiteral("Content-Type")});
    EXPECT_EQ(put[0].header("Content-Type"), "video/mp4");
}

TEST_F(UploadRoads, OnlyATwoHundredTransferIsConfirmed)
{
    Scripted notHttp;
    notHttp.notHttp = true;
    for (const Scripted &answer : {notHttp, Scripted::json(300, {}), Scripted::json(404, "{\"code\":\"gone\"}")}) {
        net.sent.clear();
        scriptDirect(answer);
        EXPECT_EQ(upload(4'000'000)->errorAs<APIError>(), APIError::rejected(QStringLiteral("media_upload_failed")));
        EXPECT_EQ(net.sentTo(kDirect).size(), 1);
    }
    net.sent.clear();
    scriptDirect(Scripted::json(201, {}));
    EXPECT_EQ(upload(4'000'000)->value, QStringLiteral("m-direct"));
    ASSERT_EQ(net.sentTo(kDirect).size(), 2);
    EXPECT_EQ(net.sentTo(kDirect)[1].json(), (QJsonObject{{"ticket", "t1"}}));
}

TEST_F(UploadRoads, ATransferAnsweredFourThirteenIsTooLargeAndNotConfirmed)
{
    for (const Scripted &answer : {Scripted::json(413, "<html>413 Request Entity Too Large</html>"),
                                   Scripted::json(413, "{\"code\":\"media_upload_failed\"}")}) {
        net.sent.clear();
        scriptDirect(answer);
        EXPECT_EQ(upload(4'000'000)->errorAs<APIError>(), APIError::rejected(QStringLiteral("payload_too_large")));
        EXPECT_EQ(net.sentTo(kDirect).size(), 1) << "a refused transfer was confirmed";
        EXPECT_EQ(net.sentTo(kMultipart).size(), 0);
    }
}

TEST_F(UploadRoads, ATransferTypeThatWouldSplitItsHeaderIsAnUnusableAnswer)
{
    for (const char *type : {"video/mp4\r\nAuthorization: Bearer x", "video/mp4\nX: y", "video/mp4\x7f"}) {
        SCOPED_TRACE(type);
        net.sent.clear();
        const QByteArray target = QJsonDocument(QJsonObject{
            {"upload", QJsonObject{{"url", "https://uploads.example.com/put/t1"}, {"contentType", QString::fromUtf8(type)},
                                   {"ticket", "t1"}}}}).toJson(QJsonDocument::Compact);
        net.setScript([target](const Sent &s) {
            if (s.url.path() == kDirect && s.method == "POST")
                return Scripted::json(200, target);
            return Scripted::json(200, R"({"media":{"id":"m"}})");
        });
        EXPECT_EQ(upload(4'000'000)->errorAs<APIError>(), APIError::invalidResponse());
        EXPECT_EQ(transfers().size(), 0);
        EXPECT_EQ(net.sent.size(), 1); // the intent, and nothing after it
    }
}

TEST_F(UploadRoads, OneRenewalWhateverTheRoadAndNoFallbackAfterIt)
{
    // The page carries the intent and refuses it: the session is renewed even
    // so, the whole direct upload runs once more, and its refusal is final.
    zktest::TestTransport page;
    page.script = [](const zktest::TestTransport::Call &) { return WebTransport::Response{401, {}}; };
    api.useWebSession(&page);
    scriptDirect(Scripted::json(200, {}));
    EXPECT_EQ(upload(4'000'000)->errorAs<APIError>(), APIError::unauthorized());
    EXPECT_EQ(net.sentTo(kRefresh).size(), 1);
    ASSERT_EQ(page.calls.size(), 2);
    EXPECT_EQ(page.calls[1].path, kDirect);
    EXPECT_TRUE(transfers().isEmpty());

    // Unavailable after the renewal: that is final too, with no multipart upload.
    net.sent.clear();
    page.calls.clear();
    page.script = [&page](const zktest::TestTransport::Call &) {
        return page.calls.size() == 1 ? WebTransport::Response{401, {}}
                                      : WebTransport::Response{503, "{\"code\":\"direct_upload_unavailable\"}"};
    };
    EXPECT_EQ(upload(4'000'000)->errorAs<APIError>(), APIError::rejected(QStringLiteral("direct_upload_unavailable")));
    EXPECT_EQ(net.sentTo(kRefresh).size(), 1);
    EXPECT_TRUE(net.sentTo(kMultipart).isEmpty());

    // The multipart upload never rides the page: it goes direct with the bearer token.
    net.sent.clear();
    page.calls.clear();
    EXPECT_EQ(upload(100)->value, QStringLiteral("m-multipart"));
    EXPECT_TRUE(page.calls.isEmpty());
    ASSERT_EQ(net.sentTo(kMultipart).size(), 1);
    EXPECT_TRUE(net.sentTo(kMultipart)[0].header("Authorization").startsWith("Bearer "));
}
