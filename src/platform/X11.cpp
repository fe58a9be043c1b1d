#include "platform/X11.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <algorithm>
#include <optional>

namespace X11 {

xcb_connection_t *connection()
{
    // Asked every frame: the application's connection lives as long as it does,
    // so once found it is kept (per application object).
    static const QGuiApplication *owner = nullptr;
    static xcb_connection_t *found = nullptr;
    if (qGuiApp && owner == qGuiApp && found)
        return found;
    auto *app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    owner = qGuiApp;
    found = app ? app->connection() : nullptr;
    return found;
}

unsigned int rootWindow()
{
    xcb_connection_t *c = connection();
    if (!c)
        return 0;
    const xcb_setup_t *setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    return it.rem ? it.data->root : 0;
}

bool available() { return connection() != nullptr; }

} // namespace X11

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <xcb/shape.h>
#include <xcb/xfixes.h>
#include <xcb/xinerama.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace X11 {

namespace {

// Sets one kind of the window's shape to `rects` (window pixels, clamped to X's 16 bits).
unsigned int setShape(unsigned int window, xcb_shape_kind_t kind, const std::vector<QRect> &rects)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return 0;
    std::vector<xcb_rectangle_t> list;
    list.reserve(rects.size());
    for (const QRect &r : rects) {
        if (r.isEmpty())
            continue;
        auto clamp16 = [](int v) { return int16_t(std::clamp(v, -32768, 32767)); };
        auto clampU16 = [](int v) { return uint16_t(std::clamp(v, 0, 65535)); };
        list.push_back({clamp16(r.x()), clamp16(r.y()), clampU16(r.width()), clampU16(r.height())});
    }
    const xcb_void_cookie_t sent = xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, window,
                                                        0, 0, uint32_t(list.size()), list.data());
    xcb_flush(c);
    return sent.sequence;
}

} // namespace

void setInputShape(unsigned int window, const std::vector<QRect> &rects) { setShape(window, XCB_SHAPE_SK_INPUT, rects); }

unsigned int setBoundingShape(unsigned int window, const std::optional<std::vector<QRect>> &rects)
{
    xcb_connection_t *c = connection();
    if (rects)
        return setShape(window, XCB_SHAPE_SK_BOUNDING, *rects);
    if (!c || !window)
        return 0;
    const xcb_void_cookie_t sent = xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window, 0, 0, XCB_NONE);
    xcb_flush(c);
    return sent.sequence;
}


std::optional<QPoint> rootPosition(unsigned int window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return std::nullopt;
    xcb_translate_coordinates_reply_t *r =
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, rootWindow(), 0, 0), nullptr);
    if (!r)
        return std::nullopt;
    const QPoint at(r->dst_x, r->dst_y);
    std::free(r);
    return at;
}

namespace {

// A selection of the default screen ("_NET_WM_CM_S0", "_NET_SYSTEM_TRAY_S0"),
// interned once per connection.
xcb_atom_t screenSelection(xcb_connection_t *c, const std::string &prefix)
{
    static xcb_connection_t *owner = nullptr;
    static std::map<std::string, xcb_atom_t> atoms;
    if (owner != c) {
        atoms.clear();
        owner = c;
    }
    if (const auto found = atoms.find(prefix); found != atoms.end())
        return found->second;
    int display = 0, screen = 0;
    char *host = nullptr;
    if (xcb_parse_display(nullptr, &host, &display, &screen))
        std::free(host);
    const std::string name = prefix + std::to_string(screen);
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.c_str()), nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    atoms.emplace(prefix, atom);
    return atom;
}

const std::string kCompositor = "_NET_WM_CM_S";
const std::string kTray = "_NET_SYSTEM_TRAY_S";

bool owned(const std::string &prefix)
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    const xcb_atom_t atom = screenSelection(c, prefix);
    if (atom == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom), nullptr);
    const bool running = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return running;
}

} // namespace

bool compositorRunning() { return owned(kCompositor); }
bool trayHostPresent() { return owned(kTray); }

namespace {

// Hears the XFixes selection-owner events of the watched selections on Qt's
// own connection, before Qt looks at them (it ignores selections it did not ask for).
class SelectionWatch final : public QAbstractNativeEventFilter {
public:
    explicit SelectionWatch(uint8_t eventBase) : m_event(uint8_t(eventBase + XCB_XFIXES_SELECTION_NOTIFY)) {}
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        auto *event = static_cast<xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != m_event)
            return false;
        auto *notify = reinterpret_cast<xcb_xfixes_selection_notify_event_t *>(event);
        // A copy: a callback may unwatch.
        std::vector<std::function<void()>> callbacks;
        for (const auto &[id, listener] : listeners) {
            if (listener.first == notify->selection)
                callbacks.push_back(listener.second);
        }
        for (const auto &changed : callbacks)
            changed();
        return false;
    }
    std::map<int, std::pair<xcb_atom_t, std::function<void()>>> listeners;
    std::vector<xcb_atom_t> selected;

private:
    uint8_t m_event;
};

SelectionWatch *g_watch = nullptr;
xcb_connection_t *g_watchConnection = nullptr;
int g_nextWatch = 1;

int watchSelection(const std::string &prefix, std::function<void()> changed)
{
    xcb_connection_t *c = connection();
    if (!c || !qApp || !changed)
        return 0;
    const xcb_atom_t selection = screenSelection(c, prefix);
    if (selection == XCB_ATOM_NONE)
        return 0;
    if (!g_watch || g_watchConnection != c) {
        const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_xfixes_id);
        if (!ext || !ext->present)
            return 0;
        // Qt negotiates the XFixes version on this connection itself; asking
        // again is harmless and keeps this independent of it.
        std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
        // Kept for the life of the process; another application object's connection gets its own.
        g_watch = new SelectionWatch(ext->first_event);
        g_watchConnection = c;
        qApp->installNativeEventFilter(g_watch);
    }
    if (std::find(g_watch->selected.begin(), g_watch->selected.end(), selection) == g_watch->selected.end()) {
        g_watch->selected.push_back(selection);
        xcb_xfixes_select_selection_input(c, rootWindow(), selection,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        xcb_flush(c);
    }
    const int id = g_nextWatch++;
    g_watch->listeners.emplace(id, std::make_pair(selection, std::move(changed)));
    return id;
}

void unwatchSelection(int watch)
{
    if (g_watch)
        g_watch->listeners.erase(watch);
}

} // namespace

int watchCompositor(std::function<void()> changed) { return watchSelection(kCompositor, std::move(changed)); }
void unwatchCompositor(int watch) { unwatchSelection(watch); }
int watchTrayHost(std::function<void()> changed) { return watchSelection(kTray, std::move(changed)); }
void unwatchTrayHost(int watch) { unwatchSelection(watch); }

namespace {

// Marks the server's configure notices of the listed windows as sent ones, the
// kind whose position Qt takes as given, and drops their exposures that a
// repaint answers anyway.
class OwnWindowNotices final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        auto *event = static_cast<xcb_generic_event_t *>(message);
        if (event->response_type == XCB_CONFIGURE_NOTIFY) {
            auto *notice = reinterpret_cast<xcb_configure_notify_event_t *>(event);
            // Only the window's own notice (not its parent's) of a window no window manager frames.
            const auto it = windows.find(notice->window);
            if (notice->event == notice->window && notice->override_redirect && it != windows.end()) {
                // One of our own moves, told back? A move's notice carries that
                // very request's number; a move Qt made, only its place.
                std::vector<Expected> &moves = it->second.moves;
                const QPoint at(notice->x, notice->y);
                const auto own = std::find_if(moves.begin(), moves.end(), [&](const Expected &e) {
                    return e.at == at && (!e.sequence || *e.sequence == notice->sequence);
                });
                if (own != moves.end()) {
                    const bool tell = own->tell;
                    moves.erase(moves.begin(), own + 1);
                    if (!tell)
                        return true; // the caller knows where the window is
                } else {
                    it->second.displaced = true; // moved by another program
                }
                event->response_type |= 0x80;
            }
        } else if ((event->response_type & 0x7f) == XCB_EXPOSE) {
            // An event carries the (low 16 bits of the) sequence number of the
            // last request of ours the server had begun when it made the event.
            const auto *exposed = reinterpret_cast<xcb_expose_event_t *>(event);
            const auto it = windows.find(exposed->window);
            if (it != windows.end()) {
                std::vector<uint16_t> &answered = it->second.answered;
                if (std::find(answered.begin(), answered.end(), event->sequence) != answered.end())
                    return true;
                // Events come in order: the server is past those requests, and a
                // number met again 65536 requests on means something else.
                answered.clear();
            }
        }
        return false;
    }
    struct Expected {
        QPoint at;
        std::optional<uint16_t> sequence; // none: a move Qt makes, whose number is not known here
        bool tell = false;                // Qt is told of it
    };
    struct Own {
        // The sequence numbers whose exposures a repaint answers.
        std::vector<uint16_t> answered;
        // Where our own moves put the window, oldest first, until their notices come.
        std::vector<Expected> moves;
        // Moved by something else since last asked.
        bool displaced = false;
    };
    std::map<unsigned int, Own> windows;
};

OwnWindowNotices *g_own = nullptr;
xcb_connection_t *g_ownConnection = nullptr;

} // namespace

void trustMoveNotices(unsigned int window)
{
    xcb_connection_t *c = connection();
    if (!window || !qApp || !c)
        return;
    if (!g_own || g_ownConnection != c) {
        // Kept for the life of the process; another application object's connection gets its own.
        g_own = new OwnWindowNotices;
        g_ownConnection = c;
        qApp->installNativeEventFilter(g_own);
    }
    g_own->windows[window];
}

void repaintFollows(unsigned int window, const std::vector<unsigned int> &sequences)
{
    if (!g_own)
        return;
    const auto it = g_own->windows.find(window);
    if (it == g_own->windows.end())
        return;
    std::vector<uint16_t> &answered = it->second.answered;
    for (unsigned int s : sequences) {
        if (s)
            answered.push_back(uint16_t(s));
    }
    // Frames come quicker than their exposures at times; a few are enough.
    constexpr size_t kKept = 16;
    if (answered.size() > kKept)
        answered.erase(answered.begin(), answered.end() - kKept);
}

namespace {

void expect(unsigned int window, QPoint at, std::optional<uint16_t> sequence, bool tell)
{
    if (!g_own || g_ownConnection != connection())
        return;
    const auto it = g_own->windows.find(window);
    if (it == g_own->windows.end())
        return;
    std::vector<OwnWindowNotices::Expected> &moves = it->second.moves;
    moves.push_back({at, sequence, tell});
    // Notices that never come (a move to where the window already is) are not waited for for ever.
    constexpr size_t kKept = 16;
    if (moves.size() > kKept)
        moves.erase(moves.begin(), moves.end() - kKept);
}

} // namespace

unsigned int moveWindow(unsigned int window, const QRect &to, bool tellQt)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return 0;
    // X's coordinates are 16 bits.
    const QPoint at(std::clamp(to.x(), -32768, 32767), std::clamp(to.y(), -32768, 32767));
    const uint32_t values[] = {uint32_t(at.x()), uint32_t(at.y())};
    const unsigned int sequence = xcb_configure_window(c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values).sequence;
    expect(window, at, uint16_t(sequence), tellQt);
    return sequence;
}

void qtMoves(unsigned int window, QPoint to)
{
    expect(window, to, std::nullopt, true);
}

bool takeDisplaced(unsigned int window)
{
    if (!g_own)
        return false;
    const auto it = g_own->windows.find(window);
    if (it == g_own->windows.end() || !it->second.displaced)
        return false;
    it->second.displaced = false;
    return true;
}

void forgetMoveNotices(unsigned int window)
{
    if (g_own)
        g_own->windows.erase(window);
}

std::vector<unsigned int> stackingOrder()
{
    std::vector<unsigned int> out;
    xcb_connection_t *c = connection();
    if (!c)
        return out;
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, rootWindow()), nullptr);
    if (!tree)
        return out;
    const xcb_window_t *children = xcb_query_tree_children(tree);
    out.assign(children, children + xcb_query_tree_children_length(tree));
    std::free(tree);
    return out;
}

bool keepAbove(const std::vector<unsigned int> &ours)
{
    xcb_connection_t *c = connection();
    if (!c || ours.empty())
        return false;
    const std::vector<unsigned int> order = stackingOrder();
    auto isOurs = [&](unsigned int w) { return std::find(ours.begin(), ours.end(), w) != ours.end(); };
    size_t lowest = order.size();
    for (size_t i = 0; i < order.size(); ++i) {
        if (isOurs(order[i])) {
            lowest = i;
            break;
        }
    }
    if (lowest == order.size())
        return false; // none of ours is mapped yet
    // Of the windows above our lowest, the managed (not override-redirect) and
    // shown ones: usually none, and then nothing more is asked.
    std::vector<std::pair<unsigned int, xcb_get_window_attributes_cookie_t>> above;
    for (size_t i = lowest + 1; i < order.size(); ++i) {
        if (!isOurs(order[i]))
            above.emplace_back(order[i], xcb_get_window_attributes(c, order[i]));
    }
    unsigned int topManaged = XCB_NONE;
    for (auto &[w, cookie] : above) {
        xcb_get_window_attributes_reply_t *a = xcb_get_window_attributes_reply(c, cookie, nullptr);
        if (a && !a->override_redirect && a->map_state == XCB_MAP_STATE_VIEWABLE)
            topManaged = w;
        std::free(a);
    }
    if (topManaged == XCB_NONE)
        return false;
    // Ours in their present order, each just above the one before, the first
    // just above the topmost managed window.
    unsigned int sibling = topManaged;
    for (unsigned int w : order) {
        if (!isOurs(w))
            continue;
        const uint32_t values[] = {sibling, XCB_STACK_MODE_ABOVE};
        xcb_configure_window(c, w, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
        sibling = w;
    }
    xcb_flush(c);
    return true;
}

} // namespace X11

namespace X11 {

std::vector<QRect> xineramaHeads()
{
    std::vector<QRect> heads;
    xcb_connection_t *c = connection();
    if (!c)
        return heads;
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_xinerama_id);
    if (!ext || !ext->present)
        return heads;
    xcb_xinerama_is_active_reply_t *active = xcb_xinerama_is_active_reply(c, xcb_xinerama_is_active(c), nullptr);
    const bool on = active && active->state;
    std::free(active);
    if (!on)
        return heads;
    xcb_xinerama_query_screens_reply_t *reply =
        xcb_xinerama_query_screens_reply(c, xcb_xinerama_query_screens(c), nullptr);
    if (!reply)
        return heads;
    const xcb_xinerama_screen_info_t *info = xcb_xinerama_query_screens_screen_info(reply);
    const int count = xcb_xinerama_query_screens_screen_info_length(reply);
    for (int i = 0; i < count; ++i)
        heads.emplace_back(info[i].x_org, info[i].y_org, info[i].width, info[i].height);
    std::free(reply);
    if (heads.size() < 2)
        heads.clear();
    return heads;
}

std::vector<Monitor> monitors(const std::vector<QRect> &heads)
{
    std::vector<Monitor> out;
    QList<QScreen *> list = QGuiApplication::screens();
    QScreen *primary = QGuiApplication::primaryScreen();
    if (primary && list.removeOne(primary))
        list.prepend(primary);
    if (list.size() == 1 && heads.size() > 1) {
        // One Qt screen over several monitors: Qt's work area is the first's.
        QScreen *only = list.front();
        const double ratio = only->devicePixelRatio() > 0 ? only->devicePixelRatio() : 1.0;
        for (size_t i = 0; i < heads.size(); ++i) {
            const QRect &h = heads[i];
            const QRectF frame(h.x() / ratio, h.y() / ratio, h.width() / ratio, h.height() / ratio);
            const QRectF available = i == 0 ? frame.intersected(QRectF(only->availableGeometry())) : frame;
            out.push_back({frame, available.isEmpty() ? frame : available, only});
        }
        return out;
    }
    for (QScreen *s : list)
        out.push_back({QRectF(s->geometry()), QRectF(s->availableGeometry()), s});
    return out;
}

} // namespace X11

namespace X11 {

std::optional<QPoint> pointerAhead()
{
    static xcb_connection_t *asked = nullptr;
    static xcb_query_pointer_cookie_t cookie{};
    xcb_connection_t *c = connection();
    if (!c)
        return std::nullopt;
    if (asked != c) {
        // The first question, or one on a new connection, is answered now.
        asked = c;
        cookie = xcb_query_pointer(c, rootWindow());
    }
    xcb_query_pointer_reply_t *reply = xcb_query_pointer_reply(c, cookie, nullptr);
    // Sent with the frame's other requests when Qt flushes after painting.
    cookie = xcb_query_pointer(c, rootWindow());
    if (!reply)
        return std::nullopt;
    const QPoint p(reply->root_x, reply->root_y);
    std::free(reply);
    return p;
}

} // namespace X11

namespace X11 {

namespace {
xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

bool isMapped(xcb_connection_t *c, xcb_window_t w)
{
    xcb_get_window_attributes_reply_t *reply =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
    const bool mapped = reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
    std::free(reply);
    return mapped;
}
} // namespace

bool markFloating(unsigned int window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return false;
    const xcb_atom_t wmState = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t wmDesktop = internAtom(c, "_NET_WM_DESKTOP");
    const std::array<xcb_atom_t, 4> wanted{internAtom(c, "_NET_WM_STATE_STICKY"),
                                           internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                                           internAtom(c, "_NET_WM_STATE_SKIP_PAGER"),
                                           internAtom(c, "_NET_WM_STATE_ABOVE")};
    constexpr uint32_t allDesktops = 0xFFFFFFFF;
    if (!isMapped(c, window)) {
        // Kept beside whatever states are already there; Qt merges its own the same way when it maps.
        std::vector<xcb_atom_t> atoms;
        xcb_get_property_reply_t *reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, wmState, XCB_ATOM_ATOM, 0, 1024), nullptr);
        if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
            const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
            atoms.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        for (xcb_atom_t a : wanted)
            if (a != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), a) == atoms.end())
                atoms.push_back(a);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, wmState, XCB_ATOM_ATOM, 32, uint32_t(atoms.size()),
                            atoms.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, wmDesktop, XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
        xcb_flush(c);
        return false;
    }
    // A managed window changes state only through requests to the window manager.
    auto send = [&](xcb_atom_t type, std::array<uint32_t, 5> data) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = type;
        for (size_t i = 0; i < data.size(); ++i)
            event.data.data32[i] = data[i];
        xcb_send_event(c, 0, rootWindow(), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char *>(&event));
    };
    constexpr uint32_t add = 1, sourceApplication = 1;
    send(wmState, {add, wanted[0], wanted[1], sourceApplication, 0});
    send(wmState, {add, wanted[2], wanted[3], sourceApplication, 0});
    send(wmDesktop, {allDesktops, sourceApplication, 0, 0, 0});
    xcb_flush(c);
    return true;
}

} // namespace X11

namespace X11 {

void withdraw(unsigned int window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    xcb_unmap_window(c, window);
    xcb_unmap_notify_event_t event{};
    event.response_type = XCB_UNMAP_NOTIFY;
    event.event = rootWindow();
    event.window = window;
    event.from_configure = 0;
    xcb_send_event(c, 0, rootWindow(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(c);
}

void map(unsigned int window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    xcb_map_window(c, window);
    xcb_flush(c);
}

bool mappedOnServer(unsigned int window)
{
    xcb_connection_t *c = connection();
    return c && window && isMapped(c, window);
}

bool withdrawnOnServer(unsigned int window)
{
    xcb_connection_t *c = connection();
    if (!c || !window || isMapped(c, window))
        return false;
    const xcb_atom_t wmState = internAtom(c, "WM_STATE");
    xcb_get_property_reply_t *reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, wmState, wmState, 0, 1), nullptr);
    // ICCCM's states: 0 withdrawn, 1 normal, 3 iconic.
    const bool kept = reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4 &&
                      *static_cast<const uint32_t *>(xcb_get_property_value(reply)) != 0;
    std::free(reply);
    return !kept;
}

namespace {

// Hears the server's notices of the watched windows' maps, unmaps, reparents
// and WM_STATE changes on Qt's own connection, and lets Qt have them too.
class ManagingWatch final : public QAbstractNativeEventFilter {
public:
    explicit ManagingWatch(xcb_atom_t wmState) : m_wmState(wmState) {}
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        auto *event = static_cast<xcb_generic_event_t *>(message);
        xcb_window_t window = XCB_NONE;
        switch (event->response_type & 0x7f) {
        case XCB_MAP_NOTIFY: window = reinterpret_cast<xcb_map_notify_event_t *>(event)->window; break;
        case XCB_UNMAP_NOTIFY: window = reinterpret_cast<xcb_unmap_notify_event_t *>(event)->window; break;
        case XCB_REPARENT_NOTIFY: window = reinterpret_cast<xcb_reparent_notify_event_t *>(event)->window; break;
        case XCB_PROPERTY_NOTIFY: {
            auto *notify = reinterpret_cast<xcb_property_notify_event_t *>(event);
            if (notify->atom == m_wmState)
                window = notify->window;
            break;
        }
        default: return false;
        }
        // A copy: a callback may unwatch.
        std::vector<std::function<void()>> callbacks;
        for (const auto &[id, listener] : listeners) {
            if (listener.first == window)
                callbacks.push_back(listener.second);
        }
        for (const auto &changed : callbacks)
            changed();
        return false;
    }
    std::map<int, std::pair<xcb_window_t, std::function<void()>>> listeners;

private:
    xcb_atom_t m_wmState;
};

ManagingWatch *g_managing = nullptr;
xcb_connection_t *g_managingConnection = nullptr;
int g_nextManaging = 1;

} // namespace

int watchManaging(unsigned int window, std::function<void()> changed)
{
    xcb_connection_t *c = connection();
    if (!c || !qApp || !window || !changed)
        return 0;
    if (!g_managing || g_managingConnection != c) {
        // Kept for the life of the process; another application object's connection gets its own.
        g_managing = new ManagingWatch(internAtom(c, "WM_STATE"));
        g_managingConnection = c;
        qApp->installNativeEventFilter(g_managing);
    }
    const int id = g_nextManaging++;
    g_managing->listeners.emplace(id, std::make_pair(xcb_window_t(window), std::move(changed)));
    return id;
}

void unwatchManaging(int watch)
{
    if (g_managing)
        g_managing->listeners.erase(watch);
}

} // namespace X11
