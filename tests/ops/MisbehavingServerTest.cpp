// The client against a server and a proxy that misbehave as real ones do:
// redirects to another origin, uploads refused or reset half-way, connections
// reset after the work was done, answers that never end, access tokens revoked
// by every refresh, interim answers.

#include "OperationRoutes.h"
#include "OpsTestSupport.h"
#include "RawListeners.h"
#include "StandinServer.h"
#include "services/ServiceTestSupport.h"
#include "support/TestSupport.h"

#include "app/AppModel.h"
#include "services/PlainReply.h"
#include "services/ZephylAPI.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSslConfiguration>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using APIError = ZephylAPI::APIError;
using NetworkError = ZephylAPI::NetworkError;
using Switch = Standin::Front::Switch;

namespace {

const QString kEmail = QStringLiteral("kitty@example.com");
const QString kPassword = QStringLiteral("meow-meow-meow");
const QString kPlan = QStringLiteral("/api/plan/drafts");
const QString kThread = QStringLiteral("/api/assistant/thread");
const QString kMedia = QStringLiteral("/api/instagram/media");
const QString kRefresh = QStringLiteral("/api/v1/auth/refresh");

using opstest::Ending;
using opstest::endingOf;

// Peak resident memory since the last reset, in bytes.
qint64 peakResident()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

bool resetPeakResident()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

class Misbehaving : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(server.start(), 0);
        front = std::make_unique<Standin::Front>(server.port());
        ASSERT_NE(front->start(), 0);
        ASSERT_NE(elsewhere.start(), 0);
        server.addAccount(kEmail, kPassword, QStringLiteral("Kitty"));
        keychain = KeychainStore::inMemory();
        api = opstest::signedInClient(QUrl(front->origin()), clock, *keychain, kEmail, kPassword);
        server.clearSeen();
    }

    Standin::Operations &ops() { return Standin::operations(server); }

    // A post whose one picture is already uploaded.
    Publications::PublicationRequest postWithMedia()
    {
        Publications::PublicationRequest post;
        post.format = QStringLiteral("feed");
        post.caption = QStringLiteral("Nap report");
        post.mediaIds = {*settle(api->uploadInstagramMedia(QByteArray(100, 'm'), QStringLiteral("image/jpeg"),
                                                           QStringLiteral("p.jpg")))
                              .value};
        post.scheduledAt = Publications::internetDateTime(clock.now());
        return post;
    }
    QString userId() { return server.state().accounts.value(kEmail).userId; }

    template <typename T>
    zktest::Outcome<T> settle(QCoro::Task<T> task)
    {
        return opstest::settleOnWire(std::move(task), clock);
    }
    Ending end(QCoro::Task<> task) { return endingOf(settle(zktest::asDone(std::move(task)))); }
    template <typename T>
    Ending end(QCoro::Task<T> task)
    {
        return endingOf(settle(std::move(task)));
    }

    Standin::Server server;
    std::unique_ptr<Standin::Front> front;
    Standin::Recorder elsewhere;
    FakeClock clock{QDateTime::currentDateTimeUtc()};
    std::unique_ptr<KeychainStore> keychain;
    std::unique_ptr<ZephylAPI> api;
};

ZephylAPI::PlanDraft draft(qint64 id)
{
    ZephylAPI::PlanDraft d;
    d.id = id;
    d.title = QStringLiteral("Draft %1").arg(id);
    return d;
}

} // namespace

TEST_F(Misbehaving, NoRedirectCarriesTheTokenOrABodyToAnotherOrigin)
{
    for (const int status : {301, 302, 303, 307, 308}) {
        const QString away = elsewhere.origin() + kPlan;
        for (const QString &path : {kPlan, QStringLiteral("/api/v1/me")})
            server.addFault({Standin::Fault::Kind::redirect, path, status, std::nullopt, 0, -1, away});
        EXPECT_EQ(end(api->planDrafts()).api, APIError::serverRefused(status)) << status;
        EXPECT_EQ(end(api->currentUser()).api, APIError::serverRefused(status)) << status;
        EXPECT_EQ(end(api->savePlanDrafts({draft(1)})).api, APIError::serverRefused(status)) << status;
        server.clearFaults();
    }
    // Nothing at all reached the other origin, so neither a token nor the drafts did.
    for (const auto &seen : elsewhere.seen()) {
        EXPECT_FALSE(seen.has("authorization")) << seen.path.toStdString();
        EXPECT_TRUE(seen.body.isEmpty()) << seen.path.toStdString();
    }
    EXPECT_EQ(elsewhere.connections(), 0);
    EXPECT_TRUE(ops().drafts.value(userId()).isEmpty());

    // Within the service's origin a plain GET follows every redirect.
    server.clearSeen();
    server.addFault({Standin::Fault::Kind::redirect, kPlan, 308, std::nullopt, 0, 1, kPlan});
    ASSERT_TRUE(end(api->planDrafts()).succeeded);
    const auto gets = server.seen(kPlan);
    ASSERT_EQ(gets.size(), 2);
    EXPECT_TRUE(gets[1].header("authorization").startsWith("Bearer "));
}

TEST_F(Misbehaving, AWriteFollowsOnlyASameOriginRedirectThatKeepsItsMethodAndBody)
{
    // A proxy that adds a trailing slash, or a moved route: the same origin, another path.
    server.setTrailingSlashes(true);
    const QString slashed = kPlan + QLatin1Char('/');
    const struct {
        int status;
        bool followed;
    } rows[] = {{301, false}, {302, false}, {303, false}, {307, true}, {308, true}};
    qint64 id = 10;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.status);
        server.clearSeen();
        server.addFault({Standin::Fault::Kind::redirect, kPlan, row.status, std::nullopt, 0, 1, slashed});
        const Ending saved = end(api->savePlanDrafts({draft(++id)}));
        if (!row.followed) {
            // Never turned into a GET, never sent again.
            EXPECT_EQ(saved.api, APIError::serverRefused(row.status));
            EXPECT_EQ(server.count(kPlan), 1);
            EXPECT_EQ(server.count(slashed), 0);
            continue;
        }
        EXPECT_TRUE(saved.succeeded);
        const auto first = server.seen(kPlan), again = server.seen(slashed);
        ASSERT_EQ(first.size(), 1);
        ASSERT_EQ(again.size(), 1);
        EXPECT_EQ(again[0].method, "PUT");
        EXPECT_EQ(again[0].body, first[0].body);
        EXPECT_EQ(again[0].header("authorization"), first[0].header("authorization"));
        const auto stored = ops().drafts.value(userId());
        ASSERT_EQ(stored.size(), 1);
        EXPECT_EQ(stored[0].toObject().value(QStringLiteral("id")).toInteger(), id);
    }

    // A creation without a key goes on too: a 307 is the server saying it did nothing yet.
    server.clearSeen();
    server.addFault({Standin::Fault::Kind::redirect, kThread, 307, std::nullopt, 0, 1, kThread + QLatin1Char('/')});
    EXPECT_TRUE(end(api->createAssistantThread(QStringLiteral("Moved"))).succeeded);
    EXPECT_EQ(server.count(kThread + QLatin1Char('/')), 1);
    EXPECT_EQ(ops().threadStores.value(userId()).threads.size(), 1);

    // An upload streamed from its source is read again from its start.
    server.clearSeen();
    const QByteArray picture(200'000, 'p');
    server.addFault({Standin::Fault::Kind::redirect, kMedia, 308, std::nullopt, 0, 1, kMedia + QLatin1Char('/')});
    const auto uploaded = settle(api->uploadInstagramMedia(picture, QStringLiteral("image/jpeg"), QStringLiteral("m.jpg")));
    ASSERT_TRUE(uploaded.value);
    EXPECT_EQ(ops().media.value(*uploaded.value).size, picture.size());
    EXPECT_EQ(ops().media.value(*uploaded.value).sha256, QCryptographicHash::hash(picture, QCryptographicHash::Sha256));

    // Five in a row and the sixth is the answer.
    server.clearSeen();
    server.addFault({Standin::Fault::Kind::redirect, kPlan, 307, std::nullopt, 0, -1, kPlan});
    EXPECT_EQ(end(api->savePlanDrafts({draft(99)})).api, APIError::serverRefused(307));
    EXPECT_EQ(server.count(kPlan), 1 + HttpCall::maximumRedirects);
}

TEST_F(Misbehaving, ASaveAnsweredWithoutABodyIsSaved)
{
    server.addFault({Standin::Fault::Kind::noContent, kPlan, 0, std::nullopt, 0, 1});
    const Ending saved = end(api->savePlanDrafts({draft(3), draft(4)}));
    EXPECT_TRUE(saved.succeeded) << (saved.api ? saved.api->what() : "");
    EXPECT_EQ(ops().drafts.value(userId()).size(), 2);

    // An operation that needs the answer still needs it.
    server.addFault({Standin::Fault::Kind::noContent, kPlan, 0, std::nullopt, 0, 1});
    EXPECT_FALSE(end(api->planDrafts()).succeeded);
    // Refusals are not made successes.
    server.addFault({Standin::Fault::Kind::serverError, kPlan, 503, std::nullopt, 0, 1});
    EXPECT_EQ(end(api->savePlanDrafts({draft(5)})).api, APIError::serverRefused(503));
}

TEST_F(Misbehaving, AnUploadRefusedOrResetHalfWayIsSentOnce)
{
    const QByteArray file(3'000'000, 'k');
    front->add({Switch::Kind::refuseMidUpload, "POST", kMedia, 64 * 1024, 1});
    const Ending refused = end(api->uploadInstagramMedia(file, QStringLiteral("image/jpeg"), QStringLiteral("a.jpg")));
    EXPECT_FALSE(refused.succeeded);
    // The proxy's 413 is read while the body goes out, whole, with its code.
    EXPECT_EQ(refused.api, APIError::rejected(QStringLiteral("payload_too_large")))
        << "network " << int(refused.network.value_or(NetworkError::Code::other));
    EXPECT_EQ(AppModel::describe(*refused.api), QStringLiteral("This file is too large for the server to take."));
    EXPECT_EQ(front->requests(kMedia), 1);

    front->add({Switch::Kind::resetMidUpload, "POST", kMedia, 64 * 1024, 1});
    const Ending reset = end(api->uploadInstagramMedia(file, QStringLiteral("image/jpeg"), QStringLiteral("b.jpg")));
    EXPECT_EQ(reset.network, NetworkError::Code::connectionLost);
    EXPECT_EQ(front->requests(kMedia), 2);
    EXPECT_TRUE(ops().media.isEmpty());

    // The next upload goes through as usual.
    EXPECT_TRUE(end(api->uploadInstagramMedia(file, QStringLiteral("image/jpeg"), QStringLiteral("c.jpg"))).succeeded);
    EXPECT_EQ(ops().media.size(), 1);
}

TEST_F(Misbehaving, ACreationResetAfterTheServerStoredItIsNotMadeAgain)
{
    front->add({Switch::Kind::resetAfterAnswer, "POST", kThread, 0, 1});
    EXPECT_EQ(end(api->createAssistantThread(QStringLiteral("Ideas"))).network, NetworkError::Code::connectionLost);
    EXPECT_EQ(front->requests(kThread), 1);
    ASSERT_EQ(ops().threadStores.value(userId()).threads.size(), 1);

    // The same for a request without a body: the DELETE acts on the active
    // thread, so a second one would remove the next thread too.
    const auto second = settle(api->createAssistantThread(QStringLiteral("More ideas")));
    ASSERT_TRUE(second.value);
    ASSERT_EQ(second.value->threads.size(), 2);
    const int before = front->requests(kThread);
    front->add({Switch::Kind::resetAfterAnswer, "DELETE", kThread, 0, 1});
    EXPECT_EQ(end(api->deleteAssistantThread(*second.value->activeThreadId)).network, NetworkError::Code::connectionLost);
    EXPECT_EQ(front->requests(kThread), before + 2); // the selection and one DELETE
    EXPECT_EQ(ops().threadStores.value(userId()).threads.size(), 1);

    // A creation under an idempotency key may be sent again by the network
    // stack: the service answers a repeat with what it stored, never a second one.
    const Publications::PublicationRequest post = postWithMedia();
    front->add({Switch::Kind::resetAfterAnswer, "POST", QStringLiteral("/api/instagram/publications"), 0, 1});
    const Ending keyed = end(api->createInstagramPublication(post, QStringLiteral("key-reset")));
    EXPECT_TRUE(keyed.succeeded || keyed.network == NetworkError::Code::connectionLost);
    EXPECT_EQ(ops().publications.size(), 1);
}

// The network gone under a creation the service stored: the stack's own
// attempt to send it again is refused, which proves nothing about the one that
// went; its answer was lost.
TEST_F(Misbehaving, ACreationWhoseNetworkWentUnderItIsALostAnswerNotARefusal)
{
    front->add({Switch::Kind::resetAfterAnswerThenGone, "POST", QStringLiteral("/api/instagram/publications"), 0, 1});
    EXPECT_EQ(end(api->createInstagramPublication(postWithMedia(), QStringLiteral("key-gone"))).network,
              NetworkError::Code::connectionLost);
    EXPECT_EQ(ops().publications.size(), 1);
}

// So is one asked again after an interim answer: the first pass reached the service.
TEST_F(Misbehaving, ACreationAskedAgainAfterAnInterimAnswerOverANetworkGoneIsALostAnswer)
{
    front->add({Switch::Kind::earlyHintsThenGone, "POST", QStringLiteral("/api/instagram/publications"), 0, 1});
    EXPECT_EQ(end(api->createInstagramPublication(postWithMedia(), QStringLiteral("key-hinted"))).network,
              NetworkError::Code::connectionLost);
    EXPECT_EQ(ops().publications.size(), 1);
}

TEST_F(Misbehaving, AnEndlessAnswerIsCutAtItsKindsLimitInBoundedMemory)
{
    front->add({Switch::Kind::endlessBody, "GET", QStringLiteral("/api/v1/me"), 0, -1});
    const qint64 before = peakResident();
    const bool measured = before > 0 && resetPeakResident();
    EXPECT_EQ(end(api->currentUser()).network, NetworkError::Code::dataLengthExceedsMaximum);
    // The client hung up; the server wrote far less than the unbounded body would have been.
    ASSERT_TRUE(zktest::spinUntil([&] { return front->endlessClosed() == 1; }));
    if (measured) {
        EXPECT_LT(peakResident() - before, 24 * 1024 * 1024);
    }

    // A plan may be large, but not endless either.
    front->add({Switch::Kind::endlessBody, "GET", kPlan, 0, 1});
    EXPECT_EQ(end(api->planDrafts()).network, NetworkError::Code::dataLengthExceedsMaximum);
    EXPECT_GT(front->endlessBytes(), HttpCall::AnswerLimit::collection);
}

TEST_F(Misbehaving, CallsRefusedTogetherUnderStrictRotationRenewOnceAndAllSucceed)
{
    const Publications::PublicationRequest post = postWithMedia();
    server.state().strictRotation = true;

    for (int round = 0; round < 4; ++round) {
        server.expireAccessTokens();
        const int renewals = server.count(kRefresh);
        // Some refusals come late, after the renewal that the early ones started
        // has already replaced the token; the plan's repeat is slow as well, so a
        // second renewal would revoke the token it carries while it is on its way.
        using Fault = Standin::Fault;
        for (const QString &late : {QStringLiteral("/api/social/feed"), QStringLiteral("/api/instagram/publications"), kMedia})
            server.addFault({Fault::Kind::slow, late, 200, std::nullopt, 150, 1});
        server.addFault({Fault::Kind::slow, kPlan, 200, std::nullopt, 100, 2});
        std::vector<std::function<bool()>> finished;
        std::vector<QCoro::Task<>> runners;
        std::vector<std::function<Ending()>> endings;
        auto start = [&](auto task) {
            using T = typename decltype(task)::value_type;
            auto out = std::make_shared<zktest::Outcome<T>>();
            runners.push_back(zktest::capture(std::move(task), out));
            finished.push_back([out] { return out->done; });
            endings.push_back([out] { return endingOf(*out); });
        };
        start(api->planDrafts());
        start(api->instagramFeed(std::nullopt));
        start(api->createInstagramPublication(post, QStringLiteral("key-%1").arg(round)));
        start(api->uploadInstagramMedia(QByteArray(2000, 'u'), QStringLiteral("image/png"), QStringLiteral("u.png")));
        start(api->instagramPublications());
        start(api->assistantThreadStore());
        start(api->instagramProfile());
        start(zktest::asDone(api->savePlanDrafts({draft(round)})));
        ASSERT_TRUE(zktest::spinUntil([&] {
            return std::all_of(finished.begin(), finished.end(), [](const auto &f) { return f(); });
        }));
        for (size_t i = 0; i < endings.size(); ++i) {
            const Ending e = endings[i]();
            EXPECT_TRUE(e.succeeded) << "round " << round << ", call " << i << ": "
                                     << (e.api ? e.api->what() : e.network ? "network" : "other");
        }
        EXPECT_EQ(server.count(kRefresh), renewals + 1) << "round " << round;
        server.clearFaults();
    }
}

TEST_F(Misbehaving, AnInterimAnswerIsNotTheAnswer)
{
    opstest::run(api->savePlanDrafts({draft(7)}));
    // From here on, early hints come before every answer.
    for (const QString &path : {kPlan, QStringLiteral("/api/v1/me"), QStringLiteral("/api/instagram/publications"), kThread})
        front->add({Switch::Kind::earlyHints, {}, path, 0, -1});
    const auto drafts = settle(api->planDrafts());
    ASSERT_TRUE(drafts.value) << "an early hint ended the read: "
                              << (drafts.template errorAs<NetworkError>() ? int(drafts.template errorAs<NetworkError>()->code()) : -1)
                              << " " << (drafts.template errorAs<APIError>() ? drafts.template errorAs<APIError>()->what() : "")
                              << (drafts.template errorAs<ZephylAPI::DecodingError>() ? drafts.template errorAs<ZephylAPI::DecodingError>()->what() : "");
    ASSERT_EQ(drafts.value->size(), 1);
    EXPECT_EQ(drafts.value->at(0).id, 7);
    const auto user = settle(api->currentUser());
    ASSERT_TRUE(user.value);
    EXPECT_EQ(user.value->email, kEmail);

    // A creation under a key is asked again and answered with what was stored.
    const Publications::PublicationRequest post = postWithMedia();
    const auto created = settle(api->createInstagramPublication(post, QStringLiteral("key-hints")));
    ASSERT_TRUE(created.value);
    EXPECT_EQ(ops().publications.size(), 1);

    // One that must not go twice is neither repeated nor reported refused.
    const int before = front->requests(kThread);
    const Ending thread = end(api->createAssistantThread(std::nullopt));
    EXPECT_EQ(thread.network, NetworkError::Code::connectionLost);
    EXPECT_EQ(front->requests(kThread), before + 1);
    EXPECT_EQ(ops().threadStores.value(userId()).threads.size(), 1);
}

TEST_F(Misbehaving, TheClientsOwnExchangeTrustsOnlyWhatTheRequestTrusts)
{
    auto fetch = [](QSslConfiguration tls, const QString &url) {
        QNetworkRequest request{QUrl(url)};
        request.setSslConfiguration(tls);
        auto reply = std::make_unique<HttpCall::PlainReply>(request, "GET", QByteArray(), nullptr);
        EXPECT_TRUE(zktest::spinUntil([&] { return reply->isFinished(); }));
        return std::make_pair(reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
    };
    const QString url = ops().secure->origin() + QStringLiteral("/nothing-here");
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificates({Standin::certificate()});
    EXPECT_EQ(fetch(trusting, url), std::make_pair(QNetworkReply::NoError, 404));
    QSslConfiguration system = QSslConfiguration::defaultConfiguration();
    system.setCaCertificates(QSslConfiguration::systemCaCertificates());
    EXPECT_EQ(fetch(system, url).first, QNetworkReply::SslHandshakeFailedError);
}
