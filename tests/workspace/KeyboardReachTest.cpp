// The native workspace from the keyboard, in a window on a real X server, left
// to right and right to left: Tab reaches the plan's rows, the grid's drafts
// and posts and the composer's remove marks in the order they read, rings and
// names them, and Return, Space, the Menu key and Shift+F10 open them or give
// their menus; Return and Enter press every button as Space does; every kind
// of control, there and in the settings window, the ask panel and a dialog,
// shows a ring the eye finds, light and dark.

#include "ScreensTestSupport.h"
#include "support/TextPixels.h"
#include "support/X11TestSupport.h"

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
#include "workspace/SummaryView.h"
#include "workspace/WorkspaceSplitView.h"
#include "design/Titles.h"

#include <QCheckBox>
#include <QAbstractItemView>
#include <QClipboard>
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

// Shows every event of the application to `look` while it lives.
class EventTap final : public QObject {
public:
    explicit EventTap(std::function<void(QObject *, QEvent *)> look) : m_look(std::move(look))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        m_look(watched, event);
        return false;
    }

private:
    std::function<void(QObject *, QEvent *)> m_look;
};

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

// `key` held down and let go as X hands it over when the toolkit takes its
// repeats for the user's own presses (it marks them only when it finds the
// press queued behind the release): four times a release and a press at one
// server time, to the window that has the keyboard.
void heldAsXTellsIt(Qt::Key key, const char *text)
{
    quint64 at = 1'000'000;
    const auto send = [&](QEvent::Type type) {
        QKeyEvent event(type, key, Qt::NoModifier, QString::fromLatin1(text));
        event.setTimestamp(at);
        QCoreApplication::sendEvent(QApplication::focusWidget()->window()->windowHandle(), &event);
        settle();
    };
    send(QEvent::KeyPress);
    for (const quint64 wait : {660, 40, 40, 40, 25}) {
        at += wait;
        send(QEvent::KeyRelease);
        if (wait != 25)
            send(QEvent::KeyPress);
    }
}

// The presses of keys that reach a window of the process, as the server
// repeats a held key, and whether a Shift has been let go since.
class KeysSeen final : public QObject {
public:
    KeysSeen() { qApp->installEventFilter(this); }
    int presses = 0;
    bool shiftReleased = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched->isWindowType() && event->type() == QEvent::KeyPress)
            ++presses;
        if (watched->isWindowType() && event->type() == QEvent::KeyRelease)
            shiftReleased = shiftReleased || static_cast<QKeyEvent *>(event)->key() == Qt::Key_Shift;
        return false;
    }
};

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

    // Keys of the X server's keyboard (xdotool's `action`, "key", "keydown" or
    // "keyup") to the window that has the keyboard, once it is active again
    // (a question closed hands it back through the window manager) and the
    // server gives it its input.
    void xkeys(const char *action, const char *keys)
    {
        ASSERT_TRUE(zktest::spinUntil([] {
            const QWidget *at = QApplication::focusWidget();
            return at && zktest::inputFocus() == at->window()->winId();
        })) << action << " " << keys << ": the keyboard is on no window of the test";
        zktest::xdotool({QString::fromLatin1(action), QString::fromLatin1(keys)});
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

    // Other devices add drafts for today: the list, built anew longer above
    // the row the keyboard stayed on (scrolled to it), still shows that row;
    // the second time with a button held down beside the list, as the change
    // comes while the user presses on the sidebar.
    auto *sidebar = root->findChild<WorkspaceSidebar *>();
    ASSERT_NE(sidebar, nullptr);
    const QPoint beside = sidebar->mapToGlobal(QPoint(sidebar->width() / 2, sidebar->height() - 4));
    ASSERT_EQ(qobject_cast<QAbstractButton *>(QApplication::widgetAt(beside)), nullptr);
    for (const bool held : {false, true}) {
        plan->rows().last()->setFocus(Qt::TabFocusReason);
        settle();
        const QString last = plan->rows().last()->accessibleName();
        QList<ZephylWire::PlanDraft> more = model().planDrafts();
        for (int i = 0; i < 12; ++i) {
            ZephylWire::PlanDraft d;
            d.id = 100 + more.size();
            d.title = QStringLiteral("Added there %1").arg(more.size());
            d.format = QStringLiteral("post");
            d.scheduledAt = model().clock().now().addSecs(60 * i).toUTC().toString(Qt::ISODate);
            more << d;
        }
        if (held) {
            zktest::pointAt(beside);
            zktest::xdotool({"mousedown", "1"});
            ASSERT_TRUE(zktest::spinUntil([] { return QGuiApplication::mouseButtons() != Qt::NoButton; }));
        }
        flows.service.results["planDrafts"] = more;
        model().setPlanDrafts(more);
        ASSERT_TRUE(zktest::spinUntil([&] { settle(); return plan->rows().size() == more.size(); }));
        // (A press is the user's last doing: no ring then.)
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_TRUE(held ? QApplication::focusWidget()->accessibleName() == last : ringedOn(last)) << last.toStdString();
        EXPECT_TRUE(wholeInView(QApplication::focusWidget())) << last.toStdString() << (held ? ", a button held" : "");
        if (held) {
            zktest::xdotool({"mouseup", "1"});
            ASSERT_TRUE(zktest::spinUntil([] { return QGuiApplication::mouseButtons() == Qt::NoButton; }));
        }
    }
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

// The published posts after the drafts: each one with an address is a stop of
// Tab in grid order, before "Show earlier posts", named by its kind and the
// start of its caption or its day, ringed inside its edge, and opened on
// Instagram by Return or Space as a click opens it; one without an address
// opens nothing and takes no stop.
TEST_P(KeyboardReach, GridPosts)
{
    QList<QUrl> opened;
    const PlannerKit::UrlOpener desktop = std::exchange(PlannerKit::urlOpener(), [&](const QUrl &url) { opened << url; });
    ZephylWire::InstagramFeedItem reel, carousel, bare;
    reel.id = QStringLiteral("r1");
    reel.kind = ZephylWire::InstagramFeedItem::Kind::reel;
    reel.caption = QStringLiteral("Morning light over the bay, with the cat   asleep on the sill");
    reel.platformURL = QUrl(QStringLiteral("https://www.instagram.com/reel/r1/"));
    carousel.id = QStringLiteral("c2");
    carousel.kind = ZephylWire::InstagramFeedItem::Kind::carousel;
    carousel.postedAt = QStringLiteral("2025-05-01T12:00:00Z");
    carousel.platformURL = QUrl(QStringLiteral("https://www.instagram.com/p/c2/"));
    bare.id = QStringLiteral("f3");
    bare.kind = ZephylWire::InstagramFeedItem::Kind::feed;
    bare.caption = QStringLiteral("Kept off the web");
    model().setFeedItems({reel, carousel, bare});
    model().setFeedStatus(FeedStatus::synced());
    model().setFeedHasMore(true);
    auto *grid = show<GridView>(Surface::grid);
    ASSERT_NE(grid, nullptr);
    const QList<GridTile *> tiles = grid->tiles();
    ASSERT_EQ(tiles.size(), 4 + 3);

    const QString fsi(QChar(0x2068)), pdi(QChar(0x2069));
    EXPECT_EQ(tiles.at(4)->accessibleName(), QStringLiteral("Reel \u00B7 Morning light over the bay, with the cat\u2026"));
    EXPECT_EQ(tiles.at(5)->accessibleName(), arabic() ? QStringLiteral("كاروسيل \u00B7 ") + fsi + QStringLiteral("1 مايو 2025") + pdi
                                                      : QStringLiteral("Carousel \u00B7 May 1, 2025"));
    EXPECT_EQ(tiles.at(6)->accessibleName(), arabic() ? QStringLiteral("منشور \u00B7 Kept off the web")
                                                      : QStringLiteral("Post \u00B7 Kept off the web"));

    // Ringed inside its edge, on the soft fill of a post whose picture has not come.
    GridTile *post = tiles.at(4);
    const int middle = post->height() / 2;
    const zktest::RingPictures ringed = ringedByTab(tiles.at(3), post);
    const QPoint at = ringed.control.topLeft();
    EXPECT_GE(strongestChange({ringed.bare, ringed.ringed}, {at + QPoint(1, middle), at + QPoint(post->width() - 2, middle)}), 3.0);

    // From "Refresh" the four drafts, the two posts that open, "Show earlier posts".
    QList<QWidget *> stops(tiles.begin(), tiles.begin() + 6);
    stops << grid->button(L10n::t("Show earlier posts"));
    EXPECT_EQ(tabThrough(grid->button(L10n::t("Refresh")), grid), stops);

    // Return opens the reel; Space, Tab on, the carousel.
    post->setFocus(Qt::TabFocusReason);
    xkeys("key", "Return");
    EXPECT_TRUE(zktest::spinUntil([&] { return opened.size() == 1; }));
    xkeys("key", "Tab");
    EXPECT_TRUE(zktest::spinUntil([&] { return tiles.at(5)->hasFocus(); }));
    xkeys("key", "space");
    EXPECT_TRUE(zktest::spinUntil([&] { return opened.size() == 2; }));
    EXPECT_EQ(opened, (QList<QUrl>{*reel.platformURL, *carousel.platformURL}));
    EXPECT_EQ(grid->editor(), nullptr);
    PlannerKit::urlOpener() = desktop;
}

TEST_P(KeyboardReach, ComposerRemoveMarks)
{
    model().setComposerPresented(true);
    settle();
    auto *view = root->composerSheet() ? root->composerSheet()->findChild<ComposerView *>() : nullptr;
    ASSERT_NE(view, nullptr);
    view->state().setFormat(PublishFormat::carousel);
    view->state().setMedia({composertest::picture(), composertest::picture(), composertest::video(5)});
    settle();
    ComposerEditor *editor = view->editor();
    QList<QWidget *> marks;
    for (QWidget *tile : editor->tiles())
        marks << tile->findChild<QAbstractButton *>();
    ASSERT_EQ(marks.size(), 3);
    // Each named for its own tile, though the files have one name.
    const QStringList names = arabic() ? QStringList{"إزالة الصورة 1 من 3", "إزالة الصورة 2 من 3", "إزالة الفيديو 3 من 3"}
                                       : QStringList{"Remove picture 1 of 3", "Remove picture 2 of 3", "Remove video 3 of 3"};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(marks.at(i)->accessibleName(), names.at(i));

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
    // keyboard that has one (the menu holds the keys until it closes), with a
    // divider before "Remove"; `choose` picks an entry by Return there.
    const auto menuOnMark = [](const std::function<void(QMenu *)> &use) {
        bool seen = false;
        QTimer look;
        look.setInterval(20);
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget()); menu && !seen) {
                seen = true;
                use(menu);
            }
        });
        look.start();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
        zktest::spinUntil([&] { return seen; }, std::chrono::seconds(5));
        settle();
    };
    QStringList entries;
    mark->setFocus(Qt::TabFocusReason);
    menuOnMark([&](QMenu *menu) {
        for (QAction *entry : menu->actions())
            entries << (entry->isSeparator() ? QStringLiteral("-") : entry->text());
        menu->close();
    });
    EXPECT_EQ(entries, (QStringList{L10n::t("Move earlier"), L10n::t("Move later"), "-", L10n::t("Remove")}));
    const auto choose = [&](const QString &text) {
        menuOnMark([&](QMenu *menu) {
            for (QAction *entry : menu->actions())
                if (entry->text() == text)
                    menu->setActiveAction(entry);
            QTest::keyClick(menu, Qt::Key_Return);
        });
    };

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
    // and on the add button once files came in. On its way it lands on no
    // other control (a reader would call each out).
    QStringList landedOn;
    const QMetaObject::Connection landing = QObject::connect(qApp, &QApplication::focusChanged, [&](QWidget *, QWidget *now) {
        if (now && !qobject_cast<QMenu *>(now))
            landedOn << calledBy(now);
    });
    marks.at(1)->setFocus(Qt::TabFocusReason);
    for (const qsizetype left : {2, 1, 0}) {
        landedOn.clear();
        QWidget *now = press(Qt::Key_Space);
        EXPECT_TRUE(now && FocusRing::shown(now) && editor->tiles().size() == left) << left << " left";
        EXPECT_EQ(now, left ? editor->tiles().at(std::min<qsizetype>(1, left - 1))->findChild<QAbstractButton *>()
                            : buttonNamed(editor->dropZone(), L10n::t("Choose files")));
        EXPECT_EQ(landedOn, QStringList{calledBy(now)}) << left << " left";
    }
    landedOn.clear();
    view->state().setMedia({composertest::picture()});
    settle();
    EXPECT_EQ(QApplication::focusWidget(), editor->addButton());
    EXPECT_EQ(landedOn, QStringList{calledBy(editor->addButton())});

    // Moved by its menu, the picture keeps the keyboard in its new place,
    // ringed, its mark named for that place, the keyboard on no other control
    // on its way from the menu.
    view->state().setMedia({composertest::picture(), composertest::video(5), composertest::picture()});
    settle();
    const QString moved = view->state().media().first().id;
    editor->tiles().first()->findChild<QAbstractButton *>()->setFocus(Qt::TabFocusReason);
    const QStringList pictureNames = arabic() ? QStringList{"إزالة الصورة 1 من 3", "إزالة الصورة 2 من 3", "إزالة الصورة 3 من 3"}
                                              : QStringList{"Remove picture 1 of 3", "Remove picture 2 of 3", "Remove picture 3 of 3"};
    for (const auto &[entry, place] : {std::pair("Move later", 1), std::pair("Move later", 2), std::pair("Move earlier", 1)}) {
        landedOn.clear();
        choose(L10n::t(entry));
        // Back from the menu on the mark it was asked from at most, then on the moved one's.
        const QString from = pictureNames.at(place + (entry == std::string("Move later") ? -1 : 1)), to = pictureNames.at(place);
        EXPECT_TRUE(landedOn == QStringList{to} || landedOn == (QStringList{from, to}))
            << entry << ": " << landedOn.join(", ").toStdString();
        ASSERT_EQ(view->state().media().at(place).id, moved) << entry;
        EXPECT_EQ(QApplication::focusWidget(), editor->tiles().at(place)->findChild<QAbstractButton *>()) << entry;
        EXPECT_TRUE(ringedOn(pictureNames.at(place))) << entry;
    }
    QObject::disconnect(landing);
}

// With the X server's keys, Return and the keypad's Enter press the button
// that has the keyboard as Space does, held down while the key is: on a
// screen, in the sidebar, in a sheet and in a question, where Return presses
// the focused button; a text field keeps its own Return.
TEST_P(KeyboardReach, ReturnAndEnterPressTheButtonThatHasTheKeyboard)
{
    // Held, "New draft" is down and no draft is open; let go, it is.
    auto *plan = show<PlanView>(Surface::plan);
    QAbstractButton *newDraft = plan->button(L10n::t("New draft"));
    ASSERT_NE(newDraft, nullptr);
    newDraft->setFocus(Qt::TabFocusReason);
    xkeys("keydown", "Return");
    EXPECT_TRUE(zktest::spinUntil([&] { return newDraft->isDown(); }));
    EXPECT_EQ(plan->editor(), nullptr);
    xkeys("keyup", "Return");
    ASSERT_TRUE(zktest::spinUntil([&] { return plan->editor() != nullptr; }));

    // In its sheet the caption takes Return as a new line; the sheet stays.
    // Then its "Cancel" by Enter closes it.
    DraftEditorView *editor = plan->editor();
    editor->captionEditor()->setFocus(Qt::TabFocusReason);
    xkeys("type", "Yoga");
    xkeys("key", "Return");
    xkeys("type", "mat");
    EXPECT_TRUE(zktest::spinUntil([&] { return editor->captionEditor()->toPlainText() == QStringLiteral("Yoga\nmat"); }))
        << editor->captionEditor()->toPlainText().toStdString();
    EXPECT_EQ(plan->editor(), editor);
    buttonNamed(sheetOf(editor), L10n::t("Cancel"))->setFocus(Qt::TabFocusReason);
    xkeys("key", "KP_Enter");
    EXPECT_TRUE(zktest::spinUntil([&] { settle(); return plan->editor() == nullptr; }));

    // The sidebar's "New publication" by Enter; the composer's "Close" by Return.
    QAbstractButton *newPublication = root->findChild<WorkspaceSidebar *>()->newPublicationButton();
    newPublication->setFocus(Qt::TabFocusReason);
    xkeys("key", "KP_Enter");
    ASSERT_TRUE(zktest::spinUntil([&] { settle(); return model().composerPresented() && root->composerSheet(); }));
    auto *composer = root->composerSheet()->findChild<ComposerView *>();
    ASSERT_NE(composer, nullptr);

    // Held on "Publish now…", Return or Space opens the confirmation once and
    // never presses "Confirm and publish", which has the keyboard once it
    // shows: held on the server, and as X tells a held key when the toolkit
    // takes its repeats for presses.
    ZephylWire::InstagramProfile account;
    account.username = QStringLiteral("kitty.studio");
    model().setInstagram(account);
    ComposerState &post = composer->state();
    post.setMedia({composertest::picture()});
    post.setCaption(QStringLiteral("Held"));
    settle();
    const auto heldOnce = [&](const std::function<void()> &hold) {
        composer->publishButton()->setFocus(Qt::TabFocusReason);
        hold();
        settle();
        EXPECT_TRUE(post.confirming() && composer->confirmation());
        EXPECT_FALSE(model().publishing() || post.outcome() || post.sending()) << "published";
        post.setConfirming(false);
        settle();
    };
    for (const auto &[key, text] : {std::pair(Qt::Key_Return, "\r"), std::pair(Qt::Key_Space, " ")}) {
        SCOPED_TRACE(key == Qt::Key_Return ? "Return" : "Space");
        heldOnce([key = key, text = text] { heldAsXTellsIt(key, text); });
    }
    heldOnce([&] {
        KeysSeen seen;
        xkeys("keydown", "Return");
        EXPECT_TRUE(zktest::spinUntil([&] { return seen.presses > 4; })) << "Return did not repeat";
        xkeys("keyup", "Return");
        // Its last repeat and its release have come once a later key has.
        xkeys("key", "shift");
        EXPECT_TRUE(zktest::spinUntil([&] { return seen.shiftReleased; }));
    });
    post.setMedia({});
    post.setCaption(QString());
    composer->closeButton()->setFocus(Qt::TabFocusReason);
    xkeys("key", "Return");
    EXPECT_TRUE(zktest::spinUntil([&] { settle(); return !model().composerPresented(); }));

    // The assistant's "Copy" puts the reply on the clipboard; its chip does what it says.
    show<QWidget>(Surface::assistant);
    ZephylWire::AssistantReply::Action grid;
    grid.id = QStringLiteral("preview_grid");
    grid.label = QStringLiteral("See the grid");
    model().setMessages({ChatMessage::fromAssistant(QStringLiteral("Three posts."), {grid}, model().clock())});
    settle();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    buttonNamed(root, L10n::t("Copy"))->setFocus(Qt::TabFocusReason);
    xkeys("key", "Return");
    EXPECT_TRUE(zktest::spinUntil([] { return QGuiApplication::clipboard()->text() == QStringLiteral("Three posts."); }));
    buttonNamed(root, grid.label)->setFocus(Qt::TabFocusReason);
    xkeys("key", "KP_Enter");
    EXPECT_TRUE(zktest::spinUntil([&] { return model().surface() == Surface::grid; }));

    // The language picker opens its list by Return, as by Space; Escape
    // closes it with the language as it was.
    auto *profile = show<ProfileView>(Surface::profile);
    auto *language = profile->findChild<MenuPicker *>();
    ASSERT_NE(language, nullptr);
    language->setFocus(Qt::TabFocusReason);
    xkeys("key", "Return");
    EXPECT_TRUE(zktest::spinUntil([&] { return language->view()->isVisible(); })) << "Return opened no list";
    zktest::xdotool({"key", "Escape"});
    EXPECT_TRUE(zktest::spinUntil([&] { return !language->view()->isVisible() && language->hasFocus(); }));
    EXPECT_EQ(model().language(), GetParam());
    // A stepper's half held goes on stepping, as it is made to.
    auto *length = profile->findChild<Stepper *>();
    ASSERT_NE(length, nullptr);
    const int was = length->value();
    length->upButton()->setFocus(Qt::TabFocusReason);
    heldAsXTellsIt(Qt::Key_Return, "\r");
    EXPECT_GT(length->value(), was + 5) << "held, it stepped once";

    // "Sign out" asks first, the keyboard on "Cancel": Return there cancels.
    // Asked again, Enter on "Sign out" signs out.
    const auto question = [&] {
        ConfirmationDialog *asked = nullptr;
        zktest::spinUntil([&] {
            asked = host.window->findChild<ConfirmationDialog *>();
            return asked && asked->isActiveWindow() && asked->cancelButton()->hasFocus();
        });
        return asked;
    };
    for (const bool confirm : {false, true}) {
        buttonNamed(profile, L10n::t("Sign out"))->setFocus(Qt::TabFocusReason);
        xkeys("key", "Return");
        ConfirmationDialog *asked = question();
        ASSERT_NE(asked, nullptr) << "no question on the keyboard";
        if (confirm)
            asked->actionButton()->setFocus(Qt::TabFocusReason);
        xkeys("key", confirm ? "KP_Enter" : "Return");
        EXPECT_TRUE(zktest::spinUntil([&] { settle(); return !host.window->findChild<ConfirmationDialog *>(); }));
        EXPECT_EQ(model().session(), confirm ? SessionState::signedOut : SessionState::signedIn);
    }
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
            const auto halfUnder = [&] {
                scroll->setValue(scroll->value() + under->mapTo(window, QPoint()).y() - (notice.bottom() - 8));
                settle();
            };
            halfUnder();
            ASSERT_EQ(under->mapTo(window, QPoint()).y(), notice.bottom() - 8) << under->text().toStdString();
            const zktest::RingPictures whole = ringPictures(under);
            EXPECT_GE(zktest::ringedShare(whole), 0.9) << under->text().toStdString();
            // Taking the keyboard may have scrolled it whole into view (or the page to its start).
            halfUnder();
            ASSERT_EQ(under->mapTo(window, QPoint()).y(), notice.bottom() - 8) << under->text().toStdString();
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
            halfUnder();
            const auto ring = [&] {
                QTest::keyClick(window, Qt::Key_Shift); // the user is at the keyboard
                under->setFocus(Qt::TabFocusReason);
                settle(); // it comes into view first: put back half under
                halfUnder();
            };
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

        // A window that merely comes forward rings nothing: a switch clicked
        // on, the keyboard then used in another window, and back.
        ASSERT_TRUE(activated(host.window.get()));
        auto *field = profile->findChild<ToggleSwitch *>();
        field->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(field->hasFocus());
        ASSERT_TRUE(activated(&ask));
        QTest::keyClick(&ask, Qt::Key_Shift);
        const auto forward = [&] {
            EXPECT_TRUE(activated(host.window.get()));
            EXPECT_TRUE(field->hasFocus());
            settle();
        };
        EXPECT_LT(zktest::ringedShare(zktest::ringPictures(field, forward), true), 0.1) << "a ring round the switch";
        ask.hide();
    }
}

// Round a window shorter than the workspace (which it scrolls, as the real one
// does) by Tab and Shift+Tab on every screen, the draft editor and the
// composer: each stop is a control called something, never a scroller or a
// bare container (the assistant's reply and its words included); ringed 3:1
// at its edge, a text entry at its box's; in view whole, with the row whose
// words name it; and a key that scrolls has brought in a stop that was out of
// view, or a scroller's first or last stop with its start or end.
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
            // Every Tab moves the keyboard to a control (a date's parts are the arrows').
            EXPECT_TRUE(at && (stops.isEmpty() || stops.last() != at))
                << "a Tab left the keyboard " << (at ? "on " + calledBy(at).toStdString() : std::string("on nothing"));
            if (!at || (!stops.isEmpty() && stops.last() == at))
                continue;
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
                const bool wasOut = !wholeInView(shown, FocusRing::kReach + 1);
                scroll(after);
                // Or the first or last stop of a scroller that went on to its start or end.
                bool toAnEnd = true;
                for (auto [bar, value] : after.asKeyValueRange())
                    toAnEnd &= value == before.value(bar) || value == bar->minimum() || value == bar->maximum();
                EXPECT_TRUE(wasOut || toAnEnd) << called << " was in view with its ring: nothing to scroll for";
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
    // (Brought in from the top: at the page's end, where "Sign out" took it, a
    // row a line shorter moves the end.)
    QScrollBar *bar = profile->findChild<QScrollArea *>()->verticalScrollBar();
    bar->setValue(0);
    buttonNamed(profile, L10n::t("Start"))->setFocus(Qt::TabFocusReason);
    settle();
    const int scrolledTo = bar->value();
    for (const char *next : {"End", "Start"}) {
        QWidget *after = press(Qt::Key_Space);
        EXPECT_TRUE(after && calledBy(after) == L10n::t(next) && FocusRing::shown(after) && bar->value() == scrolledTo);
    }
}

// Of the words below `root` shown whole, the lowest on the screen.
TextBlock *lowestWords(const QWidget *root)
{
    TextBlock *lowest = nullptr;
    for (TextBlock *t : root->findChildren<TextBlock *>()) {
        if (t->isVisible() && (!lowest || t->mapToGlobal(QPoint(0, t->height())).y() >
                                              lowest->mapToGlobal(QPoint(0, lowest->height())).y()))
            lowest = t;
    }
    return lowest;
}

// On a window shorter than the workspace, which it scrolls as the real window
// does on a short screen. A screen opened from elsewhere (a summary card's
// button, an answer's, a sheet's) opens at its top, its heading and the
// sidebar's cat whole, with the keyboard on a control of its own, in view and
// ringed, not on the sidebar; chosen in the sidebar by keyboard, the row keeps
// it. The profile's steppers are named for what they do; its last control
// brings in the version line and the note under it; the sign-out question is
// ringed on "Cancel" from its first frame. Send pressed by keyboard hands the
// keyboard back to the field. Where the window is tall enough, the assistant
// opens on its field; the draft sheet and the composer open on their first field.
TEST_P(KeyboardReach, AScreenOpensAtItsTopWithTheKeyboardOnIt)
{
    QScrollArea *window = scrollArea(root, host.window.get());
    host.window->resize(1180, 520);
    window->setGeometry(host.window->rect());
    window->show();
    settle();
    QScrollBar *outer = window->verticalScrollBar();
    auto *split = root->findChild<WorkspaceSplitView *>();
    ASSERT_NE(split, nullptr);
    WorkspaceSidebar *sidebar = split->sidebar();
    const auto atItsTop = [&](const QWidget *screen) -> ::testing::AssertionResult {
        const auto *title = screen->findChild<ScreenTitle *>();
        const auto *cat = sidebar->findChild<CatFigureView *>();
        if (outer->value() == 0 && title && wholeInView(title) && cat && wholeInView(cat))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the window is scrolled by " << outer->value()
                                             << (title && wholeInView(title) ? "" : ", the heading cut");
    };
    const auto keyboardOn = [&](const QWidget *screen) -> ::testing::AssertionResult {
        QWidget *at = QApplication::focusWidget();
        if (at && screen->isAncestorOf(at) && FocusRing::shown(at) && wholeInView(at))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "the keyboard is on " << (at ? at->metaObject()->className() + (" " + calledBy(at).toStdString()) : "nothing")
               << (at && sidebar->isAncestorOf(at) ? " in the sidebar" : "") << (at && FocusRing::shown(at) ? "" : ", unringed");
    };

    // The sidebar's last control scrolls the window down; a summary card's
    // "Discuss" from the keyboard.
    auto *summary = show<SummaryView>(Surface::summary);
    sidebar->askButton()->setFocus(Qt::TabFocusReason);
    settle();
    ASSERT_GT(outer->value(), 0);
    buttonNamed(summary, L10n::t("Discuss"))->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    auto *assistant = root->findChild<AssistantView *>();
    ASSERT_NE(assistant, nullptr);
    EXPECT_TRUE(atItsTop(assistant));
    EXPECT_TRUE(keyboardOn(assistant));

    // Send from the keyboard: the keyboard is back in the field.
    assistant->field()->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(press(Qt::Key_Tab), assistant->sendButton());
    EXPECT_EQ(press(Qt::Key_Space), assistant->field());
    EXPECT_TRUE(zktest::spinUntil([&] { settle(); return !model().assistantBusy(); }));
    EXPECT_EQ(QApplication::focusWidget(), assistant->field());

    // Opened as an answer's button does, from the field at the window's foot.
    ASSERT_GT(outer->value(), 0);
    model().setSurface(Surface::profile);
    settle();
    auto *profile = root->findChild<ProfileView *>();
    ASSERT_NE(profile, nullptr);
    EXPECT_TRUE(atItsTop(profile));
    EXPECT_TRUE(keyboardOn(profile));
    EXPECT_EQ(calledBy(QApplication::focusWidget()), L10n::t("Connect Instagram"));

    auto *stepper = profile->findChild<Stepper *>();
    ASSERT_NE(stepper, nullptr);
    EXPECT_EQ(stepper->downButton()->accessibleName(),
              arabic() ? QStringLiteral("تقليل مدة الجلسة") : QStringLiteral("Decrease session length"));
    EXPECT_EQ(stepper->upButton()->accessibleName(),
              arabic() ? QStringLiteral("زيادة مدة الجلسة") : QStringLiteral("Increase session length"));

    profile->findChild<MenuPicker *>()->setFocus(Qt::TabFocusReason);
    QWidget *signOut = press(Qt::Key_Tab);
    ASSERT_EQ(calledBy(signOut), L10n::t("Sign out"));
    TextBlock *note = lowestWords(profile);
    EXPECT_TRUE(note && wholeInView(note)) << "the note under the last card is cut";
    auto versions = profile->findChildren<TextBlock *>();
    versions.removeIf([](const TextBlock *t) { return t->text() != ProfileView::versionText(); });
    ASSERT_EQ(versions.size(), 1);
    EXPECT_TRUE(wholeInView(versions.first())) << "the version line is cut";

    // The question's "Cancel" as it is first drawn, and once its window is active.
    std::optional<bool> ringedFirst;
    EventTap firstPaint([&](QObject *watched, QEvent *event) {
        auto *dialog = qobject_cast<ConfirmationDialog *>(watched->parent());
        if (event->type() == QEvent::Paint && dialog && watched == dialog->cancelButton() && !ringedFirst)
            ringedFirst = FocusRing::shown(dialog->cancelButton());
    });
    press(Qt::Key_Space);
    ConfirmationDialog *question = profile->signOutDialog();
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(zktest::spinUntil([&] { return ringedFirst && question->isActiveWindow(); }));
    EXPECT_TRUE(*ringedFirst) << "\"Cancel\" first drawn without its ring";
    EXPECT_TRUE(FocusRing::shown(question->cancelButton()));
    QTest::keyClick(question->cancelButton(), Qt::Key_Escape);
    ASSERT_TRUE(zktest::spinUntil([&] { return profile->signOutDialog() == nullptr && host.window->isActiveWindow(); }));
    settle();

    // Chosen in the sidebar by keyboard, the screen opens at its top and the row keeps the keyboard.
    QAbstractButton *gridRow = sidebar->row(Surface::grid);
    gridRow->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    auto *grid = root->findChild<GridView *>();
    ASSERT_NE(grid, nullptr);
    EXPECT_TRUE(atItsTop(grid));
    EXPECT_EQ(QApplication::focusWidget(), gridRow);
    EXPECT_TRUE(FocusRing::shown(gridRow));

    // Tall enough for the whole workspace: the assistant opens on its field.
    host.window->resize(1180, 760);
    window->setGeometry(host.window->rect());
    settle();
    buttonNamed(grid, L10n::t("Refresh"))->setFocus(Qt::TabFocusReason);
    model().setSurface(Surface::assistant);
    settle();
    assistant = root->findChild<AssistantView *>();
    ASSERT_NE(assistant, nullptr);
    EXPECT_EQ(QApplication::focusWidget(), assistant->field());

    // The draft sheet on its working title, the composer on its caption.
    auto *plan = show<PlanView>(Surface::plan);
    plan->rows().first()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    ASSERT_NE(plan->editor(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), plan->editor()->titleField());
    press(Qt::Key_Escape);
    sidebar->newPublicationButton()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    ASSERT_NE(root->composerSheet(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), root->composerSheet()->findChild<ComposerView *>()->editor()->captionEditor());
    press(Qt::Key_Escape);
    EXPECT_FALSE(model().composerPresented());
}

INSTANTIATE_TEST_SUITE_P(Languages, KeyboardReach, ::testing::Values(AppLanguage::en, AppLanguage::ar),
                         [](const ::testing::TestParamInfo<AppLanguage> &info) {
                             return info.param == AppLanguage::ar ? std::string("Arabic") : std::string("English");
                         });
