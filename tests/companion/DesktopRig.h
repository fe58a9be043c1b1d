#pragma once
// The desktop cat's rig on a real X server: windows of a second connection
// standing in for other applications, and a controller whose frames run on a
// virtual clock that the test steps.

#include "base/Clock.h"
#include "companion/CompanionController.h"
#include "companion/CompanionPanel.h"
#include "platform/X11.h"
#include "platform/X11WindowList.h"
#include "support/TestSupport.h"
#include "support/X11Support.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>

namespace {

using namespace std::chrono_literals;

// Another application's client: bare windows that report their clicks.
class OtherApp {
public:
    OtherApp() : m_c(xcb_connect(nullptr, nullptr)) { m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data; }
    ~OtherApp() { xcb_disconnect(m_c); }

    xcb_window_t open(const char *title, QRect geometry)
    {
        const xcb_window_t w = xcb_generate_id(m_c);
        const uint32_t values[] = {m_screen->white_pixel, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, w, m_screen->root, int16_t(geometry.x()), int16_t(geometry.y()),
                          uint16_t(geometry.width()), uint16_t(geometry.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          m_screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            uint32_t(std::strlen(title)), title);
        // Openbox honours a program-specified position.
        uint32_t hints[18] = {};
        hints[0] = 1 | 4; // USPosition | PPosition
        hints[1] = uint32_t(geometry.x());
        hints[2] = uint32_t(geometry.y());
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18,
                            hints);
        xcb_map_window(m_c, w);
        xcb_flush(m_c);
        m_open.push_back(w);
        return w;
    }

    // Closes this case's windows and waits until the window manager has let them
    // go. One connection serves every case: a new one could be handed the same
    // window ids while the window manager still remembers the closed windows.
    void closeAll()
    {
        for (xcb_window_t w : m_open)
            xcb_destroy_window(m_c, w);
        xcb_flush(m_c);
        const bool gone = zktest::spinUntil([&] {
            for (const X11::ClientWindow &w : X11::readClientWindows()) {
                if (std::find(m_open.begin(), m_open.end(), w.id) != m_open.end())
                    return false;
            }
            return true;
        }, std::chrono::seconds(10));
        EXPECT_TRUE(gone) << "the window manager still lists this case's closed windows after 10 s";
        m_open.clear();
        m_presses.clear();
    }

    // Asks the window manager to put the window in front of the others (openbox
    // may map a window that did not take focus below the focused one).
    void raise(xcb_window_t w)
    {
        const uint32_t values[] = {XCB_STACK_MODE_ABOVE};
        xcb_configure_window(m_c, w, XCB_CONFIG_WINDOW_STACK_MODE, values);
        xcb_flush(m_c);
    }

    void move(xcb_window_t w, QPoint to)
    {
        const uint32_t values[] = {uint32_t(to.x()), uint32_t(to.y())};
        xcb_configure_window(m_c, w, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
        xcb_flush(m_c);
    }

    // The window with its decorations, in root pixels: the outermost ancestor below the root.
    QRect frame(xcb_window_t w) { return zktest::topLevelFrame(m_c, w); }

    // Button presses each window has had so far.
    int presses(xcb_window_t w)
    {
        while (xcb_generic_event_t *e = xcb_poll_for_event(m_c)) {
            if ((e->response_type & 0x7f) == XCB_BUTTON_PRESS)
                ++m_presses[reinterpret_cast<xcb_button_press_event_t *>(e)->event];
            std::free(e);
        }
        return m_presses[w];
    }

private:
    xcb_connection_t *m_c;
    xcb_screen_t *m_screen;
    std::map<xcb_window_t, int> m_presses;
    std::vector<xcb_window_t> m_open;
};

using zktest::runTool;

void xdotool(const QStringList &args)
{
    ASSERT_EQ(runTool(QStringLiteral("xdotool"), args), 0) << "xdotool " << args.join(' ').toStdString();
}

OtherApp &otherApp()
{
    static OtherApp app;
    return app;
}

// Counts the mouse releases the application receives, so a test can let a
// click arrive in real time while virtual time (and so the cat) holds still.
struct ReleaseCounter final : QObject {
    int count = 0;
    ReleaseCounter() { qApp->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::MouseButtonRelease;
        return false;
    }
};

struct DesktopRig {
    FakeClock clock;
    CompanionController cat{clock};
    OtherApp &other = otherApp();
    double screenHeight = QGuiApplication::primaryScreen()->geometry().height();

    DesktopRig()
    {
        cat.hour = [] { return 12; };
        cat.start();
    }
    ~DesktopRig() { other.closeAll(); }
    // How long a window's ledge may take to show: the window manager frames the
    // window and the cat reads the windows again, a fraction of a second, a few
    // seconds on a loaded machine. Shorter than other waits, so a suite whose
    // ledges fail still ends case by case, each with its message.
    static constexpr std::chrono::milliseconds kLedgeLimit = std::chrono::seconds(15);

    // Steps frames until `done`, the real X server answering in between; false
    // once `limit` has passed.
    bool frameUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = zktest::kWaitLimit)
    {
        return zktest::spinUntil([&] {
            clock.advance(34ms);
            return done();
        }, limit);
    }
    // Steps frames until window `w` has ledges that `fit`, within kLedgeLimit;
    // a failure names `what` and tells where the window and its ledges were.
    ::testing::AssertionResult ledgesUntil(xcb_window_t w, const char *what,
                                           const std::function<bool(const std::vector<Ledge> &)> &fit)
    {
        if (frameUntil([&] { return fit(ledgesOf(w)); }, kLedgeLimit))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no " << what << " within " << kLedgeLimit.count() / 1000 << " s: "
                                             << describe(w);
    }
    // The window's frame and ledges, and how many ledges the cat knows in all.
    std::string describe(xcb_window_t w) const
    {
        const auto n = [](double v) { return QString::number(v).toStdString(); };
        const QRect f = other.frame(w);
        std::string out = "window " + std::to_string(w) + " framed at " + n(f.x()) + "," + n(f.y()) + " " +
                          n(f.width()) + "x" + n(f.height()) + " (its top at y " + n(screenHeight - f.y()) +
                          " up), its ledges:";
        for (const Ledge &l : ledgesOf(w))
            out += " " + n(l.minX) + "..." + n(l.maxX) + " at " + n(l.y);
        return out + (ledgesOf(w).empty() ? " none; " : "; ") + std::to_string(cat.ledges().size()) + " ledges in all";
    }
    std::vector<Ledge> ledgesOf(xcb_window_t w) const
    {
        std::vector<Ledge> out;
        for (const Ledge &l : cat.ledges()) {
            if (l.windowNumber == int(w))
                out.push_back(l);
        }
        return out;
    }
    // The window's first ledge once the window manager has placed its frame
    // near where it was asked (a busy one lists the window a moment before) and
    // the cat has read it there.
    // None, and the failure recorded with what was seen, when it does not come
    // within kLedgeLimit.
    std::optional<Ledge> placedLedge(xcb_window_t w, QPoint asked)
    {
        std::optional<Ledge> found;
        frameUntil([&] {
            const QRect f = other.frame(w);
            const std::vector<Ledge> l = ledgesOf(w);
            if (l.empty() || std::abs(f.x() - asked.x()) >= 40 || std::abs(f.y() - asked.y()) >= 40 ||
                l.front().minX != f.x() || l.front().y != screenHeight - f.y())
                return false;
            found = l.front();
            return true;
        }, kLedgeLimit);
        if (!found)
            ADD_FAILURE() << "no ledge on the top of the window asked at " << asked.x() << "," << asked.y()
                          << " within " << kLedgeLimit.count() / 1000 << " s: " << describe(w);
        return found;
    }
    // The cat's middle in root pixels.
    QPoint catMiddle() const
    {
        const QPointF p = cat.brain().pose.position;
        return QPoint(int(std::lround(p.x())), int(std::lround(screenHeight - p.y() - 31)));
    }
    // Where to take hold of the cat: its middle, or without a compositor the
    // drawn pixel nearest to it (the cat window takes the mouse only where it
    // shows something).
    QPoint catGrip() const
    {
        const QPoint middle = catMiddle();
        const CompanionPanel *panel = cat.panels().front();
        if (panel->kind() != CompanionPanel::Kind::catWindow || panel->shape().empty())
            return middle;
        const QPoint local = middle - panel->placement().topLeft();
        QPoint best;
        int bestDistance = std::numeric_limits<int>::max();
        for (const QRect &r : panel->shape()) {
            const QPoint p(std::clamp(local.x(), r.left(), r.right()), std::clamp(local.y(), r.top(), r.bottom()));
            const int d = (p - local).manhattanLength();
            if (d < bestDistance) {
                bestDistance = d;
                best = p;
            }
        }
        return best + panel->placement().topLeft();
    }
    void pointAt(QPoint p)
    {
        xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
    }
};

} // namespace
