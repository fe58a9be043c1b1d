// The native workspace from the keyboard, in a window on a real X server, left
// to right and right to left: Tab reaches the plan's rows, the grid's drafts
// and posts and the composer's remove marks in the order they read, rings and
// names them, and Return, Space, the Menu key and Shift+F10 open them or give
// their menus; Return and Enter press every button as Space does.

#include "ScreensTestSupport.h"
#include "support/TextPixels.h"
#include "support/X11TestSupport.h"

#include "app/ComposerTestSupport.h"
#include "design/L10n.h"
#include "design/Legibility.h"
#include "design/SettingRow.h"
#include "workspace/ComposerParts.h"
#include "workspace/ComposerView.h"
#include "workspace/DraftEditorView.h"
#include "workspace/GridView.h"
#include "workspace/PlanView.h"
#include "workspace/ProfileView.h"
#include "workspace/WorkspaceRootView.h"
#include "workspace/WorkspaceSplitView.h"

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
    // `target` as the server shows it, then once Tab from `before` has brought
    // the keyboard to it. Taken before Tab goes on down: of a screen not scrolled.
    std::pair<QImage, QImage> ringedByTab(QWidget *before, QWidget *target)
    {
        before->setFocus(Qt::OtherFocusReason);
        settle();
        const QImage bare = zktest::shownPixels(target);
        press(Qt::Key_Tab);
        EXPECT_TRUE(target->hasFocus());
        return {bare, zktest::shownPixels(target, bare)};
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

    // Ringed along its leading edge, 3:1 against what was there.
    PlanRow *row = plan->rows().first();
    const int edge = arabic() ? row->width() - 2 : 1, inward = arabic() ? -1 : 1;
    EXPECT_GE(strongestChange(ringedByTab(plan->dayCells().last(), row),
                              {{edge, row->height() / 2}, {edge + inward, row->height() / 2}}),
              3.0);

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

    // Ringed inside its edge.
    GridTile *tile = grid->tiles().at(1);
    const int middle = tile->height() / 2;
    EXPECT_GE(strongestChange(ringedByTab(grid->tiles().at(0), tile), {{1, middle}, {tile->width() - 2, middle}}), 3.0);

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
    EXPECT_GE(strongestChange(ringedByTab(tiles.at(3), post), {{1, middle}, {post->width() - 2, middle}}), 3.0);

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
    const QPoint centre(mark->width() / 2, mark->height() / 2);
    const int r = mark->width() / 2 - 2;
    const auto pictures = ringedByTab(marks.at(0), mark);
    for (const QPoint &side : {QPoint(-1, 0), QPoint(0, -1), QPoint(1, 0), QPoint(0, 1)})
        EXPECT_GE(strongestChange(pictures, {centre + side * r, centre + side * (r + 1), centre + side * (r + 2)}), 3.0);

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
    // What the server shows of `w` once two looks agree and it differs from `unlike`.
    const auto settledPixels = [](QWidget *w, const QImage &unlike, QImage shot = {}) {
        zktest::spinUntil([&] {
            const QImage before = std::exchange(shot, zktest::shownPixels(w));
            return before == shot && shot != unlike;
        }, std::chrono::seconds(2));
        return shot;
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
                EXPECT_FALSE(wholeInView(shown)) << called << " was in view: nothing to scroll for";
                scroll(after);
            }
            QList<QPoint> edge;
            for (int y = 0; y < ringed->height(); ++y)
                for (int x = 0; x < ringed->width(); ++x)
                    if (std::min({x, y, ringed->width() - 1 - x, ringed->height() - 1 - y}) < 3)
                        edge << QPoint(x, y);
            // Ringed, not once the keyboard is off it, and again once it is
            // back (the server may show a drawing late: each look waits for a change).
            const QImage first = settledPixels(ringed, {});
            at->clearFocus();
            const QImage bare = settledPixels(ringed, first);
            at->setFocus(key == Qt::Key_Tab ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            EXPECT_GE(strongestChange({bare, settledPixels(ringed, bare)}, edge), 3.0) << called << " shows no ring";
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
