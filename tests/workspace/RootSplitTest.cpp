// The workspace root, the split view with its notice banner and the sidebar.

#include "ScreensTestSupport.h"

#include "app/ComposerTestSupport.h"

#include "design/Controls.h"
#include "design/L10n.h"
#include "design/NoticeBanner.h"
#include "workspace/AssistantView.h"
#include "workspace/ComposerView.h"
#include "workspace/DraftEditorView.h"
#include "workspace/PlanView.h"
#include "workspace/PlannerKit.h"
#include "workspace/ProfileView.h"
#include "workspace/SignInView.h"
#include "workspace/SummaryView.h"
#include "workspace/WorkspaceRootView.h"
#include "workspace/WorkspaceSplitView.h"
#include "workspace/WorkspaceWindowController.h"

#include <QPointer>
#include <QSplitter>

using namespace flowtest;
using namespace screentest;

namespace {

class RootTest : public ::testing::Test {
protected:
    AppModel &model() { return flows.model(); }
    WorkspaceRootView *root()
    {
        if (!m_root)
            m_root = host.show(new WorkspaceRootView(model()));
        return m_root;
    }
    void signInAs(const QString &email, std::optional<QString> name = std::nullopt)
    {
        ZephylWire::User u = user(email);
        u.displayName = std::move(name);
        model().setUser(u);
        model().setSession(SessionState::signedIn);
        settle();
    }
    WorkspaceSplitView *split() { return qobject_cast<WorkspaceSplitView *>(root()->branch()); }

    AppearanceGuard appearance;
    Flows flows;
    Host host;
    WorkspaceRootView *m_root = nullptr;
};

} // namespace

TEST_F(RootTest, FollowsTheSessionThroughItsThreeBranches)
{
    ASSERT_EQ(model().session(), SessionState::restoring);
    EXPECT_EQ(texts(root()->branch()), QStringList{"Opening Zephyl…"});
    EXPECT_GE(root()->minimumWidth(), 960);
    EXPECT_GE(root()->minimumHeight(), 600);

    model().setSession(SessionState::signedOut);
    settle();
    EXPECT_NE(qobject_cast<SignInView *>(root()->branch()), nullptr);

    signInAs("kitty@example.com");
    ASSERT_NE(split(), nullptr);
    // The split view starts on the model's surface, the assistant.
    EXPECT_NE(qobject_cast<AssistantView *>(split()->detail()), nullptr);

    model().setSession(SessionState::signedOut);
    settle();
    auto *form = qobject_cast<SignInView *>(root()->branch());
    ASSERT_NE(form, nullptr);
    // A new form each time: sign-in mode and empty fields.
    EXPECT_FALSE(form->creating());
    EXPECT_TRUE(form->emailField()->text().isEmpty());
}

TEST_F(RootTest, TheComposerSheetCanCoverAnyBranchAndEscapeDismissesIt)
{
    model().setSession(SessionState::signedOut);
    root();
    model().setComposerPresented(true);
    settle();
    QWidget *sheet = root()->composerSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    // The sheet stays over the branch when the session changes under it.
    signInAs("kitty@example.com");
    EXPECT_EQ(root()->composerSheet(), sheet);
    key(sheet, Qt::Key_Escape);
    EXPECT_FALSE(model().composerPresented());
    EXPECT_EQ(root()->composerSheet(), nullptr);

    // An expiry leaves the sheet over the sign-in form with what was typed in
    // it. The post is its account's: another account signing in never sees it,
    // not even while it is being looked up; its own account finds it again.
    flows.service.results["currentUser"] = user(QStringLiteral("a@example.com"));
    finish(model().finishSignIn());
    model().setComposerPresented(true);
    settle();
    QPointer<QWidget> typed = root()->composerSheet();
    ASSERT_NE(typed, nullptr);
    ComposerState &state = typed->findChild<ComposerView *>()->state();
    state.setCaption(QStringLiteral("Only for a"));
    state.setMedia({composertest::picture()});
    finish(model().expireSession());
    settle();
    ASSERT_NE(qobject_cast<SignInView *>(root()->branch()), nullptr);
    EXPECT_EQ(root()->composerSheet(), typed.data());
    EXPECT_TRUE(typed->isVisible());
    // The form under it does not take the keyboard, nor does Tab or Shift+Tab reach it.
    EXPECT_TRUE(typed->isAncestorOf(QApplication::focusWidget()));
    for (Qt::Key k : {Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab}) {
        key(QApplication::focusWidget(), k);
        ASSERT_TRUE(typed->isAncestorOf(QApplication::focusWidget())) << k << " left the sheet";
    }

    flows.service.results["currentUser"] = user(QStringLiteral("b@example.com"));
    flows.service.held.insert(QStringLiteral("currentUser"));
    auto signingIn = model().finishSignIn();
    ASSERT_TRUE(zktest::spinUntil([&] { return flows.service.waiting("currentUser") == 1; }));
    settle();
    EXPECT_EQ(root()->composerSheet(), nullptr) << "the account is not known yet";
    EXPECT_FALSE(typed->isVisible());
    flows.service.held.clear();
    flows.service.release("currentUser");
    finish(std::move(signingIn));
    settle();
    ASSERT_TRUE(model().user());
    EXPECT_EQ(model().user()->email, QStringLiteral("b@example.com"));
    EXPECT_EQ(root()->composerSheet(), nullptr) << "not another account's";
    EXPECT_FALSE(model().composerPresented());
    ASSERT_NE(typed, nullptr);
    EXPECT_FALSE(typed->isVisible());
    model().setComposerPresented(true);
    settle();
    ASSERT_NE(root()->composerSheet(), nullptr);
    EXPECT_NE(root()->composerSheet(), typed.data());
    EXPECT_EQ(root()->composerSheet()->findChild<ComposerView *>()->state().caption(), QString());
    EXPECT_TRUE(root()->composerSheet()->findChild<ComposerView *>()->state().media().isEmpty());
    key(root()->composerSheet(), Qt::Key_Escape);
    finish(model().signOut());
    settle();

    flows.service.results["currentUser"] = user(QStringLiteral("A@example.com"));
    finish(model().finishSignIn());
    settle();
    EXPECT_EQ(root()->composerSheet(), typed.data()) << "back for its own account";
    EXPECT_TRUE(model().composerPresented());
    ASSERT_NE(typed, nullptr);
    EXPECT_TRUE(typed->isVisible());
    EXPECT_EQ(state.caption(), QStringLiteral("Only for a"));
    EXPECT_EQ(state.media().size(), 1);
    key(typed, Qt::Key_Escape);
    EXPECT_FALSE(model().composerPresented());

    // A composer opened (from the ask panel) while the plan's draft sheet shows
    // comes under that sheet: the keyboard stays on the one on top, without the
    // two taking it from each other, and goes to the composer once that one closes.
    model().setSurface(Surface::plan);
    settle();
    auto *plan = qobject_cast<PlanView *>(split()->detail());
    ASSERT_NE(plan, nullptr);
    plan->createDraft();
    settle();
    model().openComposer(std::nullopt);
    settle();
    auto *draftSheet = host.window->findChild<SheetLayer *>();
    ASSERT_NE(draftSheet, nullptr);
    ASSERT_NE(root()->composerSheet(), nullptr);
    EXPECT_TRUE(draftSheet->isAncestorOf(QApplication::focusWidget()));
    key(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(plan->editor(), nullptr);
    EXPECT_TRUE(root()->composerSheet()->isAncestorOf(QApplication::focusWidget()));

    // A draft sheet that goes with its screen (the ask panel opening the grid)
    // leaves the keyboard in the window, not with the sheet as it is deleted.
    key(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_FALSE(model().composerPresented());
    plan->createDraft();
    settle();
    QPointer<SheetLayer> gone = host.window->findChild<SheetLayer *>();
    ASSERT_NE(gone, nullptr);
    ASSERT_TRUE(gone->isAncestorOf(QApplication::focusWidget()));
    model().setSurface(Surface::grid);
    settle();
    EXPECT_TRUE(gone.isNull());
    ASSERT_NE(QApplication::focusWidget(), nullptr) << "the keyboard went with the sheet";
    EXPECT_EQ(QApplication::focusWidget()->window(), host.window.get());
}

TEST_F(RootTest, ThemeAndReadingDirectionFollowTheSettingsAtOnce)
{
    root();
    model().setTheme(AppTheme::dark);
    EXPECT_EQ(AppearanceService::shared().appearance(), Appearance::dark);
    // The system's light scheme wins again once the theme follows it.
    model().setTheme(AppTheme::system);
    EXPECT_EQ(AppearanceService::shared().appearance(), Appearance::light);
    appearance.scheme->set(1u);
    EXPECT_EQ(AppearanceService::shared().appearance(), Appearance::dark);

    model().setSession(SessionState::signedOut);
    settle();
    model().setLanguage(AppLanguage::ar);
    settle();
    EXPECT_EQ(root()->layoutDirection(), Qt::RightToLeft);
    auto *form = qobject_cast<SignInView *>(root()->branch());
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(form->mainButton()->text(), L10n::t("Sign in"));
    EXPECT_NE(form->mainButton()->text(), QStringLiteral("Sign in"));
    // The introduction's headline is drawn to the right of the form's column... in
    // right-to-left the form stands on the left.
    EXPECT_LT(form->emailField()->mapTo(root(), QPoint()).x(), root()->width() / 2);

    model().setLanguage(AppLanguage::he);
    settle();
    EXPECT_EQ(root()->layoutDirection(), Qt::RightToLeft);
    model().setLanguage(AppLanguage::en);
    settle();
    EXPECT_EQ(root()->layoutDirection(), Qt::LeftToRight);
    form = qobject_cast<SignInView *>(root()->branch());
    EXPECT_GT(form->emailField()->mapTo(root(), QPoint()).x(), root()->width() / 2);
}

TEST_F(RootTest, ANoticeStaysSevenSecondsUnlessReplacedOrTapped)
{
    signInAs("kitty@example.com");
    FakeClock &clock = flows.h.clock;
    const AppNotice first = AppNotice::make("Saved.", AppNotice::Tone::settled);
    model().setNotice(first);
    settle();
    ASSERT_NE(split()->banner(), nullptr);
    EXPECT_EQ(split()->banner()->notice(), first);
    EXPECT_LE(split()->banner()->width(), 664);

    clock.advance(std::chrono::milliseconds(6900));
    EXPECT_EQ(model().notice(), first);
    clock.advance(std::chrono::milliseconds(100));
    EXPECT_FALSE(model().notice().has_value());
    settle();
    EXPECT_EQ(split()->banner(), nullptr);

    // A second notice 5 s into the first gets its own full seven seconds; the
    // first one's wait leaves it alone.
    model().setNotice(AppNotice::make("One", AppNotice::Tone::settled));
    clock.advance(std::chrono::seconds(5));
    const AppNotice second = AppNotice::make("One", AppNotice::Tone::attention);
    model().setNotice(second);
    clock.advance(std::chrono::seconds(2));
    EXPECT_EQ(model().notice(), second);
    clock.advance(std::chrono::milliseconds(4999));
    EXPECT_EQ(model().notice(), second);
    clock.advance(std::chrono::milliseconds(1));
    EXPECT_FALSE(model().notice().has_value());

    // The same words again are a new notice with a fresh wait.
    const AppNotice again = AppNotice::make("Saved.", AppNotice::Tone::settled);
    model().setNotice(again);
    settle();
    QTest::mouseClick(split()->banner(), Qt::LeftButton);
    EXPECT_FALSE(model().notice().has_value());
    clock.advance(std::chrono::seconds(8));
    EXPECT_FALSE(model().notice().has_value());
}

TEST_F(RootTest, TheNoticeThatExplainsASignOutReachesTheSignInForm)
{
    signInAs("kitty@example.com");
    const AppNotice expired = AppNotice::make("Your session has expired. Sign in again.", AppNotice::Tone::attention);
    model().setNotice(expired);
    settle();
    ASSERT_NE(split()->banner(), nullptr);
    model().setSession(SessionState::signedOut);
    settle();
    auto *form = qobject_cast<SignInView *>(root()->branch());
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(model().notice(), expired);
    ASSERT_NE(form->banner(), nullptr);
    EXPECT_EQ(form->banner()->notice(), expired);
    // The form's banner has no timer of its own.
    flows.h.clock.advance(std::chrono::seconds(30));
    EXPECT_EQ(model().notice(), expired);
    // Nor does a tap clear it there.
    QTest::mouseClick(form->banner(), Qt::LeftButton);
    EXPECT_EQ(model().notice(), expired);
}

TEST_F(RootTest, TheSidebarListsTheSurfacesAndWritesTheChoice)
{
    signInAs("kitty@example.com");
    WorkspaceSidebar *side = split()->sidebar();
    const QStringList titles{"Summary", "Plan", "Assistant", "Grid", "Profile"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(side->row(Surfaces::allCases[i])->text(), titles[i]);
    // The icon set has no "bubble.left.and.text.bubble.right": the older symbol stands in.
    EXPECT_EQ(WorkspaceSidebar::rowSymbol(Surface::assistant), "bubble.left.and.bubble.right");
    EXPECT_EQ(WorkspaceSidebar::rowSymbol(Surface::summary), "text.book.closed");
    EXPECT_EQ(side->askButton()->symbol(), "pawprint");

    click(side->row(Surface::summary));
    EXPECT_EQ(model().surface(), Surface::summary);
    EXPECT_NE(qobject_cast<SummaryView *>(split()->detail()), nullptr);
    click(side->row(Surface::profile));
    EXPECT_NE(qobject_cast<ProfileView *>(split()->detail()), nullptr);
    // Choosing the current surface changes nothing and raises nothing.
    QWidget *profile = split()->detail();
    click(side->row(Surface::profile));
    EXPECT_EQ(split()->detail(), profile);
    EXPECT_TRUE(flows.h.events.isEmpty());

    click(side->newPublicationButton());
    EXPECT_TRUE(model().composerPresented());
    click(side->askButton());
    EXPECT_EQ(flows.kinds().count(AppEvent::Kind::askRequested), 1);
    // Without a coordinator "Ask the cat" does nothing.
    model().setEvents({});
    click(side->askButton());
    EXPECT_EQ(flows.kinds().count(AppEvent::Kind::askRequested), 1);
}

TEST_F(RootTest, FocusRingsShowOnlyForTheKeyboard)
{
    signInAs("kitty@example.com");
    WorkspaceSidebar *side = split()->sidebar();
    QAbstractButton *plan = side->row(Surface::plan);
    plan->setFocusPolicy(Qt::StrongFocus);
    click(plan);
    EXPECT_TRUE(plan->hasFocus());
    EXPECT_FALSE(FocusRing::shown(plan));
    // A window's first focus is handed out "by Tab" without the key.
    plan->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(FocusRing::shown(plan));
    key(plan, Qt::Key_Tab);
    QWidget *next = QApplication::focusWidget();
    ASSERT_NE(next, nullptr);
    ASSERT_NE(next, plan);
    EXPECT_TRUE(FocusRing::shown(next));
    EXPECT_FALSE(FocusRing::shown(plan));
}

TEST_F(RootTest, TheSidebarNamesTheAccountAndItsInstagram)
{
    struct Case {
        std::optional<QString> email;
        std::optional<QString> name;
        std::optional<QString> instagram;
        QString line1;
        QString line2;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, "", "Instagram not connected"},
        {"kitty@example.com", std::nullopt, std::nullopt, "kitty@example.com", "Instagram not connected"},
        {"kitty@example.com", "", "kitty.daily", "kitty@example.com", "@kitty.daily"},
        {"kitty@example.com", "Kitty Katz", std::nullopt, "Kitty Katz", "Instagram not connected"},
    };
    signInAs("someone@example.com");
    WorkspaceSidebar *side = split()->sidebar();
    for (const Case &c : cases) {
        if (c.email) {
            ZephylWire::User u = user(*c.email);
            u.displayName = c.name;
            model().setUser(u);
        } else {
            model().setUser(std::nullopt);
        }
        std::optional<ZephylWire::InstagramProfile> profile;
        if (c.instagram) {
            profile.emplace();
            profile->username = *c.instagram;
        }
        model().setInstagram(profile);
        EXPECT_EQ(side->accountName()->text(), c.line1);
        EXPECT_EQ(side->instagramLine()->text(), c.line2);
    }
    // Signed in off line: nothing says the account is not connected; once the
    // service answers, it names it.
    finish(model().signOut());
    flows.service.results["currentUser"] = user(QStringLiteral("kitty@example.com"));
    flows.service.failures["instagramProfile"] =
        std::make_exception_ptr(NetworkError(NetworkError::Code::cannotConnectToHost));
    finish(model().finishSignIn());
    settle();
    ASSERT_NE(split(), nullptr);
    EXPECT_EQ(split()->sidebar()->instagramLine()->text(), QStringLiteral("sorvane.app can't be reached"));
    // Nor do the screens say it, nor offer to connect one.
    const auto shown = [&](Surface surface) {
        model().setSurface(surface);
        settle();
        return texts(split()->detail());
    };
    const QStringList summary = shown(Surface::summary);
    EXPECT_FALSE(summary.contains(QStringLiteral("Instagram is not connected yet")));
    EXPECT_TRUE(summary.contains(QStringLiteral("Nothing to report yet")));
    const QStringList profileScreen = shown(Surface::profile);
    EXPECT_FALSE(profileScreen.contains(QStringLiteral("Not connected")));
    EXPECT_FALSE(profileScreen.contains(QStringLiteral("Connect Instagram")));
    EXPECT_TRUE(profileScreen.contains(QStringLiteral("sorvane.app can't be reached")));
    const QStringList grid = shown(Surface::grid);
    EXPECT_FALSE(grid.contains(QStringLiteral("Connect Instagram to see the grid")));
    EXPECT_TRUE(grid.contains(QStringLiteral("sorvane.app can't be reached")));
    flows.service.failures.remove("instagramProfile");
    ZephylWire::InstagramProfile connected;
    connected.username = QStringLiteral("kitty.daily");
    flows.service.results["instagramProfile"] = std::optional(connected);
    finish(model().loadPlan());
    settle();
    EXPECT_EQ(split()->sidebar()->instagramLine()->text(), QStringLiteral("@kitty.daily"));
    EXPECT_FALSE(shown(Surface::grid).contains(QStringLiteral("sorvane.app can't be reached")));
    // Answered, and none connected: said so.
    flows.service.results["instagramProfile"] = std::optional<ZephylWire::InstagramProfile>();
    finish(model().loadInstagram());
    EXPECT_TRUE(shown(Surface::profile).contains(QStringLiteral("Not connected")));
    EXPECT_TRUE(shown(Surface::summary).contains(QStringLiteral("Instagram is not connected yet")));
    EXPECT_TRUE(shown(Surface::grid).contains(QStringLiteral("Connect Instagram to see the grid")));
    model().setSurface(Surface::assistant);
    settle();
    // In right-to-left text the "@" stays before the handle.
    ZephylWire::InstagramProfile profile;
    profile.username = "kitty.daily";
    model().setInstagram(profile);
    model().setLanguage(AppLanguage::he);
    settle();
    EXPECT_EQ(split()->sidebar()->instagramLine()->text(), QString(QChar(0x200E)) + "@kitty.daily");
}

TEST_F(RootTest, TheSidebarKeepsItsWidthAndMirrorsInRightToLeft)
{
    signInAs("kitty@example.com");
    EXPECT_GE(split()->sidebar()->width(), 220);
    EXPECT_LE(split()->sidebar()->width(), 290);
    // Wider, within its range, where a language's words need it: the buttons keep their padding.
    model().setLanguage(AppLanguage::de);
    settle();
    for (RowButton *button : {split()->sidebar()->newPublicationButton(), split()->sidebar()->askButton()})
        EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
    // Dragged far, the divider stops at the sidebar's widest.
    QWidget *handle = split()->splitter()->handle(1);
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(0, 10));
    QTest::mouseMove(handle, QPoint(400, 10));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(400, 10));
    settle();
    EXPECT_EQ(split()->sidebar()->width(), 290);
    EXPECT_EQ(split()->detail()->mapTo(root(), QPoint()).x(), 291);
    model().setLanguage(AppLanguage::ar);
    settle();
    EXPECT_GT(split()->sidebar()->mapTo(root(), QPoint()).x(), root()->width() / 2);
}

TEST(WorkspaceWindowSize, FitsTheScreensFreeArea)
{
    using K = WorkspaceWindowController::Kind;
    struct Case {
        QRect visible;
        K kind;
        QRect frame;
    };
    const Case cases[] = {
        // A 1512 x 944 free area: the web window is 1440 x 780, the native 1180 x 760.
        {{0, 0, 1512, 944}, K::web, {36, 124, 1440, 780}},
        {{0, 0, 1512, 944}, K::native, {166, 124, 1180, 760}},
        // Low: never under 600 high, its bottom kept 8 above the free area's.
        {{0, 0, 1280, 700}, K::native, {50, 92, 1180, 600}},
        {{0, 0, 1280, 700}, K::web, {20, 92, 1240, 600}},
        // No higher than 600: the whole of it, from its top, never above it.
        {{0, 0, 1024, 600}, K::native, {20, 0, 984, 600}},
        {{0, 24, 1024, 536}, K::web, {20, 24, 984, 536}},
        // A free area below a top panel on a second screen.
        {{1920, 32, 2560, 1408}, K::web, {1920 + 560, 156, 1440, 900}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.visible.width() << "x" << c.visible.height());
        EXPECT_EQ(WorkspaceWindowController::initialFrame(c.visible, c.kind), c.frame);
    }
}

// Every native screen in its states, in every language the application speaks,
// at the window's size on a 1280 x 800 screen: no word is cut. The account's
// own data is short, so that only the application's words are measured.
TEST_F(RootTest, EveryScreenShowsItsWordsWholeInEveryLanguage)
{
    host.window->resize(1180, 636);
    QList<ZephylWire::PlanDraft> drafts;
    QList<ZephylWire::Publication> publications;
    for (const char *format : {"reel", "story", "post", "carousel"}) {
        const QDateTime at = model().clock().now().addDays(drafts.size());
        ZephylWire::PlanDraft d;
        d.id = drafts.size() + 1;
        d.format = QString::fromLatin1(format);
        d.scheduledAt = at.toUTC().toString(Qt::ISODate);
        drafts << d;
        ZephylWire::Publication p;
        p.status = QStringList{"published", "failed", "processing", "scheduled"}.at(publications.size());
        p.scheduledAt = at.toMSecsSinceEpoch();
        publications << p;
    }
    flows.service.results["planDrafts"] = drafts; // what a load after signing in finds
    flows.service.results["instagramPublications"] = publications;
    ZephylWire::InstagramProfile profile;
    profile.username = QStringLiteral("kitty");
    QStringList cuts;
    auto look = [&](const QString &state) {
        settle();
        for (const QString &cut : cutLabels(host.window.get()))
            cuts << AppLanguages::rawValue(L10n::effectiveLanguage()) + QLatin1Char(' ') + state + ": " + cut;
    };
    for (AppLanguage language : AppLanguages::spoken()) {
        model().setLanguage(language);
        model().setComposerPresented(false);
        model().setSession(SessionState::signedOut);
        model().setSignInBusy(true);
        look(QStringLiteral("sign-in"));
        model().setSignInBusy(false);
        qobject_cast<SignInView *>(root()->branch())->toggleMode();
        look(QStringLiteral("create-account"));

        signInAs(QStringLiteral("kitty@example.com"), QStringLiteral("Kitty"));
        model().setAccessibilityTrusted(!model().accessibilityTrusted());
        for (bool connected : {false, true}) {
            model().setInstagram(connected ? std::optional(profile) : std::nullopt);
            for (Surface surface : Surfaces::allCases) {
                model().setSurface(surface);
                look(Surfaces::title(surface));
            }
        }
        model().setSurface(Surface::plan);
        settle();
        auto *plan = qobject_cast<PlanView *>(split()->detail());
        const QList<PlanRow *> rows = plan->rows();
        plan->activate((*std::find_if(rows.begin(), rows.end(), [](PlanRow *r) { return r->entry().draft.has_value(); }))
                           ->entry());
        look(QStringLiteral("draft editor"));
        plan->editor()->cancel();

        model().setComposerPresented(true);
        ComposerState &state = root()->composerSheet()->findChild<ComposerView *>()->state();
        look(QStringLiteral("composer"));
        state.setFormat(PublishFormat::reel);
        state.setMedia({composertest::video(12)});
        state.setTrialEnabled(true);
        state.setScheduleLater(true);
        state.setMoreOptions(true);
        state.setConfirming(true);
        look(QStringLiteral("reel"));
        state.setConfirming(false);
        state.setOutcome(PublishOutcome::failed(L10n::t("Instagram took too long to process the media.")));
        look(QStringLiteral("failed"));
    }
    EXPECT_EQ(cuts, QStringList());
}
