#pragma once

// Helpers of the tests on the X11 rig: input through xdotool, properties read
// straight from the server, and a window of the test that holds the keyboard.

#include "platform/X11.h"
#include "support/TestSupport.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zktest {

inline void xdotool(const QStringList &args)
{
    ASSERT_EQ(runTool(QStringLiteral("xdotool"), args), 0) << args.join(' ').toStdString();
}

inline void pointAt(QPoint p) { xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}); }

inline xcb_atom_t atom(const char *name)
{
    xcb_connection_t *c = X11::connection();
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

// The window that holds the X server's input focus, as the window manager left it.
inline quint64 inputFocus()
{
    xcb_connection_t *c = X11::connection();
    xcb_get_input_focus_reply_t *r = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    const quint64 focus = r ? r->focus : 0;
    std::free(r);
    return focus;
}

// Where the X server has a window's top-left corner, in root pixels: a busy
// window manager puts a window there a moment after the toolkit thinks it is.
inline QPoint serverOrigin(const QWidget *widget)
{
    xcb_connection_t *c = X11::connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_translate_coordinates_reply_t *r =
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, xcb_window_t(widget->winId()), root, 0, 0), nullptr);
    const QPoint at = r ? QPoint(r->dst_x, r->dst_y) : QPoint(-1, -1);
    std::free(r);
    return at;
}

// The window's own rectangle as the X server has it, in root pixels: where the
// window manager finally put it and at the size it last agreed to.
inline QRect serverFrame(const QWidget *widget)
{
    xcb_connection_t *c = X11::connection();
    xcb_get_geometry_reply_t *g =
        xcb_get_geometry_reply(c, xcb_get_geometry(c, xcb_window_t(widget->winId())), nullptr);
    const QSize size = g ? QSize(g->width, g->height) : QSize();
    std::free(g);
    return QRect(serverOrigin(widget), size);
}

// What a reparenting window manager sends a client about its window: a
// synthetic ConfigureNotify with the frame in root pixels, here a stale one.
inline void tellConfigured(const QWidget *widget, QRect frame)
{
    xcb_connection_t *c = X11::connection();
    xcb_configure_notify_event_t event{};
    event.response_type = XCB_CONFIGURE_NOTIFY;
    event.event = event.window = xcb_window_t(widget->winId());
    event.above_sibling = XCB_NONE;
    event.x = int16_t(frame.x());
    event.y = int16_t(frame.y());
    event.width = uint16_t(frame.width());
    event.height = uint16_t(frame.height());
    xcb_send_event(c, 0, event.window, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char *>(&event));
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// Counts the synthetic ConfigureNotify events the X server hands the
// application for a window, as the application takes them.
struct SentNotices final : QAbstractNativeEventFilter {
    xcb_window_t window;
    int seen = 0;
    explicit SentNotices(const QWidget *w) : window(xcb_window_t(w->winId()))
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~SentNotices() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        const auto *e = static_cast<const xcb_generic_event_t *>(message);
        if (type == "xcb_generic_event_t" && e->response_type == (XCB_CONFIGURE_NOTIFY | 0x80) &&
            static_cast<const xcb_configure_notify_event_t *>(message)->window == window)
            ++seen;
        return false;
    }
};

// Waits for what the X server says without handling any event of this process,
// so the toolkit's own idea of the window stays as it was.
inline bool untilOnServer(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(std::chrono::seconds(20));
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

// Stops the window manager at a moment it holds no grab of the server: stopped
// inside one, it would leave every client of the server waiting for ever.
inline bool stopWindowManager(pid_t wm)
{
    xcb_connection_t *c = X11::connection();
    QDeadlineTimer deadline(std::chrono::seconds(20));
    while (!deadline.hasExpired()) {
        ::kill(wm, SIGSTOP);
        QThread::msleep(10); // what it wrote before it stopped reaches the server first
        const unsigned int asked = xcb_get_input_focus(c).sequence;
        xcb_flush(c);
        QDeadlineTimer answer(std::chrono::milliseconds(300));
        while (!answer.hasExpired()) {
            void *reply = nullptr;
            xcb_generic_error_t *error = nullptr;
            if (xcb_poll_for_reply(c, asked, &reply, &error)) {
                std::free(reply);
                std::free(error);
                return true;
            }
            QThread::msleep(2);
        }
        xcb_discard_reply(c, asked);
        std::fprintf(stderr, "the window manager was stopped holding the server; it goes on and is stopped again\n");
        ::kill(wm, SIGCONT);
        QThread::msleep(20);
    }
    return false;
}
inline std::vector<uint32_t> property32(xcb_window_t w, const char *name)
{
    xcb_connection_t *c = X11::connection();
    xcb_get_property_reply_t *r = xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
    std::vector<uint32_t> out;
    if (r && r->format == 32) {
        const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(r));
        out.assign(data, data + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return out;
}

// A window's UTF-8 text property (its _NET_WM_NAME), empty without one.
inline QString textProperty(xcb_window_t w, const char *name)
{
    xcb_connection_t *c = X11::connection();
    xcb_get_property_reply_t *r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, atom(name), atom("UTF8_STRING"), 0, 1024), nullptr);
    const QString text = r && r->format == 8
        ? QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(r)), xcb_get_property_value_length(r))
        : QString();
    std::free(r);
    return text;
}

// Where the X server has the keyboard: the process and title of the window
// with its input focus. Keys typed go there, which on a busy machine can be a
// moment after the toolkit counts another window active.
struct ServerKeyboard {
    qint64 pid = 0;
    QString title;
    // The toolkit shows a title with the application's name after a dash.
    bool in(qint64 process, const QString &window) const
    {
        return pid == process && (title == window || title.startsWith(window + QStringLiteral(" \u2014 ")));
    }
};
inline ServerKeyboard serverKeyboard()
{
    const quint64 focus = inputFocus();
    if (focus <= XCB_INPUT_FOCUS_POINTER_ROOT)
        return {};
    const std::vector<uint32_t> pid = property32(xcb_window_t(focus), "_NET_WM_PID");
    return {pid.empty() ? 0 : qint64(pid.front()), textProperty(xcb_window_t(focus), "_NET_WM_NAME")};
}

inline QString atomNames(const std::vector<uint32_t> &values)
{
    xcb_connection_t *c = X11::connection();
    QStringList names;
    for (uint32_t v : values) {
        xcb_get_atom_name_reply_t *r = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, v), nullptr);
        names << (r ? QString::fromLatin1(xcb_get_atom_name_name(r), xcb_get_atom_name_name_length(r))
                    : QString::number(v));
        std::free(r);
    }
    return names.join(' ');
}

inline bool contains(const std::vector<uint32_t> &values, uint32_t v)
{
    return std::find(values.begin(), values.end(), v) != values.end();
}

// A normal window of the test with a text field that holds the keyboard.
struct Typist {
    QWidget window;
    QLineEdit *field = new QLineEdit;
    explicit Typist(QRect frame = QRect(100, 100, 300, 120))
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(field);
        window.setGeometry(frame);
        window.show();
        window.activateWindow();
        field->setFocus();
    }
    // Active for the toolkit and holding the server's input focus: keys typed
    // before the server moves it go to the window that had it.
    bool active() const { return QApplication::activeWindow() == &window && inputFocus() == window.winId(); }
};

// A tray host for a session that starts without one: trayer, as the rig runs it
// with --tray, started and stopped by the test itself.
class TrayHost {
public:
    // Started and owning the tray selection, or failed.
    bool start()
    {
        m_trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                                  QStringLiteral("right"), QStringLiteral("--widthtype"),
                                                  QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24")});
        return m_trayer.waitForStarted(10000) && spinUntil([] { return X11::trayHostPresent(); }, std::chrono::seconds(20));
    }
    // Ended, and its selection gone with it.
    bool stop()
    {
        if (m_trayer.state() != QProcess::NotRunning) {
            m_trayer.terminate();
            if (!m_trayer.waitForFinished(10000)) {
                m_trayer.kill();
                m_trayer.waitForFinished(10000);
            }
        }
        return spinUntil([] { return !X11::trayHostPresent(); }, std::chrono::seconds(20));
    }
    ~TrayHost() { stop(); }

private:
    QProcess m_trayer;
};

} // namespace zktest
