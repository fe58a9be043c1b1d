// The publishing pipeline over a scripted service: the progress it shows, the
// request it builds, the outcome it reads from the service's answer, recovery
// after a creation whose answer was lost, and one run per post however often
// the button is pressed.

#include "AppTestSupport.h"
#include "ComposerTestSupport.h"
#include "support/TestSupport.h"

#include "app/ComposerActions.h"
#include "app/ComposerState.h"

#include "services/ServiceErrors.h"

#include <QCoro/QCoroTimer>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using namespace apptest;
using APIError = ServiceAPIError;
using NetworkError = ServiceNetworkError;
using Publication = ZephylWire::Publication;

namespace {

ImportedMedia picture(const QString &name, qsizetype bytes)
{
    ImportedMedia m;
    m.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m.kind = ImportedMedia::Kind::image;
    m.fileName = name;
    m.data = MediaData::fromBytes(QByteArray(bytes, 'j'));
    m.contentType = QStringLiteral("image/jpeg");
    return m;
}

Publication publication(const QString &status, std::optional<QString> error = std::nullopt)
{
    Publication p;
    p.id = QStringLiteral("pub-7");
    p.status = status;
    p.error = std::move(error);
    return p;
}

// The service as a script, answering a moment later as a real one would, and
// noting what the model showed at every call.
class PublishService final : public FakeServiceClient {
public:
    AppModel *model = nullptr;
    struct Upload {
        qint64 size;
        QString contentType;
        QString fileName;
    };
    QList<Upload> uploads;
    std::optional<PublicationRequest> request;
    QString key;
    QString lookedUp;
    QList<std::optional<PublishProgress>> progressAtCall;
    std::optional<int> failUpload;          // the upload (from 1) that fails
    std::exception_ptr uploadFailure;
    std::exception_ptr creationFailure;
    Publication created = publication(QStringLiteral("published"));
    std::optional<Publication> found;
    QStringList unknownToService; // keys the look-up finds nothing under
    std::exception_ptr lookupFailure;
    std::function<void()> afterLookup;
    bool pendingWhenCreated = false; // the key was kept before the creation went
    int waitAttempts = -1;
    double waitDelay = -1;

    QCoro::Task<QString> uploadInstagramMedia(MediaSource source, QString contentType, QString fileName) override
    {
        note("uploadInstagramMedia");
        co_await later();
        uploads.append({source.size(), contentType, fileName});
        if (failUpload && uploads.size() == *failUpload)
            std::rethrow_exception(uploadFailure);
        co_return QStringLiteral("media-%1").arg(uploads.size());
    }
    QCoro::Task<Publication> createInstagramPublication(PublicationRequest r, QString k) override
    {
        note("createInstagramPublication");
        co_await later();
        request = r;
        key = k;
        pendingWhenCreated = model && model->publicationPending(k);
        if (creationFailure)
            std::rethrow_exception(creationFailure);
        Publication answer = created; // co_return would move from a member
        co_return answer;
    }
    QCoro::Task<std::optional<Publication>> existingInstagramPublication(QString id) override
    {
        note("existingInstagramPublication");
        co_await later();
        lookedUp = id;
        if (lookupFailure)
            std::rethrow_exception(lookupFailure);
        std::optional<Publication> answer = unknownToService.contains(id) ? std::nullopt : found;
        if (afterLookup)
            afterLookup();
        co_return answer;
    }
    QCoro::Task<Publication> waitForInstagramPublication(Publication p, int attempts, double delay,
                                                         CancelToken) override
    {
        note("waitForInstagramPublication");
        waitAttempts = attempts;
        waitDelay = delay;
        co_return p;
    }
    QCoro::Task<QList<PlanDraft>> planDrafts() override
    {
        note("planDrafts");
        co_return QList<PlanDraft>{};
    }
    QCoro::Task<QList<Publication>> instagramPublications() override
    {
        note("instagramPublications");
        QList<Publication> list{created};
        co_return list;
    }

private:
    void note(const char *call)
    {
        calls << QString::fromLatin1(call);
        progressAtCall.append(model ? model->publishing() : std::nullopt);
    }
    static QCoro::Task<> later() { co_await QCoro::sleepFor(std::chrono::milliseconds(0)); }
};

struct Publish : ::testing::Test {
    LanguageGuard language{AppLanguage::en};
    Harness h{QDateTime(QDate(2025, 6, 11), QTime(9, 30, 15, 500), Qt::UTC)};
    PublishService service;
    AppModel *m = nullptr;
    QList<std::optional<PublishProgress>> shown;

    void SetUp() override { fresh(); }
    // A model of its own: nothing left pending by an earlier post.
    void fresh()
    {
        m = &h.make(&service);
        service.model = m;
        m->setSession(SessionState::signedIn);
        QObject::connect(m, &AppModel::publishingChanged, [this] { shown.append(m->publishing()); });
    }

    ComposerSubmission submission(int media = 1) const
    {
        ComposerSubmission s;
        s.format = PublishFormat::feed;
        s.caption = QStringLiteral("  Morning light  ");
        s.hashtags = QStringLiteral("light, #Morning light");
        for (int i = 0; i < media; ++i)
            s.media.append(picture(QStringLiteral("photo-%1.jpg").arg(i + 1), 1000 + i));
        s.idempotencyKey = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF");
        return s;
    }
    PublishOutcome run(ComposerSubmission s) { return zktest::run(m->publish(std::move(s))); }
    // A composer holding one picture and these words, Instagram connected,
    // whose next creation's answer and look-up are lost.
    std::unique_ptr<ComposerState> composerLosingTheAnswer(const QString &caption)
    {
        auto state = std::make_unique<ComposerState>(h.clock, importer.function());
        m->setInstagram(ZephylWire::InstagramProfile{});
        state->setMedia({picture(QStringLiteral("photo-1.jpg"), 1000)});
        state->setCaption(caption);
        service.creationFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost));
        service.lookupFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
        return state;
    }
    composertest::FakeImporter importer;
    qsizetype creations() const { return service.calls.count(QStringLiteral("createInstagramPublication")); }
    // Back from the outcome page and confirmed: the key it went under.
    QString confirmAgain(ComposerState &state)
    {
        state.setOutcome(std::nullopt);
        zktest::run(ComposerActions::confirm(*m, state));
        return service.key;
    }
};

PublishProgress progress(const char *text, double fraction) { return {QString::fromUtf8(text), fraction}; }

} // namespace

TEST_F(Publish, ProgressGoesThroughEveryStepInOrderAndEndsAbsent)
{
    ComposerSubmission s = submission(3);
    s.cover = picture(QStringLiteral("cover.jpg"), 500);
    const PublishOutcome outcome = run(s);
    EXPECT_EQ(outcome.kind, PublishOutcome::Kind::published);

    const QList<std::optional<PublishProgress>> expected{
        progress("Preparing…", 0.05),
        progress("Uploading 1 of 3…", 0.1),
        progress("Uploading 2 of 3…", 0.3),
        progress("Uploading 3 of 3…", 0.5),
        progress("Uploading the cover…", 0.72),
        progress("Handing over to Instagram…", 0.85),
        progress("Waiting for confirmation…", 0.95),
        std::nullopt,
    };
    ASSERT_EQ(shown.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(shown[i].has_value() == expected[i].has_value()) << i;
        if (expected[i]) {
            EXPECT_EQ(shown[i]->step, expected[i]->step) << i;
            EXPECT_NEAR(shown[i]->fraction, expected[i]->fraction, 1e-9) << i;
        }
    }
    // Each upload went out while its own step was showing, one after another.
    EXPECT_EQ(service.calls, QStringList({"uploadInstagramMedia", "uploadInstagramMedia", "uploadInstagramMedia",
                                          "uploadInstagramMedia", "createInstagramPublication",
                                          "waitForInstagramPublication", "planDrafts", "instagramPublications"}));
    EXPECT_EQ(service.progressAtCall[1]->step, QStringLiteral("Uploading 2 of 3…"));
    EXPECT_EQ(service.progressAtCall[3]->step, QStringLiteral("Uploading the cover…"));
    EXPECT_EQ(service.waitAttempts, 8);
    EXPECT_DOUBLE_EQ(service.waitDelay, 1.6);
    ASSERT_EQ(service.uploads.size(), 4);
    EXPECT_EQ(service.uploads[0].fileName, QStringLiteral("photo-1.jpg"));
    EXPECT_EQ(service.uploads[2].size, 1002);
    EXPECT_EQ(service.uploads[3].fileName, QStringLiteral("cover.jpg"));
    EXPECT_EQ(service.request->mediaIds, QStringList({"media-1", "media-2", "media-3"}));
    EXPECT_EQ(service.request->coverMediaId, QStringLiteral("media-4"));

    // Counted texts are translated first, then filled in.
    LanguageGuard russian(AppLanguage::ru);
    shown.clear();
    run(submission(2));
    EXPECT_EQ(shown.at(1)->step, QStringLiteral("Загрузка 1 из 2…"));
}

TEST_F(Publish, APostWithoutMediaGoesStraightToTheHandOver)
{
    ComposerSubmission s = submission(0);
    run(s);
    ASSERT_GE(shown.size(), 2);
    EXPECT_EQ(shown[0]->step, QStringLiteral("Preparing…"));
    EXPECT_EQ(shown[1]->step, QStringLiteral("Handing over to Instagram…"));
    EXPECT_TRUE(service.uploads.isEmpty());
    EXPECT_TRUE(service.request->mediaIds.isEmpty());
    EXPECT_FALSE(service.request->coverMediaId);
}

TEST_F(Publish, TheRequestCarriesTheSubmissionAndItsKeyUnchanged)
{
    struct Case {
        PublishFormat format;
        const char *wire;
    };
    const Case cases[] = {{PublishFormat::reel, "reel"},
                          {PublishFormat::story, "story"},
                          {PublishFormat::feed, "feed"},
                          {PublishFormat::carousel, "carousel"}};
    for (const Case &c : cases) {
        ComposerSubmission s = submission(1);
        s.format = c.format;
        s.shareToFeed = false;
        s.trialEnabled = true;
        s.trialGraduation = QStringLiteral("SS_PERFORMANCE");
        s.collaborators = {QStringLiteral("ann"), QStringLiteral("bo")};
        s.audioName = QStringLiteral("Rain on tin");
        s.isAIGenerated = true;
        s.saveAsDraft = c.format == PublishFormat::story;
        run(s);
        const auto &r = *service.request;
        EXPECT_EQ(r.format, QString::fromLatin1(c.wire));
        EXPECT_TRUE(r.confirm);
        EXPECT_EQ(r.caption, QStringLiteral("Morning light\n\n#light #Morning"));
        EXPECT_EQ(r.scheduledAt, QStringLiteral("2025-06-11T09:30:15Z")) << "now, whole seconds, UTC";
        EXPECT_FALSE(r.shareToFeed);
        EXPECT_TRUE(r.trialEnabled);
        EXPECT_EQ(r.trialGraduation, QStringLiteral("SS_PERFORMANCE"));
        EXPECT_EQ(r.collaborators, QStringList({"ann", "bo"}));
        EXPECT_EQ(r.audioName, QStringLiteral("Rain on tin"));
        EXPECT_TRUE(r.isAiGenerated);
        EXPECT_EQ(r.isDraft, c.format == PublishFormat::story);
        EXPECT_FALSE(r.thumbOffsetMs);
        EXPECT_EQ(service.key, QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
    }
    // A time of the user's own zone is sent as the same moment in UTC.
    ComposerSubmission later = submission(0);
    later.scheduledAt = QDateTime(QDate(2025, 7, 1), QTime(18, 45, 59, 999), QTimeZone("Europe/Berlin"));
    run(later);
    EXPECT_EQ(service.request->scheduledAt, QStringLiteral("2025-07-01T16:45:59Z"));
}

TEST_F(Publish, TheOutcomeFollowsTheServicesAnswerFailuresFirst)
{
    const qint64 now = h.clock.now().toMSecsSinceEpoch();
    using Kind = PublishOutcome::Kind;
    struct Case {
        const char *what;
        bool draft;
        const char *status;
        std::optional<QString> error;
        std::optional<qint64> scheduledIn; // ms from now
        Kind kind;
        const char *message;
        std::optional<AppEvent::Kind> event;
    };
    const Case cases[] = {
        {"published", false, "published", {}, {}, Kind::published, "", AppEvent::Kind::published},
        {"failed without a reason", false, "failed", {}, {}, Kind::failed,
         "Instagram did not accept it, and the server recorded no reason.", {}},
        {"failed with an empty reason", false, "failed", QString(), {}, Kind::failed,
         "Instagram did not accept it, and the server recorded no reason.", {}},
        {"cancelled, processing timed out", false, "cancelled", QStringLiteral("media_processing_timeout"), {},
         Kind::failed, "Instagram took too long to process the media.", {}},
        {"preparation failed, caption", false, "preparation_failed", QStringLiteral("caption_too_long"), {},
         Kind::failed, "The caption is over the limit.", {}},
        {"failed, format", false, "failed", QStringLiteral("format_invalid"), {}, Kind::failed,
         "This format is not accepted for that media.", {}},
        {"failed, a code of its own", false, "failed", QStringLiteral("media_upload_failed"), {}, Kind::failed,
         "media upload failed", {}},
        {"still processing", false, "processing", {}, {}, Kind::stillWorking, "", {}},
        {"still reconciling", false, "reconciling", {}, {}, Kind::stillWorking, "", {}},
        // The time decides, not the status: the service holds it for later.
        {"processing, scheduled 2 h ahead", false, "processing", {}, 7'200'000, Kind::scheduled, "",
         AppEvent::Kind::scheduled},
        {"scheduled 30 s ahead", false, "scheduled", {}, 30'000, Kind::stillWorking, "", {}},
        {"scheduled exactly 60 s ahead", false, "scheduled", {}, 60'000, Kind::stillWorking, "", {}},
        {"scheduled 61 s ahead", false, "scheduled", {}, 61'000, Kind::scheduled, "", AppEvent::Kind::scheduled},
        {"scheduled in the past", false, "scheduled", {}, -5'000, Kind::stillWorking, "", {}},
        {"status in capitals", false, "Published", {}, {}, Kind::stillWorking, "", {}},
        {"draft kept", true, "draft", {}, {}, Kind::draftSaved, "", {}},
        {"draft reported published", true, "published", {}, {}, Kind::draftSaved, "", {}},
        {"draft still processing", true, "processing", {}, {}, Kind::draftSaved, "", {}},
        // A draft the service could not keep is a failure, never "draft saved".
        {"draft failed", true, "failed", QStringLiteral("caption_too_long"), {}, Kind::failed,
         "The caption is over the limit.", {}},
        {"draft cancelled", true, "cancelled", {}, {}, Kind::failed,
         "Instagram did not accept it, and the server recorded no reason.", {}},
        {"draft preparation failed", true, "preparation_failed", QStringLiteral("audio_missing"), {}, Kind::failed,
         "audio missing", {}},
    };
    for (const Case &c : cases) {
        h.events.clear();
        service.calls.clear();
        service.created = publication(QString::fromLatin1(c.status), c.error);
        if (c.scheduledIn)
            service.created.scheduledAt = now + *c.scheduledIn;
        ComposerSubmission s = submission(1);
        s.saveAsDraft = c.draft;
        int callsWhenRaised = -1;
        m->setEvents([&](const AppEvent &e) {
            h.events.append(e);
            callsWhenRaised = int(service.calls.size());
        });
        const PublishOutcome outcome = run(s);
        EXPECT_EQ(outcome.kind, c.kind) << c.what;
        EXPECT_EQ(outcome.message, QString::fromUtf8(c.message)) << c.what;
        if (c.kind != Kind::failed) {
            EXPECT_EQ(outcome.publication, service.created) << c.what;
        }
        if (c.event) {
            ASSERT_EQ(h.events.size(), 1) << c.what;
            EXPECT_EQ(h.events[0].kind, *c.event) << c.what;
            EXPECT_EQ(h.events[0].publication, service.created) << c.what;
            EXPECT_EQ(callsWhenRaised, service.calls.size()) << "raised after the plan reload: " << c.what;
        } else {
            EXPECT_TRUE(h.events.isEmpty()) << c.what;
        }
        // A failure the service recorded is its answer, not an error of ours.
        EXPECT_FALSE(m->notice()) << c.what;
        EXPECT_TRUE(service.calls.contains(QStringLiteral("planDrafts"))) << c.what;
        EXPECT_FALSE(m->publishing()) << c.what;
    }
}

TEST_F(Publish, ACreationWhoseAnswerWasLostIsLookedUpByItsKey)
{
    using Kind = PublishOutcome::Kind;
    const auto timedOut = std::make_exception_ptr(NetworkError(NetworkError::Code::timedOut));
    struct Case {
        const char *what;
        std::exception_ptr creation;
        std::optional<Publication> found;
        std::exception_ptr lookup;
        bool looksUp;
        Kind kind;
        const char *message;
    };
    const Case cases[] = {
        {"timed out, found", timedOut, publication("published"), nullptr, true, Kind::published, ""},
        {"timed out, found still processing", timedOut, publication("processing"), nullptr, true,
         Kind::stillWorking, ""},
        {"timed out, unknown to the service", timedOut, std::nullopt, nullptr, true, Kind::failed,
         "sorvane.app took too long to answer."},
        // The look-up cannot answer either: whether it went out is not known.
        {"timed out, look-up refused", timedOut, std::nullopt,
         std::make_exception_ptr(APIError::serverRefused(503)), true, Kind::unknown,
         "sorvane.app refused the request (HTTP 503) without a reason."},
        // A look-up refused with a code of its own is no proof that nothing was made.
        {"timed out, look-up refused with a code", timedOut, std::nullopt,
         std::make_exception_ptr(APIError::rejected(QStringLiteral("rate_limited"))), true, Kind::unknown,
         "Too many requests in a row. Give it a minute."},
        {"timed out, look-up refused 404 without a code", timedOut, std::nullopt,
         std::make_exception_ptr(APIError::serverRefused(404)), true, Kind::unknown,
         "sorvane.app refused the request (HTTP 404) without a reason."},
        // The request went out and the connection dropped before the answer: the
        // service may hold the post just as after a time-out.
        {"connection lost after sending, found",
         std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost)), publication("published"),
         nullptr, true, Kind::published, ""},
        {"connection lost after sending, no connection for the look-up",
         std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost)), std::nullopt,
         std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost)), true, Kind::unknown,
         "No connection to sorvane.app right now."},
        // An answer came but could not be read: a truncated body, or no HTTP answer at all.
        {"unreadable answer, found",
         std::make_exception_ptr(ServiceDecodingError(ServiceDecodingError::Kind::dataCorrupted, QString(), QString())),
         publication("published"), nullptr, true, Kind::published, ""},
        {"answer past the size of a record, found",
         std::make_exception_ptr(NetworkError(NetworkError::Code::dataLengthExceedsMaximum)), publication("published"),
         nullptr, true, Kind::published, ""},
        {"no HTTP answer, unknown to the service", std::make_exception_ptr(APIError::invalidResponse()), std::nullopt,
         nullptr, true, Kind::failed, "sorvane.app answered in a shape this build does not understand."},
        // The page's own fetch failed: whether the request went out is unknown.
        {"the page's fetch failed, found", std::make_exception_ptr(std::runtime_error("Failed to fetch")),
         publication("published"), nullptr, true, Kind::published, ""},
        {"the page's fetch failed, unknown to the service", std::make_exception_ptr(std::runtime_error("Failed to fetch")),
         std::nullopt, nullptr, true, Kind::failed, "Something went wrong. Try again."},
        // Refusals and connections that never opened prove nothing was made.
        {"refused with a code", std::make_exception_ptr(APIError::rejected(QStringLiteral("caption_too_long"))),
         publication("published"), nullptr, false, Kind::failed, "The caption is over 2,200 characters."},
        {"refused without a code", std::make_exception_ptr(APIError::serverRefused(502)), publication("published"),
         nullptr, false, Kind::failed, "sorvane.app refused the request (HTTP 502) without a reason."},
        {"no connection", std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost)),
         publication("published"), nullptr, false, Kind::failed, "No connection to sorvane.app right now."},
        {"no secure connection", std::make_exception_ptr(NetworkError(NetworkError::Code::secureConnectionFailed)),
         publication("published"), nullptr, false, Kind::failed,
         "A secure connection to sorvane.app could not be made."},
    };
    int row = 0;
    for (const Case &c : cases) {
        // A post and a model of its own each: a key left pending would be asked about in the next.
        fresh();
        ComposerSubmission s = submission(1);
        s.idempotencyKey = QStringLiteral("post-%1").arg(++row);
        service.calls.clear();
        service.lookedUp.clear();
        shown.clear();
        m->setNotice(std::nullopt);
        service.creationFailure = c.creation;
        service.found = c.found;
        service.lookupFailure = c.lookup;
        const PublishOutcome outcome = run(s);
        EXPECT_EQ(outcome.kind, c.kind) << c.what;
        // Kept to be asked about again only while the service has not said.
        EXPECT_EQ(m->publicationPending(s.idempotencyKey), c.kind == Kind::unknown) << c.what;
        EXPECT_TRUE(service.pendingWhenCreated) << c.what << ": kept before it went, for a kill";
        EXPECT_EQ(outcome.message, QString::fromUtf8(c.message)) << c.what;
        EXPECT_EQ(service.calls.contains(QStringLiteral("existingInstagramPublication")), c.looksUp) << c.what;
        // The look-up only reads: one creation went out, whatever it found.
        EXPECT_EQ(service.calls.count(QStringLiteral("createInstagramPublication")), 1) << c.what;
        if (c.looksUp) {
            EXPECT_EQ(service.lookedUp, s.idempotencyKey) << c.what;
        }
        if (!outcome.wentOut()) {
            ASSERT_TRUE(m->notice()) << c.what;
            EXPECT_EQ(m->notice()->text, outcome.message) << c.what;
            EXPECT_EQ(m->notice()->tone, AppNotice::Tone::attention) << c.what;
            EXPECT_FALSE(service.calls.contains(QStringLiteral("planDrafts"))) << "no reload: " << c.what;
        } else {
            EXPECT_EQ(outcome.publication, *c.found) << c.what;
            // From the hand-over straight to the wait.
            ASSERT_GE(shown.size(), 4) << c.what;
            EXPECT_EQ(shown[shown.size() - 3]->step, QStringLiteral("Handing over to Instagram…")) << c.what;
            EXPECT_EQ(shown[shown.size() - 2]->step, QStringLiteral("Waiting for confirmation…")) << c.what;
        }
        EXPECT_FALSE(m->publishing()) << c.what;
    }
}

// Neither the creation's answer nor the look-up came back: the same post sent
// again goes under the first key and stays unknown while the service is out of
// reach; once it answers, each is told, to a composer showing it or in a notice.
TEST_F(Publish, AnOutcomeNotKnownStaysTheSamePostUntilTheServiceSaysWhatBecameOfIt)
{
    service.creationFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost));
    service.lookupFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    ComposerSubmission first = submission(1);
    ComposerSubmission other = submission(1);
    other.caption = QStringLiteral("Evening light");
    other.idempotencyKey = QStringLiteral("other-post");
    EXPECT_EQ(run(first).kind, PublishOutcome::Kind::unknown);
    EXPECT_EQ(run(other).kind, PublishOutcome::Kind::unknown);

    // The same post from a new composer, with a new key and new imports of the same files.
    ComposerSubmission again = submission(1);
    again.idempotencyKey = QStringLiteral("a-fresh-composer");
    again.scheduledAt = h.clock.now().addDays(1);
    EXPECT_EQ(m->pendingKeyFor(again), first.idempotencyKey);
    ComposerSubmission changed = again;
    changed.media[0].fileName = QStringLiteral("another.jpg");
    EXPECT_EQ(m->pendingKeyFor(changed), std::nullopt) << "another file is another post";
    changed = again;
    changed.media[0].thumbnail = MediaThumbnail{1, 1, QByteArray(4, '\x7f')};
    EXPECT_EQ(m->pendingKeyFor(changed), std::nullopt) << "another picture under the same name and size too";
    changed = again;
    changed.cover = picture(QStringLiteral("cover.jpg"), 500);
    ComposerSubmission otherCover = changed;
    otherCover.cover->fileName = QStringLiteral("another-cover.jpg");
    EXPECT_NE(PendingPublication::postOf(changed), PendingPublication::postOf(otherCover)) << "another cover, another post";
    again.saveAsDraft = true;
    EXPECT_EQ(m->pendingKeyFor(again), std::nullopt) << "a draft of it is a request of its own";

    // Sent again under its key with no connection at all: still not known.
    service.creationFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    EXPECT_EQ(run(first).kind, PublishOutcome::Kind::unknown);

    // Looked up again after a while, each wait twice the one before while nothing answers.
    const auto lookups = [&] { return service.calls.count(QStringLiteral("existingInstagramPublication")); };
    const auto lookedUp = [&] {
        service.lookedUp.clear();
        return zktest::spinUntil([&] { return !service.lookedUp.isEmpty(); });
    };
    service.calls.clear();
    h.clock.advance(AppModel::kPlanRetryFirst);
    ASSERT_TRUE(lookedUp());
    h.clock.advance(AppModel::kPlanRetryFirst);
    EXPECT_EQ(lookups(), 1) << "the second look-up waits twice as long";
    h.clock.advance(AppModel::kPlanRetryFirst);
    ASSERT_TRUE(lookedUp());
    EXPECT_EQ(lookups(), 2);

    // The service answers again: the first was made, the other never reached it.
    std::optional<PublishOutcome> taken;
    QObject::connect(m, &AppModel::publicationSettled, [&](const QString &key) {
        if (key == first.idempotencyKey)
            taken = m->takeSettledOutcome(key);
    });
    service.lookupFailure = nullptr;
    service.found = publication(QStringLiteral("published"));
    service.unknownToService = {other.idempotencyKey};
    service.calls.clear();
    m->setNotice(std::nullopt);
    h.clock.advance(4 * AppModel::kPlanRetryFirst);
    ASSERT_TRUE(zktest::spinUntil([&] { return !m->publicationPending(other.idempotencyKey); }));
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->kind, PublishOutcome::Kind::published);
    EXPECT_FALSE(m->publicationPending(first.idempotencyKey));
    ASSERT_TRUE(m->notice());
    EXPECT_EQ(m->notice()->text, QStringLiteral("The post whose answer was lost did not go out."));
    EXPECT_EQ(service.calls.count(QStringLiteral("createInstagramPublication")), 0) << "only looked up";
    EXPECT_TRUE(zktest::spinUntil([&] { return service.calls.contains(QStringLiteral("planDrafts")); }));
    EXPECT_EQ(m->pendingKeyFor(submission(1)), std::nullopt) << "known now: the next sending is a new post";
    EXPECT_EQ(h.kinds().count(AppEvent::Kind::published), 1);
}

// Past the cap the oldest posts whose fate is not known are let go, never the newest.
TEST_F(Publish, PastTheCapTheOldestPostNotKnownGoesFirst)
{
    service.creationFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost));
    service.lookupFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    for (int i = 0; i <= PendingPublicationStore::kKept; ++i) {
        ComposerSubmission s = submission(1);
        s.caption = QStringLiteral("Post %1").arg(i);
        s.idempotencyKey = QStringLiteral("key-%1").arg(i);
        ASSERT_EQ(run(s).kind, PublishOutcome::Kind::unknown) << i;
    }
    EXPECT_FALSE(m->publicationPending(QStringLiteral("key-0")));
    EXPECT_TRUE(m->publicationPending(QStringLiteral("key-1")));
    EXPECT_TRUE(m->publicationPending(QStringLiteral("key-%1").arg(PendingPublicationStore::kKept)));
}

// A look-up crossing a sending of the same post may tell of the time before it
// went: that sending says what became of it, and keeps the key if it cannot know.
TEST_F(Publish, ALookUpCrossingASendingOfTheSamePostLeavesItToThatSending)
{
    const ComposerSubmission post = submission(1);
    const auto offline = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    service.creationFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost));
    service.lookupFailure = offline;
    ASSERT_EQ(run(post).kind, PublishOutcome::Kind::unknown);
    // The timer's look-up, on its way as the post goes again, finds nothing; the sending's own cannot answer.
    service.lookupFailure = nullptr;
    service.unknownToService = {post.idempotencyKey};
    service.afterLookup = [&] { service.lookupFailure = offline; };
    h.clock.advance(AppModel::kPlanRetryFirst);
    ASSERT_EQ(run(post).kind, PublishOutcome::Kind::unknown);
    EXPECT_TRUE(m->publicationPending(post.idempotencyKey));
}

// Changed after it went without an answer, a post is another post: under the
// first key the service would answer it with the first. It goes under a key of
// its own once the service has said the first did not go out (else both would
// be out). The same post, or the same words again, keep going under that key.
TEST_F(Publish, APostChangedSinceItWentNeverGoesUnderItsKeyAndTheSamePostAlwaysDoes)
{
    const auto composer = composerLosingTheAnswer(QStringLiteral("Morning ligth"));
    ComposerState &state = *composer;
    const auto send = [&] { return confirmAgain(state); };
    const QString first = send();
    ASSERT_EQ(state.outcome()->kind, PublishOutcome::Kind::unknown);
    EXPECT_FALSE(state.changedSinceSent(false));
    EXPECT_EQ(send(), first) << "the same post";
    state.setCaption(QStringLiteral("Morning light"));
    EXPECT_TRUE(state.changedSinceSent(false));
    // Whether the first went out still cannot be known: the fix waits.
    send();
    EXPECT_EQ(creations(), 2);
    EXPECT_EQ(state.outcome()->kind, PublishOutcome::Kind::unknown);
    EXPECT_EQ(state.idempotencyKey(), first);
    EXPECT_TRUE(m->publicationPending(first));
    state.setCaption(QStringLiteral("Morning ligth"));
    EXPECT_EQ(send(), first) << "the first words again";
    EXPECT_EQ(creations(), 3);

    // The service has no record of the first: the fix goes, under a key of its own.
    state.setCaption(QStringLiteral("Morning light"));
    service.lookupFailure = nullptr;
    service.unknownToService = {first};
    const QString fixed = send();
    EXPECT_NE(fixed, first);
    EXPECT_EQ(service.lookedUp, fixed) << "its own answer lost, then looked up";
    EXPECT_FALSE(m->publicationPending(first));
    state.setMedia({picture(QStringLiteral("photo-2.jpg"), 1000)});
    EXPECT_NE(send(), fixed) << "another picture";

    // The service answers now, and failed it: changed, it goes under a key of its own too.
    service.creationFailure = nullptr;
    service.created = publication(QStringLiteral("failed"), QStringLiteral("caption_too_long"));
    const QString refused = send();
    ASSERT_EQ(state.outcome()->kind, PublishOutcome::Kind::failed);
    EXPECT_EQ(send(), refused) << "a retry of the same post";
    state.setCaption(QStringLiteral("Short"));
    EXPECT_NE(send(), refused);
    EXPECT_EQ(creations(), 8);
}

// The first version went out while the fix waited: sending the fix says so
// rather than making a second post; the fix, sent then, goes once under a key
// of its own, and the version that went out, sent again, is answered with
// what was made of it.
TEST_F(Publish, AFixSentBeforeTheFirstVersionIsKnownSaysItWentAndTheFirstNeverGoesTwice)
{
    const auto composer = composerLosingTheAnswer(QStringLiteral("Morning ligth"));
    ComposerState &state = *composer;
    const auto send = [&] { return confirmAgain(state); };
    const QString first = send();
    ASSERT_EQ(state.outcome()->kind, PublishOutcome::Kind::unknown);
    state.setCaption(QStringLiteral("Morning light"));
    Publication made = publication(QStringLiteral("published"));
    made.caption = QStringLiteral("Morning ligth");
    service.lookupFailure = nullptr;
    service.creationFailure = nullptr;
    service.found = made;
    service.progressAtCall.clear();
    service.calls.clear();
    send();
    ASSERT_EQ(service.calls.first(), QStringLiteral("existingInstagramPublication"));
    EXPECT_EQ(service.progressAtCall.first(), progress("Waiting for confirmation…", 0.95)) << "the wait shows";
    EXPECT_EQ(m->publishing(), std::nullopt);
    EXPECT_EQ(creations(), 0) << "both versions would be out";
    EXPECT_FALSE(m->publicationPending(first));
    ASSERT_EQ(state.outcome(), PublishOutcome::published(made));
    EXPECT_EQ(state.earlierVersion(), QStringLiteral("Morning ligth"));
    EXPECT_EQ(state.caption(), QStringLiteral("Morning light"));
    EXPECT_NE(state.idempotencyKey(), first);

    const QString fixed = send();
    EXPECT_EQ(creations(), 1);
    EXPECT_NE(fixed, first);
    EXPECT_EQ(state.outcome()->kind, PublishOutcome::Kind::published);
    EXPECT_EQ(state.earlierVersion(), std::nullopt);
    // Back to the words that went out: under the first key, answered with the first.
    state.setCaption(QStringLiteral("Morning ligth"));
    EXPECT_EQ(send(), first);
    // Another picture with them is another post.
    state.setMedia({picture(QStringLiteral("photo-2.jpg"), 1000)});
    const QString other = send();
    EXPECT_NE(other, first);
    EXPECT_NE(other, fixed);
    // Kept through a kill, the spent key goes with the post.
    ComposerState restored(h.clock, importer.function());
    restored.restore(state.keptPost());
    restored.setMedia({picture(QStringLiteral("photo-1.jpg"), 1000)});
    EXPECT_EQ(restored.spentKeyFor(false), first);
    EXPECT_EQ(restored.spentKeyFor(true), std::nullopt) << "a draft on the service went under no key of it";
    restored.prepareAnother();
    restored.setMedia({picture(QStringLiteral("photo-1.jpg"), 1000)});
    restored.setCaption(QStringLiteral("Morning ligth"));
    EXPECT_EQ(restored.spentKeyFor(false), std::nullopt) << "another post";
}

// What went out under the key was the version before the changes: its outcome
// is told with its words, the changed post stays as typed and goes, if sent,
// under a key of its own.
TEST_F(Publish, TheOutcomeOfAnEarlierVersionLeavesTheChangedPostToGoOnItsOwn)
{
    const auto composer = composerLosingTheAnswer(QStringLiteral("Morning ligth"));
    ComposerState &state = *composer;
    state.setHashtags(QStringLiteral("#sun"));
    zktest::run(ComposerActions::confirm(*m, state));
    const QString first = state.idempotencyKey();
    state.setOutcome(std::nullopt);
    state.setCaption(QStringLiteral("Morning light"));

    Publication made = publication(QStringLiteral("published"));
    made.caption = QStringLiteral("Morning ligth\n\n#sun");
    state.earlierVersionSettled(PublishOutcome::published(made), false);
    EXPECT_EQ(state.outcome(), PublishOutcome::published(made));
    EXPECT_EQ(state.earlierVersion(), made.caption);
    EXPECT_EQ(state.caption(), QStringLiteral("Morning light"));
    EXPECT_NE(state.idempotencyKey(), first);
    EXPECT_EQ(state.keptPost().idempotencyKey, state.idempotencyKey());
    // Without the service's copy, what this composer sent.
    ComposerState other(h.clock, importer.function());
    other.noteSent(state.submission(false));
    other.earlierVersionSettled(PublishOutcome::published(publication(QStringLiteral("published"))), false);
    EXPECT_EQ(other.earlierVersion(), QStringLiteral("Morning light\n\n#sun"));

    // Back to editing: an outcome of its own from now on.
    state.setOutcome(std::nullopt);
    EXPECT_EQ(state.earlierVersion(), std::nullopt);
}

// Kept through a kill, a composer knows what went under its keys from their
// records, by its words while its files are gone. Found out with no composer
// open, a post whose words changed after it went stays kept under a new key.
TEST_F(Publish, AfterAKillWordsChangedSinceThePostWentStayKeptUnderANewKey)
{
    const QString owner = QStringLiteral("kitty@example.com");
    service.results["currentUser"] = ZephylWire::User{QStringLiteral("u1"), owner, std::nullopt, QStringLiteral("member")};
    zktest::run(m->finishSignIn());
    service.creationFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost));
    service.lookupFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    ComposerSubmission fixedLater = submission(1);
    fixedLater.idempotencyKey = QStringLiteral("K1");
    ComposerSubmission untouched = submission(1);
    untouched.caption = QStringLiteral("Evening light");
    untouched.idempotencyKey = QStringLiteral("K2");
    ASSERT_EQ(run(fixedLater).kind, PublishOutcome::Kind::unknown);
    ASSERT_EQ(run(untouched).kind, PublishOutcome::Kind::unknown);

    const KeptComposerPost changed{PublishFormat::feed, QStringLiteral("Morning light, fixed"), fixedLater.hashtags,
                                   QStringLiteral("K1"), QStringLiteral("D1"), std::nullopt};
    const KeptComposerPost same{PublishFormat::feed, untouched.caption, untouched.hashtags, QStringLiteral("K2"),
                                QStringLiteral("D2"), std::nullopt};
    const auto restoredChanged = [&](const KeptComposerPost &kept) {
        ComposerState restored(h.clock, importer.function());
        restored.restore(kept);
        restored.noteSent(*m->pendingPublication(kept.idempotencyKey));
        return restored.changedSinceSent(false);
    };
    EXPECT_TRUE(restoredChanged(changed));
    EXPECT_FALSE(restoredChanged(same));

    // The service answers with no composer open: both were made.
    m->keptComposer().save(owner, changed);
    service.lookupFailure = nullptr;
    service.found = publication(QStringLiteral("published"));
    h.clock.advance(AppModel::kPlanRetryFirst);
    ASSERT_TRUE(zktest::spinUntil([&] { return !m->publicationPending(QStringLiteral("K1")); }));
    std::optional<KeptComposerPost> left = m->keptComposer().load(owner);
    ASSERT_TRUE(left) << "changed after it went: not out";
    EXPECT_EQ(left->caption, QStringLiteral("Morning light, fixed"));
    EXPECT_NE(left->idempotencyKey, QStringLiteral("K1"));
    EXPECT_EQ(left->draftIdempotencyKey, QStringLiteral("D1"));
    // The version that went out, typed again, goes under the key it went under.
    ComposerState reopened(h.clock, importer.function());
    reopened.restore(*left);
    reopened.setMedia(fixedLater.media);
    EXPECT_EQ(reopened.spentKeyFor(false), std::nullopt);
    reopened.setCaption(fixedLater.caption);
    EXPECT_EQ(reopened.spentKeyFor(false), QStringLiteral("K1"));

    // The same words as went out: done with, as before.
    service.creationFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::connectionLost));
    service.lookupFailure = std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    ComposerSubmission again = untouched;
    again.idempotencyKey = QStringLiteral("K3");
    again.caption = QStringLiteral("Night light");
    ASSERT_EQ(run(again).kind, PublishOutcome::Kind::unknown);
    m->keptComposer().save(owner, {PublishFormat::feed, again.caption, again.hashtags, QStringLiteral("K3"),
                                   QStringLiteral("D3"), std::nullopt});
    service.lookupFailure = nullptr;
    h.clock.advance(AppModel::kPlanRetryLongest);
    ASSERT_TRUE(zktest::spinUntil([&] { return !m->publicationPending(QStringLiteral("K3")); }));
    EXPECT_EQ(m->keptComposer().load(owner), std::nullopt);
}

TEST_F(Publish, AFailedUploadStopsEverythingAndSaysWhy)
{
    service.failUpload = 2;
    service.uploadFailure = std::make_exception_ptr(APIError::rejected(QStringLiteral("media_upload_failed")));
    const PublishOutcome outcome = run(submission(3));
    EXPECT_EQ(outcome, PublishOutcome::failed(QStringLiteral(
                           "The upload did not finish. Check the connection and try again; a retry will not publish "
                           "twice.")));
    EXPECT_EQ(service.calls, QStringList({"uploadInstagramMedia", "uploadInstagramMedia"}));
    ASSERT_TRUE(m->notice());
    EXPECT_EQ(m->notice()->text, outcome.message);
    EXPECT_FALSE(m->publishing());
    EXPECT_TRUE(h.events.isEmpty());

    // A file larger than the server takes is named as such, and nothing after it runs.
    service.uploads.clear();
    service.calls.clear();
    service.failUpload = 1;
    service.uploadFailure = std::make_exception_ptr(APIError::rejected(QStringLiteral("payload_too_large")));
    const PublishOutcome tooLarge = run(submission(2));
    EXPECT_EQ(tooLarge, PublishOutcome::failed(QStringLiteral("This file is too large for the server to take.")));
    EXPECT_EQ(service.calls, QStringList({"uploadInstagramMedia"}));
    EXPECT_TRUE(h.events.isEmpty());

    // An expired session ends the session too.
    service.uploads.clear();
    service.failUpload = 1;
    service.uploadFailure = std::make_exception_ptr(APIError::sessionExpired());
    EXPECT_EQ(run(submission(1)).message, QStringLiteral("Your session has expired. Sign in again."));
    ASSERT_TRUE(zktest::spinUntil([&] { return m->session() == SessionState::signedOut; }));
    EXPECT_EQ(service.calls.count(QStringLiteral("logout")), 1);
}

TEST_F(Publish, ASecondPressNeverStartsASecondRun)
{
    auto first = m->publish(submission(2));
    // Before any wait has ended, the run is showing.
    ASSERT_TRUE(m->publishing());
    EXPECT_EQ(m->publishing()->step, QStringLiteral("Uploading 1 of 2…"));
    auto second = m->publish(submission(2));
    ComposerSubmission other = submission(1);
    other.idempotencyKey = QStringLiteral("another-post");
    auto third = m->publish(other);

    const PublishOutcome a = zktest::run(std::move(first));
    const PublishOutcome b = zktest::run(std::move(second));
    const PublishOutcome c = zktest::run(std::move(third));
    EXPECT_EQ(a.kind, PublishOutcome::Kind::published);
    EXPECT_EQ(b, a) << "the same post shares the run";
    EXPECT_EQ(c.kind, PublishOutcome::Kind::published);
    EXPECT_EQ(service.calls.count(QStringLiteral("createInstagramPublication")), 2);
    EXPECT_EQ(service.uploads.size(), 3) << "two for the first post, one for the other";
    EXPECT_EQ(service.key, QStringLiteral("another-post")) << "the other post ran after the first";
    EXPECT_EQ(h.events.size(), 2);
    EXPECT_FALSE(m->publishing());

    // Once a run has ended, pressing again for the same post runs again (a retry).
    run(submission(1));
    EXPECT_EQ(service.calls.count(QStringLiteral("createInstagramPublication")), 3);
}

TEST_F(Publish, AModelThatGoesAwayMidRunIsLeftAlone)
{
    auto task = m->publish(submission(2));
    h.model.reset();
    m = nullptr;
    service.model = nullptr;
    const PublishOutcome outcome = zktest::run(std::move(task));
    EXPECT_EQ(outcome.kind, PublishOutcome::Kind::failed);
    EXPECT_EQ(service.calls, QStringList({"uploadInstagramMedia"})) << "nothing more is sent";
}

TEST_F(Publish, APosterIsUploadedAsAJpegOnlyWhenThereIsOne)
{
    ImportedMedia clip = picture(QStringLiteral("clip.mp4"), 10);
    clip.kind = ImportedMedia::Kind::video;
    EXPECT_EQ(zktest::run(m->uploadPoster(clip)), std::nullopt);
    EXPECT_TRUE(service.calls.isEmpty());
    clip.posterData = QByteArray(321, 'p');
    EXPECT_EQ(zktest::run(m->uploadPoster(clip)), QStringLiteral("media-1"));
    ASSERT_EQ(service.uploads.size(), 1);
    EXPECT_EQ(service.uploads[0].size, 321);
    EXPECT_EQ(service.uploads[0].contentType, QStringLiteral("image/jpeg"));
    EXPECT_EQ(service.uploads[0].fileName, QStringLiteral("poster.jpg"));
    service.failUpload = 2;
    service.uploadFailure = std::make_exception_ptr(APIError::rejected(QStringLiteral("upload_failed")));
    EXPECT_THROW(zktest::run(m->uploadPoster(clip)), APIError);
}
