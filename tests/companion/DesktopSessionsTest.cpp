// The desktop cat on the desktops people run: without a compositing manager,
// beside a GTK window that draws its own frame (xfwm4 with its compositor), and
// under a window manager that keeps no EWMH lists (twm). Each case runs in the
// rig session it needs (ZK_XSESSION_WM, ZK_XSESSION_COMPOSITOR) and leaves a
// screenshot in ZK_SHOTS_DIR.
#include "DesktopRig.h"

#include <QAbstractNativeEventFilter>
#include <QDir>
#include <QImage>
#include <QMoveEvent>
#include <QPainter>
#include <QPointer>
#include <QWindow>

#include <xcb/render.h>

#include <algorithm>
#include <optional>

namespace {

QString session() { return qEnvironmentVariable("ZK_XSESSION_WM"); }
bool compositorSession() { return qEnvironmentVariable("ZK_XSESSION_COMPOSITOR") == QLatin1String("1"); }

QImage grabScreen()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

void keep(const QImage &shot, const QString &name)
{
    QDir().mkpath(QStringLiteral(ZK_SHOTS_DIR));
    shot.save(QStringLiteral(ZK_SHOTS_DIR "/%1-%2.png").arg(session(), name));
}

bool near(QColor a, QColor b, int by)
{
    return std::abs(a.red() - b.red()) <= by && std::abs(a.green() - b.green()) <= by &&
           std::abs(a.blue() - b.blue()) <= by;
}

double blackShare(const QImage &shot)
{
    qint64 black = 0;
    for (int y = 0; y < shot.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x)
            black += qRed(row[x]) < 8 && qGreen(row[x]) < 8 && qBlue(row[x]) < 8;
    }
    return double(black) / double(qint64(shot.width()) * shot.height());
}

// The panel's present frame drawn apart, as the canvas would: what the screen
// must show where the drawing is solid.
QImage drawnAlone(const CompanionPanel &panel, const QSize &canvas)
{
    QImage image(canvas, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const CompanionPanel::Frame &f = panel.frame();
    CanvasPainter().paint(painter, f.scene, f.pose, f.variant, f.bubbleText, f.bubbleOpacity, f.paused, image.rect());
    return image;
}

struct Likeness {
    int solid = 0, matching = 0;
};

// Compares the screen with the drawing wherever the drawing is solid.
Likeness compare(const QImage &shot, const QImage &drawing, QPoint canvasOrigin)
{
    Likeness l;
    for (int y = 0; y < drawing.height(); ++y) {
        for (int x = 0; x < drawing.width(); ++x) {
            const QRgb d = drawing.pixel(x, y);
            if (qAlpha(d) < 250)
                continue;
            const QPoint at = canvasOrigin + QPoint(x, y);
            if (!shot.rect().contains(at))
                continue;
            ++l.solid;
            l.matching += near(QColor::fromRgb(qUnpremultiply(d)), shot.pixelColor(at), 24);
        }
    }
    return l;
}

// Waits until the screen shows the panel's present drawing wherever it is
// solid, keeps the screenshot as `name` in any case, and hands it back.
::testing::AssertionResult drawnOnScreen(const CompanionPanel &panel, const QString &name, QImage &shot)
{
    const QImage drawing = drawnAlone(panel, QGuiApplication::primaryScreen()->geometry().size());
    Likeness seen;
    const bool shown = zktest::spinUntil([&] {
        shot = grabScreen();
        seen = compare(shot, drawing, panel.canvasOrigin());
        return seen.solid > 3000 && seen.matching >= seen.solid * 95 / 100;
    });
    keep(shot, name);
    if (shown)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << seen.matching << " of " << seen.solid
                                         << " solid pixels of the cat and its bubble on screen";
}

struct ProcessGuard {
    QProcess process;
    ~ProcessGuard()
    {
        if (process.state() != QProcess::NotRunning) {
            process.closeWriteChannel();
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(5000);
        }
    }
};

// What a native window is told: the places Qt learnt it moved to, in order,
// and how often it was exposed; how often the server said it was moved or
// resized, and how often its size hints were written.
struct WindowEvents final : QObject, QAbstractNativeEventFilter {
    QWindow *window;
    std::vector<QPoint> moves;
    int exposes = 0, sizeHints = 0, configures = 0;
    explicit WindowEvents(QWindow *w) : window(w)
    {
        w->installEventFilter(this);
        qApp->installNativeEventFilter(this);
    }
    ~WindowEvents() override { qApp->removeNativeEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Move)
            moves.push_back(static_cast<QMoveEvent *>(event)->pos());
        exposes += event->type() == QEvent::Expose;
        return false;
    }
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        auto *event = static_cast<xcb_generic_event_t *>(message);
        if (type == "xcb_generic_event_t" && (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto *notice = reinterpret_cast<xcb_property_notify_event_t *>(event);
            sizeHints += notice->window == window->winId() && notice->atom == XCB_ATOM_WM_NORMAL_HINTS;
        }
        if (type == "xcb_generic_event_t" && (event->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY) {
            const auto *notice = reinterpret_cast<xcb_configure_notify_event_t *>(event);
            configures += notice->window == window->winId() && notice->event == notice->window;
        }
        return false;
    }
};

} // namespace

TEST(DesktopCatWithoutCompositor, LivesInAWindowCutToItsDrawingAndTheDesktopStaysVisible)
{
    if (compositorSession())
        GTEST_SKIP() << "runs in a session without a compositing manager";
    ASSERT_EQ(runTool(QStringLiteral("xsetroot"), {"-solid", "#3a6ea5"}), 0);
    DesktopRig rig;
    const xcb_window_t notes = rig.other.open("Notes", QRect(80, 300, 520, 300));
    const xcb_window_t plan = rig.other.open("Plan", QRect(640, 420, 560, 300));
    ASSERT_TRUE(rig.placedLedge(notes, QPoint(80, 300)));
    ASSERT_TRUE(rig.placedLedge(plan, QPoint(640, 420)));
    ASSERT_EQ(rig.cat.presentation(), CompanionController::Presentation::shapedWindow);
    ASSERT_EQ(rig.cat.panels().size(), 1u);
    CompanionPanel *window = rig.cat.panels().front();
    EXPECT_EQ(window->kind(), CompanionPanel::Kind::catWindow);
    EXPECT_FALSE(window->translucent());

    // The cat on the plan window, speaking.
    const Ledge ledge = rig.ledgesOf(plan).front();
    bool arrived = false;
    rig.cat.onArrived = [&](const CompanionGoal &) { arrived = true; };
    std::optional<WindowEvents> walk(window->windowHandle());
    const int framesBefore = rig.cat.framesRun();
    rig.cat.request(CompanionGoal::visit(ledge));
    ASSERT_TRUE(rig.frameUntil([&] { return arrived; }));
    // Drawn on the server from pictures sent there, never more than one a frame.
    EXPECT_TRUE(window->picturesOnServer());
    EXPECT_GT(window->picturesKept(), 0);
    EXPECT_LE(window->picturesSent(), rig.cat.framesRun() - framesBefore + 2);
    // The pictures sent there are not all kept here as well.
    EXPECT_GE(window->figurePicturesHere(), 1);
    EXPECT_LE(window->figurePicturesHere(), CompanionPanel::kFigurePicturesBesideServer);
    X11::compositorRunning(); // a round trip: every notice of the walk is on its way
    rig.frameUntil([] { return true; });
    // On the way its window moved frame after frame, each time without writing
    // its size hints (only a change of size does), and what each move or new
    // outline laid open was not sent twice (the frame's repaint sends it). Qt
    // is not told of each move, which would cost a wait on the server for the
    // window's frame every frame.
    ASSERT_GE(walk->configures, 8);
    EXPECT_LE(4 * walk->sizeHints, walk->configures);
    EXPECT_LE(4 * walk->exposes, walk->configures);
    EXPECT_LE(4 * int(walk->moves.size()), walk->configures);
    walk.reset();
    rig.cat.say(QStringLiteral("Published. Link is in the plan."), 60);
    ASSERT_TRUE(rig.frameUntil([&] { return window->frame().bubbleOpacity >= 1; }));
    rig.frameUntil([] { return true; });

    // The window holds the cat and its bubble, no more: a few hundred points, not the screen.
    const QRect g = window->placement();
    EXPECT_EQ(rig.other.frame(xcb_window_t(window->winId())), g) << "the window is where it was put";
    EXPECT_LT(g.width(), 420);
    EXPECT_LT(g.height(), 360);
    const QPoint feet = window->canvasOrigin() + window->frame().scene.local.toPoint();
    EXPECT_TRUE(g.contains(feet - QPoint(0, 20))) << "the window is where the cat is";
    ASSERT_FALSE(window->shape().empty());
    QRegion shape;
    for (const QRect &r : window->shape())
        shape += r;
    EXPECT_LT(shape.boundingRect().width() * shape.boundingRect().height(), g.width() * g.height() + 1);

    X11::compositorRunning(); // a round trip: the server has drawn what was sent
    QImage shot;
    ASSERT_TRUE(drawnOnScreen(*window, QStringLiteral("cat-window"), shot));

    // The desktop shows: the root's colour and the white windows, black only in the cat's own fur.
    EXPECT_LT(blackShare(shot), 0.01);
    EXPECT_TRUE(near(shot.pixelColor(20, 20), QColor(0x3a, 0x6e, 0xa5), 4));
    const QRect notesFrame = rig.other.frame(notes);
    EXPECT_EQ(shot.pixelColor(notesFrame.center()), QColor(Qt::white));
    // Inside the window's rectangle but outside the shape, what lies beneath
    // shows: the root, the plan window or its frame, never black.
    int beside = 0, black = 0;
    for (int y = 0; y < g.height(); y += 3) {
        for (int x = 0; x < g.width(); x += 3) {
            if (shape.contains(QPoint(x, y)))
                continue;
            ++beside;
            black += near(shot.pixelColor(g.topLeft() + QPoint(x, y)), Qt::black, 8);
        }
    }
    ASSERT_GT(beside, 100);
    EXPECT_EQ(black, 0);

    // The window is the cat's: moved by another program, Qt takes where the
    // server says it went as said (not asked again with a wait), and the window
    // goes back over the cat at once, with no frame run, Qt told of that too.
    // Two moves made before the application reads their notices reach it as two
    // places, not the last one twice (Qt would merge queued notices of one
    // window, hiding which way each was read: not here).
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
    const auto id = xcb_window_t(window->winId());
    const QRect placed = window->placement();
    const QPoint first = placed.topLeft() + QPoint(40, 0), second = placed.topLeft() + QPoint(80, 10);
    WindowEvents moves(window->windowHandle());
    rig.other.move(id, first);
    rig.other.move(id, second);
    const bool back = zktest::spinUntil([&] {
        return moves.moves.size() >= 3 && rig.other.frame(id) == placed && window->pos() == placed.topLeft();
    });
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, true);
    ASSERT_TRUE(back) << "the window moved away by another program never came back over the cat; Qt saw "
                      << moves.moves.size() << " moves, the server has it at " << rig.other.frame(id).x() << ","
                      << rig.other.frame(id).y();
    // Each place in the order it came; on a busy machine the window may already
    // have gone back once between the two.
    ASSERT_FALSE(moves.moves.empty());
    EXPECT_EQ(moves.moves.front(), first);
    const auto seenSecond = std::find(moves.moves.begin() + 1, moves.moves.end(), second);
    EXPECT_NE(seenSecond, moves.moves.end()) << "the second place reached Qt too";
    EXPECT_EQ(moves.moves.back(), placed.topLeft());
    EXPECT_EQ(window->placement(), placed);
}

TEST(DesktopCatWithoutCompositor, FollowsACompositorThatStartsAndQuits)
{
    if (compositorSession() || session() == QLatin1String("none"))
        GTEST_SKIP() << "runs in a session with a window manager and no compositing manager";
    DesktopRig rig;
    const xcb_window_t w = rig.other.open("Below", QRect(100, 200, 900, 500));
    ASSERT_TRUE(rig.ledgesUntil(w, "ledge of the window", [](const auto &l) { return !l.empty(); }));
    ASSERT_EQ(rig.cat.presentation(), CompanionController::Presentation::shapedWindow);
    // The cat's pictures on the server, to see them freed with their window.
    rig.cat.say(QStringLiteral("Shaped."), 60);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.panels().front()->frame().bubbleOpacity >= 1; }));
    const QPointer<CompanionPanel> shaped = rig.cat.panels().front();
    const std::vector<unsigned int> held = shaped->picturesHeld();
    ASSERT_GE(held.size(), 2u) << "the figure and the bubble";

    // No frame runs while the compositor comes and goes: the change is heard, not polled.
    ProcessGuard compositor;
    compositor.process.start(QStringLiteral("xcompmgr"), {});
    ASSERT_TRUE(compositor.process.waitForStarted());
    ASSERT_TRUE(zktest::spinUntil([&] {
        return rig.cat.presentation() == CompanionController::Presentation::translucentWindow;
    }));
    // Still one small window with the cat, now blended whole with the desktop
    // (its soft shadow shows), not cut to the drawing.
    ASSERT_EQ(rig.cat.panels().size(), 1u);
    CompanionPanel *blended = rig.cat.panels().front();
    EXPECT_TRUE(blended->translucent());
    rig.cat.say(QStringLiteral("Blended."), 60);
    ASSERT_TRUE(rig.frameUntil([&] { return blended->frame().bubbleOpacity >= 1; })) << "the cat and its bubble";
    rig.frameUntil([] { return true; });
    EXPECT_TRUE(blended->shape().empty());
    EXPECT_LT(blended->placement().width() * blended->placement().height(),
              QGuiApplication::primaryScreen()->geometry().width() * QGuiApplication::primaryScreen()->geometry().height() / 10);
    QImage blendedShot;
    ASSERT_TRUE(drawnOnScreen(*blended, QStringLiteral("with-compositor"), blendedShot));
    EXPECT_TRUE(blended->picturesOnServer());
    EXPECT_FALSE(blended->picturesHeld().empty());
    // The shaped window's pictures went with it (deleted once no callback of
    // its can be running): the server knows them no more.
    ASSERT_TRUE(zktest::spinUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return shaped.isNull();
    })) << "the shaped window was never deleted";
    for (const unsigned int picture : held) {
        xcb_generic_error_t *error =
            xcb_request_check(X11::connection(), xcb_render_change_picture_checked(X11::connection(), picture, 0, nullptr));
        EXPECT_TRUE(error) << "picture " << picture << " still held on the server";
        std::free(error);
    }

    compositor.process.terminate();
    ASSERT_TRUE(compositor.process.waitForFinished(5000));
    ASSERT_TRUE(zktest::spinUntil([&] {
        return rig.cat.presentation() == CompanionController::Presentation::shapedWindow;
    }));
    ASSERT_EQ(rig.cat.panels().size(), 1u);
    ASSERT_TRUE(rig.frameUntil([&] { return !rig.cat.panels().front()->shape().empty(); }));
    QImage shot;
    ASSERT_TRUE(zktest::spinUntil([&] {
        shot = grabScreen();
        return blackShare(shot) < 0.01;
    })) << "black share " << blackShare(shot);
    keep(shot, QStringLiteral("after-compositor"));
    EXPECT_EQ(shot.pixelColor(rig.other.frame(w).center()), QColor(Qt::white));
}

TEST(DesktopCatXfwm4, FollowsTheWindowManagersCompositorTurnedOffAndOn)
{
    if (session() != QLatin1String("xfwm4") || !compositorSession())
        GTEST_SKIP() << "runs under xfwm4 with its compositor";
    ASSERT_EQ(runTool(QStringLiteral("xsetroot"), {"-solid", "#3a6ea5"}), 0);
    auto compositing = [](bool on) {
        return runTool(QStringLiteral("xfconf-query"), {"-c", "xfwm4", "-p", "/general/use_compositing", "-n",
                                                                  "-t", "bool", "-s", on ? "true" : "false"});
    };
    DesktopRig rig;
    const xcb_window_t w = rig.other.open("Editor", QRect(120, 260, 900, 400));
    ASSERT_TRUE(rig.ledgesUntil(w, "ledge of the window", [](const auto &l) { return !l.empty(); }));
    ASSERT_EQ(rig.cat.presentation(), CompanionController::Presentation::translucentWindow);

    // As a user turns it off in the window manager's settings.
    ASSERT_EQ(compositing(false), 0);
    ASSERT_TRUE(zktest::spinUntil([&] {
        return rig.cat.presentation() == CompanionController::Presentation::shapedWindow;
    }));
    rig.cat.say(QStringLiteral("Still here."), 60);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.panels().front()->frame().bubbleOpacity >= 1; }));
    rig.frameUntil([] { return true; });
    QImage shot;
    ASSERT_TRUE(drawnOnScreen(*rig.cat.panels().front(), QStringLiteral("compositing-off"), shot));
    EXPECT_LT(blackShare(shot), 0.01);
    EXPECT_EQ(shot.pixelColor(rig.other.frame(w).center()), QColor(Qt::white));

    // And on again.
    ASSERT_EQ(compositing(true), 0);
    ASSERT_TRUE(zktest::spinUntil([&] {
        return rig.cat.presentation() == CompanionController::Presentation::translucentWindow;
    }));
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.panels().front()->frame().bubbleOpacity >= 1; }))
        << "the bubble shown whole in the blended window";
    ASSERT_TRUE(drawnOnScreen(*rig.cat.panels().front(), QStringLiteral("compositing-on"), shot));
}

TEST(DesktopCatGtk, StandsOnTheVisibleEdgeOfAWindowThatDrawsItsOwnFrame)
{
    if (session() != QLatin1String("xfwm4") || !compositorSession())
        GTEST_SKIP() << "runs under xfwm4 with its compositor, where GTK adds its shadow margin";
    DesktopRig rig;
    // Behind the GTK window, its top 12 px above the header bar: inside GTK's margin.
    const xcb_window_t behind = rig.other.open("Behind", QRect(100, 248, 1000, 300));
    ASSERT_TRUE(rig.ledgesUntil(behind, "ledge of the window behind", [](const auto &l) { return !l.empty(); }));
    ProcessGuard gtk;
    gtk.process.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(ZK_HEADERBAR_SCRIPT), QStringLiteral("Header bar"), "300", "260", "560", "300"});
    ASSERT_TRUE(gtk.process.waitForStarted());
    xcb_window_t id = 0;
    QRect visible;
    ASSERT_TRUE(zktest::spinUntil([&] {
        while (gtk.process.canReadLine()) {
            const QStringList f = QString::fromUtf8(gtk.process.readLine()).simplified().split(' ');
            if (f.value(0) == QLatin1String("window"))
                id = f.value(1).toUInt();
            if (f.value(0) == QLatin1String("visible") && f.size() == 5)
                visible = QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt());
        }
        return id != 0 && visible.isValid();
    })) << gtk.process.readAllStandardError().toStdString();

    // GTK keeps its shadow margin inside the window: the client is larger than what shows.
    X11::ClientWindow client;
    ASSERT_TRUE(zktest::spinUntil([&] {
        for (const X11::ClientWindow &w : X11::readClientWindows()) {
            if (w.id == id)
                client = w;
        }
        return client.id == id && client.clientMargins.top() > 0;
    }));
    EXPECT_GT(client.geometry.width(), visible.width());
    EXPECT_LT(client.geometry.top(), visible.top());

    ASSERT_TRUE(rig.ledgesUntil(id, "ledge on the header bar's top", [&](const auto &l) {
        return !l.empty() && l.front().y == rig.screenHeight - visible.top();
    })) << "the header bar's top is " << visible.top() << " px down";
    const Ledge ledge = rig.ledgesOf(id).front();
    EXPECT_EQ(ledge.minX, visible.left());
    EXPECT_EQ(ledge.maxX, visible.left() + visible.width());

    // The window behind, whose top edge lies in the invisible margin, is not cut by it.
    ASSERT_TRUE(rig.ledgesUntil(behind, "ledge of the window behind", [](const auto &l) { return !l.empty(); }));
    const QRect behindFrame = rig.other.frame(behind);
    ASSERT_GT(behindFrame.top(), client.geometry.top()) << "the back window's top lies in the margin";
    ASSERT_LT(behindFrame.top(), visible.top());
    ASSERT_EQ(rig.ledgesOf(behind).size(), 1u);
    EXPECT_EQ(rig.ledgesOf(behind).front().minX, behindFrame.left());
    EXPECT_EQ(rig.ledgesOf(behind).front().maxX, behindFrame.left() + behindFrame.width());

    bool arrived = false;
    rig.cat.onArrived = [&](const CompanionGoal &) { arrived = true; };
    rig.cat.request(CompanionGoal::visit(ledge));
    ASSERT_TRUE(rig.frameUntil([&] { return arrived; }));
    EXPECT_EQ(rig.cat.brain().pose.position.y(), rig.screenHeight - visible.top());
    rig.cat.say(QStringLiteral("On the edge."), 60);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.panels().front()->frame().bubbleOpacity >= 1; }));
    rig.frameUntil([] { return true; });
    // On screen: the cat as drawn, its feet on the header bar's top row.
    CompanionPanel *panel = rig.cat.panels().front();
    QImage shot;
    ASSERT_TRUE(drawnOnScreen(*panel, QStringLiteral("gtk-headerbar"), shot));
    EXPECT_EQ(panel->canvasOrigin().y() + panel->frame().scene.figureFrame.bottom(), visible.top());
    EXPECT_GT(shot.pixelColor(QPoint(int(rig.cat.brain().pose.position.x()) - 70, visible.top() + 4)).lightness(), 150)
        << "the header bar beside the cat";
}

TEST(DesktopCatTwm, LandsOnAWindowAndKeepsItsWindowsAboveTheOthers)
{
    if (session() != QLatin1String("twm"))
        GTEST_SKIP() << "runs under twm, which keeps no EWMH lists";
    DesktopRig rig;
    // Opened after the cat, so twm stacks its frame over the cat's windows.
    const xcb_window_t w = rig.other.open("Old school", QRect(260, 340, 700, 300));
    const std::optional<Ledge> placed = rig.placedLedge(w, QPoint(260, 340));
    ASSERT_TRUE(placed);
    const QRect frame = rig.other.frame(w);
    const Ledge ledge = *placed;
    EXPECT_GT(frame.height(), 300) << "twm's title bar is part of the frame";
    EXPECT_EQ(ledge.y, rig.screenHeight - frame.top());
    EXPECT_EQ(ledge.minX, frame.left());
    EXPECT_EQ(ledge.maxX, frame.left() + frame.width());

    // The cat's windows are above the window's frame in the server's stacking.
    std::vector<unsigned int> ours;
    for (CompanionPanel *p : rig.cat.panels())
        ours.push_back(unsigned(p->winId()));
    auto above = [&] {
        const std::vector<unsigned int> order = X11::stackingOrder();
        long frameAt = -1, lowestOurs = long(order.size());
        for (size_t i = 0; i < order.size(); ++i) {
            if (rig.other.frame(order[i]) == frame && std::find(ours.begin(), ours.end(), order[i]) == ours.end())
                frameAt = long(i);
            if (std::find(ours.begin(), ours.end(), order[i]) != ours.end())
                lowestOurs = std::min(lowestOurs, long(i));
        }
        return frameAt >= 0 && lowestOurs > frameAt;
    };
    ASSERT_TRUE(rig.frameUntil(above)) << "the cat's windows stay above the window";

    bool arrived = false;
    rig.cat.onArrived = [&](const CompanionGoal &) { arrived = true; };
    rig.cat.request(CompanionGoal::visit(ledge));
    ASSERT_TRUE(rig.frameUntil([&] { return arrived; }));
    EXPECT_EQ(rig.cat.brain().pose.position.y(), ledge.y);
    EXPECT_EQ(rig.cat.brain().support.ledge.windowNumber, int(w));

    // Raised by the user, the window goes over the cat's windows, until the next read of the windows.
    rig.other.raise(w);
    ASSERT_TRUE(zktest::spinUntil([&] { return !above(); }));
    ASSERT_TRUE(rig.frameUntil(above));
    rig.cat.say(QStringLiteral("Up here."), 60);
    ASSERT_TRUE(rig.frameUntil([&] { return rig.cat.panels().front()->frame().bubbleOpacity >= 1; }));
    rig.frameUntil([] { return true; });
    CompanionPanel *panel = rig.cat.panels().front();
    QImage shot;
    ASSERT_TRUE(drawnOnScreen(*panel, QStringLiteral("twm"), shot));
}
