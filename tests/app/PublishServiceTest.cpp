// Publishing through the real client against the stand-in over loopback, on
// virtual time: what goes over the wire, recovery after a lost answer, and a
// storm of publications with faults injected at random, checked against the
// stand-in's own records.
//
// ZK_STORM_RUNS sets the number of storm runs (1000 by default) and
// ZK_STORM_SEED its random seed.

#include "AppTestSupport.h"
#include "OperationRoutes.h"
#include "StandinServer.h"
#include "support/TestSupport.h"

#include "services/KeychainStore.h"
#include "services/ZephylAPI.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSet>
#include <QTimer>
#include <gtest/gtest.h>

#include <random>

using namespace apptest;
using namespace std::chrono_literals;

namespace {

const QString kEmail = QStringLiteral("kitty@example.com");
const QString kPassword = QStringLiteral("meow-meow-meow");
const QString kPublications = QStringLiteral("/api/instagram/publications");

// The client's network, which also knows what it is waiting for.
class WatchedNetwork final : public QNetworkAccessManager {
public:
    struct Request {
        QByteArray method;
        QString path;
        QByteArray key;
    };
    QHash<QNetworkReply *, Request> inFlight;
    quint64 activity = 0; // requests made and finished so far

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *body) override
    {
        QNetworkReply *reply = QNetworkAccessManager::createRequest(op, request, body);
        QByteArray method;
        switch (op) {
        case GetOperation: method = "GET"; break;
        case PutOperation: method = "PUT"; break;
        case PostOperation: method = "POST"; break;
        case DeleteOperation: method = "DELETE"; break;
        case HeadOperation: method = "HEAD"; break;
        default: method = request.attribute(QNetworkRequest::CustomVerbAttribute).toByteArray(); break;
        }
        inFlight.insert(reply, {method, request.url().path(), request.rawHeader("Idempotency-Key")});
        ++activity;
        connect(reply, &QNetworkReply::finished, this, [this, reply] {
            inFlight.remove(reply);
            ++activity;
        });
        connect(reply, &QObject::destroyed, this, [this, reply] { inFlight.remove(reply); });
        return reply;
    }
};

// Delivers every event already posted, and every one those post in turn: a
// probe of the lowest priority is delivered only once no other is queued.
class Drain final : public QObject {
public:
    void run()
    {
        m_delivered = false;
        QCoreApplication::postEvent(this, new QEvent(QEvent::User), Qt::LowEventPriority);
        while (!m_delivered)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

protected:
    bool event(QEvent *e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        m_delivered = true;
        return true;
    }

private:
    bool m_delivered = false;
};

ImportedMedia picture(std::mt19937 &random, int index)
{
    ImportedMedia m;
    m.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m.fileName = QStringLiteral("photo-%1.jpg").arg(index);
    QByteArray bytes(int(1000 + random() % 3000), Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random());
    m.data = MediaData::fromBytes(bytes);
    m.contentType = QStringLiteral("image/jpeg");
    return m;
}

// The wording users read for a failure the service recorded.
QString recordedFailure(const QJsonValue &error)
{
    const QString code = error.toString();
    if (code.isEmpty())
        return QStringLiteral("Instagram did not accept it, and the server recorded no reason.");
    if (code == QLatin1String("media_processing_timeout"))
        return QStringLiteral("Instagram took too long to process the media.");
    if (code == QLatin1String("caption_too_long"))
        return QStringLiteral("The caption is over the limit.");
    if (code == QLatin1String("format_invalid"))
        return QStringLiteral("This format is not accepted for that media.");
    return QString(code).replace(QLatin1Char('_'), QLatin1Char(' '));
}

// A signed-in model over the real client, the stand-in and one virtual clock.
class Service : public ::testing::Test {
protected:
    void SetUp() override
    {
        L10n::setPreference(AppLanguage::en);
        ASSERT_NE(server.start(), 0);
        server.addAccount(kEmail, kPassword, QStringLiteral("Kitty"));
        ops().now = [this] { return h.clock.now().toMSecsSinceEpoch(); };
        // Slow answers are due in the same virtual time as the client's waits.
        server.setScheduler([this](int ms, std::function<void()> then) {
            slowAnswers.push_back(h.clock.after(std::chrono::milliseconds(ms), std::move(then)));
        });
        keychain = KeychainStore::inMemory();
        ZephylAPI::Setup setup;
        setup.baseURL = QUrl(server.origin());
        setup.clock = &h.clock;
        setup.keychain = keychain.get();
        setup.network = &network;
        api = std::make_unique<ZephylAPI>(setup);
        road = std::make_unique<ZephylServiceClient>(*api);
        zktest::run(api->signInWithEmail(kEmail, kPassword));
        model = &h.make(road.get());
        model->setSession(SessionState::signedIn);
        server.clearSeen();
    }
    void TearDown() override { L10n::setPreference(AppLanguage::system); }

    Standin::Operations &ops() { return Standin::operations(server); }

    // Nothing moves on the wire but what the stand-in holds back on purpose.
    bool onlyWithheldInFlight() const
    {
        const QList<Standin::Seen> withheld = server.withheld();
        for (const auto &request : network.inFlight) {
            const bool held = std::any_of(withheld.begin(), withheld.end(), [&](const Standin::Seen &s) {
                return s.method == request.method && s.path == request.path &&
                       s.header("idempotency-key") == request.key;
            });
            if (!held)
                return false;
        }
        return true;
    }

    // Runs the task to its end. Virtual time moves to the next thing due only
    // while nothing real is in flight, so no answer on its way ever meets a
    // time-out it would have beaten.
    template <typename T>
    T drive(QCoro::Task<T> &&task)
    {
        std::optional<T> result;
        std::exception_ptr error;
        auto wrapper = [](QCoro::Task<T> t, std::optional<T> &out, std::exception_ptr &err) -> QCoro::Task<> {
            try {
                out = co_await std::move(t);
            } catch (...) {
                err = std::current_exception();
            }
        };
        auto running = wrapper(std::move(task), result, error);
        QTimer wake; // bounds each wait for events
        wake.start(20);
        QElapsedTimer stuck, whole;
        stuck.start();
        whole.start();
        const QDateTime began = h.clock.now();
        Drain drain;
        while (!result && !error) {
            // A publication ends within minutes of virtual time (a creation's 90 s,
            // eight looks 1.6 s apart); one that keeps time moving for an hour, or
            // the machine busy for two minutes, lost its way.
            if (began.secsTo(h.clock.now()) > 3600 || whole.elapsed() > 120'000) {
                std::string calls;
                for (const auto &request : network.inFlight)
                    calls += " " + request.method.toStdString() + " " + request.path.toStdString();
                throw std::runtime_error("the publication never ended: " +
                                         std::to_string(began.secsTo(h.clock.now())) + " s of virtual time, " +
                                         std::to_string(whole.elapsed() / 1000) + " s of real time; on the wire:" +
                                         (calls.empty() ? std::string(" nothing") : calls));
            }
            // Until a whole pass brings nothing new from the network: an answer
            // that arrived during a pass has its waiter woken in the next.
            for (quint64 before = ~quint64(0); before != network.activity;) {
                before = network.activity;
                drain.run();
            }
            if (result || error)
                break;
            if (onlyWithheldInFlight()) {
                if (const auto next = h.clock.msUntilNext()) {
                    h.clock.advance(std::chrono::milliseconds(*next));
                    stuck.restart();
                    continue;
                }
            }
            if (stuck.elapsed() > 30'000)
                throw std::runtime_error("the publication stopped moving: nothing due in virtual time for 30 s");
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        if (error)
            std::rethrow_exception(error);
        return std::move(*result);
    }

    ComposerSubmission submission(std::mt19937 &random, int media) const
    {
        ComposerSubmission s;
        s.format = media > 1 ? PublishFormat::carousel : PublishFormat::feed;
        s.caption = QStringLiteral("Window seat, day %1").arg(random() % 365);
        s.hashtags = QStringLiteral("cats, sun");
        for (int i = 0; i < media; ++i)
            s.media.append(picture(random, i + 1));
        s.idempotencyKey = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        return s;
    }

    QList<Standin::Operations::Publication> recordsOf(const QString &key)
    {
        QList<Standin::Operations::Publication> out;
        for (const auto &p : ops().publications) {
            if (p.key == key)
                out.push_back(p);
        }
        return out;
    }

    Harness h{QDateTime(QDate(2025, 6, 11), QTime(9, 30), Qt::UTC)};
    Standin::Server server;
    WatchedNetwork network;
    std::unique_ptr<KeychainStore> keychain;
    std::unique_ptr<ZephylAPI> api;
    std::unique_ptr<ZephylServiceClient> road;
    AppModel *model = nullptr;
    std::vector<std::unique_ptr<Clock::Timer>> slowAnswers;
};

} // namespace

TEST_F(Service, ThePostGoesOverTheWireAsTheServiceExpects)
{
    std::mt19937 random(7);
    ComposerSubmission s = submission(random, 2);
    s.cover = picture(random, 9);
    s.cover->fileName = QStringLiteral("cover.jpg");
    s.collaborators = {QStringLiteral("ann")};
    s.audioName = QStringLiteral("Rain on tin");
    ops().processingMs = 2000;

    const PublishOutcome outcome = drive(model->publish(s));
    ASSERT_EQ(outcome.kind, PublishOutcome::Kind::published) << outcome.message.toStdString();

    // Three multipart uploads, the creation, two reads 1.6 s apart, the plan.
    QStringList route;
    for (const auto &seen : server.seen())
        route << QString::fromLatin1(seen.method) + QLatin1Char(' ') + seen.path;
    EXPECT_EQ(route, QStringList({"POST /api/instagram/media", "POST /api/instagram/media", "POST /api/instagram/media",
                                  "POST /api/instagram/publications", "GET /api/instagram/publications/pub-1",
                                  "GET /api/instagram/publications/pub-1", "GET /api/plan/drafts",
                                  "GET /api/instagram/publications"}));
    // The uploads are the files, in order, the cover last.
    QStringList names;
    for (const auto &media : ops().media)
        names << media.fileName;
    names.sort();
    EXPECT_EQ(names, QStringList({"cover.jpg", "photo-1.jpg", "photo-2.jpg"}));

    const Standin::Seen creation = server.seen(kPublications).first();
    EXPECT_EQ(creation.header("idempotency-key"), s.idempotencyKey.toUtf8());
    const QJsonObject body = creation.json();
    QStringList keys = body.keys();
    keys.sort();
    EXPECT_EQ(keys, QStringList({"audioName", "caption", "collaborators", "confirm", "coverMediaId", "format",
                                 "isAiGenerated", "isDraft", "mediaIds", "scheduledAt", "shareToFeed",
                                 "trialEnabled", "trialGraduation"}))
        << "no thumbOffsetMs";
    EXPECT_EQ(body.value("confirm"), QJsonValue(true));
    EXPECT_EQ(body.value("format"), QJsonValue("carousel"));
    EXPECT_EQ(body.value("caption").toString(), s.caption + QStringLiteral("\n\n#cats #sun"));
    EXPECT_EQ(body.value("scheduledAt"), QJsonValue("2025-06-11T09:30:00Z"));
    EXPECT_EQ(body.value("shareToFeed"), QJsonValue(true));
    EXPECT_EQ(body.value("isDraft"), QJsonValue(false));
    EXPECT_EQ(body.value("collaborators").toArray(), QJsonArray({"ann"}));
    const QJsonArray mediaIds = body.value("mediaIds").toArray();
    ASSERT_EQ(mediaIds.size(), 2);
    EXPECT_EQ(ops().media.value(mediaIds[0].toString()).fileName, QStringLiteral("photo-1.jpg"));
    EXPECT_EQ(ops().media.value(mediaIds[0].toString()).sha256,
              QCryptographicHash::hash(s.media[0].data.readAll(), QCryptographicHash::Sha256));
    EXPECT_EQ(ops().media.value(body.value("coverMediaId").toString()).fileName, QStringLiteral("cover.jpg"));

    // The outcome is the service's publication, and the plan already lists it.
    ASSERT_EQ(h.events.size(), 1);
    EXPECT_EQ(h.events[0].kind, AppEvent::Kind::published);
    EXPECT_TRUE(outcome.publication->platformUrl);
    ASSERT_EQ(model->publications().size(), 1);
    EXPECT_EQ(model->publications()[0], *outcome.publication);
    EXPECT_FALSE(model->publishing());
}

TEST_F(Service, ACreationStoredButNeverAnsweredIsFoundByItsKey)
{
    std::mt19937 random(11);
    for (const auto delivery : {Standin::Answer::Delivery::hang, Standin::Answer::Delivery::drop}) {
        server.clearSeen();
        ops().afterStore = delivery;
        ops().afterStoreTimes = 1;
        ops().processingMs = 0;
        const QDateTime began = h.clock.now();
        const ComposerSubmission s = submission(random, 1);
        const PublishOutcome outcome = drive(model->publish(s));
        ASSERT_EQ(outcome.kind, PublishOutcome::Kind::published) << outcome.message.toStdString();
        EXPECT_EQ(recordsOf(s.idempotencyKey).size(), 1);
        EXPECT_EQ(outcome.publication->id, recordsOf(s.idempotencyKey)[0].json.value("id").toString());
        // Looked up under the key itself, once the creation gave up.
        EXPECT_EQ(server.count(kPublications + QLatin1Char('/') + s.idempotencyKey), 1);
        if (delivery == Standin::Answer::Delivery::hang) {
            EXPECT_EQ(began.msecsTo(h.clock.now()), 90'000) << "given up after the creation's own 90 s";
        }
    }

    // Nothing was stored: the creation's own time-out is the failure, in words.
    server.clearSeen();
    server.addFault({Standin::Fault::Kind::hang, kPublications, 500, std::nullopt, 0, 1});
    const ComposerSubmission lost = submission(random, 1);
    const PublishOutcome outcome = drive(model->publish(lost));
    EXPECT_EQ(outcome, PublishOutcome::failed(QStringLiteral("sorvane.app took too long to answer.")));
    EXPECT_TRUE(recordsOf(lost.idempotencyKey).isEmpty());
    EXPECT_EQ(server.count(kPublications + QLatin1Char('/') + lost.idempotencyKey), 1);
    EXPECT_EQ(server.count(QStringLiteral("/api/plan/drafts")), 0) << "no reload after a failure";

    // Trying the same post again publishes it once.
    const PublishOutcome retried = drive(model->publish(lost));
    EXPECT_EQ(retried.kind, PublishOutcome::Kind::published);
    EXPECT_EQ(recordsOf(lost.idempotencyKey).size(), 1);

    // Stored, its answer cut off, and the look-up refused too: not known, not failed.
    server.clearSeen();
    ops().afterStore = Standin::Answer::Delivery::drop;
    ops().afterStoreTimes = 1;
    const ComposerSubmission unsure = submission(random, 1);
    server.addFault({Standin::Fault::Kind::serverError, kPublications + QLatin1Char('/') + unsure.idempotencyKey, 503,
                     std::nullopt, 0, -1});
    const PublishOutcome unknown = drive(model->publish(unsure));
    EXPECT_EQ(unknown, PublishOutcome::unknown(QStringLiteral(
                           "sorvane.app refused the request (HTTP 503) without a reason.")));
    EXPECT_EQ(recordsOf(unsure.idempotencyKey).size(), 1) << "the service holds it all the same";
    // The same post from a new composer goes under the first key, and the service answers with the first.
    ComposerSubmission again = unsure;
    again.idempotencyKey = QStringLiteral("a-fresh-composer");
    again.media[0].data = MediaData::fromBytes(again.media[0].data.readAll());
    ASSERT_EQ(model->pendingKeyFor(again), unsure.idempotencyKey);
    again.idempotencyKey = *model->pendingKeyFor(again);
    const PublishOutcome answered = drive(model->publish(again));
    EXPECT_EQ(answered.kind, PublishOutcome::Kind::published);
    EXPECT_EQ(answered.publication->id, recordsOf(unsure.idempotencyKey)[0].json.value("id").toString());
    EXPECT_EQ(ops().publications.size(), 4) << "one publication for each of the four posts";
    EXPECT_FALSE(model->publicationPending(unsure.idempotencyKey));
}

// Publishes again and again with faults injected at random, and checks every
// outcome against what the stand-in holds.
TEST_F(Service, AStormOfFaultsNeverPostsTwiceOrReportsWhatTheServerDoesNotHold)
{
    const int runs = qEnvironmentVariableIsSet("ZK_STORM_RUNS") ? qEnvironmentVariableIntValue("ZK_STORM_RUNS") : 1000;
    const unsigned seed = qEnvironmentVariableIsSet("ZK_STORM_SEED") ? unsigned(qEnvironmentVariableIntValue("ZK_STORM_SEED"))
                                                                     : 20250611u;
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return int(random() % 100) < percent; };
    SCOPED_TRACE(::testing::Message() << "ZK_STORM_SEED=" << seed);

    enum Fault {
        none,
        storedThenDropped,
        storedThenHung,
        hungUnstored,
        refusedWithCode,
        refusedWithoutCode,
        uploadRefused,
        expiredSession,
        unauthorizedOnce,
        slowReads,
        droppedRead,
        storedThenDroppedLookupRefused,
        faultKinds
    };
    QHash<int, int> faultCount;
    QHash<int, int> outcomeCount;
    QList<Standin::Operations::Publication> archive; // every record the stand-in made
    QSet<QString> keysUsed;                          // the keys of the intents so far
    QElapsedTimer clock;
    clock.start();

    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(::testing::Message() << "run " << run);
        server.clearFaults();
        server.clearSeen();
        slowAnswers.clear();
        h.events.clear();
        model->setNotice(std::nullopt);

        // How the service will treat this post.
        auto &o = ops();
        o.processingMs = std::array<qint64, 4>{0, 1500, 4000, 30'000}[random() % 4];
        o.stayProcessing = chance(5);
        o.finalStatus = QStringLiteral("published");
        o.finalError.reset();
        if (chance(20)) {
            o.finalStatus = std::array<const char *, 3>{"failed", "cancelled", "preparation_failed"}[random() % 3];
            const std::array<const char *, 5> reasons{"", "media_processing_timeout", "caption_too_long",
                                                       "format_invalid", "media_upload_failed"};
            if (!chance(20))
                o.finalError = QString::fromLatin1(reasons[random() % reasons.size()]);
        }

        ComposerSubmission s = submission(random, 1 + int(random() % 3));
        if (chance(15))
            s.cover = picture(random, 0);
        s.saveAsDraft = chance(10);
        if (chance(10))
            s.scheduledAt = h.clock.now().addSecs(3600 + qint64(random() % 86'400));

        const qsizetype requestsBefore = o.creationRequests.size();
        const QString nextId = QStringLiteral("pub-%1").arg(o.publicationsMade + 1);
        const auto fault = Fault(random() % faultKinds);
        ++faultCount[fault];
        SCOPED_TRACE(::testing::Message() << "fault " << int(fault));
        switch (fault) {
        case none: break;
        case storedThenDropped: o.afterStore = Standin::Answer::Delivery::drop, o.afterStoreTimes = 1; break;
        case storedThenHung: o.afterStore = Standin::Answer::Delivery::hang, o.afterStoreTimes = 1; break;
        case hungUnstored: server.addFault({Standin::Fault::Kind::hang, kPublications, 0, std::nullopt, 0, 1}); break;
        case refusedWithCode:
            server.addFault({Standin::Fault::Kind::serverError, kPublications, 503, QStringLiteral("service_busy"), 0, 1});
            break;
        case refusedWithoutCode:
            server.addFault({Standin::Fault::Kind::serverError, kPublications, 502, std::nullopt, 0, 1});
            break;
        case uploadRefused:
            server.addFault({Standin::Fault::Kind::serverError, QStringLiteral("/api/instagram/media"),
                             500 + int(random() % 4), chance(50) ? std::optional(QStringLiteral("upload_failed")) : std::nullopt,
                             0, 1});
            break;
        case expiredSession: server.expireAccessTokens(); break;
        case unauthorizedOnce: {
            const std::array<QString, 3> paths{QStringLiteral("/api/instagram/media"), kPublications,
                                               kPublications + QLatin1Char('/') + nextId};
            server.addFault({Standin::Fault::Kind::unauthorized, paths[random() % 3], 401, std::nullopt, 0, 1});
            break;
        }
        case slowReads:
            server.addFault({Standin::Fault::Kind::slow, kPublications + QLatin1Char('/') + nextId, 200, std::nullopt,
                             200 + int(random() % 20'000), 1 + int(random() % 8)});
            break;
        case droppedRead:
            server.addFault({Standin::Fault::Kind::drop, kPublications + QLatin1Char('/') + nextId, 200, std::nullopt,
                             0, 1 + int(random() % 3)});
            break;
        case storedThenDroppedLookupRefused:
            o.afterStore = Standin::Answer::Delivery::drop, o.afterStoreTimes = 1;
            server.addFault({Standin::Fault::Kind::serverError, kPublications + QLatin1Char('/') + s.idempotencyKey, 503,
                             std::nullopt, 0, 1});
            break;
        case faultKinds: break;
        }

        // Sometimes the button is pressed twice.
        const bool twice = chance(10);
        auto first = model->publish(s);
        std::optional<QCoro::Task<PublishOutcome>> second;
        if (twice)
            second.emplace(model->publish(s));
        PublishOutcome outcome = drive(std::move(first));
        if (second) {
            EXPECT_EQ(drive(std::move(*second)), outcome) << "the second press shares the run";
        }
        o.afterStore = Standin::Answer::Delivery::normal;

        // A failure the user retries, as the composer allows, with the same key;
        // and always a post whose outcome is not known, which the service then tells.
        int tries = 1;
        if (outcome.kind == PublishOutcome::Kind::unknown) {
            EXPECT_EQ(model->pendingKeyFor(s), s.idempotencyKey);
        }
        if ((outcome.kind == PublishOutcome::Kind::failed && recordsOf(s.idempotencyKey).isEmpty() && chance(50)) ||
            outcome.kind == PublishOutcome::Kind::unknown) {
            server.clearFaults();
            outcome = drive(model->publish(s));
            ++tries;
        }
        ++outcomeCount[int(outcome.kind)];

        // What the stand-in holds for this post.
        const auto records = recordsOf(s.idempotencyKey);
        ASSERT_LE(records.size(), 1) << "one key, one publication";
        EXPECT_FALSE(model->publishing());
        int publishedEvents = 0, scheduledEvents = 0;
        for (const auto &e : h.events) {
            publishedEvents += e.kind == AppEvent::Kind::published;
            scheduledEvents += e.kind == AppEvent::Kind::scheduled;
        }
        if (outcome.kind == PublishOutcome::Kind::failed) {
            EXPECT_FALSE(outcome.message.isEmpty());
            if (!records.isEmpty()) {
                // Only a failure the service itself recorded may be shown for a post it holds.
                const QJsonObject held = records[0].json;
                EXPECT_TRUE(QStringList({"failed", "cancelled", "preparation_failed"})
                                .contains(held.value("status").toString()))
                    << "shown as failed, held as " << held.value("status").toString().toStdString();
                EXPECT_EQ(outcome.message, recordedFailure(held.value("error")));
            }
        } else {
            ASSERT_EQ(records.size(), 1) << "an outcome other than a failure names a post the service holds";
            const QJsonObject held = records[0].json;
            EXPECT_FALSE(QStringList({"failed", "cancelled", "preparation_failed"})
                             .contains(held.value("status").toString()))
                << "a failure the service recorded is shown as a failure";
            EXPECT_EQ(outcome.publication->id, held.value("id").toString());
            EXPECT_EQ(outcome.publication->status, held.value("status").toString()) << "the state shown is the state held";
            switch (outcome.kind) {
            case PublishOutcome::Kind::published: EXPECT_EQ(held.value("status"), QJsonValue("published")); break;
            case PublishOutcome::Kind::scheduled: EXPECT_EQ(held.value("status"), QJsonValue("scheduled")); break;
            case PublishOutcome::Kind::draftSaved:
                EXPECT_TRUE(s.saveAsDraft);
                EXPECT_EQ(held.value("isDraft"), QJsonValue(true));
                break;
            case PublishOutcome::Kind::stillWorking: EXPECT_EQ(held.value("status"), QJsonValue("processing")); break;
            case PublishOutcome::Kind::failed:
            case PublishOutcome::Kind::unknown: break;
            }
        }
        EXPECT_EQ(publishedEvents, outcome.kind == PublishOutcome::Kind::published ? 1 : 0);
        EXPECT_EQ(scheduledEvents, outcome.kind == PublishOutcome::Kind::scheduled ? 1 : 0);
        // What the client sent, as the stand-in saw it arrive (the stand-in
        // answers a repeated key with its record, so the records alone cannot
        // tell a client that sent one intent twice): one key for the intent,
        // never seen before, with one body; each press one creation, repeated
        // at most once after a renewed session.
        // A retry by the user uploads the pictures again, and a post for now
        // is for the moment of the press, so only the media ids and that
        // moment may differ, and only from one press to the next.
        const auto sent = o.creationRequests.mid(requestsBefore);
        const int creations = int(sent.size());
        auto intentOf = [&s](const QByteArray &body) {
            QJsonObject intent = QJsonDocument::fromJson(body).object();
            if (!s.scheduledAt)
                intent.remove(QStringLiteral("scheduledAt"));
            for (const QString &key : intent.keys()) {
                if (key.contains(QLatin1String("media"), Qt::CaseInsensitive))
                    intent.remove(key);
            }
            return intent;
        };
        QSet<QByteArray> bodies;
        for (const auto &request : sent) {
            EXPECT_EQ(request.key, s.idempotencyKey.toUtf8()) << "one intent, one key";
            EXPECT_EQ(intentOf(request.body), intentOf(sent[0].body)) << "the same intent each time";
            bodies.insert(request.body);
        }
        EXPECT_LE(bodies.size(), tries);
        EXPECT_FALSE(keysUsed.contains(s.idempotencyKey)) << "a key of an earlier intent";
        keysUsed.insert(s.idempotencyKey);
        EXPECT_LE(creations, 2 * tries);
        if (outcome.kind != PublishOutcome::Kind::failed || !records.isEmpty()) {
            EXPECT_GE(creations, 1) << "a post the service holds was asked for";
        }
        if (twice && fault == none && tries == 1) {
            // Pressed twice, sent once.
            EXPECT_EQ(creations, 1);
            EXPECT_EQ(server.count(QStringLiteral("/api/instagram/media")), s.media.size() + (s.cover ? 1 : 0));
        }
        if (HasFatalFailure() || HasFailure())
            break;

        // Keep the stand-in's lists short; its records stay in the archive.
        for (const auto &p : records)
            archive.push_back(p);
        o.publications.erase(std::remove_if(o.publications.begin(), o.publications.end(),
                                            [&](const auto &p) { return p.key == s.idempotencyKey; }),
                             o.publications.end());
    }

    // Over the whole storm: no key ever made two publications.
    QHash<QString, int> perKey;
    for (const auto &p : archive)
        ++perKey[p.key];
    for (auto it = perKey.cbegin(); it != perKey.cend(); ++it)
        EXPECT_EQ(it.value(), 1) << it.key().toStdString();
    EXPECT_TRUE(ops().publications.isEmpty()) << "nothing was made under a key no run used";
    for (int f = 0; f < faultKinds; ++f)
        EXPECT_GT(faultCount.value(f), 0) << "fault " << f << " was never tried";
    std::printf("storm: %d runs in %lld ms; outcomes published %d, scheduled %d, draft %d, still working %d, "
                "failed %d\n",
                runs, qint64(clock.elapsed()), outcomeCount.value(int(PublishOutcome::Kind::published)),
                outcomeCount.value(int(PublishOutcome::Kind::scheduled)),
                outcomeCount.value(int(PublishOutcome::Kind::draftSaved)),
                outcomeCount.value(int(PublishOutcome::Kind::stillWorking)),
                outcomeCount.value(int(PublishOutcome::Kind::failed)));
}
