// The native workspace from the keyboard, in a window on a real X server, left
// to right and right to left: Tab reaches the plan's rows, the grid's drafts
// and the composer's remove marks in the order they read, rings them, and
// Return, Space, the Menu key and Shift+F10 open them or give their menus;
// every kind of control, there and in the settings window, the ask panel and
// a dialog, shows a ring the eye finds, light and dark.

#include "ScreensTestSupport.h"
#include "support/TextPixels.h"

#include "app/ComposerTestSupport.h"
#include "ask/AskBarView.h"
#include "ask/AskPanelBridge.h"
#include "design/L10n.h"
#include "design/Legibility.h"
#include "design/NoticeBanner.h"
#include "design/SettingRow.h"
#include "workspace/ComposerParts.h"
#include "workspace/AssistantView.h"
#include "workspace/CompanionSettingsWindow.h"
#include "workspace/ComposerView.h"
#include "workspace/DraftEditorView.h"
#include "workspace/GridView.h"
#include "workspace/PlanView.h"
#include "workspace/ProfileView.h"
#include "workspace/WorkspaceRootView.h"
#include "workspace/WorkspaceSplitView.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

using namespace flowtest;
using namespace screentest;

namespace {

// A failure leaves the keyboard, a menu or a sheet where nothing after it can
// be trusted, and every wait that follows would run to its limit (past the
// run's own): the first failure, once printed, ends the run.
class EndAtFirstFailure final : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult &result) override
    {
        if (!result.failed())
            return;
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(1);
    }
};
// Added once the run has begun, after the listener that prints the failure.
class StoppingAtFirstFailure final : public ::testing::Environment {
    void SetUp() override { ::testing::UnitTest::GetInstance()->listeners().Append(new EndAtFirstFailure); }
};
[[maybe_unused]] ::testing::Environment *const kStopping =
    ::testing::AddGlobalTestEnvironment(new StoppingAtFirstFailure);

// The strongest contrast between two pictures of one place, at those of the
// pixels given that they have.
double strongestChange(const std::pair<QImage, QImage> &pictures, const QList<QPoint> &at)
{
    double most = 1;
    for (const QPoint &p : at) {
        if (pictures.first.rect().contains(p) && pictures.second.rect().contains(p))
            most = std::max(most, ZephylPalette::contrastRatio(pictures.first.pixel(p) & 0xFFFFFFu,
                                                               pictures.second.pixel(p) & 0xFFFFFFu));
    }
    return most;
}

// Whether the keyboard is on the row or tile called `name`, ringed.
::testing::AssertionResult ringedOn(const QString &name)
{
    const QWidget *w = QApplication::focusWidget();
    if (w && w->accessibleName() == name && FocusRing::shown(w))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the keyboard is on "
                                         << (w ? w->metaObject()->className() + (" " + w->accessibleName().toStdString()) : "nothing");
}

QWidget *press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    settle();
    return QApplication::focusWidget();
}

// Whether `next` comes after `at` in reading order: further down, or on the
// same line further along the way the language reads.
::testing::AssertionResult readsAfter(const QWidget *at, const QWidget *next, Qt::LayoutDirection direction)
{
    const QRect a(at->mapToGlobal(QPoint()), at->size()), b(next->mapToGlobal(QPoint()), next->size());
    const bool sameLine = std::abs(a.center().y() - b.center().y()) < std::min(a.height(), b.height()) / 2;
    const int along = (b.center().x() - a.center().x()) * (direction == Qt::LeftToRight ? 1 : -1);
    if (sameLine ? along > 0 : b.center().y() > a.center().y())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << next->metaObject()->className() << " at " << zktest::rectText(b)
                                         << " comes after " << at->metaObject()->className() << " at "
                                         << zktest::rectText(a);
}

// `ringed` without the keyboard and once the keyboard came to `focus` (the
// field whose box it is), as Tab brings it: in view first, then off it and
// on it again.
zktest::RingPictures ringPictures(QWidget *ringed, QWidget *focus = nullptr)
{
    focus = focus ? focus : ringed;
    const auto keyboardTo = [&] {
        QTest::keyClick(ringed->window(), Qt::Key_Shift); // the user is at the keyboard
        focus->setFocus(Qt::TabFocusReason);
        settle();
    };
    keyboardTo();
    const QImage first = zktest::steadyPixels(ringed->window(), zktest::aroundArea(ringed));
    focus->clearFocus();
    settle();
    return zktest::ringPictures(ringed, keyboardTo, first);
}

// Whether a window has the keyboard, waiting for the window manager.
bool activated(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
    return zktest::spinUntil([&] { return window->isActiveWindow() && window->windowHandle()->isExposed(); });
}

class KeyboardReach : public ::testing::TestWithParam<AppLanguage> {
protected:
    void SetUp() override
    {
        model().setLanguage(GetParam());
        model().setUser(user("kitty@example.com"));
        model().setSession(SessionState::signedIn);
        // Two drafts today, two without a date.
        QList<ZephylWire::PlanDraft> drafts;
        for (const auto &[title, hours] : {std::pair("Cat yoga", 1), std::pair("Morning light", 2),
                                           std::pair("Weekend ideas", 0), std::pair("Quiet Sunday", 0)}) {
            ZephylWire::PlanDraft d;
            d.id = drafts.size() + 1;
            d.title = QString::fromUtf8(title);
            d.format = QStringLiteral("post");
            if (hours)
                d.scheduledAt = model().clock().now().addSecs(3600 * hours).toUTC().toString(Qt::ISODate);
            drafts << d;
        }
        // Read from the service, as after signing in: an edit is saved against it.
        flows.service.results["planDrafts"] = drafts;
        model().loadPlan();
        root = host.show(new WorkspaceRootView(model()));
        host.window->activateWindow();
        ASSERT_TRUE(zktest::spinUntil(
            [&] { return host.window->isActiveWindow() && host.window->windowHandle()->isExposed(); }));
    }
    AppModel &model() { return flows.model(); }
    bool arabic() const { return GetParam() == AppLanguage::ar; }
    Qt::LayoutDirection direction() const { return arabic() ? Qt::RightToLeft : Qt::LeftToRight; }
    // The screen once the loads its showing started have been answered and
    // drawn, so the controls found are the ones that stay on screen.
    template <typename Screen>
    Screen *show(Surface surface)
    {
        model().setSurface(surface);
        EXPECT_TRUE(zktest::spinUntil([&] {
            settle();
            return !model().planLoading() && model().feedStatus().kind != FeedStatus::Kind::loading;
        }));
        settle();
        return root->findChild<Screen *>();
    }
    // The stops of Tab from `from` until the keyboard leaves `within` (at
    // most 40), each found where it reads after the one before unless
    // `anyOrder`.
    QList<QWidget *> tabThrough(QWidget *from, const QWidget *within, bool anyOrder = false)
    {
        from->setFocus(Qt::TabFocusReason);
        QList<QWidget *> stops{from};
        for (QWidget *at = press(Qt::Key_Tab); at && within->isAncestorOf(at) && stops.size() < 40; at = press(Qt::Key_Tab)) {
            if (!anyOrder) {
                EXPECT_TRUE(readsAfter(stops.last(), at, direction())) << "stop " << stops.size();
            }
            stops << at;
        }
        return stops.mid(1);
    }
    // `target` and what is round it as the server shows it, then once Tab
    // from `before` has brought the keyboard to it. Taken before Tab goes on
    // down: of a screen not scrolled.
    zktest::RingPictures ringedByTab(QWidget *before, QWidget *target)
    {
        before->setFocus(Qt::OtherFocusReason);
        settle();
        const zktest::RingPictures look = zktest::ringPictures(target, [] { press(Qt::Key_Tab); });
        EXPECT_TRUE(target->hasFocus());
        return look;
    }
    // The entries of the menus that Shift+F10 and the Menu key give on the
    // control under the keyboard, each seen over it and closed again.
    QList<QStringList> menusFromKeys()
    {
        QWidget *card = QApplication::focusWidget();
        QList<QStringList> menus;
        for (const auto &[key, modifiers] : {std::pair(Qt::Key_F10, Qt::KeyboardModifiers(Qt::ShiftModifier)),
                                            std::pair(Qt::Key_Menu, Qt::KeyboardModifiers(Qt::NoModifier))}) {
            QTest::keyClick(card, key, modifiers);
            QMenu *menu = nullptr;
            zktest::spinUntil([&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); },
                              std::chrono::seconds(10));
            QStringList entries;
            for (QAction *a : menu ? menu->actions() : QList<QAction *>())
                entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
            menus << entries;
            if (!menu)
                continue;
            EXPECT_TRUE(QRect(card->mapToGlobal(QPoint()), card->size()).intersects(menu->geometry()));
            QTest::keyClick(menu, Qt::Key_Escape);
            EXPECT_TRUE(zktest::spinUntil([] { return QApplication::activePopupWidget() == nullptr; }));
            settle();
        }
        return menus;
    }

    // Chooses `text` with Return in the menu the Menu key gives on the control under the keyboard.
    void chooseFromMenuKey(const QString &text)
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Menu);
        QMenu *menu = nullptr;
        ASSERT_TRUE(zktest::spinUntil([&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); }));
        QAction *chosen = nullptr;
        for (QAction *entry : menu->actions()) {
            if (entry->text() == text)
                chosen = entry;
        }
        ASSERT_NE(chosen, nullptr) << "no entry " << text.toStdString();
        menu->setActiveAction(chosen);
        QTest::keyClick(menu, Qt::Key_Return);
    }

    AppearanceGuard appearance;
    Flows flows;
    Host host;
    WorkspaceRootView *root = nullptr;
};

} // namespace

TEST_P(KeyboardReach, PlanRows)
{
    auto *plan = show<PlanView>(Surface::plan);
    ASSERT_NE(plan, nullptr);
    ASSERT_EQ(plan->rows().size(), 4);

    // Ringed round its edge, 3:1 out from the screen round it.
    PlanRow *row = plan->rows().first();
    EXPECT_GE(zktest::ringedShare(ringedByTab(plan->dayCells().last(), row)), 0.9);

    // "New publication", the two week arrows by their names, the seven days, every row.
    const QList<QWidget *> stops = tabThrough(plan->button(L10n::t("New draft")), plan);
    ASSERT_EQ(stops.size(), 1 + 2 + 7 + 4);
    EXPECT_EQ(stops.at(1)->accessibleName(), arabic() ? QStringLiteral("الأسبوع السابق") : QStringLiteral("Previous week"));
    EXPECT_EQ(stops.at(2)->accessibleName(), arabic() ? QStringLiteral("الأسبوع التالي") : QStringLiteral("Next week"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(stops.at(10 + i), plan->rows().at(i)) << "row " << i;

    // Return opens the draft; Escape hands the keyboard back to its row, ringed.
    row->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    ASSERT_NE(plan->editor(), nullptr);
    EXPECT_EQ(plan->editor()->draft().id, 1);
    row = qobject_cast<PlanRow *>(press(Qt::Key_Escape));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->entry().id, QStringLiteral("draft-1"));
    EXPECT_TRUE(FocusRing::shown(row));

    const QStringList entries = arabic() ? QStringList{"تعديل المسودة", "تحضير المنشور", "-", "حذف المسودة"}
                                         : QStringList{"Edit draft", "Prepare publication", "-", "Delete draft"};
    EXPECT_EQ(menusFromKeys(), (QList<QStringList>{entries, entries}));

    // Renamed in its editor and saved from the keyboard, the row keeps the
    // keyboard once the list is built anew under its new title, and not the
    // row under the title it had.
    QList<ZephylWire::PlanDraft> drafts = model().planDrafts();
    drafts[1].title = drafts[0].title;
    flows.service.results["planDrafts"] = drafts;
    model().setPlanDrafts(drafts);
    settle();
    press(Qt::Key_Space);
    ASSERT_NE(plan->editor(), nullptr);
    plan->editor()->titleField()->setFocus(Qt::TabFocusReason);
    plan->editor()->titleField()->end(false);
    QTest::keyClicks(plan->editor()->titleField(), QStringLiteral(" at dawn"));
    plan->editor()->saveButton()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    EXPECT_TRUE(zktest::spinUntil([&] {
        settle();
        return plan->editor() == nullptr && model().planDrafts().value(0).title == QStringLiteral("Cat yoga at dawn");
    }));
    settle();
    ASSERT_TRUE(ringedOn(QStringLiteral("Cat yoga at dawn"))); // the rest goes from it

    // Deleted from its menu, the row hands the keyboard to the one that takes
    // its place, ringed.
    chooseFromMenuKey(entries.last());
    EXPECT_TRUE(zktest::spinUntil([&] { settle(); return plan->rows().size() == 3; }));
    EXPECT_TRUE(ringedOn(QStringLiteral("Cat yoga")));
}

TEST_P(KeyboardReach, GridDrafts)
{
    auto *grid = show<GridView>(Surface::grid);
    ASSERT_NE(grid, nullptr);
    ASSERT_EQ(grid->tiles().size(), 4);

    // Ringed inside its edge (a neighbour touches it), 3:1 out from the screen round it.
    GridTile *tile = grid->tiles().at(1);
    EXPECT_GE(zktest::ringedShare(ringedByTab(grid->tiles().at(0), tile)), 0.9);

    // From "Refresh" the four drafts, three to a line, then out of the screen.
    const QList<GridTile *> tiles = grid->tiles();
    EXPECT_EQ(tabThrough(grid->button(L10n::t("Refresh")), grid), (QList<QWidget *>(tiles.begin(), tiles.end())));

    tile->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    ASSERT_NE(grid->editor(), nullptr);
    EXPECT_EQ(grid->editor()->draft().id, 2);
    press(Qt::Key_Escape);
    for (const QStringList &menu : menusFromKeys())
        EXPECT_EQ(menu.value(0), arabic() ? QStringLiteral("نقل إلى الأمام") : QStringLiteral("Move earlier"));

    // Hidden from the grid by its menu, the tile hands the keyboard to the
    // one that takes its place, ringed.
    chooseFromMenuKey(L10n::t("Hide from grid"));
    EXPECT_TRUE(zktest::spinUntil([&] { settle(); return grid->tiles().size() == 3; }));
    EXPECT_TRUE(ringedOn(QStringLiteral("Weekend ideas")));
}

TEST_P(KeyboardReach, ComposerRemoveMarks)
{
    model().setComposerPresented(true);
    settle();
    auto *view = root->composerSheet() ? root->composerSheet()->findChild<ComposerView *>() : nullptr;
    ASSERT_NE(view, nullptr);
    view->state().setFormat(PublishFormat::carousel);
    view->state().setMedia({composertest::picture(), composertest::picture(), composertest::picture()});
    settle();
    ComposerEditor *editor = view->editor();
    QList<QWidget *> marks;
    for (QWidget *tile : editor->tiles())
        marks << tile->findChild<QAbstractButton *>();
    ASSERT_EQ(marks.size(), 3);

    // A white ring round the dark mark and a dark line round that, on any picture.
    QWidget *mark = marks.at(1);
    const zktest::RingPictures pictures = ringedByTab(marks.at(0), mark);
    const QPoint centre = pictures.control.topLeft() + QPoint(mark->width() / 2, mark->height() / 2);
    const int r = mark->width() / 2 - 2;
    for (const QPoint &side : {QPoint(-1, 0), QPoint(0, -1), QPoint(1, 0), QPoint(0, 1)})
        EXPECT_GE(strongestChange({pictures.bare, pictures.ringed},
                                  {centre + side * r, centre + side * (r + 1), centre + side * (r + 2)}),
                  3.0);

    // Shift+F10 on a mark opens its tile's menu, as the Menu key does on a
    // keyboard that has one (the menu holds the keys until it closes).
    QStringList entries;
    QTimer look;
    look.setInterval(20);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            for (QAction *entry : menu->actions())
                entries << entry->text();
            menu->close();
        }
    });
    look.start();
    QTest::keyClick(mark, Qt::Key_F10, Qt::ShiftModifier);
    zktest::spinUntil([&] { return !entries.isEmpty(); }, std::chrono::seconds(5));
    look.stop();
    EXPECT_EQ(entries, (QStringList{L10n::t("Move earlier"), L10n::t("Move later"), L10n::t("Remove")}));

    // Tile by tile, just before the add button (the sheet keeps the keyboard
    // and reads in two columns).
    const QList<QWidget *> stops = tabThrough(view->closeButton(), view, true);
    const qsizetype add = stops.indexOf(editor->addButton());
    ASSERT_GE(add, 3);
    EXPECT_EQ(stops.mid(add - 3, 3), marks);
    EXPECT_TRUE(readsAfter(marks.at(0), marks.at(1), direction()));
    EXPECT_TRUE(readsAfter(marks.at(1), marks.at(2), direction()));

    // As tiles go and come the keyboard stays in the column, ringed: on the
    // mark in the pressed one's place, on "Choose files" once the last went,
    // and on the add button once files came in.
    marks.at(1)->setFocus(Qt::TabFocusReason);
    for (const qsizetype left : {2, 1, 0}) {
        QWidget *now = press(Qt::Key_Space);
        EXPECT_TRUE(now && FocusRing::shown(now) && editor->tiles().size() == left) << left << " left";
        EXPECT_EQ(now, left ? editor->tiles().at(std::min<qsizetype>(1, left - 1))->findChild<QAbstractButton *>()
                            : buttonNamed(editor->dropZone(), L10n::t("Choose files")));
    }
    view->state().setMedia({composertest::picture()});
    settle();
    EXPECT_EQ(QApplication::focusWidget(), editor->addButton());
}

// Every kind of control, in the light and the dark, in the workspace, a sheet,
// the settings window, the ask panel and a dialog: the ring the keyboard
// brings goes round it whole and stands 3:1 out from the colour round it, on
// the X server's pixels, without moving it. The chosen look's outline is
// not mistaken for it: drawn on the card's edge, in another colour, with
// nothing round it.
TEST_P(KeyboardReach, EveryKindOfControlIsRingedSoTheEyeFindsIt)
{
    const auto expectRinged = [](QWidget *control, const char *kind, QWidget *focus = nullptr) {
        ASSERT_NE(control, nullptr) << kind;
        const zktest::RingPictures look = ringPictures(control, focus);
        EXPECT_GE(zktest::ringedShare(look), 0.9) << kind << " on " << QString::number(look.around, 16).toStdString();
        EXPECT_FALSE(look.moved) << kind << " moved";
    };
    ZephylWire::AssistantReply::Action action;
    action.id = QStringLiteral("plan");
    action.label = QStringLiteral("Plan it");
    model().setCompanionVariantID(QStringLiteral("ginger"));
    CompanionSettingsView settings(model(), LoginItemSwitch{});
    settings.resize(620, 760);
    AskPanelBridge bridge;
    AskBarView ask(model(), bridge);
    ask.resize(ask.sizeHint().expandedTo(QSize(420, 300)));

    for (const AppTheme theme : {AppTheme::light, AppTheme::dark}) {
        SCOPED_TRACE(theme == AppTheme::dark ? "dark" : "light");
        AppearanceService::shared().setTheme(theme);
        ASSERT_TRUE(activated(host.window.get()));

        auto *plan = show<PlanView>(Surface::plan);
        auto *sidebar = root->findChild<WorkspaceSidebar *>();
        ASSERT_NE(sidebar, nullptr);
        expectRinged(sidebar->newPublicationButton(), "filled button");
        expectRinged(sidebar->row(Surface::plan), "sidebar row");
        expectRinged(plan->button(L10n::t("New draft")), "quiet button");
        expectRinged(plan->dayCells().first(), "day");
        expectRinged(plan->rows().first(), "plan row");
        plan->rows().first()->setFocus(Qt::TabFocusReason);
        press(Qt::Key_Return);
        ASSERT_NE(plan->editor(), nullptr);
        expectRinged(plan->editor()->saveButton(), "filled button in a sheet");
        expectRinged(plan->editor()->titleField(), "field in a sheet");
        expectRinged(plan->editor()->plannedBox(), "check box");
        press(Qt::Key_Escape);

        auto *grid = show<GridView>(Surface::grid);
        expectRinged(grid->tiles().at(1), "tile");

        show<QWidget>(Surface::assistant);
        model().setMessages({ChatMessage::fromAssistant(QStringLiteral("Three posts."), {action}, model().clock())});
        settle();
        expectRinged(buttonNamed(root, QStringLiteral("Plan it")), "chip");
        auto *assistant = root->findChild<AssistantView *>();
        ASSERT_NE(assistant, nullptr);
        expectRinged(assistant->field()->parentWidget(), "message field", assistant->field());

        auto *profile = show<ProfileView>(Surface::profile);
        expectRinged(profile->findChild<ToggleSwitch *>(), "switch");
        expectRinged(profile->findChild<SegmentedPicker *>(), "segmented picker");
        expectRinged(profile->findChild<MenuPicker *>(), "menu picker");
        expectRinged(profile->findChild<Stepper *>()->upButton(), "stepper");
        expectRinged(profile->findChild<RoundedField *>(), "field");

        if (theme == AppTheme::dark) {
            // A notice that comes over the screen hides the ring of a control
            // under it as it hides the control: the ring goes under it, not over
            // it; once the notice has gone, the ring is whole again (in one
            // appearance: the other draws it as this one does).
            QWidget *window = host.window.get();
            const auto noticeAtRest = [&](bool shown) {
                return zktest::spinUntil([&] {
                    settle();
                    auto *banner = root->findChild<NoticeBanner *>();
                    return shown ? banner && banner->isVisible() && banner->y() == 18 : !banner;
                });
            };
            model().setNotice(AppNotice::make(QStringLiteral("Saved to the plan."), AppNotice::Tone::settled));
            ASSERT_TRUE(noticeAtRest(true));
            const auto *banner = root->findChild<NoticeBanner *>();
            const QRect notice(banner->mapTo(window, QPoint()), banner->size());
            model().setNotice(std::nullopt);
            ASSERT_TRUE(noticeAtRest(false));
            QAbstractButton *under = nullptr;
            for (QAbstractButton *b : profile->findChildren<QAbstractButton *>()) {
                const QRect r(b->mapTo(window, QPoint()), b->size());
                if (!under && b->isVisible() && b->focusPolicy() & Qt::TabFocus && r.left() > notice.left() + 8 &&
                    r.right() < notice.right() - 8 && r.height() < 40)
                    under = b;
            }
            ASSERT_NE(under, nullptr) << "a control across the notice";
            // Scrolled up to the notice's lower edge, to be half under it.
            QScrollBar *scroll = nullptr;
            for (QWidget *up = under->parentWidget(); up && !scroll; up = up->parentWidget())
                if (auto *area = qobject_cast<QScrollArea *>(up); area && area->verticalScrollBar()->maximum() > 0)
                    scroll = area->verticalScrollBar();
            ASSERT_NE(scroll, nullptr);
            scroll->setValue(scroll->value() + under->mapTo(window, QPoint()).y() - (notice.bottom() - 8));
            settle();
            ASSERT_EQ(under->mapTo(window, QPoint()).y(), notice.bottom() - 8) << under->text().toStdString();
            const zktest::RingPictures whole = ringPictures(under);
            EXPECT_GE(zktest::ringedShare(whole), 0.9) << under->text().toStdString();
            // The notice comes over the ringed control.
            model().setNotice(AppNotice::make(QStringLiteral("Saved to the plan."), AppNotice::Tone::settled));
            ASSERT_TRUE(noticeAtRest(true));
            const QRect area = zktest::aroundArea(under);
            const QImage covered = zktest::steadyPixels(window, area, whole.ringed);
            under->clearFocus();
            const QImage bare = zktest::steadyPixels(window, area, covered);
            const QRect overNotice = (area & notice).translated(-area.topLeft());
            ASSERT_FALSE(overNotice.isEmpty());
            EXPECT_EQ(covered.copy(overNotice), bare.copy(overNotice))
                << under->text().toStdString() << ": its ring drawn over the notice";
            model().setNotice(std::nullopt);
            ASSERT_TRUE(noticeAtRest(false));
            const auto ring = [under] { under->setFocus(Qt::TabFocusReason); };
            EXPECT_GE(zktest::ringedShare(zktest::ringPictures(under, ring, bare)), 0.9)
                << under->text().toStdString() << " once the notice has gone";
        }

        // The settings window: the looks, one chosen, on its own ground.
        ASSERT_TRUE(activated(&settings));
        settle();
        VariantCard *chosen = nullptr, *other = nullptr;
        for (VariantCard *card : settings.findChildren<VariantCard *>()) {
            if (card->selected())
                chosen = card;
            else if (!other)
                other = card;
        }
        ASSERT_TRUE(chosen && other) << "two looks, one chosen";
        const zktest::RingPictures card = ringPictures(other);
        EXPECT_GE(zktest::ringedShare(card, true), 0.9) << "the card is ringed round its edge";
        // The chosen card beside it, as the server shows it: its line on its
        // edge, in another colour than the ring, and nothing round it.
        const QRect shown(chosen->mapTo(&settings, QPoint()), chosen->size());
        const int around = zktest::kAround;
        const QImage beside = zktest::steadyPixels(&settings, shown.adjusted(-around, -around, around, around));
        const QRect edge(around, around, shown.width(), shown.height());
        double round = 1;
        for (int y = 0; y < beside.height(); ++y)
            for (int x = 0; x < beside.width(); ++x)
                if (!edge.adjusted(-1, -1, 1, 1).contains(x, y) && edge.adjusted(-7, -7, 7, 7).contains(x, y))
                    round = std::max(round, ZephylPalette::contrastRatio(beside.pixel(x, y) & 0xFFFFFFu, card.around));
        EXPECT_LT(round, 1.5) << "something round the chosen card";
        const QRgb line = beside.pixel(edge.center().x(), edge.top() + 1) & 0xFFFFFFu;
        const QRgb ring = zktest::ringColor(card);
        EXPECT_GE(ZephylPalette::contrastRatio(line, ring), 1.5)
            << "the chosen card's line " << QString::number(line, 16).toStdString() << " and the ring "
            << QString::number(ring, 16).toStdString() << " look alike";
        expectRinged(settings.findChild<ToggleSwitch *>(), "switch in the settings");
        settings.hide();

        // The ask panel's card.
        ASSERT_TRUE(activated(&ask));
        settle();
        ASSERT_FALSE(ask.suggestionChips().isEmpty());
        expectRinged(ask.suggestionChips().first(), "chip on the ask panel");
        expectRinged(ask.closeButton(), "round button on the ask panel");
        expectRinged(ask.field()->parentWidget(), "ask field", ask.field());
        ask.hide();

        // A dialog, on its own ground: the destructive action and Cancel.
        ASSERT_TRUE(activated(host.window.get()));
        auto *dialog = new ConfirmationDialog(L10n::t("Sign out of Zephyl?"), std::nullopt, L10n::t("Sign out"),
                                              host.window.get());
        dialog->open();
        ASSERT_TRUE(activated(dialog));
        expectRinged(dialog->actionButton(), "destructive button in a dialog");
        expectRinged(dialog->cancelButton(), "quiet button in a dialog");
        dialog->close();
        settle();
    }
}

// What a control is called: a button's words, a field's empty words, else
// its name for assistive technology.
QString calledBy(const QWidget *w)
{
    if (const auto *button = qobject_cast<const QAbstractButton *>(w); button && !button->text().isEmpty())
        return button->text();
    if (const auto *field = qobject_cast<const QLineEdit *>(w); field && !field->placeholderText().isEmpty())
        return field->placeholderText();
    return w->accessibleName();
}

// Round a window shorter than the workspace (which it scrolls, as the real one
// does) by Tab and Shift+Tab on every screen, the draft editor and the
// composer: each stop is a control called something, never a scroller or a
// bare container (the assistant's reply and its words included); ringed 3:1
// at its edge, a text entry at its box's; in view whole, with the row whose
// words name it; and a key that scrolls has brought in a stop that was out of view.
TEST_P(KeyboardReach, EveryStopIsANamedControlRingedAndInViewWithItsRow)
{
    QScrollArea *window = scrollArea(root, host.window.get());
    host.window->resize(1180, 520);
    window->setGeometry(host.window->rect());
    window->show();
    // Where the window's scrollers stand, once put back where `to` says.
    const auto scroll = [&](const QHash<QScrollBar *, int> &to) {
        QHash<QScrollBar *, int> at;
        for (QScrollBar *bar : host.window->findChildren<QScrollBar *>())
            bar->setValue(at[bar] = to.value(bar, bar->value()));
        return settle(), at;
    };
    const auto walk = [&](Qt::Key key) {
        if (!QApplication::focusWidget())
            QTest::keyClick(host.window.get(), key);
        QList<QWidget *> stops;
        for (int n = 0; n < 80; ++n) {
            const auto before = scroll({});
            QWidget *at = press(key);
            if (!at || (!stops.isEmpty() && stops.last() == at))
                continue; // a date's own parts, one after another
            if (stops.contains(at))
                break;
            stops << at;
            const std::string called = calledBy(at).toStdString();
            EXPECT_FALSE(called.empty()) << at->metaObject()->className() << " is called nothing";
            EXPECT_FALSE(qobject_cast<QScrollArea *>(at) || at->metaObject() == &QWidget::staticMetaObject)
                << "a container takes the keyboard";
            // In view with the words that name it: its setting's row, or the label over it.
            QWidget *ringed = qobject_cast<QPlainTextEdit *>(at) ? at->parentWidget() : at, *shown = ringed;
            for (QWidget *up = at->parentWidget(), *near = up->parentWidget(); up && shown == ringed; up = up->parentWidget()) {
                const QList<TextBlock *> words = up == near || up == at->parentWidget() ? up->findChildren<TextBlock *>() : QList<TextBlock *>();
                if (qobject_cast<SettingRow *>(up) || std::any_of(words.begin(), words.end(), [&](const TextBlock *t) {
                        return !at->isAncestorOf(t) && !t->text().compare(calledBy(at), Qt::CaseInsensitive);
                    }))
                    shown = up;
            }
            EXPECT_TRUE(wholeInView(shown)) << called << " out of view";
            if (const auto after = scroll({}); after != before) {
                scroll(before);
                EXPECT_FALSE(wholeInView(shown, FocusRing::kReach + 1))
                    << called << " was in view with its ring: nothing to scroll for";
                scroll(after);
            }
            // Ringed, not once the keyboard is off it, and again once it is
            // back (the server may show a drawing late: each look waits for a change).
            const QImage first = zktest::steadyPixels(ringed->window(), zktest::aroundArea(ringed));
            at->clearFocus();
            const zktest::RingPictures look = zktest::ringPictures(
                ringed, [&] { at->setFocus(key == Qt::Key_Tab ? Qt::TabFocusReason : Qt::BacktabFocusReason); }, first);
            EXPECT_GE(zktest::ringedShare(look), 0.9) << called << " shows no ring round it";
        }
        EXPECT_GT(stops.size(), 5);
    };
    ZephylWire::AssistantReply::Action action;
    action.id = QStringLiteral("plan");
    action.label = QStringLiteral("Plan it");
    for (const Surface surface : {Surface::summary, Surface::assistant, Surface::grid, Surface::profile, Surface::plan}) {
        SCOPED_TRACE(Surfaces::rawValue(surface).toStdString());
        show<QWidget>(surface);
        if (surface == Surface::assistant)
            model().setMessages({ChatMessage::fromAssistant(QStringLiteral("Three posts."), {action}, model().clock())});
        walk(Qt::Key_Tab);
        if (surface == Surface::profile)
            walk(Qt::Key_Backtab);
    }
    show<PlanView>(Surface::plan)->rows().first()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    walk(Qt::Key_Tab);
    walk(Qt::Key_Backtab);
    press(Qt::Key_Escape);
    model().setComposerPresented(true);
    settle();
    ComposerState &post = root->composerSheet()->findChild<ComposerView *>()->state();
    post.setFormat(PublishFormat::reel);
    post.setMoreOptions(true);
    walk(Qt::Key_Tab);
    walk(Qt::Key_Backtab);
}

// Built anew in part or whole, the profile keeps the keyboard's place and its
// reading order: Instagram connected from the keyboard, the card's first
// button has it and its buttons read first; the language changed from its
// picker, the keyboard stays there, in view, and Tab goes on to what follows.
TEST_P(KeyboardReach, TheProfileKeepsTheKeyboardsPlaceWhenBuiltAnew)
{
    auto *profile = show<ProfileView>(Surface::profile);
    QAbstractButton *connect = buttonNamed(profile, L10n::t("Connect Instagram"));
    ASSERT_NE(connect, nullptr);
    connect->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Backtab);
    ASSERT_EQ(press(Qt::Key_Tab), connect);
    model().setInstagramBusy(true); // as pressed: held while it connects
    settle();
    ZephylWire::InstagramProfile account;
    account.userId = QStringLiteral("17");
    account.username = QStringLiteral("kitty.cat");
    model().setInstagram(account);
    model().setInstagramBusy(false);
    settle();
    QWidget *another = QApplication::focusWidget();
    ASSERT_NE(another, nullptr);
    EXPECT_EQ(calledBy(another), arabic() ? QStringLiteral("ربط حساب آخر") : QStringLiteral("Connect another"));
    EXPECT_TRUE(FocusRing::shown(another));
    auto *language = profile->findChild<MenuPicker *>();
    EXPECT_TRUE(tabThrough(another, profile).contains(language)) << "the language comes after \"Connect another\"";

    language->setFocus(Qt::TabFocusReason);
    model().setLanguage(arabic() ? AppLanguage::he : AppLanguage::de);
    settle();
    QWidget *now = QApplication::focusWidget();
    ASSERT_NE(now, nullptr) << "the keyboard is on nothing";
    EXPECT_EQ(calledBy(now), arabic() ? QStringLiteral("שפה") : QStringLiteral("Sprache"));
    EXPECT_TRUE(qobject_cast<MenuPicker *>(now) && wholeInView(now));
    EXPECT_EQ(calledBy(press(Qt::Key_Tab)), arabic() ? QStringLiteral("התנתקות") : QStringLiteral("Abmelden"));

    // A session started and ended from its row: the keyboard stays on the
    // row's button, as "Start" gives way to "End" and back, the page still.
    QScrollBar *bar = profile->findChild<QScrollArea *>()->verticalScrollBar();
    buttonNamed(profile, L10n::t("Start"))->setFocus(Qt::TabFocusReason);
    settle();
    const int scrolledTo = bar->value();
    for (const char *next : {"End", "Start"}) {
        QWidget *after = press(Qt::Key_Space);
        EXPECT_TRUE(after && calledBy(after) == L10n::t(next) && FocusRing::shown(after) && bar->value() == scrolledTo);
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, KeyboardReach, ::testing::Values(AppLanguage::en, AppLanguage::ar),
                         [](const ::testing::TestParamInfo<AppLanguage> &info) {
                             return info.param == AppLanguage::ar ? std::string("Arabic") : std::string("English");
                         });
