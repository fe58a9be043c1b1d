// The focus timer panel on a real X server with a window manager: its corner of
// the work area, and a drag with the pointer that the cat is told about.
#include "app/AppTestSupport.h"

#include "design/FloatingPanel.h"
#include "shell/FocusTimerController.h"
#include "shell/FocusTimerView.h"
#include "support/TestSupport.h"
#include "support/X11TestSupport.h"

#include <QGuiApplication>
#include <QScreen>
#include <QToolTip>
#include <QWindow>

#include <gtest/gtest.h>

using namespace apptest;
using namespace zktest;

TEST(FocusTimerPanelX11, ADragWithThePointerMovesThePanelAndReportsEachFrameYUp)
{
    LanguageGuard language(AppLanguage::en);
    Harness h;
    AppModel &model = h.make();
    model.startFocus(25);
    FocusTimerController timer(model);
    QList<QRectF> frames;
    timer.onFrameChange = [&](const QRectF &f) { frames.append(f); };
    timer.show(false);
    FloatingPanel *panel = timer.panel();
    ASSERT_TRUE(spinUntil([&] { return panel->windowHandle()->isExposed(); }));
    // A late notice of the place openbox's new frame first stands at (the top
    // left), as a busy window manager's or the toolkit's own reading of it
    // comes: no place for the cat, and the panel stays where it was put.
    {
        SentNotices notices(panel);
        tellConfigured(panel, QRect(0, 0, 148, 88));
        ASSERT_TRUE(spinUntil([&] { return notices.seen > 0; }));
    }

    // Bottom right of the work area, in Qt's points, once the window manager
    // has it there (a busy one may confirm the place more than once).
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect corner(work.right() + 1 - 148 - 56, work.bottom() + 1 - 2 - 88, 148, 88);
    EXPECT_TRUE(spinUntil([&] { return panel->geometry() == corner && serverOrigin(panel) == corner.topLeft(); }))
        << "at " << panel->geometry().x() << "," << panel->geometry().y();
    const auto place = [](const QRectF &f) {
        return testing::Message() << f.x() << "," << f.y() << " " << f.width() << "x" << f.height();
    };
    ASSERT_FALSE(frames.isEmpty());
    const QRectF shown = frames.back();
    for (const QRectF &f : frames)
        EXPECT_TRUE(sameRect(f, shown)) << "told of no other place, but of " << place(f) << " before " << place(shown);
    EXPECT_TRUE(sameRect(shown, timer.frame()));
    EXPECT_EQ(timer.ledge()->windowNumber, int(panel->winId()));

    const QPoint grip = panel->pos() + QPoint(20, 10); // on the case, clear of the controls
    pointAt(grip);
    xdotool({"mousedown", "1"});
    for (int i = 1; i <= 5; ++i)
        pointAt(grip + QPoint(-20 * i, -10 * i));
    ASSERT_TRUE(spinUntil([&] { return panel->pos() == grip + QPoint(-100, -50) - QPoint(20, 10); }));
    xdotool({"mouseup", "1"});
    ASSERT_TRUE(spinUntil([&] { return !sameRect(frames.back(), shown) && sameRect(frames.back(), timer.frame()); }));
    // Up the screen is up for the cat.
    EXPECT_EQ(frames.back().x(), shown.x() - 100);
    EXPECT_EQ(frames.back().y(), shown.y() + 50);
    EXPECT_EQ(timer.ledge()->y, shown.y() + 50 + 88);
    EXPECT_EQ(model.focus().phase, FocusSession::Phase::working()) << "a drag is not a tap";
    timer.hide();
    EXPECT_FALSE(timer.ledge());

    // Shown again in its corner, and put elsewhere by another client as a
    // window manager that insists on its own place: the cat is told the corner
    // and then that place (once the server has kept it), and nothing between.
    frames.clear();
    timer.show(false);
    ASSERT_TRUE(spinUntil([&] { return panel->windowHandle()->isExposed() && serverOrigin(panel) == corner.topLeft(); }));
    const QString window = QString::number(panel->winId());
    xdotool({"windowmove", window, "300", "200"});
    ASSERT_TRUE(spinUntil([&] { return serverOrigin(panel) == QPoint(300, 200); }));
    ASSERT_TRUE(spinUntil([&] { return !frames.isEmpty() && !sameRect(frames.back(), shown); },
                          std::chrono::milliseconds(FocusTimerController::kSettleMs * 4)))
        << "the place the window manager keeps was never told";
    ASSERT_EQ(frames.size(), 2) << "told of " << place(frames.back());
    EXPECT_TRUE(sameRect(frames.front(), shown));
    EXPECT_EQ(frames.back().x(), 300);
    EXPECT_EQ(frames.back().y(), shown.y() + corner.y() - 200) << "y up";
    EXPECT_TRUE(sameRect(frames.back(), timer.frame()));
    EXPECT_EQ(panel->pos(), QPoint(300, 200));
    timer.hide();
}

namespace {
QColor rootPixel(QPoint at)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), 1, 1).toImage().pixelColor(0, 0);
}
} // namespace

TEST(FocusTimerPanelX11, ThePointerBringsControlsAndTooltipsToAPanelThatNeverHasTheKeyboard)
{
    LanguageGuard language(AppLanguage::en);
    Harness h;
    AppModel &model = h.make();
    model.startFocus(25);
    pointAt(QPoint(5, 5));
    FocusTimerController timer(model);
    timer.show(false);
    FloatingPanel *panel = timer.panel();
    ASSERT_TRUE(spinUntil([&] { return panel->windowHandle()->isExposed(); }));
    // The case's rounded corner lets the desktop show through; its middle is the clock.
    const QColor desktop = rootPixel(QPoint(10, 10));
    EXPECT_TRUE(spinUntil([&] {
        return rootPixel(panel->pos() + QPoint(1, 1)) == desktop &&
               rootPixel(panel->pos() + QPoint(74, 5)).red() > 0xD0;
    })) << rootPixel(panel->pos() + QPoint(1, 1)).name().toStdString();

    FocusTimerView *view = timer.view();
    pointAt(panel->pos() + QPoint(74, 30));
    ASSERT_TRUE(spinUntil([&] { return view->hovering() && view->controlsOpacity() == 1.0; }));
    // Its controls take a click without the panel taking the keyboard.
    const QPoint pause = panel->pos() + view->pauseButton()->geometry().center();
    pointAt(pause);
    xdotool({"click", "1"});
    ASSERT_TRUE(spinUntil([&] { return model.focus().phase == FocusSession::Phase::paused(true); }));
    EXPECT_FALSE(panel->isActiveWindow());
    // Resting on the control a moment later, its tooltip shows, though the panel is never active.
    pointAt(pause + QPoint(1, 0));
    ASSERT_TRUE(spinUntil([&] { return QToolTip::isVisible(); }, std::chrono::seconds(10)));
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Resume"));

    pointAt(QPoint(5, 5));
    EXPECT_TRUE(spinUntil([&] { return !view->hovering() && view->controlsOpacity() == 0.0; }));
    timer.hide();
}
