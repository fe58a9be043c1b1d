// The ask panel on a real X server with a window manager: shown without the
// keyboard it leaves another window's focus alone until the user clicks into
// it; Escape closes it; a drag is told frame by frame. On a desktop of two
// monitors it opens on the one under the pointer.

#include "AskTestSupport.h"

#include "ask/AskBarView.h"
#include "ask/AskPanelController.h"
#include "ask/CatFace.h"
#include "design/AppearanceService.h"
#include "design/ButtonStyles.h"
#include "design/Controls.h"
#include "design/Legibility.h"
#include "design/GrowingTextField.h"
#include "design/TextBlock.h"
#include "design/FloatingPanel.h"
#include "support/MarkerLook.h"
#include "support/TextPixels.h"
#include "support/X11TestSupport.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

using namespace asktest;

namespace {

void xdotool(const QStringList &args)
{
    ASSERT_EQ(zktest::runTool(QStringLiteral("xdotool"), args), 0) << args.join(' ').toStdString();
}

// The X server's input focus, as the window manager left it.
quint64 inputFocus()
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")});
    p.waitForFinished(10000);
    return p.readAllStandardOutput().trimmed().toULongLong();
}

// Whether the window manager has taken the window in (it states its frame).
bool managed(quint64 window)
{
    QProcess p;
    p.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_FRAME_EXTENTS")});
    p.waitForFinished(10000);
    return p.readAllStandardOutput().contains("= ");
}

// Moves the pointer and waits until the server has it there (xdotool's own
// --sync waits for a motion, which never comes when it is there already).
void pointAt(QPoint p)
{
    xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
    EXPECT_TRUE(zktest::spinUntil([&] { return QCursor::pos() == p; }, std::chrono::seconds(5)));
}

bool twoScreens() { return qEnvironmentVariableIsSet("ZK_TEST_TWO_SCREENS"); }
bool shortScreen() { return qEnvironmentVariableIsSet("ZK_TEST_SHORT_SCREEN"); }

QString text(QRect r) { return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()); }

// Once the window manager has taken the panel in, the X server has it centred on
// `visible` (a monitor's visible area, y down), its bottom edge 118 above that
// area's bottom, at the card's height; the toolkit (once the manager's last
// notice is in) and the last frame told agree.
void expectPlaced(const AskPanelController &ask, QRect visible, const QList<QRectF> &told)
{
    const auto expected = [&] {
        const int height = ask.view()->idealSize().height();
        return QRect(visible.x() + (visible.width() - 680) / 2, visible.bottom() + 1 - 118 - height, 680, height);
    };
    const QWidget *panel = ask.panel();
    const bool placed = zktest::spinUntil([&] {
        return panel->windowHandle() && panel->windowHandle()->isExposed() && managed(panel->winId()) &&
               zktest::serverFrame(panel) == expected() && panel->geometry() == expected();
    }, std::chrono::seconds(10));
    EXPECT_TRUE(placed) << "the server has the panel at " << text(zktest::serverFrame(panel)).toStdString()
                        << ", not at " << text(expected()).toStdString();
    EXPECT_EQ(panel->geometry(), expected());
    ASSERT_FALSE(told.isEmpty());
    EXPECT_EQ(told.last(), ask.frame());
    EXPECT_EQ(ask.ledge()->y, ask.frame().y() + ask.frame().height());
}

class AskPanelX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (twoScreens() || shortScreen())
            GTEST_SKIP() << "one-screen cases";
        ask.onVisibilityChange = [this](bool visible) { calls << (visible ? "shown" : "hidden"); };
        ask.onFrameChange = [this](const QRectF &frame) { frames << frame; };
    }
    void TearDown() override { ask.hide(); }

    bool mapped() const
    {
        return ask.panel()->windowHandle() && ask.panel()->windowHandle()->isExposed();
    }
    // Keys typed now reach the panel's field: the toolkit has the panel as its
    // focus window and the field as its focus, and the X server has given the
    // panel the input focus (on a busy machine these come moments apart).
    bool keyboardOnThePanel() const
    {
        return QGuiApplication::focusWindow() == ask.panel()->windowHandle() && ask.view()->field()->hasFocus() &&
               inputFocus() == ask.panel()->winId();
    }

    flowtest::Flows flows;
    AskPanelController ask{flows.model()};
    QStringList calls;
    QList<QRectF> frames;
};

TEST_F(AskPanelX11, ShownWithoutTheKeyboardItLeavesFocusAloneUntilClicked)
{
    QWidget other;
    other.setWindowTitle(QStringLiteral("Another window"));
    other.setGeometry(100, 100, 400, 300);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(zktest::spinUntil([&] {
        return QGuiApplication::focusWindow() == other.windowHandle() && inputFocus() == other.winId();
    }));

    pointAt(QPoint(640, 200));
    ask.show(false);
    ASSERT_TRUE(zktest::spinUntil([&] { return mapped() && managed(ask.panel()->winId()); }));
    // The window manager has had the map and its own say: the focus stayed.
    settle();
    EXPECT_EQ(QGuiApplication::focusWindow(), other.windowHandle());
    EXPECT_EQ(inputFocus(), other.winId());
    EXPECT_EQ(calls, (QStringList{"shown"}));

    // A click into the field gives it the keyboard.
    GrowingTextField *field = ask.view()->field();
    pointAt(field->mapToGlobal(field->rect().center()));
    xdotool({"click", "1"});
    ASSERT_TRUE(zktest::spinUntil([&] { return keyboardOnThePanel(); }));
    xdotool({"type", "--delay", "20", "purr"});
    EXPECT_TRUE(zktest::spinUntil([&] { return flows.model().askInput() == QStringLiteral("purr"); }))
        << flows.model().askInput().toStdString();
}

// A window manager that keeps a window at its own size: whatever notice says
// the window has another size is answered by putting it back at its size.
struct KeepsItsOwnSize final : QAbstractNativeEventFilter {
    const QWidget *panel;
    QSize size;
    int refused = 0;
    KeepsItsOwnSize(const QWidget *w, QSize s) : panel(w), size(s)
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~KeepsItsOwnSize() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        const auto *e = static_cast<const xcb_configure_notify_event_t *>(message);
        if (type != "xcb_generic_event_t" || (e->response_type & 0x7f) != XCB_CONFIGURE_NOTIFY ||
            e->window != xcb_window_t(panel->winId()) || QSize(e->width, e->height) == size)
            return false;
        ++refused;
        keep(e->window);
        return true;
    }
    void keep(xcb_window_t window) const
    {
        xcb_connection_t *c = X11::connection();
        const uint32_t values[] = {uint32_t(size.width()), uint32_t(size.height())};
        xcb_configure_window(c, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
        xcb_flush(c);
    }
};

// The panel's frame on the X server when its window is first exposed.
struct FirstExposure final : QObject {
    const QWidget *panel;
    std::optional<QRect> frame;
    explicit FirstExposure(const QWidget *w) : panel(w) { w->windowHandle()->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && !frame && panel->windowHandle()->isExposed())
            frame = zktest::serverFrame(panel);
        return false;
    }
};

TEST_F(AskPanelX11, TheFirstShowSitsWhereLaterShowsDoOnceTheWindowManagerHasPlacedIt)
{
    // The conversation kept from last time comes after the panel was made, as
    // at start: the card grows while the panel has never been shown.
    const double made = ask.frame().height();
    flows.model().setCatChat({line(true, QStringLiteral("Are you there?")),
                              line(false, QStringLiteral("Always. What shall we do today?"))});
    ASSERT_TRUE(zktest::spinUntil([&] { return ask.frame().height() != made; }));
    const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
    pointAt(QPoint(640, 200));
    ask.show(true);
    expectPlaced(ask, visible, frames);

    // A window manager's late word on the size the window was mapped with
    // (the one it was made with) neither shrinks the panel nor lifts its bottom,
    // also when it comes twice before the panel's correction is answered, as
    // from xfwm4: the second is as stale as the first.
    const QRect placed = ask.panel()->geometry();
    const QRect wmSize(placed.topLeft(), QSize(680, AskPanelController::kHeight));
    // The second comes once the panel stands at its place again (a manager
    // need not answer a request that changes nothing on the server).
    const auto answered = [&] { return ask.panel()->geometry() == placed && zktest::serverFrame(ask.panel()) == placed; };
    for (int stale : {1, 2}) {
        zktest::SentNotices notices(ask.panel());
        for (int i = 0; i < stale; ++i) {
            zktest::tellConfigured(ask.panel(), wmSize);
            ASSERT_TRUE(zktest::spinUntil([&] { return notices.seen > i; }));
            EXPECT_TRUE(zktest::spinUntil(answered))
                << stale << " stale notices left the panel at " << text(ask.panel()->geometry()).toStdString();
        }
        expectPlaced(ask, visible, frames);
        for (const QRectF &frame : std::as_const(frames))
            EXPECT_EQ(frame.height(), placed.height()) << "a frame of the wrong size was told after " << stale;
    }

    // A window manager that puts the window back at its own size after the
    // correction has it: the panel is not fought over, and the cat is told
    // the frame it has.
    {
        KeepsItsOwnSize manager(ask.panel(), wmSize.size());
        manager.keep(ask.panel()->winId());
        EXPECT_TRUE(zktest::spinUntil([&] { return !frames.isEmpty() && frames.last().height() == wmSize.height(); },
                                      std::chrono::seconds(10)))
            << "the size the window manager keeps was never told";
        const int answered = manager.refused;
        settle();
        // Asked for once at most (not at all when a correction was still out).
        EXPECT_LE(answered, 2) << "the panel fought the window manager";
        EXPECT_EQ(ask.panel()->size(), wmSize.size());
        EXPECT_EQ(frames.last(), ask.frame());
        EXPECT_EQ(ask.ledge()->y, ask.frame().y() + ask.frame().height());
    }
    ask.hide();
    ASSERT_TRUE(zktest::spinUntil([&] { return !mapped(); }));

    // A reply that comes while the panel is away: the panel takes the card's
    // new height silently and shows at it from its first frame on the server.
    const qsizetype told = frames.size();
    QList<CatChatLine> lines = flows.model().catChat();
    lines << line(true, QStringLiteral("focus 25")) << line(false, QStringLiteral("I'll sit right here for 25 minutes."));
    flows.model().setCatChat(lines);
    ASSERT_TRUE(zktest::spinUntil([&] { return ask.frame().height() > placed.height(); }))
        << "the hidden panel did not follow the conversation";
    EXPECT_TRUE(zktest::spinUntil([&] { return ask.panel()->height() == ask.view()->idealSize().height(); }));
    EXPECT_EQ(frames.size(), told) << "a hidden panel's growth was told";
    FirstExposure first(ask.panel());
    ask.show(false);
    expectPlaced(ask, visible, frames);
    ASSERT_TRUE(first.frame.has_value());
    EXPECT_EQ(first.frame->size(), ask.panel()->size()) << "the panel changed size after it first showed";
}

// Wholly inside the list's visible part, and that part wholly on the panel.
bool inView(const AskPanelController &ask, const QWidget *row)
{
    const QWidget *viewport = ask.view()->history()->viewport();
    const QRect onViewport(row->mapTo(viewport, QPoint(0, 0)), row->size());
    const QRect viewportOnPanel(viewport->mapTo(ask.panel(), QPoint(0, 0)), viewport->size());
    return row->isVisible() && viewport->rect().contains(onViewport) && ask.panel()->rect().contains(viewportOnPanel) &&
           zktest::serverFrame(ask.panel()).size() == ask.panel()->size();
}

TEST_F(AskPanelX11, TheNewestLineIsInViewAfterEveryAnswerAndEveryShow)
{
    QList<CatChatLine> lines;
    for (int i = 0; i < 5; ++i)
        lines << line(i % 2 == 0, QStringLiteral("An earlier line of the conversation, number %1.").arg(i));
    flows.model().setCatChat(lines);
    pointAt(QPoint(640, 200));
    ask.show(true);
    expectPlaced(ask, QGuiApplication::primaryScreen()->availableGeometry(), frames);
    const auto newest = [&]() -> const QWidget * {
        AskBarView *bar = ask.view();
        if (bar->typingRow())
            return bar->typingRow();
        if (bar->actionRow())
            return bar->actionRow();
        return bar->bubbles().isEmpty() ? nullptr : bar->bubbles().last();
    };
    const auto newestInView = [&] { return newest() && inView(ask, newest()); };
    const auto limit = std::chrono::seconds(10);

    // Typed commands answered at once, each reply taller than the last; the
    // panel grows on the X server a moment after the list has scrolled.
    for (const QString &command : {QStringLiteral("focus 25"), QStringLiteral("hide instagram"), QStringLiteral("stop focus"),
                                   QStringLiteral("focus 45 min"), QStringLiteral("end focus")}) {
        const qsizetype before = flows.model().catChat().size();
        flows.model().ask(command);
        ASSERT_TRUE(zktest::spinUntil([&] { return flows.model().catChat().size() == before + 2 && !flows.model().askBusy(); }));
        EXPECT_TRUE(zktest::spinUntil(newestInView, limit)) << "after \"" << command.toStdString() << "\"";
    }

    // A reply that comes while the panel is away is in view when it shows again.
    ask.hide();
    lines = flows.model().catChat();
    for (int i = 0; i < 12; ++i)
        lines << line(i % 2 == 1, QStringLiteral("A later line that came while the panel was away, number %1.").arg(i));
    flows.model().setCatChat(lines);
    settle();
    ask.show(true);
    EXPECT_TRUE(zktest::spinUntil(newestInView, limit)) << "after showing again";
    EXPECT_EQ(ask.view()->history()->height(), AskBarView::kMaxHistory);
    flows.model().stopFocus();
}

// In the dark appearance the list's scroll bar is the palette's thin thumb on
// the card, not the toolkit's light track with arrows.
TEST_F(AskPanelX11, InTheDarkTheListsScrollBarIsAThinThumbOnTheCard)
{
    AppearanceService::shared().setTheme(AppTheme::dark);
    QList<CatChatLine> lines;
    for (int i = 0; i < 30; ++i)
        lines << line(i % 2 == 0, QStringLiteral("A line of a long conversation, number %1.").arg(i));
    flows.model().setCatChat(lines);
    pointAt(QPoint(640, 200));
    ask.show(true);
    expectPlaced(ask, QGuiApplication::primaryScreen()->availableGeometry(), frames);
    EXPECT_EQ(zktest::darkScrollBarFault(ask.view()->history()->verticalScrollBar()).toStdString(), "");
    AppearanceService::shared().setTheme(AppTheme::system);
}

TEST_F(AskPanelX11, ShownWithTheKeyboardEscapeClosesIt)
{
    pointAt(QPoint(640, 200));
    ask.show(true);
    ASSERT_TRUE(zktest::spinUntil([&] { return keyboardOnThePanel(); }));
    xdotool({"type", "--delay", "20", "hi"});
    ASSERT_TRUE(zktest::spinUntil([&] { return flows.model().askInput() == QStringLiteral("hi"); }));
    xdotool({"key", "Escape"});
    ASSERT_TRUE(zktest::spinUntil([&] { return !ask.isVisible(); }));
    EXPECT_FALSE(ask.panel()->isVisible());
    EXPECT_EQ(calls, (QStringList{"shown", "hidden"}));
    EXPECT_FALSE(ask.ledge());
    // What was typed is still there for next time.
    EXPECT_EQ(flows.model().askInput(), QStringLiteral("hi"));
}

// With the X server's keys, Tab goes round every control of the card in the
// order it reads, each ringed, back to the named field, whose box rings;
// Escape closes the panel from a chip as from the field.
TEST_F(AskPanelX11, TabGoesRoundEveryControlInReadingOrderRingedAndEscapeStillCloses)
{
    pointAt(QPoint(640, 200));
    ask.show(true);
    ASSERT_TRUE(zktest::spinUntil([&] { return keyboardOnThePanel(); }));
    AskBarView *bar = ask.view();
    EXPECT_EQ(bar->field()->accessibleName(), QStringLiteral("Ask the cat"));
    const auto round = [&] {
        QList<QWidget *> stops;
        for (QWidget *now = nullptr; stops.size() < 12 && now != bar->field(); stops << now) {
            QWidget *before = QApplication::focusWidget();
            xdotool({"key", "Tab"});
            zktest::spinUntil([&] { return (now = QApplication::focusWidget()) != before; }, std::chrono::seconds(5));
            EXPECT_TRUE(now == bar->field() || FocusRing::shown(now)) << now->metaObject()->className() << " unringed";
        }
        return stops.mid(0, stops.size() - 1);
    };

    // Empty: Close and the four suggestions (nothing to send yet); Close's ring
    // goes round it 3:1 out from the card, and so does the ring of the field's box.
    QList<QWidget *> expected{bar->closeButton()};
    for (StyledButton *chip : bar->suggestionChips())
        expected << chip;
    EXPECT_EQ(round(), expected);
    EXPECT_GE(zktest::ringedShare(zktest::ringPictures(bar->closeButton(),
                                                       [&] { bar->closeButton()->setFocus(Qt::TabFocusReason); })),
              0.9);
    EXPECT_GE(zktest::ringedShare(zktest::ringPictures(bar->field()->parentWidget(),
                                                       [&] { xdotool({"key", "shift+Tab"}); })),
              0.9);

    // A reply with two actions, words typed: Send, a new conversation, Close,
    // the chips and "Open in Zephyl".
    const auto action = [](const char *label) { return AskAction::make(label, label, AskAction::Kind::compose); };
    flows.model().setCatChat({line(true, QStringLiteral("What now?")),
                              line(false, QStringLiteral("Shall we focus?"), {action("Focus"), action("Plan")})});
    ASSERT_TRUE(zktest::spinUntil([&] { return bar->actionChips().size() == 2; }));
    bar->field()->setFocus(Qt::TabFocusReason);
    xdotool({"type", "--delay", "20", "hi"});
    ASSERT_TRUE(zktest::spinUntil([&] { return bar->sendButton()->isEnabled(); }));
    EXPECT_EQ(round(), (QList<QWidget *>{bar->sendButton(), bar->newConversationButton(), bar->closeButton(),
                                         bar->actionChips().at(0), bar->actionChips().at(1), bar->openInZephylButton()}));
    // They stand at the foot of the list, whose view cuts what is past it:
    // their rings whole all the same, and so once a long talk has the list
    // scrolled to its end.
    const auto ringedWhole = [&](const char *when) {
        const QList<QAbstractButton *> foot{bar->actionChips().at(0), bar->openInZephylButton()};
        for (QAbstractButton *control : foot) {
            bar->field()->setFocus(Qt::TabFocusReason);
            const auto ring = [control] { control->setFocus(Qt::TabFocusReason); };
            EXPECT_GE(zktest::ringedShare(zktest::ringPictures(control, ring)), 0.9)
                << control->text().toStdString() << " " << when;
        }
    };
    ringedWhole("after a short talk");
    QList<CatChatLine> talk;
    for (int i = 0; i < 8; ++i)
        talk << line(i % 2 == 0, QStringLiteral("Line %1 of a talk long enough to scroll.").arg(i));
    talk << line(false, QStringLiteral("Shall we focus?"), {action("Focus"), action("Plan")});
    flows.model().setCatChat(talk);
    const QScrollArea *list = bar->history();
    ASSERT_TRUE(zktest::spinUntil([&] {
        settle();
        if (bar->actionChips().size() != 2 || list->verticalScrollBar()->maximum() == 0)
            return false;
        const QWidget *chip = bar->actionChips().at(0);
        return chip->mapTo(list->viewport(), QPoint(0, chip->height())).y() <= list->viewport()->height();
    })) << "the list scrolled to its end";
    ringedWhole("at the end of a long talk");
    bar->actionChips().at(0)->setFocus(Qt::TabFocusReason);
    xdotool({"key", "Escape"});
    EXPECT_TRUE(zktest::spinUntil([&] { return !ask.isVisible(); }));
}

// With the X server's keys, Return and the keypad's Enter press the control
// that has the keyboard as Space does, held down while the key is: a
// suggestion asks the cat, a reply's chip does what it says, "Open in Zephyl"
// opens the workspace, a new conversation empties the list and Close closes
// the panel.
TEST_F(AskPanelX11, ReturnAndEnterPressTheControlThatHasTheKeyboard)
{
    AppModel &model = flows.model();
    ZephylWire::AssistantReply purr;
    purr.message = QStringLiteral("Purr.");
    flows.service.results[QStringLiteral("assistant")] = purr;
    pointAt(QPoint(640, 200));
    ask.show(true);
    ASSERT_TRUE(zktest::spinUntil([&] { return keyboardOnThePanel(); }));
    AskBarView *bar = ask.view();

    // Held, the chip is down and nothing is asked yet; let go, it asks.
    StyledButton *chip = bar->suggestionChips().at(1);
    chip->setFocus(Qt::TabFocusReason);
    xdotool({"keydown", "Return"});
    EXPECT_TRUE(zktest::spinUntil([&] { return chip->isDown(); }, std::chrono::seconds(5)));
    EXPECT_TRUE(model.catChat().isEmpty());
    xdotool({"keyup", "Return"});
    ASSERT_TRUE(zktest::spinUntil([&] { return !model.askBusy() && model.catChat().size() == 2; }));
    EXPECT_EQ(model.catChat().first().text, QStringLiteral("Cheer me up"));

    // A reply's chip by Enter, then "Open in Zephyl" by Return.
    model.setSurface(Surface::plan);
    model.setCatChat({line(true, QStringLiteral("Where now?")),
                      line(false, QStringLiteral("The grid?"),
                           {AskAction::openSurface(QStringLiteral("grid"), QStringLiteral("Open the grid"), Surface::grid)})});
    ASSERT_TRUE(zktest::spinUntil([&] { return bar->actionChips().size() == 1; }));
    bar->actionChips().first()->setFocus(Qt::TabFocusReason);
    xdotool({"key", "KP_Enter"});
    EXPECT_TRUE(zktest::spinUntil([&] { return model.surface() == Surface::grid; }));
    ASSERT_NE(bar->openInZephylButton(), nullptr);
    bar->openInZephylButton()->setFocus(Qt::TabFocusReason);
    flows.h.events.clear();
    xdotool({"key", "Return"});
    EXPECT_TRUE(zktest::spinUntil([&] { return !flows.h.events.empty(); }));
    EXPECT_EQ(model.surface(), Surface::assistant);

    // A new conversation, then Close, each from the key.
    bar->newConversationButton()->setFocus(Qt::TabFocusReason);
    xdotool({"key", "KP_Enter"});
    EXPECT_TRUE(zktest::spinUntil([&] { return model.catChat().isEmpty(); }));
    bar->closeButton()->setFocus(Qt::TabFocusReason);
    xdotool({"key", "Return"});
    EXPECT_TRUE(zktest::spinUntil([&] { return !ask.isVisible(); }));
}

// With the X server's keys, a button pressed away by its own press gives the
// keyboard back to the field, not on to Close or "New conversation": a
// suggestion chip (the greeting goes), Send (held while nothing is typed) and
// "New conversation" (gone with the conversation).
TEST_F(AskPanelX11, AButtonPressedAwayByKeyboardGivesTheKeyboardBackToTheField)
{
    pointAt(QPoint(640, 200));
    ask.show(true);
    ASSERT_TRUE(zktest::spinUntil([&] { return keyboardOnThePanel(); }));
    AskBarView *bar = ask.view();
    const auto pressed = [&](QWidget *button) {
        button->setFocus(Qt::TabFocusReason);
        xdotool({"key", "space"});
        return zktest::spinUntil([&] { return !button->isVisible() || !button->isEnabled(); }, std::chrono::seconds(10));
    };
    const auto onTheField = [&]() -> ::testing::AssertionResult {
        if (zktest::spinUntil([&] { return bar->field()->hasFocus(); }, std::chrono::seconds(5)))
            return ::testing::AssertionSuccess();
        const QWidget *at = QApplication::focusWidget();
        return ::testing::AssertionFailure() << "the keyboard is on " << (at ? at->metaObject()->className() : "nothing") << " "
                                             << (at ? at->accessibleName().toStdString() : "");
    };

    ASSERT_FALSE(bar->suggestionChips().isEmpty());
    ASSERT_TRUE(pressed(bar->suggestionChips().first()));
    EXPECT_TRUE(onTheField()) << "after a suggestion";
    ASSERT_TRUE(zktest::spinUntil([&] { return !flows.model().askBusy(); }));

    xdotool({"type", "--delay", "20", "stop focus"});
    ASSERT_TRUE(zktest::spinUntil([&] { return bar->sendButton()->isEnabled(); }));
    ASSERT_TRUE(pressed(bar->sendButton()));
    EXPECT_TRUE(onTheField()) << "after Send";
    ASSERT_TRUE(zktest::spinUntil([&] { return !flows.model().askBusy(); }));

    ASSERT_TRUE(pressed(bar->newConversationButton()));
    EXPECT_TRUE(flows.model().catChat().isEmpty());
    EXPECT_TRUE(onTheField()) << "after a new conversation";
}

TEST_F(AskPanelX11, ADragByTheBackgroundIsToldFrameByFrame)
{
    pointAt(QPoint(640, 200));
    ask.show(false);
    ASSERT_TRUE(zktest::spinUntil([&] { return mapped(); }));
    settle();

    // A busy window manager puts the panel where it goes a moment after the
    // toolkit thinks it is there: the press waits until both agree.
    ASSERT_TRUE(zktest::spinUntil([&] { return zktest::serverOrigin(ask.panel()) == ask.panel()->mapToGlobal(QPoint(0, 0)); }))
        << "the server has the panel at " << zktest::serverOrigin(ask.panel()).x() << "," << zktest::serverOrigin(ask.panel()).y();
    const QRectF start = ask.frame();
    frames.clear();
    // The card's margin, left of the portrait: the panel's own background.
    const QPoint grip = ask.panel()->mapToGlobal(QPoint(8, ask.panel()->height() / 2));
    pointAt(grip);
    xdotool({"mousedown", "1"});
    for (int step = 1; step <= 6; ++step) {
        // Not --sync: the panel moves under the pointer, which xdotool reads as not having moved.
        const QPoint p = grip + QPoint(10 * step, -7 * step);
        xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
        settle();
    }
    xdotool({"mouseup", "1"});
    ASSERT_TRUE(zktest::spinUntil([&] { return !frames.isEmpty() && frames.last().x() >= start.x() + 55; }))
        << "frames told: " << frames.size();
    // Y up: the panel went up by as much as the pointer.
    EXPECT_NEAR(frames.last().x() - start.x(), 60, 5);
    EXPECT_NEAR(frames.last().y() - start.y(), 42, 5);
    EXPECT_EQ(frames.last(), ask.frame());
    EXPECT_EQ(ask.ledge()->y, ask.frame().y() + ask.frame().height());
    EXPECT_TRUE(calls == QStringList{"shown"});

    // Hidden, a move of its window (another client's, the window manager's)
    // reaches the toolkit but is not told: the cat would sit on nothing.
    ask.hide();
    ASSERT_TRUE(zktest::spinUntil([&] { return !mapped(); }));
    frames.clear();
    const QPoint away = ask.panel()->pos() + QPoint(-120, 90);
    xdotool({"windowmove", QString::number(ask.panel()->winId()), QString::number(away.x()), QString::number(away.y())});
    ASSERT_TRUE(zktest::spinUntil([&] { return ask.panel()->pos() == away; }))
        << "the toolkit has the panel at " << ask.panel()->pos().x() << "," << ask.panel()->pos().y();
    settle();
    EXPECT_TRUE(frames.isEmpty()) << "told " << frames.size() << " frames of a hidden panel";
    EXPECT_FALSE(ask.ledge());
    EXPECT_EQ(calls, (QStringList{"shown", "hidden"}));
}

// A filmed look's head fills the header's round portrait on the screen: the
// film is drawn where the portrait is inside the panel, whatever its place there.
TEST_F(AskPanelX11, TheHeaderPortraitShowsTheFilmedHeadInItsCircle)
{
    zktest::MarkerLook marker;
    marker.install();
    flows.model().setCompanionVariantID(QStringLiteral("marker"));
    AskBarView *bar = ask.view();
    ASSERT_TRUE(zktest::spinUntil([&] { return bar->headFilm(); })) << "the look's head film in the header";
    pointAt(QPoint(640, 200));
    ask.show(false);
    ASSERT_TRUE(zktest::spinUntil([&] { return mapped(); }));

    // On the X server the clip's green head box fills the circle (the body
    // under it is magenta, the ground paper).
    const CatHeadFilm *film = bar->headFilm();
    EXPECT_TRUE(zktest::greenShowsAt([&] { return zktest::onServer(film); },
                                     zktest::pixels(film, QRectF(0, 0, 44, 44)), 2));
}

// On a Xinerama desktop of a 1280 x 800 monitor and a 1024 x 768 one to its right.
TEST(AskPanelTwoScreens, OpensOnTheMonitorUnderThePointer)
{
    if (!twoScreens())
        GTEST_SKIP() << "needs the two-monitor session";
    flowtest::Flows flows;
    AskPanelController ask(flows.model());
    QList<QRectF> frames;
    ask.onFrameChange = [&](const QRectF &frame) { frames << frame; };
    // The first show, on the second monitor, read from the server once placed.
    pointAt(QPoint(1280 + 300, 300));
    ask.show(true);
    expectPlaced(ask, QRect(1280, 0, 1024, 768), frames);
    const QRectF frame = ask.frame();
    // Centred on the second monitor; its bottom edge 118 above that monitor's bottom
    // (y up from the bottom of the primary one: the second ends 32 higher).
    EXPECT_EQ(frame.x(), 1280 + (1024 - 680) / 2);
    EXPECT_EQ(frame.y(), 800 - 768 + 118);
    EXPECT_EQ(ask.panel()->geometry().bottom() + 1, 768 - 118);

    pointAt(QPoint(200, 300));
    ask.show(true);
    EXPECT_EQ(ask.frame().x(), (1280 - 680) / 2);

    // The pixel columns on either side of the shared edge: each is its own monitor's.
    pointAt(QPoint(1280, 300));
    ask.show(true);
    EXPECT_EQ(ask.frame().x(), 1280 + (1024 - 680) / 2);
    pointAt(QPoint(1279, 300));
    ask.show(true);
    EXPECT_EQ(ask.frame().x(), (1280 - 680) / 2);
    // The second monitor's top row (y up: its height above the primary's bottom).
    pointAt(QPoint(1500, 0));
    ask.show(true);
    EXPECT_EQ(ask.frame().x(), 1280 + (1024 - 680) / 2);
    ask.hide();
}

// On a monitor 1280 x 560: question after question, the panel grows up to the
// top of the screen and no further, its bottom edge 118 above the screen's;
// from there the list scrolls, and the header (portrait, name, Close) stays on
// the screen, as the X server has the panel.
TEST(AskPanelShortScreen, GrowsToTheTopOfTheScreenAndThenTheListScrolls)
{
    if (!shortScreen())
        GTEST_SKIP() << "needs the short screen";
    flowtest::Flows flows;
    AskPanelController ask(flows.model());
    QList<QRectF> frames;
    ask.onFrameChange = [&](const QRectF &frame) { frames << frame; };
    pointAt(QPoint(640, 200));
    ask.show(true);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(screen.height(), 560);
    expectPlaced(ask, screen, frames);

    AskBarView *bar = ask.view();
    const auto onScreen = [&](const QWidget *w) {
        const QRect server = zktest::serverFrame(ask.panel());
        return screen.contains(QRect(server.topLeft() + w->mapTo(ask.panel(), QPoint(0, 0)), w->size()));
    };
    for (const QString &command : {QStringLiteral("focus 25"), QStringLiteral("hide instagram"), QStringLiteral("stop focus"),
                                   QStringLiteral("focus 45 min"), QStringLiteral("end focus")}) {
        const qsizetype before = flows.model().catChat().size();
        flows.model().ask(command);
        ASSERT_TRUE(zktest::spinUntil([&] { return flows.model().catChat().size() == before + 2 && !flows.model().askBusy(); }));
        const auto settled = [&] {
            const QRect server = zktest::serverFrame(ask.panel());
            return server.size() == bar->idealSize() && server == ask.panel()->geometry() && bar->bubbles().size() == before + 2 &&
                   inView(ask, bar->bubbles().last());
        };
        EXPECT_TRUE(zktest::spinUntil(settled, std::chrono::seconds(10))) << "after \"" << command.toStdString() << "\"";
        const QRect server = zktest::serverFrame(ask.panel());
        EXPECT_GE(server.top(), screen.top()) << "after \"" << command.toStdString() << "\"";
        EXPECT_EQ(server.bottom() + 1, screen.bottom() + 1 - 118);
        for (const QWidget *w : {static_cast<QWidget *>(bar->closeButton()), static_cast<QWidget *>(bar->nameText()),
                                 static_cast<QWidget *>(bar->newConversationButton())})
            EXPECT_TRUE(onScreen(w)) << "after \"" << command.toStdString() << "\"";
    }
    // The panel stands from 118 above the bottom to the top of the screen, and the list scrolls.
    EXPECT_EQ(zktest::serverFrame(ask.panel()).top(), screen.top());
    EXPECT_LT(bar->history()->height(), AskBarView::kMaxHistory);
    EXPECT_GT(bar->history()->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(ask.ledge()->y, 560);
    ask.hide();
    flows.model().stopFocus();
}

} // namespace
