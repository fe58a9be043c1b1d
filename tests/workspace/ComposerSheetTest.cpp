// The composer sheet offscreen over the scripted service: the footer, the
// confirmation, the publishing overlay that holds Close and Escape, the
// outcome page, the drop target and the fields.

#include "ScreensTestSupport.h"
#include "support/TextPixels.h"

#include "app/ComposerTestSupport.h"
#include "app/ComposerActions.h"
#include "base/RecordStore.h"
#include "services/ServiceErrors.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/DateText.h"
#include "design/L10n.h"
#include "design/StatusPill.h"
#include "workspace/ComposerParts.h"
#include "workspace/ComposerView.h"
#include "workspace/WorkspaceRootView.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>
#include <QDateTimeEdit>
#include <QMimeData>
#include <QTimeZone>
#include <QPlainTextEdit>
#include <QPointer>

#include <algorithm>

using namespace flowtest;
using namespace screentest;
using namespace composertest;

namespace {

class SheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ComposerView::defaultHooks() = ComposerView::Hooks{
            importer.function(), [this](bool multiple, const QString &, QWidget *) {
                pickedMultiple << multiple;
                return picks;
            },
            [this](const QUrl &url) { opened << url; }};
        model().setUser(user("kitty@example.com"));
        model().setSession(SessionState::signedIn);
        ZephylWire::InstagramProfile profile;
        profile.username = QStringLiteral("kitty.studio");
        model().setInstagram(profile);
        root = host.show(new WorkspaceRootView(model()));
        model().setComposerPresented(true);
        settle();
    }
    void TearDown() override { ComposerView::defaultHooks() = {}; }

    AppModel &model() { return flows.model(); }
    // Confirmed, the creation's answer lost and the look-up unanswered.
    void confirmLosingTheAnswer()
    {
        flows.service.failures["createInstagramPublication"] =
            std::make_exception_ptr(ServiceNetworkError(ServiceNetworkError::Code::connectionLost));
        flows.service.failures["existingInstagramPublication"] =
            std::make_exception_ptr(ServiceNetworkError(ServiceNetworkError::Code::cannotConnectToHost));
        finish(ComposerActions::confirm(model(), state()));
        settle();
    }
    ComposerView *view() const
    {
        return root->composerSheet() ? root->composerSheet()->findChild<ComposerView *>() : nullptr;
    }
    ComposerState &state() const { return view()->state(); }

    AppearanceGuard appearance;
    Flows flows;
    Host host;
    WorkspaceRootView *root = nullptr;
    FakeImporter importer;
    QList<QUrl> picks;
    QList<bool> pickedMultiple;
    QList<QUrl> opened;
};

} // namespace

TEST_F(SheetTest, WhilePublishingCloseAndEscapeAreHeldAndTheOverlayShowsTheStep)
{
    ASSERT_NE(view(), nullptr);
    state().setMedia({picture()});
    settle();
    ASSERT_TRUE(view()->publishButton()->isEnabled());
    flows.service.held.insert(QStringLiteral("createInstagramPublication"));

    click(view()->publishButton());
    ASSERT_NE(view()->confirmation(), nullptr);
    // Confirmed from the keyboard: it waits on the composer while nothing in
    // it can be used, and goes on to the outcome page's first button.
    host.window->activateWindow();
    ASSERT_TRUE(zktest::spinUntil([&] { return view()->confirmation()->confirmButton()->hasFocus(); }));
    key(view()->confirmation()->confirmButton(), Qt::Key_Space);
    ASSERT_TRUE(zktest::spinUntil([&] { return flows.service.waiting("createInstagramPublication") == 1; }));
    settle();
    EXPECT_EQ(view()->confirmation(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), view());

    ASSERT_TRUE(model().publishing());
    PublishingOverlay *overlay = view()->publishingOverlay();
    ASSERT_NE(overlay, nullptr);
    EXPECT_TRUE(overlay->isVisible());
    EXPECT_EQ(overlay->step()->text(), QStringLiteral("Handing over to Instagram…"));
    EXPECT_GT(overlay->step()->height(), 0);
    EXPECT_TRUE(overlay->step()->isVisibleTo(overlay));
    EXPECT_TRUE(texts(overlay).contains(
        QStringLiteral("Keep this window open. A retry after a failure will not publish twice.")));

    EXPECT_FALSE(view()->closeButton()->isEnabled());
    EXPECT_FALSE(view()->publishButton()->isEnabled());
    EXPECT_FALSE(view()->saveDraftButton()->isEnabled());
    EXPECT_FALSE(view()->saveToPlanButton()->isEnabled());
    // The dimmed editor takes no typing either.
    EXPECT_FALSE(view()->editor()->captionEditor()->isEnabled());
    click(view()->closeButton());
    key(view(), Qt::Key_Escape);
    key(root->composerSheet(), Qt::Key_Escape);
    EXPECT_TRUE(model().composerPresented());
    EXPECT_FALSE(view()->requestDismiss());
    EXPECT_TRUE(model().composerPresented());

    ZephylWire::Publication done;
    done.id = QStringLiteral("p1");
    done.status = QStringLiteral("published");
    flows.service.release("createInstagramPublication", Reply::of(done));
    ASSERT_TRUE(zktest::spinUntil([&] { return state().outcome().has_value(); }));
    settle();
    EXPECT_EQ(view()->publishingOverlay(), nullptr);
    ASSERT_NE(view()->outcomePage(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), view()->outcomePage()->anotherButton());
    EXPECT_TRUE(view()->closeButton()->isEnabled());
    EXPECT_FALSE(view()->saveToPlanButton()->isVisible()); // no footer under an outcome
    key(root->composerSheet(), Qt::Key_Escape);
    EXPECT_FALSE(model().composerPresented());
}

TEST_F(SheetTest, AConfirmedPostWaitingForAnImportShowsTheHandoverAndHoldsClose)
{
    ZephylWire::Publication done;
    done.id = QStringLiteral("p1");
    done.status = QStringLiteral("published");
    flows.service.results.insert(QStringLiteral("createInstagramPublication"), std::any(done));
    importer.add(QStringLiteral("late.jpg"), picture());
    importer.hold(QStringLiteral("late.jpg"));
    state().setFormat(PublishFormat::carousel);
    state().setMedia({picture(), picture()});
    picks = {file("late.jpg")};
    click(view()->editor()->addButton());
    settle();
    ASSERT_TRUE(state().importing());
    click(view()->publishButton());
    ASSERT_NE(view()->confirmation(), nullptr);
    click(view()->confirmation()->confirmButton());
    settle();
    EXPECT_EQ(view()->confirmation(), nullptr);
    EXPECT_FALSE(model().publishing());
    // Confirmed: the handover has begun for the user, though the import still runs.
    ASSERT_NE(view()->publishingOverlay(), nullptr);
    EXPECT_TRUE(view()->publishingOverlay()->isVisible());
    EXPECT_EQ(view()->publishingOverlay()->step()->text(), QStringLiteral("Preparing…"));
    EXPECT_FALSE(view()->closeButton()->isEnabled());
    EXPECT_FALSE(view()->publishButton()->isEnabled());
    EXPECT_FALSE(view()->saveDraftButton()->isEnabled());
    EXPECT_FALSE(view()->saveToPlanButton()->isEnabled());
    key(root->composerSheet(), Qt::Key_Escape);
    EXPECT_TRUE(model().composerPresented());

    importer.release();
    ASSERT_TRUE(zktest::spinUntil([&] { return state().outcome().has_value(); }));
    settle();
    EXPECT_EQ(view()->publishingOverlay(), nullptr);
    EXPECT_EQ(flows.service.count("createInstagramPublication"), 1);
    EXPECT_TRUE(view()->closeButton()->isEnabled());
}

// Closed during a save to the plan, the post still reaches the plan, and a
// composer opened meanwhile stays open.
TEST_F(SheetTest, ClosedDuringASaveToThePlanThePostStillReachesThePlan)
{
    state().setCaption(QStringLiteral("Morning"));
    flows.service.held.insert(QStringLiteral("savePlanDrafts"));
    click(view()->saveToPlanButton());
    ASSERT_TRUE(state().savingToPlan());
    const QPointer<ComposerState> closed = &state();
    click(view()->closeButton());
    EXPECT_FALSE(model().composerPresented());
    model().setComposerPresented(true);
    settle();
    flows.service.release("savePlanDrafts", Reply{});
    ASSERT_TRUE(zktest::spinUntil([&] { return !closed; }));
    ASSERT_EQ(model().planDrafts().size(), 1);
    EXPECT_EQ(model().notice()->text, QStringLiteral("Saved to the plan."));
    EXPECT_TRUE(model().composerPresented());
}

// "Save to plan", then at once "Publish now…" and its confirmation, or the
// server draft: nothing goes out while the post is being saved to the plan (it
// would be both planned and published). Planned, the sheet closes.
TEST_F(SheetTest, WhileThePostIsSavedToThePlanNothingIsHandedOver)
{
    state().setCaption(QStringLiteral("Morning"));
    state().setMedia({picture()});
    flows.service.held.insert(QStringLiteral("savePlanDrafts"));
    click(view()->saveToPlanButton());
    ASSERT_TRUE(state().savingToPlan());
    EXPECT_FALSE(view()->publishButton()->isEnabled());
    EXPECT_FALSE(view()->saveDraftButton()->isEnabled());
    EXPECT_TRUE(view()->closeButton()->isEnabled());
    click(view()->publishButton());
    click(view()->saveDraftButton());
    EXPECT_EQ(view()->confirmation(), nullptr);
    const QPointer<ComposerState> post = &state();
    flows.service.release("savePlanDrafts", Reply{});
    ASSERT_TRUE(zktest::spinUntil([&] { return !post || !post->savingToPlan(); }));
    settle();
    EXPECT_EQ(flows.service.count("createInstagramPublication"), 0);
    EXPECT_EQ(model().planDrafts().size(), 1);
    EXPECT_FALSE(model().composerPresented());
}

TEST_F(SheetTest, TheFooterFollowsThePostAndTheConnection)
{
    EXPECT_FALSE(view()->saveToPlanButton()->isEnabled());
    EXPECT_FALSE(view()->saveDraftButton()->isEnabled());
    EXPECT_FALSE(view()->publishButton()->isEnabled());
    EXPECT_EQ(view()->validationText()->text(), QStringLiteral("Add a picture or a video."));
    // Beside the buttons, read whole.
    EXPECT_EQ(cutLabels(view()), QStringList());

    state().setCaption(QStringLiteral("words"));
    settle();
    EXPECT_TRUE(view()->saveToPlanButton()->isEnabled());
    EXPECT_FALSE(view()->publishButton()->isEnabled());

    state().setMedia({picture()});
    settle();
    EXPECT_FALSE(view()->validationText()->isVisibleTo(view()));
    EXPECT_EQ(view()->publishButton()->text(), QStringLiteral("Publish now…"));
    state().setScheduleLater(true);
    settle();
    EXPECT_EQ(view()->publishButton()->text(), QStringLiteral("Schedule…"));
    EXPECT_TRUE(view()->publishButton()->isEnabled());

    model().setInstagram(std::nullopt);
    settle();
    EXPECT_FALSE(view()->publishButton()->isEnabled());
    EXPECT_TRUE(view()->saveDraftButton()->isEnabled());
    EXPECT_TRUE(texts(view()).contains(QStringLiteral("Instagram not connected")));
}

// Words that match the state: a save to the plan that failed says so under the
// media until the plan's own retry has saved it; signed in off line, the header
// says the service cannot be reached, not that Instagram is not connected.
TEST_F(SheetTest, ItsWordsFollowThePlansRetryAndTheService)
{
    const auto offline = std::make_exception_ptr(ServiceNetworkError(ServiceNetworkError::Code::cannotConnectToHost));
    flows.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    flows.service.results["instagramProfile"] = model().instagram();
    flows.service.failures["savePlanDrafts"] = offline;
    finish(model().finishSignIn());
    settle();
    state().setCaption(QStringLiteral("Morning"));
    click(view()->saveToPlanButton());
    ASSERT_TRUE(zktest::spinUntil([&] { return !state().savingToPlan(); }));
    settle();
    EXPECT_TRUE(texts(view()).contains(QStringLiteral("Plan changes are kept here but not saved yet.")));
    flows.service.failures.clear();
    finish(model().savePlan());
    settle();
    EXPECT_FALSE(model().planUnsaved());
    EXPECT_FALSE(view()->editor()->problem()->isVisibleTo(view()));
    EXPECT_FALSE(texts(view()).contains(QStringLiteral("Plan changes are kept here but not saved yet.")));

    auto *pill = view()->findChild<StatusPill *>();
    ASSERT_NE(pill, nullptr);
    EXPECT_EQ(pill->text(), QStringLiteral("@kitty.studio"));
    finish(model().signOut());
    flows.service.failures["instagramProfile"] = offline;
    finish(model().finishSignIn());
    model().openComposer(std::nullopt);
    settle();
    ASSERT_NE(view(), nullptr);
    pill = view()->findChild<StatusPill *>();
    EXPECT_EQ(pill->text(), QStringLiteral("sorvane.app can't be reached"));
    EXPECT_EQ(pill->tone(), PillTone::neutral);
    EXPECT_FALSE(texts(view()).contains(QStringLiteral("Instagram not connected")));
    // Answered, and truly not connected: said so, in the attention tone.
    flows.service.failures.remove("instagramProfile");
    flows.service.results["instagramProfile"] = std::optional<ZephylWire::InstagramProfile>();
    finish(model().loadPlan());
    settle();
    EXPECT_EQ(pill->text(), QStringLiteral("Instagram not connected"));
    EXPECT_EQ(pill->tone(), PillTone::attention);
}

TEST_F(SheetTest, TheConfirmationSummarisesAndBackOrEscapeOnlyClosesIt)
{
    state().setFormat(PublishFormat::reel);
    state().setMedia({video(30)});
    state().setCover(picture());
    state().setShareToFeed(false);
    state().setTrialEnabled(true);
    state().setCollaboratorsText(QStringLiteral("north east"));
    state().setCaption(QStringLiteral("  Dusk  "));
    state().setHashtags(QStringLiteral("cat"));
    state().setConfirming(true);
    settle();
    ComposerConfirmationSheet *sheet = view()->confirmation();
    ASSERT_NE(sheet, nullptr);
    const QList<QPair<QString, QString>> want{{"Format", "Reel"},          {"Media", "1 item(s)"},
                                              {"Account", "\u200E@kitty.studio"}, {"When", "Now"},
                                              {"Profile grid", "No"},      {"Trial Reel", "Yes"},
                                              {"Collaborators", "\u200E@north, \u200E@east"}};
    const auto lines = sheet->lines();
    ASSERT_EQ(lines.size(), want.size());
    for (qsizetype i = 0; i < want.size(); ++i) {
        EXPECT_EQ(lines.at(i).first, want.at(i).first);
        // A handle carries a left-to-right mark before its "@".
        EXPECT_EQ(QString(lines.at(i).second).remove(QChar(0x200E)), QString(want.at(i).second).remove(QChar(0x200E)));
    }
    EXPECT_TRUE(texts(sheet).contains(QStringLiteral("Format")));
    EXPECT_EQ(sheet->title()->text(), QStringLiteral("Publish this now?"));
    EXPECT_EQ(sheet->preview()->text(), QStringLiteral("Dusk\n\n#cat"));
    EXPECT_EQ(sheet->preview()->maxLines(), 6);
    EXPECT_EQ(sheet->confirmButton()->text(), QStringLiteral("Confirm and publish"));

    // The composer refreshes every second; what the sheet shows is made once and
    // made again only when it changes.
    const auto shownTexts = [&] {
        QStringList out;
        for (QString text : texts(sheet->card()))
            out << text.remove(QChar(0x202A)).remove(QChar(0x202C)).remove(QChar(0x200E));
        return out;
    };
    QList<QPointer<TextBlock>> blocks;
    for (TextBlock *block : sheet->card()->findChildren<TextBlock *>())
        blocks << block;
    for (int second = 0; second < 5; ++second) {
        flows.h.clock.advance(std::chrono::seconds(1));
        settle();
    }
    EXPECT_EQ(std::count_if(blocks.begin(), blocks.end(), [](const auto &b) { return b.isNull(); }), 0)
        << "nothing was made again";
    EXPECT_EQ(sheet->card()->findChildren<TextBlock *>().size(), blocks.size());
    EXPECT_EQ(shownTexts().count(QStringLiteral("No")), 1);
    state().setShareToFeed(true);
    settle();
    EXPECT_EQ(shownTexts().count(QStringLiteral("No")), 0) << shownTexts().join(u'|').toStdString();
    EXPECT_EQ(shownTexts().count(QStringLiteral("Yes")), 2);

    state().setScheduleLater(true);
    settle();
    EXPECT_EQ(sheet->title()->text(), QStringLiteral("Schedule this publication?"));
    EXPECT_EQ(sheet->confirmButton()->text(), QStringLiteral("Confirm and schedule"));

    // The keyboard goes round its two buttons, never to the composer dimmed behind it.
    EXPECT_EQ(QApplication::focusWidget(), sheet->confirmButton());
    for (auto [k, want] : {std::pair(Qt::Key_Tab, sheet->backButton()), std::pair(Qt::Key_Tab, sheet->confirmButton()),
                           std::pair(Qt::Key_Backtab, sheet->backButton()), std::pair(Qt::Key_Backtab, sheet->confirmButton())}) {
        key(QApplication::focusWidget(), k);
        EXPECT_EQ(QApplication::focusWidget(), want) << k;
    }
    key(view(), Qt::Key_Escape);
    EXPECT_FALSE(state().confirming());
    EXPECT_TRUE(model().composerPresented());
    // Opened from the keyboard, it gives the keyboard back to its button.
    view()->publishButton()->setFocus(Qt::TabFocusReason);
    key(view()->publishButton(), Qt::Key_Space);
    ASSERT_NE(view()->confirmation(), nullptr);
    click(view()->confirmation()->backButton());
    EXPECT_FALSE(state().confirming());
    EXPECT_EQ(QApplication::focusWidget(), view()->publishButton());
    EXPECT_EQ(flows.service.count("createInstagramPublication"), 0);
}

TEST_F(SheetTest, TheOutcomePageOpensOnlyInstagramsOwnHttpsAddresses)
{
    ZephylWire::Publication p;
    p.status = QStringLiteral("published");
    p.platformUrl = QUrl(QStringLiteral("javascript:alert(1)"));
    state().setOutcome(PublishOutcome::published(p));
    settle();
    ASSERT_NE(view()->outcomePage(), nullptr);
    EXPECT_EQ(view()->outcomePage()->openButton(), nullptr);
    view()->openPost(p.platformUrl);
    view()->openPost(QUrl(QStringLiteral("http://www.instagram.com/p/x/")));
    view()->openPost(QUrl(QStringLiteral("https://instagram.com.evil.example/p/x/")));
    EXPECT_TRUE(opened.isEmpty());

    p.platformUrl = QUrl(QStringLiteral("https://www.instagram.com/p/abc/"));
    state().setOutcome(PublishOutcome::published(p));
    settle();
    ASSERT_NE(view()->outcomePage()->openButton(), nullptr);
    click(view()->outcomePage()->openButton());
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.instagram.com/p/abc/"))});
    EXPECT_NE(view()->outcomePage()->anotherButton(), nullptr);
    EXPECT_EQ(view()->outcomePage()->backButton(), nullptr);
}

TEST_F(SheetTest, AFailureGoesBackToEditingWithTheSamePostAndKey)
{
    state().setMedia({picture()});
    state().setCaption(QStringLiteral("kept"));
    const QString key = state().idempotencyKey();
    state().setOutcome(PublishOutcome::failed(QStringLiteral("Instagram took too long to process the media.")));
    settle();
    ComposerOutcomeView *page = view()->outcomePage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->detail()->text(), QStringLiteral("Instagram took too long to process the media."));
    EXPECT_EQ(page->anotherButton(), nullptr);
    click(page->backButton());
    EXPECT_FALSE(state().outcome());
    EXPECT_EQ(state().caption(), QStringLiteral("kept"));
    EXPECT_EQ(state().idempotencyKey(), key);
    EXPECT_EQ(view()->outcomePage(), nullptr);
    EXPECT_TRUE(view()->publishButton()->isVisible());
    EXPECT_TRUE(view()->editor()->captionEditor()->isEnabled());

    ZephylWire::Publication scheduled;
    state().setOutcome(PublishOutcome::scheduled(scheduled));
    settle();
    EXPECT_EQ(view()->outcomePage()->detail()->text(),
              QStringLiteral("The server publishes it at . You can close Zephyl; it does not depend on this computer being "
                             "awake."));
    click(view()->outcomePage()->anotherButton());
    EXPECT_NE(state().idempotencyKey(), key);
    EXPECT_TRUE(state().media().isEmpty());
}

// The post is kept for its account from the moment it holds words, also when
// handed over from a draft editor; a publication whose answer and look-up were
// both lost is shown as not known, stays kept, and becomes what the service
// says once it answers; out, or closed by the user, nothing of it is kept.
TEST_F(SheetTest, ThePostIsKeptUntilItIsOutOrPutAwayAndAnUnknownOutcomeBecomesTheServicesAnswer)
{
    ZephylWire::InstagramProfile profile;
    profile.username = QStringLiteral("kitty.studio");
    flows.service.results["instagramProfile"] = std::optional(profile);
    flows.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    finish(model().finishSignIn());
    model().setComposerPresented(false);
    settle();
    const KeptComposerStore kept(RecordStore::of(flows.h.store));
    const QString owner = QStringLiteral("kitty@example.com");
    model().openComposer(ComposerPrefill{PublishFormat::reel, QStringLiteral("Title"), QStringLiteral("From the editor"),
                                         QStringLiteral("#cat")});
    settle();
    EXPECT_EQ(kept.load(owner), (KeptComposerPost{PublishFormat::reel, QStringLiteral("From the editor"),
                                                  QStringLiteral("#cat"), state().idempotencyKey(),
                                                  state().draftIdempotencyKey(), std::nullopt}));
    state().setFormat(PublishFormat::feed);
    state().setCaption(QStringLiteral("From the editor, and more"));
    state().setMedia({picture()});
    EXPECT_EQ(kept.load(owner)->caption, QStringLiteral("From the editor, and more"));

    confirmLosingTheAnswer();
    ComposerOutcomeView *page = view()->outcomePage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->kind(), PublishOutcome::Kind::unknown);
    EXPECT_TRUE(page->detail()->text().startsWith(QStringLiteral("No connection to sorvane.app right now. The server may "
                                                                 "have published it")));
    EXPECT_NE(page->backButton(), nullptr);
    EXPECT_EQ(page->anotherButton(), nullptr);
    EXPECT_EQ(kept.load(owner)->caption, QStringLiteral("From the editor, and more")) << "not known to be out";
    // Done, and the same post from a new composer: it goes under the first key.
    const QString firstKey = state().idempotencyKey();
    click(page->doneButton());
    model().openComposer(std::nullopt);
    settle();
    state().setCaption(QStringLiteral("From the editor, and more"));
    state().setHashtags(QStringLiteral("#cat"));
    state().setMedia({picture()});
    finish(ComposerActions::confirm(model(), state()));
    EXPECT_EQ(state().idempotencyKey(), firstKey);

    ZephylWire::Publication made;
    made.id = QStringLiteral("pub-1");
    made.status = QStringLiteral("published");
    flows.service.failures.remove("existingInstagramPublication");
    flows.service.results["existingInstagramPublication"] = std::optional(made);
    flows.h.clock.advance(AppModel::kPlanRetryFirst);
    ASSERT_TRUE(zktest::spinUntil([&] { settle(); return view()->outcomePage() && view()->outcomePage()->kind() ==
                                                                                  PublishOutcome::Kind::published; }));
    EXPECT_EQ(kept.load(owner), std::nullopt) << "out: nothing to keep";
    EXPECT_FALSE(model().notice() && model().notice()->text.contains(QStringLiteral("answer was lost")))
        << "told on the page that showed it";

    click(view()->outcomePage()->anotherButton());
    state().setCaption(QStringLiteral("Another"));
    EXPECT_TRUE(kept.load(owner));
    click(view()->closeButton());
    EXPECT_EQ(kept.load(owner), std::nullopt) << "put away by the user";
}

// Back to editing after an outcome not known, the typo fixed, and then the
// service says the first version went out: the page says which version that
// was, the fix stays, and sent it goes out once under a key of its own.
TEST_F(SheetTest, ChangedAfterAnOutcomeNotKnownThePostStaysAndThePageSaysWhichVersionWentOut)
{
    flows.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    flows.service.results["instagramProfile"] = model().instagram();
    finish(model().finishSignIn());
    // Opened for the account, so that it is kept for it.
    model().setComposerPresented(false);
    model().openComposer(std::nullopt);
    settle();
    const KeptComposerStore kept(RecordStore::of(flows.h.store));
    const QString owner = QStringLiteral("kitty@example.com");
    state().setMedia({picture()});
    state().setCaption(QStringLiteral("Morning ligth over the roofs of the old town, before anyone else is awake"));
    confirmLosingTheAnswer();
    ASSERT_NE(view()->outcomePage(), nullptr);
    ASSERT_EQ(view()->outcomePage()->kind(), PublishOutcome::Kind::unknown);
    const QString first = state().idempotencyKey();
    click(view()->outcomePage()->backButton());
    state().setCaption(QStringLiteral("Morning light over the roofs of the old town, before anyone else is awake"));

    ZephylWire::Publication made;
    made.id = QStringLiteral("pub-1");
    made.status = QStringLiteral("published");
    made.caption = QStringLiteral("Morning ligth over the roofs of the old town, before anyone else is awake");
    made.platformUrl = QUrl(QStringLiteral("https://www.instagram.com/p/abc/"));
    flows.service.failures.remove("existingInstagramPublication");
    flows.service.results["existingInstagramPublication"] = std::optional(made);
    flows.h.clock.advance(AppModel::kPlanRetryFirst);
    ASSERT_TRUE(zktest::spinUntil([&] {
        settle();
        return view()->outcomePage() && view()->outcomePage()->kind() == PublishOutcome::Kind::published;
    }));
    ComposerOutcomeView *page = view()->outcomePage();
    EXPECT_EQ(page->detail()->text(),
              QStringLiteral("What went out is the version you sent before your changes: “Morning ligth over the "
                             "roofs of the old town, before anyone…”. Your changes were not sent and are still "
                             "here: go back to editing to send them as a new post."));
    ASSERT_NE(page->backButton(), nullptr);
    EXPECT_EQ(page->anotherButton(), nullptr) << "it would clear the changes";
    ASSERT_NE(page->openButton(), nullptr);
    EXPECT_LT(page->backButton()->x(), page->openButton()->x()) << "the changes first";
    const std::optional<KeptComposerPost> keptNow = kept.load(owner);
    ASSERT_TRUE(keptNow) << "not out: still kept";
    EXPECT_EQ(keptNow->caption, state().caption());
    EXPECT_EQ(keptNow->idempotencyKey, state().idempotencyKey());
    EXPECT_NE(keptNow->idempotencyKey, first);

    click(page->backButton());
    EXPECT_EQ(view()->outcomePage(), nullptr);
    EXPECT_EQ(state().caption(), QStringLiteral("Morning light over the roofs of the old town, before anyone else is awake"));
    flows.service.failures.remove("createInstagramPublication");
    flows.service.results["createInstagramPublication"] = made;
    finish(ComposerActions::confirm(model(), state()));
    settle();
    EXPECT_EQ(flows.service.creationKeys, (QStringList{first, state().idempotencyKey()}));
    EXPECT_NE(state().idempotencyKey(), first);
    ASSERT_NE(view()->outcomePage(), nullptr);
    EXPECT_NE(view()->outcomePage()->anotherButton(), nullptr) << "this one is the post as it stands";
    EXPECT_EQ(kept.load(owner), std::nullopt);
}

// Kept through a kill, the post comes back once its account is known, though
// the plan cannot load: a composer opened before it would write over it.
TEST_F(SheetTest, TheKeptPostComesBackBeforeThePlanHasLoaded)
{
    model().setComposerPresented(false);
    const KeptComposerPost post{PublishFormat::reel, QStringLiteral("Kept"), {}, QStringLiteral("K1"), QStringLiteral("K2"), {}};
    model().keptComposer().save(QStringLiteral("kitty@example.com"), post);
    flows.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    flows.service.failures["planDrafts"] = std::make_exception_ptr(ServiceNetworkError(ServiceNetworkError::Code::cannotConnectToHost));
    finish(model().finishSignIn());
    settle();
    ASSERT_NE(view(), nullptr);
    EXPECT_EQ(state().keptPost(), post);
}

TEST_F(SheetTest, FilesDraggedOverTheSheetLightTheDropZone)
{
    QMimeData files;
    files.setUrls({file("a.jpg")});
    QDragEnterEvent enter(QPoint(500, 300), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(state().dropTargeted());
    QDragLeaveEvent leave;
    QApplication::sendEvent(view(), &leave);
    EXPECT_FALSE(state().dropTargeted());

    QMimeData words;
    words.setText(QStringLiteral("hello"));
    QDragEnterEvent refused(QPoint(500, 300), Qt::CopyAction, &words, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view(), &refused);
    EXPECT_FALSE(refused.isAccepted());
    EXPECT_FALSE(state().dropTargeted());
}

TEST_F(SheetTest, AScheduledOutcomeNamesTheLocalTimeAcrossTheClockChange)
{
    if (QTimeZone::systemTimeZoneId() != "Europe/Berlin")
        GTEST_SKIP() << "runs in the Berlin variant";
    // 29 March 2026: 01:00 UTC is when Berlin moves from 02:00 to 03:00.
    ZephylWire::Publication before;
    before.scheduledAt = QDateTime(QDate(2026, 3, 29), QTime(0, 30), Qt::UTC).toMSecsSinceEpoch();
    state().setOutcome(PublishOutcome::scheduled(before));
    settle();
    const QString winter = view()->outcomePage()->detail()->text();
    EXPECT_TRUE(winter.contains(QStringLiteral("1:30"))) << winter.toStdString();
    EXPECT_TRUE(winter.contains(QStringLiteral("29"))) << winter.toStdString();
    ZephylWire::Publication after = before;
    after.scheduledAt = QDateTime(QDate(2026, 3, 29), QTime(1, 30), Qt::UTC).toMSecsSinceEpoch();
    state().setOutcome(PublishOutcome::scheduled(after));
    settle();
    const QString summer = view()->outcomePage()->detail()->text();
    EXPECT_TRUE(summer.contains(QStringLiteral("3:30"))) << summer.toStdString();
    EXPECT_TRUE(summer.startsWith(QStringLiteral("The server publishes it at Mar 29, 2026, 3:30\u202FAM.")))
        << summer.toStdString();
    // In the language in use, not the system's, as the plan row writes it.
    L10n::setPreference(AppLanguage::de);
    state().setOutcome(PublishOutcome::scheduled(before));
    settle();
    const QString german = view()->outcomePage()->detail()->text();
    L10n::setPreference(AppLanguage::en);
    EXPECT_TRUE(german.contains(QString::fromUtf8("29. März 2026, 01:30"))) << german.toStdString();
}

TEST_F(SheetTest, DroppedFilesArriveAndOtherDataIsRefused)
{
    importer.add(QStringLiteral("a.jpg"), picture());
    importer.add(QStringLiteral("b.jpg"), picture());
    QMimeData words;
    words.setText(QStringLiteral("hello"));
    EXPECT_FALSE(view()->handleDrop(&words));
    QMimeData files;
    files.setUrls({file("a.jpg"), QUrl(QStringLiteral("https://example.com/c.jpg")), file("b.jpg")});
    state().setFormat(PublishFormat::carousel);
    EXPECT_TRUE(view()->handleDrop(&files));
    ASSERT_TRUE(zktest::spinUntil([&] { return state().media().size() == 2; }));
    EXPECT_EQ(importer.asked, (QStringList{"a.jpg", "b.jpg"}));
    settle();
    EXPECT_EQ(view()->editor()->tiles().size(), 2);
    EXPECT_FALSE(view()->editor()->dropZone()->isVisibleTo(view()));
    EXPECT_EQ(view()->editor()->summary()->text(), QStringLiteral("2 items"));
    EXPECT_EQ(view()->editor()->addButton()->text(), QStringLiteral("Add more"));

    // The tile's menu, from the keyboard: its Remove after a divider, in the attention colour.
    QWidget *tile = view()->editor()->tiles().first();
    QStringList entries;
    QRgb removeInk = 0;
    QTimer::singleShot(0, [&] {
        QMenu *menu = nullptr;
        zktest::spinUntil([&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); });
        if (!menu)
            return;
        for (QAction *a : menu->actions())
            entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
        if (const QImage shot = zktest::drawnPixels(menu); !shot.isNull())
            removeInk = zktest::standout(shot, menu->actionGeometry(menu->actions().last()), zktest::commonest(shot)).first;
        menu->close();
    });
    QContextMenuEvent fromKeys(QContextMenuEvent::Keyboard, tile->rect().center());
    QApplication::sendEvent(tile, &fromKeys);
    EXPECT_EQ(entries, (QStringList{"Move earlier", "Move later", "-", "Remove"}));
    EXPECT_GT(qRed(removeInk) - qBlue(removeInk), 60) << std::hex << removeInk;

    // The mark over a tile removes that item and keeps the others.
    const QString kept = state().media().at(1).id;
    const QList<QAbstractButton *> marks = view()->editor()->tiles().first()->findChildren<QAbstractButton *>();
    ASSERT_EQ(marks.size(), 1);
    click(marks.first());
    ASSERT_EQ(state().media().size(), 1);
    EXPECT_EQ(state().media().first().id, kept);
    EXPECT_EQ(view()->editor()->tiles().size(), 1);

    // The picker takes several files for a carousel only.
    picks = {file("a.jpg")};
    click(view()->editor()->addButton());
    state().setFormat(PublishFormat::feed);
    settle();
    EXPECT_EQ(view()->editor()->addButton()->text(), QStringLiteral("Replace"));
    click(view()->editor()->addButton());
    EXPECT_EQ(pickedMultiple, (QList<bool>{true, false}));
}

TEST_F(SheetTest, SummariesCountersAndRowsFollowThePost)
{
    ComposerEditor *editor = view()->editor();
    EXPECT_EQ(mediaSummary({picture(QSizeF(1080, 1350))}), QStringLiteral("1080x1350"));
    EXPECT_EQ(mediaSummary({video(5.4, QSizeF(720, 1280))}), QStringLiteral("0:05 \u00B7 720x1280"));
    EXPECT_EQ(mediaSummary({video(75.9, QSizeF(1080, 1920))}), QStringLiteral("1:15 \u00B7 1080x1920"));

    EXPECT_EQ(editor->counter()->text(), QStringLiteral("0 / 2200"));
    EXPECT_EQ(editor->hint()->text(), QStringLiteral("0 tags · up to five is plenty"));
    state().setHashtags(QStringLiteral("#a #b"));
    settle();
    EXPECT_EQ(editor->counter()->text(), QStringLiteral("5 / 2200"));
    state().setHashtags(QString());
    state().setCaption(QString(2200, QLatin1Char('x')));
    settle();
    EXPECT_EQ(editor->captionEditor()->toPlainText().size(), 2200);
    EXPECT_EQ(editor->counter()->colorRole(), ZephylPalette::Color::muted);
    state().setCaption(QString(2201, QLatin1Char('x')));
    settle();
    EXPECT_EQ(editor->counter()->colorRole(), ZephylPalette::Color::attention);

    QStringList tags;
    for (int i = 0; i < 31; ++i)
        tags << QStringLiteral("t%1").arg(i);
    state().setHashtags(tags.mid(0, 5).join(QLatin1Char(' ')));
    settle();
    EXPECT_EQ(editor->hint()->text(), QStringLiteral("5 tags · up to five is plenty"));
    state().setHashtags(tags.mid(0, 30).join(QLatin1Char(' ')));
    settle();
    EXPECT_EQ(editor->hint()->text(), QStringLiteral("30 tags · fewer, narrower tags usually help more"));
    EXPECT_EQ(editor->hint()->colorRole(), ZephylPalette::Color::muted);
    state().setHashtags(tags.join(QLatin1Char(' ')));
    settle();
    EXPECT_EQ(editor->hint()->colorRole(), ZephylPalette::Color::attention);

    // Rows by format, with the section open.
    state().setMoreOptions(true);
    state().setFormat(PublishFormat::story);
    settle();
    auto shown = [&](QWidget *w) { return w->isVisibleTo(view()); };
    EXPECT_FALSE(shown(editor->coverRow()));
    EXPECT_FALSE(shown(editor->collaboratorsField()));
    EXPECT_FALSE(shown(editor->audioField()));
    EXPECT_TRUE(shown(editor->aiBox()));
    state().setFormat(PublishFormat::reel);
    settle();
    EXPECT_TRUE(shown(editor->coverRow()));
    EXPECT_TRUE(shown(editor->shareToFeedBox()));
    EXPECT_FALSE(shown(editor->graduationGroup()));
    editor->trialBox()->click();
    settle();
    EXPECT_TRUE(state().trialEnabled());
    EXPECT_TRUE(shown(editor->graduationGroup()));
    EXPECT_TRUE(shown(editor->audioField()));
    EXPECT_TRUE(shown(editor->collaboratorsField()));

    // Later shows the date and the note; the user's edits reach the state.
    EXPECT_FALSE(shown(editor->datePicker()));
    QTest::mouseClick(editor->whenPicker(), Qt::LeftButton, {},
                      editor->whenPicker()->segmentRect(1).center().toPoint());
    settle();
    EXPECT_TRUE(state().scheduleLater());
    EXPECT_TRUE(shown(editor->datePicker()));
    EXPECT_TRUE(texts(view()).contains(QStringLiteral("The server publishes at that time, even if this computer is asleep.")));
}

TEST_F(SheetTest, TheDatePickerKeepsWhatIsBeingTypedWhileTheSecondsRun)
{
    state().setMedia({picture()});
    state().setScheduleLater(true);
    settle();
    QDateTimeEdit *picker = view()->editor()->datePicker();
    ASSERT_TRUE(picker->isVisibleTo(view()));
    picker->setFocus();
    settle();
    EXPECT_TRUE(picker->hasFocus());
    picker->setSelectedSection(QDateTimeEdit::MinuteSection);
    const QTime before = state().scheduledAt().toLocalTime().time();
    QTest::keyClick(picker, Qt::Key_3);
    QTest::keyClick(picker, Qt::Key_0);
    settle();
    EXPECT_EQ(state().scheduledAt().toLocalTime().time().minute(), 30) << picker->text().toStdString();
    // Two digits typed a second apart: the redraw between them must not undo the first.
    picker->setSelectedSection(QDateTimeEdit::MinuteSection);
    QTest::keyClick(picker, Qt::Key_4);
    flows.h.clock.advance(std::chrono::seconds(1));
    settle();
    QTest::keyClick(picker, Qt::Key_5);
    flows.h.clock.advance(std::chrono::seconds(1));
    settle();
    const QTime after = state().scheduledAt().toLocalTime().time();
    EXPECT_EQ(after.minute(), 45) << picker->text().toStdString();
    EXPECT_EQ(after.hour(), before.hour());
}

// In every language the field writes the time as the confirmation and the plan
// do, in the week the clocks change (Dutch "29 mrt. 2026 13:32" everywhere,
// never "mrt" in one place and "mrt." in another). In Arabic and Hebrew it reads
// right to left as they do: the day first, at the right, then the month, the
// year and the time, whose digits still run hours then minutes; Tab walks the
// fields in that order, and so does the arrow toward the reading end, Left
// there and Right elsewhere, with or without Control. The caption starts on the
// language's side.
TEST_F(SheetTest, TheDatePickerWritesTheDateAsThePlanDoesAndReadsInTheLanguagesDirection)
{
    const Qt::LayoutDirection was = QApplication::layoutDirection();
    const QDateTime spring(QDate(2026, 3, 29), QTime(13, 32)), winter(QDate(2026, 12, 18), QTime(11, 58));
    for (AppLanguage language : AppLanguages::spoken()) {
        SCOPED_TRACE(AppLanguages::rawValue(language).toStdString());
        model().setComposerPresented(false);
        model().setLanguage(language);
        QApplication::setLayoutDirection(L10n::layoutDirection()); // as the application does
        model().setComposerPresented(true);
        settle();
        state().setScheduleLater(true);
        state().setScheduledAt(spring.toUTC());
        settle();
        QDateTimeEdit *picker = view()->editor()->datePicker();
        const QString written = QString(DateText::dateTime(spring)).remove(QChar(0x2068)).remove(QChar(0x2069));
        EXPECT_EQ(picker->text(), written);
        expectCaptionOnTheLeadingSide(view()->editor()->captionEditor(), L10n::layoutDirection());
        QFocusEvent tabbedIn(QEvent::FocusIn, Qt::TabFocusReason);
        if (!AppLanguages::isRightToLeft(language)) {
            QApplication::sendEvent(picker, &tabbedIn);
            ASSERT_EQ(picker->currentSectionIndex(), 0);
            QTest::keyClick(picker, Qt::Key_Right, Qt::ControlModifier);
            EXPECT_EQ(picker->currentSectionIndex(), 1);
            QTest::keyClick(picker, Qt::Key_Left, Qt::ControlModifier);
            EXPECT_EQ(picker->currentSectionIndex(), 0);
            continue;
        }
        state().setScheduledAt(winter.toUTC());
        settle();
        const QString month = picker->sectionText(QDateTimeEdit::MonthSection);
        EXPECT_EQ(fromTheRight(picker, {"11", "58", "2026", month, "18"}), (QStringList{"18", month, "2026", "58", "11", "▾"}));
        QApplication::sendEvent(picker, &tabbedIn);
        EXPECT_EQ(picker->currentSection(), QDateTimeEdit::DaySection);
        QTest::keyClick(picker, Qt::Key_Left);
        EXPECT_EQ(picker->currentSection(), QDateTimeEdit::MonthSection);
        QTest::keyClick(picker, Qt::Key_Left);
        EXPECT_EQ(picker->currentSection(), QDateTimeEdit::YearSection);
        QTest::keyClick(picker, Qt::Key_Right, Qt::ControlModifier);
        EXPECT_EQ(picker->currentSection(), QDateTimeEdit::MonthSection);
        QTest::keyClick(picker, Qt::Key_Left, Qt::ControlModifier);
        EXPECT_EQ(picker->currentSection(), QDateTimeEdit::YearSection);
        QTest::keyClick(picker, Qt::Key_Right);
        QTest::keyClick(picker, Qt::Key_Right);
        QTest::keyClick(picker, Qt::Key_Right);
        EXPECT_EQ(picker->currentSection(), QDateTimeEdit::DaySection) << "the first part stays the first";
        // Up then changes the part reached.
        QTest::keyClick(picker, Qt::Key_Left);
        QTest::keyClick(picker, Qt::Key_Left);
        QTest::keyClick(picker, Qt::Key_Up);
        EXPECT_EQ(picker->date(), QDate(2027, 12, 18));
    }
    QApplication::setLayoutDirection(was);
}

// In the dark a long caption's scroll bar is the palette's thin thumb, and the
// date field's calendar opens on the palette's ground, made in the light as it was.
TEST_F(SheetTest, TheDateFieldsCalendarAndTheCaptionsScrollBarFollowTheDark)
{
    state().setScheduleLater(true);
    settle();
    AppearanceService::shared().setTheme(AppTheme::dark);
    view()->editor()->captionEditor()->setPlainText(QStringList(30, QStringLiteral("A caption line.")).join(u'\n'));
    EXPECT_EQ(zktest::darkScrollBarFault(view()->editor()->captionEditor()->verticalScrollBar()).toStdString(), "");
    EXPECT_EQ(darkCalendarFault(view()->editor()->datePicker()).toStdString(), "");
}

// In Arabic the date field shows its whole text, the day at its right clear of
// the edge, also when the text is wider than those of the range's two ends: an
// hour of two digits just after midnight, the earliest time taken being now.
TEST_F(SheetTest, TheDateFieldsWholeTextStandsInsideItInArabic)
{
    const Qt::LayoutDirection was = QApplication::layoutDirection();
    const QTimeZone zone = QTimeZone::systemTimeZone();
    flows.h.clock.setNow(QDateTime(QDate(2026, 12, 8), QTime(23, 52), zone));
    model().setComposerPresented(false);
    model().setLanguage(AppLanguage::ar);
    QApplication::setLayoutDirection(Qt::RightToLeft);
    model().setComposerPresented(true);
    settle();
    state().setScheduleLater(true);
    state().setScheduledAt(QDateTime(QDate(2026, 12, 9), QTime(0, 52), zone).toUTC());
    settle();
    QDateTimeEdit *picker = view()->editor()->datePicker();
    ASSERT_TRUE(picker->text().startsWith(QStringLiteral("9 "))) << picker->text().toStdString();
    const DrawnDate date = drawnDate(picker);
    EXPECT_GE(date.ink, date.whole - 4) << "drawn " << date.ink << " of " << date.whole;
    // As far in as the words of the rounded text fields around it.
    EXPECT_GE(date.room, 10) << "the day stands " << date.room << " from the edge";
    model().setComposerPresented(false);
    model().setLanguage(AppLanguage::en);
    QApplication::setLayoutDirection(was);
}

// In Arabic the drop zone's line of file kinds reads from the right, though it
// begins with a Latin word: "JPEG" is drawn at the right of the line, not at
// its left as a line laid out left to right would have it.
TEST_F(SheetTest, TheDropZonesLineOfKindsReadsFromTheRightInArabic)
{
    const Qt::LayoutDirection was = QApplication::layoutDirection();
    model().setComposerPresented(false);
    model().setLanguage(AppLanguage::ar);
    QApplication::setLayoutDirection(Qt::RightToLeft);
    model().setComposerPresented(true);
    settle();
    TextBlock *kinds = nullptr;
    for (TextBlock *block : view()->editor()->dropZone()->findChildren<TextBlock *>()) {
        if (block->text().startsWith(QStringLiteral("JPEG ")))
            kinds = block;
    }
    ASSERT_NE(kinds, nullptr);
    const zktest::Drawn word = zktest::findDrawn(kinds, QStringLiteral("JPEG"));
    EXPECT_LT(word.difference, 25) << "JPEG is drawn";
    EXPECT_GT(word.at.x(), word.whole.center().x())
        << "JPEG at " << word.at.x() << " in ink from " << word.whole.left() << " to " << word.whole.right();
    model().setComposerPresented(false);
    model().setLanguage(AppLanguage::en);
    QApplication::setLayoutDirection(was);
}

// The chevron before "More options" points the way the language reads while
// the options are closed (right in English, left in Arabic, also once the
// language changed with the sheet open) and down while they are open: in the
// pixels shown, its tip is the end of its ink that spans least.
TEST_F(SheetTest, TheMoreOptionsChevronPointsTheWayTheLanguageReads)
{
    const Qt::LayoutDirection was = QApplication::layoutDirection();
    const auto pointing = [&]() -> std::string {
        settle();
        auto *chevron = view()->findChild<QWidget *>(QStringLiteral("disclosureChevron"));
        if (!chevron)
            return "nowhere";
        const QImage shot = zktest::shownPixels(chevron);
        const QRect ink = zktest::inkBox(shot);
        if (ink.width() < 3 || ink.height() < 3)
            return "nowhere";
        const auto inked = [&](int x, int y) { return std::abs(qGray(shot.pixel(x, y)) - qGray(shot.pixel(0, 0))) > 40; };
        // How far the ink reaches along one line of the box, across or down.
        const auto spread = [&](bool column, int at) {
            int first = -1, last = -1;
            for (int i = column ? ink.top() : ink.left(); i <= (column ? ink.bottom() : ink.right()); ++i) {
                if (column ? inked(at, i) : inked(i, at)) {
                    first = first < 0 ? i : first;
                    last = i;
                }
            }
            return last - first;
        };
        if (ink.height() > ink.width())
            return spread(true, ink.left()) < spread(true, ink.right()) ? "left" : "right";
        return spread(false, ink.top()) < spread(false, ink.bottom()) ? "up" : "down";
    };
    EXPECT_EQ(pointing(), "right");
    state().setMoreOptions(true);
    EXPECT_EQ(pointing(), "down");
    state().setMoreOptions(false);
    model().setLanguage(AppLanguage::ar);
    QApplication::setLayoutDirection(Qt::RightToLeft);
    EXPECT_EQ(pointing(), "left");
    state().setMoreOptions(true);
    EXPECT_EQ(pointing(), "down");
    model().setLanguage(AppLanguage::en);
    QApplication::setLayoutDirection(was);
}

TEST_F(SheetTest, FilesDroppedOnTheCaptionOrAFieldJoinThePostAndLeaveTheTextAlone)
{
    importer.add(QStringLiteral("a.jpg"), picture());
    QMimeData files;
    files.setUrls({file("a.jpg")});
    QWidget *captionArea = view()->editor()->captionEditor()->viewport();
    for (QWidget *target : {captionArea, static_cast<QWidget *>(view()->editor()->hashtagField())}) {
        ASSERT_TRUE(target->acceptDrops());
        const QPoint middle = target->rect().center();
        QDragEnterEvent enter(middle, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        EXPECT_TRUE(state().dropTargeted()); // the drop zone lights up over any part of the sheet
        QDropEvent drop(QPointF(middle), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        EXPECT_FALSE(state().dropTargeted());
    }
    ASSERT_TRUE(zktest::spinUntil([&] { return importer.asked.size() == 2 && !state().importing(); }));
    EXPECT_EQ(state().media().size(), 1);
    EXPECT_TRUE(state().caption().isEmpty());
    EXPECT_TRUE(state().hashtags().isEmpty());
    EXPECT_TRUE(view()->editor()->captionEditor()->toPlainText().isEmpty());

    // Words dragged into the caption are still the caption's.
    QMimeData words;
    words.setText(QStringLiteral("hello"));
    QDragEnterEvent enterWords(captionArea->rect().center(), Qt::CopyAction, &words, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(captionArea, &enterWords);
    EXPECT_FALSE(state().dropTargeted());
}
