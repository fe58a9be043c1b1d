// The service operations against the local stand-in service.

#include "OperationRoutes.h"
#include "OpsTestSupport.h"
#include "support/TestSupport.h"
#include "StandinServer.h"

#include "services/ChatModels.h"
#include "services/ZephylAPI.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using APIError = ZephylAPI::APIError;

namespace {

const QString kEmail = QStringLiteral("kitty@example.com");
const QString kPassword = QStringLiteral("meow-meow-meow");

std::optional<APIError> apiError(const std::function<void()> &body)
{
    try {
        body();
    } catch (const APIError &e) {
        return e;
    }
    return std::nullopt;
}

QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + 7) % 256);
    return bytes;
}

// A page whose own session has lapsed: every call it carries is answered 401.
class LapsedPage final : public WebTransport {
public:
    struct Call {
        QString path;
        QString method;
        QMap<QString, QString> headers;
    };
    QList<Call> calls;

    QCoro::Task<Response> perform(QString path, QString method, std::optional<QByteArray>,
                                  QMap<QString, QString> headers) override
    {
        calls.push_back({path, method, headers});
        co_return Response{401, {}};
    }
};

class Operations : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The stand-in's https host presents its own certificate.
        Standin::trustCertificate();
    }

    void SetUp() override
    {
        ASSERT_NE(server.start(), 0);
        server.addAccount(kEmail, kPassword, QStringLiteral("Kitty"));
        keychain = KeychainStore::inMemory();
        ZephylAPI::Setup setup;
        setup.baseURL = QUrl(server.origin());
        setup.clock = &clock;
        setup.keychain = keychain.get();
        api = std::make_unique<ZephylAPI>(setup);
        opstest::run(api->signInWithEmail(kEmail, kPassword));
        ops().now = [this] { return clock.now().toMSecsSinceEpoch(); };
        server.clearSeen();
    }

    Standin::Operations &ops() { return Standin::operations(server); }
    QString userId() { return server.state().accounts.value(kEmail).userId; }

    Publications::PublicationRequest postOf(const QString &mediaId)
    {
        Publications::PublicationRequest r;
        r.format = QStringLiteral("feed");
        r.caption = QStringLiteral("Morning light\n\n#cats");
        r.mediaIds = {mediaId};
        r.scheduledAt = Publications::internetDateTime(clock.now());
        return r;
    }

    Standin::Server server;
    FakeClock clock{QDateTime::currentDateTimeUtc()};
    std::unique_ptr<KeychainStore> keychain;
    std::unique_ptr<ZephylAPI> api;
};

} // namespace

TEST_F(Operations, MultipartUploadSendsTheFileAsOneEscapedPart)
{
    const QByteArray bytes = pattern(70'001);
    const QString id = opstest::run(
        api->uploadInstagramMedia(bytes, QStringLiteral("image/jpeg"), QStringLiteral("my \"best\"\r\nshot.jpg")));
    const auto stored = ops().media.value(id);
    EXPECT_EQ(stored.via, QStringLiteral("multipart"));
    EXPECT_EQ(stored.size, bytes.size());
    EXPECT_EQ(stored.sha256, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
    EXPECT_EQ(stored.fileName, QStringLiteral("my %22best%22%0D%0Ashot.jpg"));
    const auto seen = server.seen(QStringLiteral("/api/instagram/media"));
    ASSERT_EQ(seen.size(), 1);
    EXPECT_TRUE(seen[0].header("content-type").startsWith("multipart/form-data; boundary=Zephyl-"));
    EXPECT_TRUE(seen[0].header("authorization").startsWith("Bearer "));

    // An empty file is a part with no bytes; two uploads use two boundaries.
    const QString empty = opstest::run(api->uploadInstagramMedia(QByteArray(), QStringLiteral("image/png"), QStringLiteral("e.png")));
    EXPECT_EQ(ops().media.value(empty).size, 0);
    const auto both = server.seen(QStringLiteral("/api/instagram/media"));
    ASSERT_EQ(both.size(), 2);
    EXPECT_NE(both[0].header("content-type"), both[1].header("content-type"));
}

TEST_F(Operations, SizeAboveThreeMebibytesGoesDirectAndStreamsFromDisk)
{
    // Exactly the threshold: multipart.
    opstest::run(api->uploadInstagramMedia(pattern(3'145'728), QStringLiteral("video/mp4"), QStringLiteral("a.mp4")));
    EXPECT_EQ(server.count(QStringLiteral("/api/instagram/media")), 1);
    EXPECT_EQ(server.count(QStringLiteral("/api/instagram/media/direct")), 0);

    // One byte more, from a file: intent, PUT to the https address, confirmation.
    const QByteArray bytes = pattern(3'145'729);
    const QString path = QDir::tempPath() + QStringLiteral("/direct.mp4");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const QString id = opstest::run(api->uploadInstagramMedia(ZephylAPI::MediaSource::fromFile(path),
                                                              QStringLiteral("VIDEO/MP4"), QStringLiteral("b.mp4")));
    const auto direct = server.seen(QStringLiteral("/api/instagram/media/direct"));
    ASSERT_EQ(direct.size(), 2);
    EXPECT_EQ(direct[0].method, "POST");
    EXPECT_EQ(direct[0].json().value("byteSize").toInteger(), 3'145'729);
    EXPECT_EQ(direct[1].method, "PUT");
    const auto puts = ops().secure->seen();
    ASSERT_EQ(puts.size(), 1);
    // The service's content type, and no token sent to the upload host.
    EXPECT_EQ(puts[0].header("content-type"), "video/mp4");
    EXPECT_FALSE(puts[0].has("authorization"));
    EXPECT_EQ(ops().media.value(id).via, QStringLiteral("direct"));
    EXPECT_EQ(ops().media.value(id).sha256, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
}

TEST_F(Operations, DirectUploadFallsBackOnceAndRefusesUnsafeOrFailedTransfers)
{
    const QByteArray big = pattern(4'000'000);
    ops().directUnavailable = true;
    const QString id = opstest::run(api->uploadInstagramMedia(big, QStringLiteral("video/mp4"), QStringLiteral("f.mp4")));
    EXPECT_EQ(ops().media.value(id).via, QStringLiteral("multipart"));
    EXPECT_EQ(ops().media.value(id).fileName, QStringLiteral("f.mp4"));
    EXPECT_EQ(server.count(QStringLiteral("/api/instagram/media/direct")), 1);
    EXPECT_EQ(server.count(QStringLiteral("/api/instagram/media")), 1);
    ops().directUnavailable = false;
    server.clearSeen();

    // An http address is refused before any byte is sent.
    ops().plainHttpUploadAddress = true;
    auto error = apiError([&] { opstest::run(api->uploadInstagramMedia(big, QStringLiteral("video/mp4"), QStringLiteral("g.mp4"))); });
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, APIError::invalidResponse());
    EXPECT_TRUE(ops().secure->seen().isEmpty());
    ops().plainHttpUploadAddress = false;

    // Storage that sends the bytes on to another endpoint: a 307 or 308 is
    // followed with the same bytes (nothing of ours travels with them); a 302
    // would turn the PUT into something else, so it is a failed transfer.
    for (const int status : {307, 308, 302}) {
        SCOPED_TRACE(status);
        server.clearSeen();
        const int before = int(ops().secure->seen().size());
        ops().transferRedirectStatus = status;
        const QByteArray bytes = pattern(3'500'000 + status);
        std::optional<QString> id;
        const auto refused = apiError([&] {
            id = opstest::run(api->uploadInstagramMedia(bytes, QStringLiteral("video/mp4"), QStringLiteral("r.mp4")));
        });
        const auto puts = ops().secure->seen().mid(before);
        if (status == 302) {
            EXPECT_EQ(refused, APIError::rejected(QStringLiteral("media_upload_failed")));
            EXPECT_EQ(puts.size(), 1);
            continue;
        }
        ASSERT_TRUE(id) << (refused ? refused->what() : "");
        ASSERT_EQ(puts.size(), 2);
        EXPECT_TRUE(puts[1].header("host").startsWith("localhost:"));
        EXPECT_EQ(puts[1].method, "PUT");
        EXPECT_EQ(puts[1].header("content-type"), "video/mp4");
        EXPECT_FALSE(puts[1].has("authorization"));
        EXPECT_EQ(ops().media.value(*id).sha256, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
    }
    ops().transferRedirectStatus = 0;

    // A refused transfer is never confirmed.
    ops().transferStatus = 404;
    error = apiError([&] { opstest::run(api->uploadInstagramMedia(big, QStringLiteral("video/mp4"), QStringLiteral("h.mp4"))); });
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, APIError::rejected(QStringLiteral("media_upload_failed")));
    for (const auto &s : server.seen(QStringLiteral("/api/instagram/media/direct")))
        EXPECT_EQ(s.method, "POST");
    EXPECT_EQ(server.count(QStringLiteral("/api/instagram/media")), 0);
}

TEST_F(Operations, ExpiredTokenRenewsOnceAndRepeatsTheUpload)
{
    server.expireAccessTokens();
    const QString id = opstest::run(api->uploadInstagramMedia(pattern(10), QStringLiteral("image/jpeg"), QStringLiteral("x.jpg")));
    EXPECT_TRUE(ops().media.contains(id));
    EXPECT_EQ(server.count(QStringLiteral("/api/v1/auth/refresh")), 1);
    EXPECT_EQ(server.count(QStringLiteral("/api/instagram/media")), 2);
}

TEST_F(Operations, CreationTimedOutAfterStoringIsFoundByItsKey)
{
    const QString media = opstest::run(api->uploadInstagramMedia(pattern(100), QStringLiteral("image/jpeg"), QStringLiteral("p.jpg")));
    const QString key = QStringLiteral("7A1C6E2B-0E0D-4C43-9A39-3E1F1B2C3D4E");
    ops().afterStore = Standin::Answer::Delivery::hang;
    std::optional<ZephylAPI::NetworkError::Code> failure;
    bool ended = false;
    auto create = [](ZephylAPI &client, ZephylAPI::PublicationRequest post, QString k,
                     std::optional<ZephylAPI::NetworkError::Code> &out, bool &done) -> QCoro::Task<> {
        try {
            co_await client.createInstagramPublication(post, k);
        } catch (const ZephylAPI::NetworkError &e) {
            out = e.code();
        }
        done = true;
    };
    auto creating = create(*api, postOf(media), key, failure, ended);
    // Virtual time moves only once the server holds the creation, so the
    // request's time-out never overtakes a slow delivery.
    ASSERT_TRUE(zktest::spinUntil([&] { return ops().publications.size() == 1; }));
    clock.advance(89s);
    zktest::spinUntil([] { return false; }, 50ms);
    EXPECT_FALSE(ended) << "ended before its 90 s";
    clock.advance(1s);
    ASSERT_TRUE(zktest::spinUntil([&] { return ended; }));
    EXPECT_EQ(failure, ZephylAPI::NetworkError::Code::timedOut);
    ASSERT_EQ(ops().publications.size(), 1);

    // The look-up by the key finds what the server stored.
    const auto found = opstest::run(api->existingInstagramPublication(key));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->id, QStringLiteral("pub-1"));
    EXPECT_FALSE(opstest::run(api->existingInstagramPublication(QStringLiteral("no-such-key"))));
    // Only the service's own "publication_not_found" means none was made; any
    // other refusal of the look-up leaves that open and reaches the caller.
    const QString lookUp = QStringLiteral("/api/instagram/publications/") + key;
    const struct {
        const char *what;
        int status;
        std::optional<QString> code;
        APIError expected;
    } refusals[] = {
        {"404 without a code", 404, std::nullopt, APIError::serverRefused(404)},
        {"404 with another code", 404, QStringLiteral("not_found"), APIError::rejected(QStringLiteral("not_found"))},
        {"the code in capitals", 404, QStringLiteral("PUBLICATION_NOT_FOUND"),
         APIError::rejected(QStringLiteral("PUBLICATION_NOT_FOUND"))},
        {"busy", 503, QStringLiteral("rate_limited"), APIError::rejected(QStringLiteral("rate_limited"))},
        {"server error without a code", 500, std::nullopt, APIError::serverRefused(500)},
    };
    for (const auto &refusal : refusals) {
        server.addFault({Standin::Fault::Kind::serverError, lookUp, refusal.status, refusal.code, 0, 1});
        EXPECT_EQ(apiError([&] { opstest::run(api->existingInstagramPublication(key)); }), refusal.expected)
            << refusal.what;
    }
    EXPECT_EQ(opstest::run(api->existingInstagramPublication(key))->id, QStringLiteral("pub-1"));

    // A retry with the same key, after a refused token, makes no second publication.
    server.expireAccessTokens();
    EXPECT_EQ(opstest::run(api->createInstagramPublication(postOf(media), key)).id, QStringLiteral("pub-1"));
    EXPECT_EQ(ops().publications.size(), 1);
    auto posts = server.seen(QStringLiteral("/api/instagram/publications"));
    ASSERT_GE(posts.size(), 2);
    EXPECT_EQ(posts[posts.size() - 1].header("idempotency-key"), key.toUtf8());
    EXPECT_EQ(posts[posts.size() - 2].header("idempotency-key"), key.toUtf8());

    // Nor does one after the server stored a creation and dropped the connection.
    const QString other = QStringLiteral("C0FFEE00-0000-4000-8000-000000000001");
    ops().afterStore = Standin::Answer::Delivery::drop;
    ops().afterStoreTimes = 1;
    EXPECT_THROW(opstest::run(api->createInstagramPublication(postOf(media), other)), ZephylAPI::NetworkError);
    ASSERT_EQ(ops().publications.size(), 2);
    EXPECT_EQ(opstest::run(api->createInstagramPublication(postOf(media), other)).id, QStringLiteral("pub-2"));
    EXPECT_EQ(ops().publications.size(), 2);

    // A new key is a new publication, even one that reads like an earlier id.
    EXPECT_EQ(opstest::run(api->createInstagramPublication(postOf(media), QStringLiteral("pub-1"))).id, QStringLiteral("pub-3"));
}

TEST_F(Operations, PublishedAfterProcessingAndListedWithOddLinksKept)
{
    const QString media = opstest::run(api->uploadInstagramMedia(pattern(100), QStringLiteral("image/jpeg"), QStringLiteral("p.jpg")));
    // The service's time here moves one second per read of the publication, so
    // it is published on the second read whatever the pace of the test.
    const qint64 base = clock.now().toMSecsSinceEpoch();
    ops().now = [this, base] {
        return base + 1000 * qint64(server.count(QStringLiteral("/api/instagram/publications/pub-1")));
    };
    ops().processingMs = 2000;
    const auto created = opstest::run(api->createInstagramPublication(postOf(media), QStringLiteral("key-1")));
    EXPECT_EQ(created.status, QStringLiteral("processing"));
    const auto done = opstest::drive(api->waitForInstagramPublication(created, 8, 1.6), clock, 100ms,
                                     std::chrono::minutes(30), std::chrono::seconds(2));
    EXPECT_EQ(done.status, QStringLiteral("published"));
    EXPECT_TRUE(done.platformUrl.has_value());
    EXPECT_EQ(server.count(QStringLiteral("/api/instagram/publications/pub-1")), 2);

    // A publication whose link is not a URL does not sink the list.
    Standin::Operations::Publication odd;
    odd.userId = userId();
    odd.final = true;
    odd.json = QJsonObject{{"id", "pub-odd"}, {"status", "published"}, {"platformUrl", "http://[::1"}};
    ops().publications.push_back(odd);
    const auto list = opstest::run(api->instagramPublications());
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[1].id, QStringLiteral("pub-odd"));
    EXPECT_FALSE(list[1].platformUrl.has_value());

    // An id is one path segment, whatever it holds.
    EXPECT_FALSE(opstest::run(api->existingInstagramPublication(QStringLiteral("../../plan/drafts"))));
    EXPECT_EQ(server.seen().last().path, QStringLiteral("/api/instagram/publications/../../plan/drafts"));

    // Plan drafts go back whole and come back.
    ZephylAPI::PlanDraft draft;
    draft.id = 42;
    draft.title = QStringLiteral("Wednesday reel");
    opstest::run(api->savePlanDrafts({draft}));
    const auto drafts = opstest::run(api->planDrafts());
    ASSERT_EQ(drafts.size(), 1);
    EXPECT_EQ(drafts[0].title, QStringLiteral("Wednesday reel"));

    // Another client's odd types, and a draft whose id is no whole number: the
    // stand-in keeps what it is given, the list is read whole, and written back
    // it is what the stand-in held, byte for byte.
    const QByteArray other = R"([{"id":5,"title":"Phone","caption":"","format":"post","hashtags":["#cats","#coffee"],)"
                             R"("scheduledAt":1748856600000,"hiddenFromGrid":"yes","gridSlot":"4","mediaId":17},)"
                             R"({"id":1.5,"title":"Odd one"},)"
                             R"({"caption":"","format":"post","hashtags":"","hiddenFromGrid":false,"id":42,)"
                             R"("scheduledAt":"","title":"Wednesday reel"}])";
    const auto held = [&] { return QJsonDocument(ops().drafts.value(userId())).toJson(QJsonDocument::Compact); };
    QNetworkAccessManager curl;
    QNetworkRequest put(QUrl(server.origin() + QStringLiteral("/api/plan/drafts")));
    put.setRawHeader("Authorization", "Bearer " + server.state().accessTokens.keys().first().toUtf8());
    put.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *written = curl.put(put, R"({"drafts":)" + other + "}");
    ASSERT_TRUE(zktest::spinUntil([&] { return written->isFinished(); }));
    EXPECT_EQ(written->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    const QByteArray asHeld = held();
    EXPECT_EQ(asHeld, QJsonDocument::fromJson(other).toJson(QJsonDocument::Compact)) << "the stand-in keeps it as given";
    const auto mixed = opstest::run(api->planDrafts());
    ASSERT_EQ(mixed.size(), 3);
    EXPECT_EQ(mixed[0].hashtags, QStringLiteral("#cats #coffee"));
    EXPECT_FALSE(mixed[1].readable());
    EXPECT_EQ(mixed[1].title, QStringLiteral("Odd one"));
    // Told when the whole list has gone out: before the service answers, here never.
    server.addFault({Standin::Fault::Kind::hang, QStringLiteral("/api/plan/drafts"), 0, std::nullopt, 0, 1,
                     QString(), "PUT"});
    int out = 0;
    auto saving = std::make_shared<zktest::Outcome<zktest::Done>>();
    auto runner = zktest::capture(zktest::asDone(api->savePlanDrafts(mixed, [&] { ++out; })), saving);
    ASSERT_TRUE(zktest::spinUntil([&] { return out == 1; }));
    EXPECT_FALSE(saving->done);
    server.releaseHeld();
    ASSERT_TRUE(zktest::spinUntil([&] { return saving->done; }));
    EXPECT_TRUE(saving->value);
    EXPECT_EQ(out, 1);
    EXPECT_EQ(held(), asHeld);
}

// Ids that stay dot segments after escaping would be folded into the path
// ("/api/instagram/publications/.." is "/api/instagram"), and an empty one names
// the whole list: each is refused before anything is sent.
TEST_F(Operations, AnIdThatWouldNameAnotherResourceIsRefusedUnsent)
{
    using Code = ZephylAPI::NetworkError::Code;
    for (const QString &id : {QStringLiteral(".."), QStringLiteral("."), QString()}) {
        server.clearSeen();
        std::optional<Code> code;
        try {
            opstest::run(api->instagramPublication(id));
        } catch (const ZephylAPI::NetworkError &e) {
            code = e.code();
        }
        EXPECT_EQ(code, Code::badURL) << id.toStdString();
        EXPECT_THROW(opstest::run(api->existingInstagramPublication(id)), ZephylAPI::NetworkError) << id.toStdString();
        // The wait keeps the publication it was given.
        ZephylAPI::Publication pending;
        pending.id = id;
        pending.status = QStringLiteral("processing");
        EXPECT_EQ(opstest::drive(api->waitForInstagramPublication(pending, 3, 1.6), clock), pending);
        EXPECT_TRUE(server.seen().isEmpty()) << id.toStdString();
    }
    // Ids that only look like dots are one ordinary segment each.
    for (const QString &id : {QStringLiteral("..."), QStringLiteral(".hidden"), QStringLiteral("a/.."),
                             QStringLiteral("..\\..")}) {
        server.clearSeen();
        EXPECT_FALSE(opstest::run(api->existingInstagramPublication(id))) << id.toStdString();
        ASSERT_EQ(server.seen().size(), 1) << id.toStdString();
        EXPECT_EQ(server.seen()[0].path, QStringLiteral("/api/instagram/publications/") + id) << id.toStdString();
    }
}

TEST_F(Operations, InstagramConnectionProfileAndFeedPagedToTheEnd)
{
    // Not connected: the feed's 404 page with its status is an answer.
    const auto disconnected = opstest::run(api->instagramFeed(std::nullopt));
    EXPECT_EQ(disconnected.status, ZephylAPI::InstagramFeedResponse::Status::disconnected);
    EXPECT_FALSE(opstest::run(api->instagramProfile()));

    // The authorization page is https; visiting it connects and calls back.
    const QUrl start = opstest::run(api->instagramAuthorizationURL());
    EXPECT_EQ(start.scheme(), QStringLiteral("https"));
    QNetworkAccessManager browser;
    QNetworkRequest request(start);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = browser.get(request);
    ASSERT_TRUE(zktest::spinUntil([&] { return reply->isFinished(); }));
    const QUrl callback = reply->header(QNetworkRequest::LocationHeader).toUrl();
    reply->deleteLater();
    EXPECT_EQ(callback.toString(), QStringLiteral("sorvane://instagram-connected?status=connected"));
    ASSERT_TRUE(opstest::run(api->instagramProfile()));

    QStringList ids;
    std::optional<QString> cursor;
    int pages = 0;
    for (;;) {
        const auto page = opstest::run(api->instagramFeed(cursor));
        EXPECT_EQ(page.status, ZephylAPI::InstagramFeedResponse::Status::synced);
        for (const auto &item : page.items)
            ids << item.id;
        ++pages;
        if (!page.hasMore)
            break;
        ASSERT_TRUE(page.cursor);
        cursor = page.cursor;
    }
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(ids.size(), 23);
    EXPECT_EQ(ids.removeDuplicates(), 0);
    EXPECT_EQ(server.seen(QStringLiteral("/api/social/feed")).last().query.queryItemValue("cursor", QUrl::FullyDecoded), QStringLiteral("after:20"));
    // A cursor is one query value, whatever characters it holds; an empty one sends no query.
    const QString odd = QStringLiteral("a+b c&d=e%f/\u00e9#g");
    EXPECT_EQ(apiError([&] { opstest::run(api->instagramFeed(odd)); }), APIError::rejected(QStringLiteral("invalid_cursor")));
    const auto oddSeen = server.seen(QStringLiteral("/api/social/feed")).last().query;
    EXPECT_EQ(oddSeen.queryItems(QUrl::FullyDecoded).size(), 1);
    EXPECT_EQ(oddSeen.queryItemValue("cursor", QUrl::FullyDecoded), odd);
    opstest::run(api->instagramFeed(QString()));
    EXPECT_TRUE(server.seen(QStringLiteral("/api/social/feed")).last().query.isEmpty());

    // The feed's failure rule: a code when the body has one, else "feed_unavailable".
    server.addFault({Standin::Fault::Kind::serverError, QStringLiteral("/api/social/feed"), 500, QStringLiteral("feed_rate_limited"), 0, 1});
    EXPECT_EQ(apiError([&] { opstest::run(api->instagramFeed(std::nullopt)); }), APIError::rejected(QStringLiteral("feed_rate_limited")));
    server.addFault({Standin::Fault::Kind::serverError, QStringLiteral("/api/social/feed"), 502, std::nullopt, 0, 1});
    EXPECT_EQ(apiError([&] { opstest::run(api->instagramFeed(std::nullopt)); }), APIError::rejected(QStringLiteral("feed_unavailable")));
    server.addFault({Standin::Fault::Kind::malformed, QStringLiteral("/api/social/feed"), 200, std::nullopt, 0, 1});
    EXPECT_EQ(apiError([&] { opstest::run(api->instagramFeed(std::nullopt)); }), APIError::rejected(QStringLiteral("feed_unavailable")));
    // A 401 is the session's, whatever code it carries: one renewal, one repeat.
    const int renewals = server.count(QStringLiteral("/api/v1/auth/refresh"));
    server.addFault({Standin::Fault::Kind::unauthorized, QStringLiteral("/api/social/feed"), 401, QStringLiteral("plan_locked"), 0, 1});
    EXPECT_EQ(opstest::run(api->instagramFeed(std::nullopt)).status, ZephylAPI::InstagramFeedResponse::Status::synced);
    EXPECT_EQ(server.count(QStringLiteral("/api/v1/auth/refresh")), renewals + 1);

    opstest::run(api->disconnectInstagram());
    EXPECT_FALSE(opstest::run(api->instagramProfile()));
    // The abandonment report never fails, signed in or not.
    opstest::run(api->reportInstagramConnectionAbandoned());
    EXPECT_EQ(ops().abandonedReports, 1);
    opstest::run(api->logout());
    opstest::run(api->reportInstagramConnectionAbandoned());
}

TEST_F(Operations, ThreadOperationsRunOneAtATimeAndDeleteOnlyTheSelectedThread)
{
    opstest::run(api->createAssistantThread(QStringLiteral("First")));
    auto store = opstest::run(api->createAssistantThread(QStringLiteral("Second")));
    ASSERT_EQ(store.threads.size(), 2);
    const QString second = *store.activeThreadId;
    const QString first = store.threads[1].id;
    server.clearSeen();

    // A delete of "First" and a select of "Second" started together: without
    // turns, the select could land between the delete's select and its DELETE.
    std::optional<ZephylAPI::AssistantThreadStore> afterDelete, afterSelect;
    // Coroutine lambdas without captures: their state lives in the frame.
    auto deleteInto = [](ZephylAPI &client, QString id, std::optional<ZephylAPI::AssistantThreadStore> &out) -> QCoro::Task<> {
        out = co_await client.deleteAssistantThread(id);
    };
    auto selectInto = [](ZephylAPI &client, QString id, std::optional<ZephylAPI::AssistantThreadStore> &out) -> QCoro::Task<> {
        out = co_await client.selectAssistantThread(id);
    };
    auto deleting = deleteInto(*api, first, afterDelete);
    auto selecting = selectInto(*api, second, afterSelect);
    ASSERT_TRUE(zktest::spinUntil([&] { return afterDelete && afterSelect; }));
    const auto seen = server.seen(QStringLiteral("/api/assistant/thread"));
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen[0].method, "PATCH");
    EXPECT_EQ(seen[0].json().value("activeThreadId").toString(), first);
    EXPECT_EQ(seen[1].method, "DELETE");
    EXPECT_EQ(seen[2].method, "PATCH");
    ASSERT_EQ(afterSelect->threads.size(), 1);
    EXPECT_EQ(afterSelect->threads[0].id, second);

    // A select that fails sends no DELETE.
    server.clearSeen();
    EXPECT_EQ(apiError([&] { opstest::run(api->deleteAssistantThread(QStringLiteral("thread-gone"))); }),
              APIError::rejected(QStringLiteral("thread_not_found")));
    EXPECT_EQ(server.seen(QStringLiteral("/api/assistant/thread")).size(), 1);

    // A selection that leaves another thread active (another device chose it
    // meanwhile) sends no DELETE either: it would remove that other conversation.
    opstest::run(api->createAssistantThread(QStringLiteral("Third")));
    const QString third = *opstest::run(api->assistantThreadStore()).activeThreadId;
    const auto elsewhere = std::make_shared<bool>(true);
    server.addAdapter([elsewhere, third](Standin::Seen &seen) {
        if (*elsewhere && seen.method == "PATCH" && seen.path == QLatin1String("/api/assistant/thread"))
            seen.body = QJsonDocument(QJsonObject{{"activeThreadId", third}}).toJson();
    });
    server.clearSeen();
    EXPECT_EQ(apiError([&] { opstest::run(api->deleteAssistantThread(second)); }),
              APIError::rejected(QStringLiteral("assistant_thread_not_active")));
    *elsewhere = false;
    const auto thread = server.seen(QStringLiteral("/api/assistant/thread"));
    ASSERT_EQ(thread.size(), 1);
    EXPECT_EQ(thread[0].method, "PATCH");
    EXPECT_EQ(opstest::run(api->assistantThreadStore()).threads.size(), 2) << "both conversations stay";

    // Saving and asking.
    const ChatMessage question{QStringLiteral("m1"), ChatMessage::Author::user, QStringLiteral("plan my week"), 1000, {}, {}};
    store = opstest::run(api->saveAssistantThread(second, std::nullopt, {question}));
    ASSERT_TRUE(store.activeThread);
    EXPECT_EQ(store.activeThread->messages.size(), 1);
    const auto reply = opstest::run(api->assistant(QStringLiteral("Plan my week"), {question}, ZephylAPI::Persona::kitty(QStringLiteral("Mochi"))));
    EXPECT_TRUE(reply.message.startsWith(QStringLiteral("Mochi here.")));
    ASSERT_EQ(reply.actions.size(), 1);
    EXPECT_EQ(reply.actions[0].id, QStringLiteral("open_planner"));
}

TEST_F(Operations, WhileThePageCarriesCallsOnlyTheFeedAndTheCreationRenew)
{
    const QString media = opstest::run(api->uploadInstagramMedia(pattern(100), QStringLiteral("image/jpeg"), QStringLiteral("p.jpg")));
    LapsedPage page;
    api->useWebSession(&page);
    server.clearSeen();
    const QString refresh = QStringLiteral("/api/v1/auth/refresh");

    // The page's refusal is final for the thread store, the account and the reads.
    const std::vector<std::function<void()>> finalOnThePage{
        [&] { opstest::run(api->assistantThreadStore()); },
        [&] { opstest::run(api->createAssistantThread(std::nullopt)); },
        [&] { opstest::run(api->selectAssistantThread(QStringLiteral("t"))); },
        [&] { opstest::run(api->saveAssistantThread(std::nullopt, std::nullopt, {})); },
        [&] { opstest::run(api->deleteAssistantThread(QStringLiteral("t"))); },
        [&] { opstest::run(api->assistant(QStringLiteral("hi"), {}, ZephylAPI::Persona::standard())); },
        [&] { opstest::run(api->instagramAuthorizationURL()); },
        [&] { opstest::run(api->instagramProfile()); },
        [&] { opstest::run(api->disconnectInstagram()); },
        [&] { opstest::run(api->instagramPublication(QStringLiteral("pub-1"))); },
        [&] { opstest::run(api->instagramPublications()); },
        [&] { opstest::run(api->planDrafts()); },
        [&] { opstest::run(api->savePlanDrafts({})); },
    };
    for (const auto &call : finalOnThePage)
        EXPECT_EQ(apiError(call), APIError::unauthorized());
    EXPECT_EQ(page.calls.size(), finalOnThePage.size());
    EXPECT_EQ(server.count(refresh), 0);
    opstest::run(api->reportInstagramConnectionAbandoned());
    EXPECT_EQ(server.count(refresh), 0);

    // The creation renews even so, and its repeat carries the same key.
    page.calls.clear();
    EXPECT_EQ(apiError([&] { opstest::run(api->createInstagramPublication(postOf(media), QStringLiteral("key-page"))); }),
              APIError::unauthorized());
    EXPECT_EQ(server.count(refresh), 1);
    ASSERT_EQ(page.calls.size(), 2);
    for (const auto &call : page.calls) {
        EXPECT_EQ(call.path, QStringLiteral("/api/instagram/publications"));
        EXPECT_EQ(call.headers.value(QStringLiteral("Idempotency-Key")), QStringLiteral("key-page"));
        EXPECT_FALSE(call.headers.contains(QStringLiteral("Authorization")));
    }

    // The feed never rides the page: direct with the bearer token, renewed once when refused.
    page.calls.clear();
    server.expireAccessTokens();
    EXPECT_EQ(opstest::run(api->instagramFeed(std::nullopt)).status, ZephylAPI::InstagramFeedResponse::Status::disconnected);
    EXPECT_TRUE(page.calls.isEmpty());
    EXPECT_EQ(server.count(refresh), 2);
    EXPECT_EQ(server.count(QStringLiteral("/api/social/feed")), 2);
}
