// The composer's post and its buttons, headless on the virtual clock: the rules
// at their bounds, importing, the keys, the footer, and the actions against a
// scripted service.

#include "AppTestSupport.h"
#include "ComposerTestSupport.h"
#include "support/TestSupport.h"

#include "app/ComposerActions.h"
#include "app/ComposerState.h"
#include "services/ServiceErrors.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace apptest;
using namespace composertest;

namespace {

// The scripted service, with an id per uploaded file and the keys publications go under.
class RecordingService final : public FakeServiceClient {
public:
    QStringList uploaded;
    QStringList keys;
    QList<PublicationRequest> requests;
    std::exception_ptr uploadFailure; // what every upload throws, when set

    using FakeServiceClient::uploadInstagramMedia;
    QCoro::Task<QString> uploadInstagramMedia(MediaSource, QString, QString fileName) override
    {
        calls << QStringLiteral("uploadInstagramMedia");
        if (uploadFailure)
            std::rethrow_exception(uploadFailure);
        uploaded << fileName;
        co_return QStringLiteral("id-") + fileName;
    }
    QCoro::Task<Publication> createInstagramPublication(PublicationRequest request, QString key) override
    {
        calls << QStringLiteral("createInstagramPublication");
        keys << key;
        requests << request;
        Publication p;
        p.id = key;
        p.status = QStringLiteral("published");
        co_return p;
    }
};

class Composer : public ::testing::Test {
protected:
    void SetUp() override
    {
        model = &h.make(&service);
        model->setSession(SessionState::signedIn);
        ZephylWire::InstagramProfile profile;
        profile.username = QStringLiteral("kitty");
        model->setInstagram(profile);
        state = std::make_unique<ComposerState>(h.clock, importer.function());
    }

    LanguageGuard english{AppLanguage::en};
    Harness h;
    RecordingService service;
    AppModel *model = nullptr;
    FakeImporter importer;
    std::unique_ptr<ComposerState> state;
};

QString letters(qsizetype n) { return QString(n, QLatin1Char('a')); }

QString tags(int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << QStringLiteral("#tag%1").arg(i);
    return out.join(QLatin1Char(' '));
}

} // namespace

TEST_F(Composer, ANewPostAsksForMediaAndCarriesTwoDistinctUpperCaseKeys)
{
    EXPECT_EQ(state->validationMessage(), QStringLiteral("Add a picture or a video."));
    static const QRegularExpression uuid(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    EXPECT_TRUE(uuid.match(state->idempotencyKey()).hasMatch()) << state->idempotencyKey().toStdString();
    EXPECT_TRUE(uuid.match(state->draftIdempotencyKey()).hasMatch());
    EXPECT_NE(state->idempotencyKey(), state->draftIdempotencyKey());
    EXPECT_EQ(state->scheduledAt(), h.clock.now().addSecs(3600));
    EXPECT_EQ(state->format(), PublishFormat::feed);
    EXPECT_EQ(state->trialGraduation(), QStringLiteral("MANUAL"));
    EXPECT_TRUE(state->shareToFeed());
}

TEST_F(Composer, ItemCountsAndKindsAtTheirBounds)
{
    state->setFormat(PublishFormat::carousel);
    for (int n : {1, 11}) {
        QList<ImportedMedia> items;
        for (int i = 0; i < n; ++i)
            items << picture();
        state->setMedia(items);
        EXPECT_EQ(state->validationMessage(), QStringLiteral("A carousel takes two to ten items.")) << n;
    }
    for (int n : {2, 10}) {
        QList<ImportedMedia> items;
        for (int i = 0; i < n; ++i)
            items << picture();
        state->setMedia(items);
        EXPECT_EQ(state->validationMessage(), std::nullopt) << n;
    }
    state->setMedia({picture(), picture(), picture()});
    state->setFormat(PublishFormat::feed);
    EXPECT_EQ(state->validationMessage(), QStringLiteral("This format takes exactly one item."));
    EXPECT_EQ(state->media().size(), 3);

    state->setFormat(PublishFormat::reel);
    state->setMedia({picture()});
    EXPECT_EQ(state->validationMessage(), QStringLiteral("A Reel needs a video."));

    state->setFormat(PublishFormat::story);
    state->setMedia({video(60.0)});
    EXPECT_EQ(state->validationMessage(), std::nullopt);
    state->setMedia({video(60.5)});
    EXPECT_EQ(state->validationMessage(), QStringLiteral("A Story video must be a minute or shorter."));
    state->setMedia({picture()});
    EXPECT_EQ(state->validationMessage(), std::nullopt);
}

TEST_F(Composer, CaptionAndHashtagsCountAsPublishedInUserPerceivedCharacters)
{
    state->setMedia({picture()});
    state->setCaption(letters(2200));
    EXPECT_EQ(state->validationMessage(), std::nullopt);
    state->setCaption(letters(2201));
    EXPECT_EQ(state->validationMessage(), QStringLiteral("The caption is over 2,200 characters."));
    // 2198, a blank line, then "#a": 2202.
    state->setCaption(letters(2198));
    state->setHashtags(QStringLiteral("#a"));
    EXPECT_EQ(state->captionLength(), 2202);
    EXPECT_EQ(state->validationMessage(), QStringLiteral("The caption is over 2,200 characters."));
    // White space around the caption is not published, so not counted.
    state->setHashtags(QString());
    state->setCaption(QStringLiteral("  \n") + letters(2200) + QStringLiteral("\n\n  "));
    EXPECT_EQ(state->validationMessage(), std::nullopt);
    // A family of four and a letter with two combining marks are one character each.
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
    QString emoji;
    for (int i = 0; i < 2200; ++i)
        emoji += (i % 2) ? family : QStringLiteral("e\u0301\u0323");
    state->setCaption(emoji);
    EXPECT_EQ(state->captionLength(), 2200);
    EXPECT_EQ(state->validationMessage(), std::nullopt);
    state->setCaption(emoji + family);
    EXPECT_EQ(state->validationMessage(), QStringLiteral("The caption is over 2,200 characters."));
}

TEST_F(Composer, ThirtyHashtagsPassAndThirtyOneFailCountingCaseInsensitively)
{
    state->setMedia({picture()});
    state->setHashtags(tags(30));
    EXPECT_EQ(state->validationMessage(), std::nullopt);
    state->setHashtags(tags(30) + QStringLiteral(" #Cat #cat cat"));
    EXPECT_EQ(state->hashtagCount(), 31);
    EXPECT_EQ(state->validationMessage(), QStringLiteral("Instagram allows up to 30 hashtags."));
}

TEST_F(Composer, CollaboratorsAreParsedAndLimitedExceptForAStory)
{
    state->setCollaboratorsText(QStringLiteral("@north, east west\n@south"));
    EXPECT_EQ(state->collaborators(), (QStringList{"north", "east", "west", "south"}));
    state->setCollaboratorsText(QStringLiteral(" \t@ann\t,,@@bob , @"));
    EXPECT_EQ(state->collaborators(), (QStringList{"ann", "@bob"}));

    state->setCollaboratorsText(QStringLiteral("@north, east west\n@south"));
    for (PublishFormat format : {PublishFormat::reel, PublishFormat::feed, PublishFormat::carousel}) {
        state->setFormat(format);
        state->setMedia(format == PublishFormat::carousel ? QList{picture(), picture()}
                        : format == PublishFormat::reel   ? QList{video(10)}
                                                          : QList{picture()});
        EXPECT_EQ(state->validationMessage(), QStringLiteral("Up to three collaborators."));
        state->setCollaboratorsText(QStringLiteral("a b c"));
        EXPECT_EQ(state->validationMessage(), std::nullopt);
        state->setCollaboratorsText(QStringLiteral("@north, east west\n@south"));
    }
    state->setFormat(PublishFormat::story);
    state->setMedia({picture()});
    EXPECT_EQ(state->validationMessage(), std::nullopt);
    EXPECT_TRUE(state->submission(false).collaborators.isEmpty());
}

TEST_F(Composer, TheAudioNameLimitHoldsForEveryFormatThoughOnlyAReelSendsTheName)
{
    const QString tooLong = QStringLiteral("The audio name is over 100 characters.");
    state->setFormat(PublishFormat::reel);
    state->setMedia({video(12)});
    state->setAudioName(letters(100));
    EXPECT_EQ(state->validationMessage(), std::nullopt);
    state->setAudioName(letters(101));
    EXPECT_EQ(state->validationMessage(), tooLong);
    // Counted in characters as the user sees them: 100 emoji (200 UTF-16 units;
    // the flag is 14 units) pass; one more fails.
    const QString cat = QStringLiteral("🐈");
    const QString flag = QStringLiteral("🏴󠁧󠁢󠁷󠁬󠁳󠁿");
    for (const QString &one : {cat, flag}) {
        state->setAudioName(one.repeated(100));
        EXPECT_EQ(state->validationMessage(), std::nullopt) << one.size();
        state->setAudioName(one.repeated(101));
        EXPECT_EQ(state->validationMessage(), tooLong) << one.size();
    }
    // The other formats hide the field and send no audio name, and the limit
    // still holds for them.
    const std::pair<PublishFormat, QList<ImportedMedia>> others[] = {
        {PublishFormat::feed, {picture()}},
        {PublishFormat::story, {picture()}},
        {PublishFormat::carousel, {picture(), picture()}},
    };
    for (const auto &[format, media] : others) {
        state->setFormat(format);
        state->setMedia(media);
        state->setAudioName(letters(101));
        EXPECT_EQ(state->validationMessage(), tooLong) << int(format);
        EXPECT_TRUE(state->submission(false).audioName.isEmpty()) << int(format);
        state->setAudioName(letters(100));
        EXPECT_EQ(state->validationMessage(), std::nullopt) << int(format);
    }
}

TEST_F(Composer, AScheduledTimeNeedsFiveMinutesAndLosesThemAsTheClockRuns)
{
    state->setMedia({picture()});
    state->setScheduledAt(h.clock.now().addSecs(-60));
    EXPECT_EQ(state->validationMessage(), std::nullopt); // now: the time is not used
    state->setScheduleLater(true);
    EXPECT_EQ(state->validationMessage(), QStringLiteral("Choose a time at least five minutes from now."));
    state->setScheduledAt(h.clock.now().addSecs(299));
    EXPECT_EQ(state->validationMessage(), QStringLiteral("Choose a time at least five minutes from now."));
    state->setScheduledAt(h.clock.now().addSecs(300));
    EXPECT_EQ(state->validationMessage(), std::nullopt);
    state->setScheduledAt(h.clock.now().addSecs(301));
    EXPECT_EQ(state->validationMessage(), std::nullopt);
    h.clock.advance(std::chrono::seconds(2));
    EXPECT_EQ(state->validationMessage(), QStringLiteral("Choose a time at least five minutes from now."));
}

TEST_F(Composer, APrefillIsAppliedOnceAndFallsBackToItsTitle)
{
    state->setFormat(PublishFormat::carousel);
    state->apply(ComposerPrefill{std::nullopt, QStringLiteral("Title"), QString(), QStringLiteral("#sun")});
    EXPECT_EQ(state->format(), PublishFormat::carousel);
    EXPECT_EQ(state->caption(), QStringLiteral("Title"));
    EXPECT_EQ(state->hashtags(), QStringLiteral("#sun"));
    state->apply(ComposerPrefill{PublishFormat::reel, QStringLiteral("Other"), QStringLiteral("Words"), QString()});
    EXPECT_EQ(state->format(), PublishFormat::carousel);
    EXPECT_EQ(state->caption(), QStringLiteral("Title"));

    ComposerState fresh(h.clock, importer.function());
    fresh.apply(ComposerPrefill{PublishFormat::story, QStringLiteral("T"), QStringLiteral(" "), QString()});
    EXPECT_EQ(fresh.format(), PublishFormat::story);
    EXPECT_EQ(fresh.caption(), QStringLiteral(" ")); // not trimmed before the choice
}

TEST_F(Composer, AddingFilesFollowsTheFormat)
{
    int changes = 0;
    QObject::connect(state.get(), &ComposerState::changed, [&] { ++changes; });
    zktest::run(state->addFiles({}));
    EXPECT_EQ(changes, 0);

    importer.add(QStringLiteral("a.jpg"), picture());
    importer.add(QStringLiteral("b.jpg"), picture());
    importer.add(QStringLiteral("clip.mov"), video(8));
    zktest::run(state->addFiles({file("a.jpg"), file("b.jpg")}));
    ASSERT_EQ(state->media().size(), 1);
    EXPECT_EQ(state->media().first().id, importer.made(QStringLiteral("b.jpg")).id);
    EXPECT_EQ(state->format(), PublishFormat::feed);

    zktest::run(state->addFiles({file("clip.mov")}));
    EXPECT_EQ(state->format(), PublishFormat::reel);

    for (PublishFormat format : {PublishFormat::story, PublishFormat::carousel}) {
        state->setFormat(format);
        zktest::run(state->addFiles({file("clip.mov")}));
        EXPECT_EQ(state->format(), format);
    }
    state->setMedia({});
    zktest::run(state->addFiles({file("a.jpg"), file("b.jpg")}));
    ASSERT_EQ(state->media().size(), 2);
    EXPECT_EQ(state->media().at(1).id, importer.made(QStringLiteral("b.jpg")).id);
}

TEST_F(Composer, AFailedImportNamesItselfAndTheOthersStillCome)
{
    state->setFormat(PublishFormat::carousel);
    importer.add(QStringLiteral("a.jpg"), picture());
    importer.fail(QStringLiteral("notes.pdf"), MediaImportError::unsupportedType(QStringLiteral("notes.pdf")));
    importer.add(QStringLiteral("b.jpg"), picture());
    zktest::run(state->addFiles({file("a.jpg"), file("notes.pdf"), file("b.jpg")}));
    EXPECT_EQ(state->media().size(), 2);
    EXPECT_EQ(state->importProblem(), QStringLiteral("notes.pdf is not a JPEG, PNG, HEIC, MP4 or MOV file."));
    EXPECT_FALSE(state->importing());
    // The next batch starts clean.
    zktest::run(state->addFiles({file("a.jpg")}));
    EXPECT_EQ(state->importProblem(), std::nullopt);
}

TEST_F(Composer, ACoverMustBeAPictureAndAFailedOneKeepsTheLast)
{
    importer.add(QStringLiteral("cover.jpg"), picture());
    importer.add(QStringLiteral("clip.mov"), video(3));
    zktest::run(state->addCover(file("cover.jpg")));
    ASSERT_TRUE(state->cover());
    const QString kept = state->cover()->id;
    zktest::run(state->addCover(file("clip.mov")));
    EXPECT_EQ(state->cover()->id, kept);
    EXPECT_EQ(state->importProblem(), QStringLiteral("A cover is a picture."));
}

TEST_F(Composer, ImportingLastsUntilTheLastOfOverlappingBatchesEnds)
{
    state->setFormat(PublishFormat::carousel);
    importer.add(QStringLiteral("slow.jpg"), picture());
    importer.add(QStringLiteral("fast.jpg"), picture());
    importer.hold(QStringLiteral("slow.jpg"));
    auto slow = state->addFiles({file("slow.jpg")});
    EXPECT_TRUE(state->importing());
    zktest::run(state->addFiles({file("fast.jpg")}));
    // The quick batch is over, the slow one is not: the composer still imports.
    EXPECT_TRUE(state->importing());
    EXPECT_EQ(state->runningImports(), 1);
    importer.release();
    ASSERT_TRUE(zktest::spinUntil([&] { return !state->importing(); }));
    EXPECT_EQ(state->media().size(), 2);
}

TEST_F(Composer, MovingAndRemovingKeepTheRestInOrder)
{
    const ImportedMedia a = picture(), b = picture(), c = picture();
    state->setFormat(PublishFormat::carousel);
    state->setMedia({a, b, c});
    state->move(a, -1);
    state->move(c, 1);
    EXPECT_EQ(state->media(), (QList{a, b, c}));
    state->move(b, -1);
    EXPECT_EQ(state->media(), (QList{b, a, c}));
    state->move(b, 1);
    EXPECT_EQ(state->media(), (QList{a, b, c}));
    state->move(picture(), 1);
    EXPECT_EQ(state->media(), (QList{a, b, c}));
    state->remove(b);
    EXPECT_EQ(state->media(), (QList{a, c}));
}

TEST_F(Composer, TheSubmissionCarriesOnlyWhatTheFormatUses)
{
    const ImportedMedia cover = picture();
    state->setMedia({picture()});
    state->setCover(cover);
    state->setShareToFeed(false);
    state->setTrialEnabled(true);
    state->setTrialGraduation(QStringLiteral("SS_PERFORMANCE"));
    state->setAudioName(QStringLiteral("Rain"));
    state->setCollaboratorsText(QStringLiteral("a b c d"));
    state->setIsAIGenerated(true);
    state->setCaption(QStringLiteral(" Hello "));

    const ComposerSubmission feed = state->submission(false);
    EXPECT_EQ(feed.format, PublishFormat::feed);
    EXPECT_TRUE(feed.shareToFeed);
    EXPECT_FALSE(feed.cover);
    EXPECT_FALSE(feed.trialEnabled);
    EXPECT_EQ(feed.trialGraduation, QStringLiteral("SS_PERFORMANCE"));
    EXPECT_TRUE(feed.audioName.isEmpty());
    EXPECT_EQ(feed.collaborators, (QStringList{"a", "b", "c"}));
    EXPECT_TRUE(feed.isAIGenerated);
    EXPECT_EQ(feed.caption, QStringLiteral(" Hello "));
    EXPECT_FALSE(feed.scheduledAt);
    EXPECT_EQ(feed.idempotencyKey, state->idempotencyKey());

    state->setFormat(PublishFormat::reel);
    state->setScheduleLater(true);
    const ComposerSubmission reel = state->submission(true);
    EXPECT_EQ(reel.cover, cover);
    EXPECT_FALSE(reel.shareToFeed);
    EXPECT_TRUE(reel.trialEnabled);
    EXPECT_EQ(reel.audioName, QStringLiteral("Rain"));
    EXPECT_EQ(reel.scheduledAt, state->scheduledAt());
    EXPECT_TRUE(reel.saveAsDraft);
    EXPECT_EQ(reel.idempotencyKey, state->draftIdempotencyKey());
}

TEST_F(Composer, PreparingAnotherRenewsBothKeysAndKeepsTheOptions)
{
    state->setFormat(PublishFormat::reel);
    state->setMedia({video(5)});
    state->setCover(picture());
    state->setCaption(QStringLiteral("x"));
    state->setHashtags(QStringLiteral("y"));
    state->setScheduleLater(true);
    state->setAudioName(QStringLiteral("Rain"));
    state->setMoreOptions(true);
    state->setOutcome(PublishOutcome::failed(QStringLiteral("no")));
    state->setImportProblem(QStringLiteral("bad"));
    const QString key = state->idempotencyKey(), draftKey = state->draftIdempotencyKey();
    EXPECT_EQ(state->submission(false).idempotencyKey, state->submission(false).idempotencyKey);

    state->prepareAnother();
    EXPECT_NE(state->idempotencyKey(), key);
    EXPECT_NE(state->draftIdempotencyKey(), draftKey);
    EXPECT_TRUE(state->media().isEmpty());
    EXPECT_FALSE(state->cover());
    EXPECT_TRUE(state->caption().isEmpty());
    EXPECT_TRUE(state->hashtags().isEmpty());
    EXPECT_FALSE(state->scheduleLater());
    EXPECT_FALSE(state->outcome());
    EXPECT_FALSE(state->importProblem());
    EXPECT_EQ(state->format(), PublishFormat::reel);
    EXPECT_EQ(state->audioName(), QStringLiteral("Rain"));
    EXPECT_TRUE(state->moreOptions());
}

TEST_F(Composer, FooterButtonsFollowValidityPublishingSavingToThePlanAndTheConnection)
{
    struct Case {
        bool valid, publishing, connected, savingToPlan;
        ComposerActions::Footer want;
    };
    const Case cases[] = {
        {true, false, true, false, {true, true, true, true}},
        {true, false, false, false, {true, true, true, false}},
        {false, false, true, false, {true, true, false, false}},
        {false, false, false, false, {true, true, false, false}},
        {true, true, true, false, {false, false, false, false}},
        {false, true, false, false, {false, false, false, false}},
        // Neither handed over nor kept as a server draft while it goes into the plan.
        {true, false, true, true, {true, false, false, false}},
        {true, false, false, true, {true, false, false, false}},
    };
    for (const Case &c : cases) {
        state->setSavingToPlan(c.savingToPlan);
        state->setMedia(c.valid ? QList{picture()} : QList<ImportedMedia>{});
        state->setCaption(QStringLiteral("words")); // the plan takes it either way
        model->setPublishing(c.publishing ? std::optional(PublishProgress{QStringLiteral("Preparing…"), 0.05})
                                          : std::nullopt);
        if (c.connected)
            model->setInstagram(ZephylWire::InstagramProfile{});
        else
            model->setInstagram(std::nullopt);
        EXPECT_EQ(ComposerActions::footer(*model, *state), c.want)
            << c.valid << c.publishing << c.connected << c.savingToPlan;
    }
}

TEST_F(Composer, SaveToPlanNeedsWordsOrMediaAndIsHeldWhileSavingOrPublishing)
{
    struct Case {
        bool saving, caption, media, publishing, want;
    };
    const Case cases[] = {
        {false, false, false, false, false}, {false, true, false, false, true}, {false, false, true, false, true},
        {false, true, true, false, true},    {true, true, true, false, false},  {false, true, true, true, false},
        {false, true, false, true, false},   {true, false, false, true, false},
    };
    for (const Case &c : cases) {
        state->setSavingToPlan(c.saving);
        state->setCaption(c.caption ? QStringLiteral("x") : QString());
        state->setMedia(c.media ? QList{picture()} : QList<ImportedMedia>{});
        model->setPublishing(c.publishing ? std::optional(PublishProgress{QStringLiteral("Preparing…"), 0.1})
                                          : std::nullopt);
        EXPECT_EQ(ComposerActions::footer(*model, *state).saveToPlan, c.want)
            << c.saving << c.caption << c.media << c.publishing;
    }
    // The action itself refuses while publishing, whatever pressed it.
    state->setSavingToPlan(false);
    model->setPublishing(PublishProgress{QStringLiteral("Preparing…"), 0.1});
    EXPECT_FALSE(zktest::run(ComposerActions::saveToPlan(*model, *state)));
    EXPECT_FALSE(service.calls.contains(QStringLiteral("savePlanDrafts")));
    EXPECT_TRUE(model->planDrafts().isEmpty());
}

TEST_F(Composer, ConfirmingReadsTheRulesAgainAndReturnsToTheEditorWhenOneFails)
{
    model->setComposerPresented(true);
    state->setMedia({picture()});
    state->setScheduleLater(true);
    state->setScheduledAt(h.clock.now().addSecs(301));
    ASSERT_TRUE(ComposerActions::footer(*model, *state).publish);
    state->setConfirming(true);
    h.clock.advance(std::chrono::seconds(2)); // the user read the summary for a while
    zktest::run(ComposerActions::confirm(*model, *state));
    EXPECT_FALSE(state->confirming());
    EXPECT_FALSE(state->outcome());
    EXPECT_FALSE(service.calls.contains(QStringLiteral("createInstagramPublication")));
    EXPECT_EQ(state->validationMessage(), QStringLiteral("Choose a time at least five minutes from now."));

    state->setScheduledAt(h.clock.now().addSecs(3600));
    state->setConfirming(true);
    zktest::run(ComposerActions::confirm(*model, *state));
    ASSERT_TRUE(state->outcome());
    ASSERT_EQ(service.requests.size(), 1);
    EXPECT_EQ(service.requests.first().scheduledAt, h.clock.now().toUTC().addSecs(3600).toString(Qt::ISODate));
}

TEST_F(Composer, ConfirmingWaitsForAnImportStillRunning)
{
    state->setFormat(PublishFormat::carousel);
    state->setMedia({picture()});
    importer.add(QStringLiteral("late.jpg"), picture());
    importer.hold(QStringLiteral("late.jpg"));
    auto adding = state->addFiles({file("late.jpg")});
    state->setConfirming(true);
    auto confirming = ComposerActions::confirm(*model, *state);
    QCoreApplication::processEvents();
    EXPECT_FALSE(service.calls.contains(QStringLiteral("uploadInstagramMedia")));
    importer.release();
    ASSERT_TRUE(zktest::spinUntil([&] { return state->outcome().has_value(); }));
    // Both items went up: the one that was still coming was waited for.
    EXPECT_EQ(service.uploaded.size(), 2);
    EXPECT_EQ(state->outcome()->kind, PublishOutcome::Kind::published);
}

TEST_F(Composer, AConfirmedPostWaitingForAnImportHoldsEveryButtonAndGoesOutOnce)
{
    model->setComposerPresented(true);
    state->setFormat(PublishFormat::carousel);
    state->setMedia({picture()});
    importer.add(QStringLiteral("late.jpg"), picture());
    importer.hold(QStringLiteral("late.jpg"));
    auto adding = state->addFiles({file("late.jpg")});
    state->setMedia({picture(), picture()}); // valid while the third still comes
    ASSERT_TRUE(ComposerActions::footer(*model, *state).publish);
    state->setConfirming(true);
    auto first = ComposerActions::confirm(*model, *state);
    QCoreApplication::processEvents();
    // Confirmed: nothing has reached the service yet, and nothing may start or close meanwhile.
    EXPECT_TRUE(state->sending());
    EXPECT_FALSE(model->publishing());
    EXPECT_EQ(ComposerActions::footer(*model, *state), (ComposerActions::Footer{false, false, false, false}));
    auto second = ComposerActions::confirm(*model, *state);
    auto draft = ComposerActions::saveDraft(*model, *state);
    EXPECT_FALSE(zktest::run(ComposerActions::saveToPlan(*model, *state)));
    importer.release();
    ASSERT_TRUE(zktest::spinUntil([&] { return state->outcome().has_value(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(state->sending());
    EXPECT_EQ(service.keys, QStringList{state->idempotencyKey()});
    EXPECT_EQ(service.requests.first().mediaIds.size(), 3);
    EXPECT_FALSE(service.calls.contains(QStringLiteral("savePlanDrafts")));
    EXPECT_TRUE(ComposerActions::footer(*model, *state).close);
}

TEST_F(Composer, ARuleBrokenAtConfirmOrALostAccountReturnsToTheEditorUnsent)
{
    state->setMedia({picture()});
    state->setAudioName(letters(101)); // hidden for a post: does not block it
    state->setConfirming(true);
    model->setInstagram(std::nullopt); // disconnected while the summary was read
    zktest::run(ComposerActions::confirm(*model, *state));
    EXPECT_FALSE(state->sending());
    EXPECT_FALSE(state->confirming());
    EXPECT_FALSE(state->outcome());
    EXPECT_TRUE(service.keys.isEmpty());
    EXPECT_TRUE(ComposerActions::footer(*model, *state).close);
    EXPECT_FALSE(ComposerActions::footer(*model, *state).publish);
}

TEST_F(Composer, CloseStaysFreeDuringASaveToThePlanWhichClosesTheSheetItself)
{
    model->setComposerPresented(true);
    state->setCaption(QStringLiteral("Morning"));
    state->setFormat(PublishFormat::carousel);
    importer.add(QStringLiteral("late.jpg"), picture());
    importer.hold(QStringLiteral("late.jpg"));
    auto adding = state->addFiles({file("late.jpg")});
    auto saving = ComposerActions::saveToPlan(*model, *state);
    QCoreApplication::processEvents();
    ASSERT_TRUE(state->savingToPlan());
    // Closing leaves the save to finish; only a hand-over to Instagram holds it.
    EXPECT_TRUE(ComposerActions::footer(*model, *state).close);
    importer.release();
    ASSERT_TRUE(zktest::spinUntil([&] { return !state->savingToPlan(); }));
    EXPECT_EQ(model->planDrafts().size(), 1);
    EXPECT_FALSE(model->composerPresented());
}

TEST_F(Composer, SaveToPlanWaitsForAnImportStillRunningAndNothingIsHandedOverMeanwhile)
{
    model->setComposerPresented(true);
    state->setFormat(PublishFormat::carousel);
    state->setMedia({picture()});
    ImportedMedia late = picture();
    late.fileName = QStringLiteral("late.jpg");
    importer.add(QStringLiteral("late.jpg"), late);
    importer.hold(QStringLiteral("late.jpg"));
    auto adding = state->addFiles({file("late.jpg")});
    auto saving = ComposerActions::saveToPlan(*model, *state);
    // Pressed at once after "Save to plan": the post would be both planned and sent.
    auto drafting = ComposerActions::saveDraft(*model, *state);
    state->setConfirming(true);
    auto confirming = ComposerActions::confirm(*model, *state);
    QCoreApplication::processEvents();
    EXPECT_TRUE(state->savingToPlan());
    EXPECT_FALSE(state->sending());
    EXPECT_TRUE(service.calls.isEmpty()) << service.calls.join(u',').toStdString();
    importer.release();
    ASSERT_TRUE(zktest::spinUntil([&] { return !state->savingToPlan(); }));
    QCoreApplication::processEvents();
    // The plan took the first item; nothing was published or kept as a server draft.
    EXPECT_EQ(service.uploaded, QStringList{QStringLiteral("photo.jpg")});
    EXPECT_TRUE(service.requests.isEmpty());
    EXPECT_FALSE(state->outcome());
    EXPECT_TRUE(service.calls.contains(QStringLiteral("savePlanDrafts")));
    EXPECT_EQ(model->notice()->text, QStringLiteral("Saved to the plan."));
    EXPECT_FALSE(model->composerPresented());
}

TEST_F(Composer, AServerDraftAndAPublicationGoUnderKeysOfTheirOwn)
{
    state->setMedia({picture()});
    zktest::run(ComposerActions::saveDraft(*model, *state));
    ASSERT_TRUE(state->outcome());
    EXPECT_EQ(state->outcome()->kind, PublishOutcome::Kind::draftSaved);
    state->setOutcome(std::nullopt);
    zktest::run(ComposerActions::confirm(*model, *state));
    state->setOutcome(std::nullopt);
    zktest::run(ComposerActions::confirm(*model, *state)); // a retry sends the same key
    ASSERT_EQ(service.keys.size(), 3);
    EXPECT_EQ(service.keys.at(0), state->draftIdempotencyKey());
    EXPECT_EQ(service.keys.at(1), state->idempotencyKey());
    EXPECT_EQ(service.keys.at(2), service.keys.at(1));
    EXPECT_NE(service.keys.at(0), service.keys.at(1));
    EXPECT_TRUE(service.requests.at(0).isDraft);
    EXPECT_FALSE(service.requests.at(1).isDraft);
}

TEST_F(Composer, SaveToPlanWithoutMediaAddsADraftSaysSoAndCloses)
{
    model->setComposerPresented(true);
    state->setCaption(QStringLiteral("\n  Hello\t\nworld"));
    state->setHashtags(QStringLiteral("#sun"));
    state->setFormat(PublishFormat::carousel);
    EXPECT_TRUE(zktest::run(ComposerActions::saveToPlan(*model, *state)));
    EXPECT_FALSE(service.calls.contains(QStringLiteral("uploadInstagramMedia")));
    ASSERT_EQ(model->planDrafts().size(), 1);
    const ZephylWire::PlanDraft d = model->planDrafts().first();
    EXPECT_EQ(d.title, QStringLiteral("Hello"));
    EXPECT_EQ(d.caption, QStringLiteral("\n  Hello\t\nworld"));
    EXPECT_EQ(d.hashtags, QStringLiteral("#sun"));
    EXPECT_EQ(d.format, QStringLiteral("carousel"));
    EXPECT_EQ(d.scheduledAt, QString());
    EXPECT_FALSE(d.mediaId);
    EXPECT_FALSE(d.posterMediaId);
    EXPECT_FALSE(d.gridSlot);
    EXPECT_TRUE(service.calls.contains(QStringLiteral("savePlanDrafts")));
    ASSERT_TRUE(model->notice());
    EXPECT_EQ(model->notice()->text, QStringLiteral("Saved to the plan."));
    EXPECT_EQ(model->notice()->tone, AppNotice::Tone::settled);
    EXPECT_FALSE(model->composerPresented());
    EXPECT_FALSE(state->savingToPlan());
}

TEST_F(Composer, SaveToPlanUploadsTheFirstItemAndAVideosPoster)
{
    state->setFormat(PublishFormat::carousel);
    ImportedMedia clip = video(9);
    clip.fileName = QStringLiteral("clip.mp4");
    clip.posterData = QByteArray("jpeg");
    ImportedMedia second = picture();
    second.fileName = QStringLiteral("second.jpg");
    state->setMedia({clip, second});
    state->setScheduleLater(true);
    state->setScheduledAt(QDateTime(QDate(2026, 5, 4), QTime(9, 30, 12, 500), Qt::UTC));
    EXPECT_TRUE(zktest::run(ComposerActions::saveToPlan(*model, *state)));
    EXPECT_EQ(service.uploaded, (QStringList{"clip.mp4", "poster.jpg"}));
    const ZephylWire::PlanDraft d = model->planDrafts().first();
    EXPECT_EQ(d.mediaId, QStringLiteral("id-clip.mp4"));
    EXPECT_EQ(d.posterMediaId, QStringLiteral("id-poster.jpg"));
    EXPECT_EQ(d.scheduledAt, QStringLiteral("2026-05-04T09:30:12Z"));
    EXPECT_TRUE(d.title.isEmpty());
}

TEST_F(Composer, AFailedUploadKeepsTheSheetAndThePlanAsTheyWere)
{
    model->setComposerPresented(true);
    state->setMedia({picture()});
    state->setCaption(QStringLiteral("Morning light"));
    service.uploadFailure = std::make_exception_ptr(ServiceNetworkError(ServiceNetworkError::Code::cannotConnectToHost));
    EXPECT_FALSE(zktest::run(ComposerActions::saveToPlan(*model, *state)));
    EXPECT_TRUE(model->planDrafts().isEmpty());
    EXPECT_TRUE(model->composerPresented());
    EXPECT_FALSE(state->savingToPlan());
    EXPECT_EQ(state->importProblem(),
              AppModel::describe(ServiceNetworkError(ServiceNetworkError::Code::cannotConnectToHost)));
    EXPECT_EQ(state->media().size(), 1);
    EXPECT_EQ(model->session(), SessionState::signedIn) << "no connection is not the session's end";

    // The service refused the session's renewal: signed out as by any other
    // call, the sheet and what was typed in it kept for after the sign-in.
    service.uploadFailure = std::make_exception_ptr(ServiceAPIError::sessionExpired());
    EXPECT_FALSE(zktest::run(ComposerActions::saveToPlan(*model, *state)));
    EXPECT_EQ(model->session(), SessionState::signedOut);
    ASSERT_TRUE(model->notice());
    EXPECT_EQ(model->notice()->text, QStringLiteral("Your session has expired. Sign in again."));
    EXPECT_EQ(service.calls.count(QStringLiteral("logout")), 1);
    EXPECT_TRUE(model->composerPresented());
    EXPECT_EQ(state->caption(), QStringLiteral("Morning light"));
    EXPECT_EQ(state->media().size(), 1);
}

TEST_F(Composer, AFailedPlanSaveIsReportedAndTheSheetStaysForARetryOfTheSameDraft)
{
    model->setComposerPresented(true);
    ComposerActions::followPlan(*model, *state); // as the open sheet does
    state->setCaption(QStringLiteral("Morning light"));
    service.failures.insert(QStringLiteral("savePlanDrafts"),
                            std::make_exception_ptr(ServiceNetworkError(ServiceNetworkError::Code::timedOut)));
    EXPECT_FALSE(zktest::run(ComposerActions::saveToPlan(*model, *state)));
    EXPECT_TRUE(model->composerPresented());
    EXPECT_FALSE(state->savingToPlan());
    EXPECT_EQ(state->caption(), QStringLiteral("Morning light"));
    // This session names no account, so nothing can be kept on the computer for it either.
    EXPECT_EQ(state->importProblem(),
              QStringLiteral("Plan changes are not saved yet and could not be kept on this computer."));
    ASSERT_TRUE(model->notice());
    EXPECT_EQ(model->notice()->tone, AppNotice::Tone::attention);
    ASSERT_EQ(model->planDrafts().size(), 1);
    const qint64 id = model->planDrafts().first().id;
    // Saved by the plan's own retry: the line goes, the sheet stays with the post.
    service.failures.remove(QStringLiteral("savePlanDrafts"));
    zktest::run(model->savePlan());
    EXPECT_FALSE(model->planUnsaved());
    EXPECT_EQ(state->importProblem(), std::nullopt);
    EXPECT_TRUE(model->composerPresented());

    // Meanwhile another client wrote on it what this application does not read,
    // moved and hid it in its own types, and wrote its hashtags as a list: the
    // retry keeps all that, as written, beside the post's own words.
    QList<ZephylWire::PlanDraft> held = model->planDrafts();
    QJsonObject there = held.first().toJson();
    there.insert(QStringLiteral("notes"), QStringLiteral("written elsewhere"));
    there.insert(QStringLiteral("gridSlot"), QStringLiteral("4"));
    there.insert(QStringLiteral("hiddenFromGrid"), QStringLiteral("yes"));
    there.insert(QStringLiteral("hashtags"), QJsonArray{QStringLiteral("#cats"), QStringLiteral("#mornings")});
    held.first() = ZephylWire::PlanDraft::fromJson(there);
    model->setPlanDrafts(held);
    state->setHashtags(QStringLiteral("#cats #mornings"));
    state->setCaption(QStringLiteral("Morning light, again"));
    EXPECT_TRUE(zktest::run(ComposerActions::saveToPlan(*model, *state)));
    ASSERT_EQ(model->planDrafts().size(), 1);
    EXPECT_EQ(model->planDrafts().first().id, id);
    EXPECT_EQ(model->planDrafts().first().caption, QStringLiteral("Morning light, again"));
    EXPECT_EQ(model->planDrafts().first().others, QJsonObject({{"notes", "written elsewhere"}}));
    const QJsonObject written = model->planDrafts().first().toJson();
    EXPECT_EQ(written.value(QStringLiteral("gridSlot")), QJsonValue(QStringLiteral("4")));
    EXPECT_EQ(written.value(QStringLiteral("hiddenFromGrid")), QJsonValue(QStringLiteral("yes")));
    EXPECT_EQ(written.value(QStringLiteral("hashtags")), QJsonValue(QJsonArray{QStringLiteral("#cats"), QStringLiteral("#mornings")}));
    EXPECT_EQ(written.value(QStringLiteral("caption")), QJsonValue(QStringLiteral("Morning light, again")));
    EXPECT_EQ(model->notice()->text, QStringLiteral("Saved to the plan."));
    EXPECT_FALSE(model->composerPresented());
}

TEST(ComposerTitle, TheFirstNonEmptyLineTrimmedOfSpacesAndTabs)
{
    EXPECT_EQ(ComposerActions::planTitle(QStringLiteral("\n  Hello")), QStringLiteral("Hello"));
    EXPECT_EQ(ComposerActions::planTitle(QStringLiteral("\n\n\n")), QString());
    EXPECT_EQ(ComposerActions::planTitle(QStringLiteral("   \nsecond")), QString());
    EXPECT_EQ(ComposerActions::planTitle(QString()), QString());
}
