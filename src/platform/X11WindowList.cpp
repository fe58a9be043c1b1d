#include "platform/X11WindowList.h"

#include "platform/X11.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QScreen>
#include <QStringDecoder>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace X11 {
namespace {

// Every atom the read needs, interned once per connection in one batch.
enum Atom : int {
    NetSupportingWmCheck,
    NetClientListStacking,
    NetClientList,
    NetCurrentDesktop,
    NetNumberOfDesktops,
    NetFrameExtents,
    NetWmState,
    NetWmStateHidden,
    NetWmStateFullscreen,
    NetWmStateAbove,
    NetWmStateBelow,
    NetWmStateSticky,
    NetWmStateSkipTaskbar,
    NetWmStateSkipPager,
    NetWmStateMaximizedHorz,
    NetWmStateMaximizedVert,
    NetWmStateShaded,
    NetWmWindowType,
    TypeNormal,
    TypeDialog,
    TypeUtility,
    TypeToolbar,
    TypeMenu,
    TypeSplash,
    TypeDock,
    TypeDesktop,
    TypeDropdownMenu,
    TypePopupMenu,
    TypeTooltip,
    TypeNotification,
    TypeCombo,
    TypeDnd,
    NetWmDesktop,
    NetWmWindowOpacity,
    NetWmPid,
    NetWmName,
    Utf8String,
    CompoundText,
    GtkFrameExtents,
    WmState,
    AtomCount
};

constexpr std::array<const char *, AtomCount> kAtomNames = {
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_CLIENT_LIST",
    "_NET_CURRENT_DESKTOP",
    "_NET_NUMBER_OF_DESKTOPS",
    "_NET_FRAME_EXTENTS",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_FULLSCREEN",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_BELOW",
    "_NET_WM_STATE_STICKY",
    "_NET_WM_STATE_SKIP_TASKBAR",
    "_NET_WM_STATE_SKIP_PAGER",
    "_NET_WM_STATE_MAXIMIZED_HORZ",
    "_NET_WM_STATE_MAXIMIZED_VERT",
    "_NET_WM_STATE_SHADED",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_DESKTOP",
    "_NET_WM_WINDOW_OPACITY",
    "_NET_WM_PID",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "COMPOUND_TEXT",
    "_GTK_FRAME_EXTENTS",
    "WM_STATE",
};

using Atoms = std::array<xcb_atom_t, AtomCount>;

struct Free {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, Free>;

// Atoms belong to the server, so they are kept for the connection they were
// interned on. Interning (rather than only looking up) keeps an atom that no
// client has used yet, such as the opacity, from reading as "none" for good.
const Atoms *atomsFor(xcb_connection_t *c)
{
    static std::mutex mutex;
    static xcb_connection_t *owner = nullptr;
    static Atoms atoms{};
    std::lock_guard lock(mutex);
    if (owner == c)
        return &atoms;
    std::array<xcb_intern_atom_cookie_t, AtomCount> cookies;
    for (int i = 0; i < AtomCount; ++i)
        cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(kAtomNames[i])), kAtomNames[i]);
    bool complete = true;
    for (int i = 0; i < AtomCount; ++i) {
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        complete = complete && reply;
    }
    if (!complete)
        return nullptr;
    owner = c;
    return &atoms;
}

// Longest property values read, in 32-bit units.
constexpr uint32_t kMaxWindows = 4096;
// A title of kMaxTitleLength UTF-16 units needs at most three UTF-8 bytes per unit.
constexpr uint32_t kTitleLongs = kMaxTitleLength * 3 / 4 + 1;
constexpr uint32_t kClassLongs = 256;

xcb_get_property_cookie_t property(xcb_connection_t *c, xcb_window_t w, xcb_atom_t name, xcb_atom_t type,
                                   uint32_t longs)
{
    return xcb_get_property(c, 0, w, name, type, 0, longs);
}

Reply<xcb_get_property_reply_t> propertyReply(xcb_connection_t *c, xcb_get_property_cookie_t cookie)
{
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, &error));
    std::free(error);
    if (reply && reply->type == XCB_ATOM_NONE)
        reply.reset();
    return reply;
}

// The 32-bit items of a property of format 32.
template <typename T = uint32_t>
std::pair<const T *, int> items32(const xcb_get_property_reply_t *reply)
{
    if (!reply || reply->format != 32)
        return {nullptr, 0};
    return {static_cast<const T *>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply) / 4};
}

std::optional<uint32_t> cardinal(const xcb_get_property_reply_t *reply)
{
    auto [values, count] = items32(reply);
    if (count < 1)
        return std::nullopt;
    return values[0];
}

QByteArray bytes(const xcb_get_property_reply_t *reply)
{
    if (!reply || reply->format != 8)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
}

// A value cut at the read limit may end inside a UTF-8 sequence; drop that tail
// rather than decode it into a replacement character.
void dropIncompleteUtf8Tail(QByteArray &text)
{
    int i = int(text.size()) - 1;
    int continuation = 0;
    while (i >= 0 && (uchar(text[i]) & 0xC0) == 0x80 && continuation < 3) {
        --i;
        ++continuation;
    }
    if (i < 0)
        return;
    const uchar lead = uchar(text[i]);
    const int needed = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
    if (needed >= 0 && continuation < needed)
        text.truncate(i);
}

QString utf8OrLatin1(const QByteArray &text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder(text);
    return decoder.hasError() ? QString::fromLatin1(text) : decoded;
}

// COMPOUND_TEXT as old Xlib clients write WM_NAME: Latin-1 by default, with
// UTF-8 segments between ESC % G and ESC % @. Other character sets designated by
// escape sequences are not decoded; their bytes become replacement characters.
QString fromCompoundText(const QByteArray &text)
{
    QString out;
    QByteArray utf8;
    bool inUtf8 = false;
    bool latin1Right = true;
    const int n = int(text.size());
    for (int i = 0; i < n; ++i) {
        const uchar b = uchar(text[i]);
        if (b == 0x1B) {
            int j = i + 1;
            while (j < n && uchar(text[j]) >= 0x20 && uchar(text[j]) <= 0x2F)
                ++j;
            if (j >= n)
                break;
            const QByteArray sequence = text.mid(i + 1, j - i);
            if (sequence == "%G") {
                inUtf8 = true;
            } else if (sequence == "%@") {
                out += QString::fromUtf8(utf8);
                utf8.clear();
                inUtf8 = false;
            } else if (sequence.startsWith('-') || sequence.startsWith('$') || sequence.startsWith(')')) {
                latin1Right = sequence == "-A"; // a right half other than Latin-1
            }
            i = j;
            continue;
        }
        if (inUtf8) {
            utf8.append(char(b));
        } else if (b == 0x9B) {
            // A direction control sequence: skip it up to its final byte.
            while (i + 1 < n && !(uchar(text[i + 1]) >= 0x40 && uchar(text[i + 1]) <= 0x7E))
                ++i;
            ++i;
        } else if (b < 0x80 || latin1Right) {
            out += QChar(b);
        } else {
            out += QChar(QChar::ReplacementCharacter);
        }
    }
    if (!utf8.isEmpty())
        out += QString::fromUtf8(utf8);
    return out;
}

QString text(const xcb_get_property_reply_t *reply, const Atoms &atoms)
{
    QByteArray value = bytes(reply);
    if (value.isEmpty())
        return {};
    if (reply->bytes_after > 0)
        dropIncompleteUtf8Tail(value);
    // Some clients count the terminating zero in the length.
    while (!value.isEmpty() && value.back() == '\0')
        value.chop(1);
    if (reply->type == atoms[Utf8String])
        return QString::fromUtf8(value);
    if (reply->type == XCB_ATOM_STRING)
        return QString::fromLatin1(value);
    if (reply->type == atoms[CompoundText])
        return fromCompoundText(value);
    return utf8OrLatin1(value);
}

QString capped(QString title)
{
    if (title.size() > kMaxTitleLength) {
        qsizetype cut = kMaxTitleLength;
        if (title.at(cut - 1).isHighSurrogate())
            --cut;
        title.truncate(cut);
    }
    return title;
}

WindowType typeOf(const xcb_get_property_reply_t *reply, const Atoms &atoms)
{
    auto [values, count] = items32<xcb_atom_t>(reply);
    if (count == 0)
        return WindowType::normal;
    static constexpr std::pair<Atom, WindowType> kTypes[] = {
        {TypeNormal, WindowType::normal},
        {TypeDialog, WindowType::dialog},
        {TypeUtility, WindowType::utility},
        {TypeToolbar, WindowType::toolbar},
        {TypeMenu, WindowType::menu},
        {TypeSplash, WindowType::splash},
        {TypeDock, WindowType::dock},
        {TypeDesktop, WindowType::desktop},
        {TypeDropdownMenu, WindowType::dropdownMenu},
        {TypePopupMenu, WindowType::popupMenu},
        {TypeTooltip, WindowType::tooltip},
        {TypeNotification, WindowType::notification},
        {TypeCombo, WindowType::combo},
        {TypeDnd, WindowType::dnd},
    };
    // The list is in order of preference: the first type we know wins.
    for (int i = 0; i < count; ++i) {
        for (const auto &[atom, type] : kTypes) {
            if (values[i] == atoms[atom])
                return type;
        }
    }
    return WindowType::other;
}

uint32_t stateOf(const xcb_get_property_reply_t *reply, const Atoms &atoms)
{
    static constexpr std::pair<Atom, WindowState> kStates[] = {
        {NetWmStateHidden, stateHidden},
        {NetWmStateFullscreen, stateFullscreen},
        {NetWmStateAbove, stateAbove},
        {NetWmStateBelow, stateBelow},
        {NetWmStateSticky, stateSticky},
        {NetWmStateSkipTaskbar, stateSkipTaskbar},
        {NetWmStateSkipPager, stateSkipPager},
        {NetWmStateMaximizedHorz, stateMaximizedHorz},
        {NetWmStateMaximizedVert, stateMaximizedVert},
        {NetWmStateShaded, stateShaded},
    };
    uint32_t state = 0;
    auto [values, count] = items32<xcb_atom_t>(reply);
    for (int i = 0; i < count; ++i) {
        for (const auto &[atom, bit] : kStates) {
            if (values[i] == atoms[atom])
                state |= bit;
        }
    }
    return state;
}

// The requests of one window, all in flight together.
struct Pending {
    xcb_window_t window;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t extents, gtkExtents, state, type, pid;
    // Asked only when wanted (and, for the desktop, when there is more than one).
    std::optional<xcb_get_property_cookie_t> desktop, opacity, netName, wmClass;
};

Reply<xcb_get_property_reply_t> propertyReply(xcb_connection_t *c, const std::optional<xcb_get_property_cookie_t> &cookie)
{
    return cookie ? propertyReply(c, *cookie) : nullptr;
}

// A client margin larger than this is not a shadow but a mistake: ignored.
constexpr uint32_t kMaxClientMargin = 512;

// The managed windows in the X server's stacking order, for window managers
// without EWMH lists: each child of the root (bottom-most first) that is an
// input-output, not override-redirect window and is or holds a client carrying
// WM_STATE. ICCCM puts that mark on the client, which a reparenting window
// manager wraps in one or two windows of its own; the search goes three deep.
struct Stacked {
    xcb_window_t client;
    QRect frame;   // the root's child, border included, in root pixels
    bool viewable; // the frame is mapped and the client is not iconic
};

std::vector<Stacked> stackedByServer(xcb_connection_t *c, xcb_window_t root, const Atoms &atoms)
{
    std::vector<Stacked> out;
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
    if (!tree)
        return out;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int count = std::min(xcb_query_tree_children_length(tree.get()), int(kMaxWindows));

    struct Top {
        xcb_window_t window;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        QRect frame;
        bool viewable = false;
        bool candidate = false;
    };
    std::vector<Top> tops;
    tops.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        tops.push_back(
            Top{children[i], xcb_get_window_attributes(c, children[i]), xcb_get_geometry(c, children[i]), {}, false, false});
    for (Top &t : tops) {
        Reply<xcb_get_window_attributes_reply_t> a(xcb_get_window_attributes_reply(c, t.attributes, nullptr));
        Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, t.geometry, nullptr));
        if (!a || !g || a->override_redirect || a->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
            continue;
        t.candidate = true;
        t.viewable = a->map_state == XCB_MAP_STATE_VIEWABLE;
        t.frame = QRect(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    }

    // Level by level: every window still searched asks for its WM_STATE and its
    // children in one batch.
    struct Search {
        size_t top;
        xcb_window_t window;
        xcb_get_property_cookie_t state;
        xcb_query_tree_cookie_t children;
    };
    std::vector<std::optional<std::pair<xcb_window_t, uint32_t>>> found(tops.size());
    std::vector<std::pair<size_t, xcb_window_t>> level;
    for (size_t i = 0; i < tops.size(); ++i) {
        if (tops[i].candidate)
            level.emplace_back(i, tops[i].window);
    }
    for (int depth = 0; depth < 3 && !level.empty(); ++depth) {
        std::vector<Search> batch;
        batch.reserve(level.size());
        for (const auto &[top, w] : level)
            batch.push_back(Search{top, w, property(c, w, atoms[WmState], atoms[WmState], 2), xcb_query_tree(c, w)});
        level.clear();
        for (const Search &s : batch) {
            const auto state = propertyReply(c, s.state);
            Reply<xcb_query_tree_reply_t> below(xcb_query_tree_reply(c, s.children, nullptr));
            if (found[s.top])
                continue;
            if (const auto value = cardinal(state.get())) {
                found[s.top] = std::pair(s.window, *value);
                continue;
            }
            if (!below)
                continue;
            const xcb_window_t *kids = xcb_query_tree_children(below.get());
            const int n = std::min(xcb_query_tree_children_length(below.get()), 64);
            for (int k = 0; k < n; ++k)
                level.emplace_back(s.top, kids[k]);
        }
    }
    constexpr uint32_t withdrawn = 0, iconic = 3;
    for (size_t i = 0; i < tops.size(); ++i) {
        if (!found[i] || found[i]->second == withdrawn)
            continue;
        out.push_back(Stacked{found[i]->first, tops[i].frame, tops[i].viewable && found[i]->second != iconic});
    }
    return out;
}

} // namespace

std::vector<ClientWindow> readClientWindows(xcb_connection_t *c, uint32_t root, uint32_t fields)
{
    std::vector<ClientWindow> result;
    if (!c || !root || xcb_connection_has_error(c))
        return result;
    const Atoms *found = atomsFor(c);
    if (!found)
        return result;
    const Atoms &atoms = *found;

    // Round one: the root's lists.
    const auto checkCookie = property(c, root, atoms[NetSupportingWmCheck], XCB_ATOM_WINDOW, 1);
    const auto stackingCookie = property(c, root, atoms[NetClientListStacking], XCB_ATOM_WINDOW, kMaxWindows);
    const auto clientsCookie = property(c, root, atoms[NetClientList], XCB_ATOM_WINDOW, kMaxWindows);
    const auto currentCookie = property(c, root, atoms[NetCurrentDesktop], XCB_ATOM_CARDINAL, 1);
    const auto desktopsCookie = property(c, root, atoms[NetNumberOfDesktops], XCB_ATOM_CARDINAL, 1);
    const auto check = propertyReply(c, checkCookie);
    const auto stacking = propertyReply(c, stackingCookie);
    const auto clients = propertyReply(c, clientsCookie);
    const auto current = propertyReply(c, currentCookie);
    const auto desktops = propertyReply(c, desktopsCookie);
    const std::optional<uint32_t> wmWindow = cardinal(check.get());

    // Which windows, in which order: the EWMH stacking list; without one, the
    // server's stacking of the managed frames; without any, _NET_CLIENT_LIST.
    std::vector<xcb_window_t> ids;
    std::vector<Stacked> stacked;
    bool ewmh = false;
    if (wmWindow && *wmWindow && items32(stacking.get()).second > 0) {
        const auto [list, n] = items32<xcb_window_t>(stacking.get());
        ids.assign(list, list + n);
        ewmh = true;
    } else {
        stacked = stackedByServer(c, root, atoms);
        for (const Stacked &s : stacked)
            ids.push_back(s.client);
        if (ids.empty() && wmWindow && *wmWindow && items32(clients.get()).second > 0) {
            const auto [list, n] = items32<xcb_window_t>(clients.get());
            ids.assign(list, list + n);
            ewmh = true;
        }
    }
    const std::optional<uint32_t> currentDesktop = cardinal(current.get());
    // With a single desktop every window is on it: no need to ask each.
    const bool oneDesktop = cardinal(desktops.get()).value_or(ewmh ? 2 : 1) <= 1;
    auto optionalProperty = [&](bool wanted, xcb_window_t w, xcb_atom_t name, xcb_atom_t type, uint32_t longs) {
        return wanted ? std::optional(property(c, w, name, type, longs)) : std::nullopt;
    };
    // Round two: the window manager's own check window, to tell a running one
    // from a property a departed one left behind, and every window's attributes.
    std::optional<xcb_get_property_cookie_t> aliveCookie;
    if (ewmh)
        aliveCookie = property(c, *wmWindow, atoms[NetSupportingWmCheck], XCB_ATOM_WINDOW, 1);
    std::vector<Pending> pending;
    pending.reserve(ids.size());
    for (const xcb_window_t w : ids) {
        pending.push_back(Pending{
            w,
            xcb_get_geometry(c, w),
            xcb_translate_coordinates(c, w, root, 0, 0),
            property(c, w, atoms[NetFrameExtents], XCB_ATOM_CARDINAL, 4),
            property(c, w, atoms[GtkFrameExtents], XCB_ATOM_CARDINAL, 4),
            property(c, w, atoms[NetWmState], XCB_ATOM_ATOM, 64),
            property(c, w, atoms[NetWmWindowType], XCB_ATOM_ATOM, 32),
            property(c, w, atoms[NetWmPid], XCB_ATOM_CARDINAL, 1),
            optionalProperty(!oneDesktop, w, atoms[NetWmDesktop], XCB_ATOM_CARDINAL, 1),
            optionalProperty(fields & fieldOpacity, w, atoms[NetWmWindowOpacity], XCB_ATOM_CARDINAL, 1),
            optionalProperty(fields & fieldTitle, w, atoms[NetWmName], atoms[Utf8String], kTitleLongs),
            optionalProperty(fields & fieldClass, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kClassLongs),
        });
    }
    xcb_flush(c);

    const auto alive = propertyReply(c, aliveCookie);
    const bool wmRunning = !ewmh || cardinal(alive.get()) == wmWindow;
    result.reserve(pending.size());
    for (size_t i = 0; i < pending.size(); ++i) {
        const Pending &p = pending[i];
        // Every reply is collected, even once the window is known to be gone,
        // so none is left queued in the connection.
        xcb_generic_error_t *error = nullptr;
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, p.geometry, &error));
        std::free(error);
        error = nullptr;
        Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(c, p.origin, &error));
        std::free(error);
        const auto extents = propertyReply(c, p.extents);
        const auto gtkExtents = propertyReply(c, p.gtkExtents);
        const auto state = propertyReply(c, p.state);
        const auto type = propertyReply(c, p.type);
        const auto pid = propertyReply(c, p.pid);
        const auto desktop = propertyReply(c, p.desktop);
        const auto opacity = propertyReply(c, p.opacity);
        const auto netName = propertyReply(c, p.netName);
        const auto wmClass = propertyReply(c, p.wmClass);
        if (!wmRunning || !geometry || !origin)
            continue;

        ClientWindow window;
        window.id = p.window;
        window.geometry = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        if (auto [values, n] = items32(extents.get()); n >= 4)
            window.frameExtents = QMargins(int(values[0]), int(values[2]), int(values[1]), int(values[3]));
        if (auto [values, n] = items32(gtkExtents.get()); n >= 4) {
            // Left, right, top, bottom; kept only when the visible window is left.
            const QMargins m(int(std::min(values[0], kMaxClientMargin)), int(std::min(values[2], kMaxClientMargin)),
                             int(std::min(values[1], kMaxClientMargin)), int(std::min(values[3], kMaxClientMargin)));
            if (m.left() + m.right() < window.geometry.width() && m.top() + m.bottom() < window.geometry.height())
                window.clientMargins = m;
        }
        window.state = stateOf(state.get(), atoms);
        if (!stacked.empty()) {
            // The frame is the window the server stacks; its margins around the
            // client are the decorations.
            const Stacked &s = stacked[i];
            const QRect &f = s.frame, &g = window.geometry;
            window.frameExtents = QMargins(std::max(0, g.left() - f.left()), std::max(0, g.top() - f.top()),
                                           std::max(0, f.right() - g.right()), std::max(0, f.bottom() - g.bottom()));
            if (!s.viewable)
                window.state |= stateHidden;
        }
        window.type = typeOf(type.get(), atoms);
        window.desktop = cardinal(desktop.get());
        window.onCurrentDesktop =
            !window.desktop || *window.desktop == 0xFFFFFFFFu || !currentDesktop || *window.desktop == *currentDesktop;
        window.viewable = window.onCurrentDesktop && !(window.state & (stateHidden | stateShaded));
        if (const auto value = cardinal(opacity.get()))
            window.opacity = double(*value) / double(0xFFFFFFFFu);
        window.pid = cardinal(pid.get()).value_or(0);
        window.title = capped(text(netName.get(), atoms));
        const QByteArray classes = bytes(wmClass.get());
        const qsizetype split = classes.indexOf('\0');
        window.instanceName = utf8OrLatin1(split < 0 ? classes : classes.left(split));
        if (split >= 0) {
            QByteArray rest = classes.mid(split + 1);
            while (!rest.isEmpty() && rest.back() == '\0')
                rest.chop(1);
            window.className = utf8OrLatin1(rest);
        }
        result.push_back(std::move(window));
    }

    // Older clients name their windows only in WM_NAME: one more round, for
    // those windows alone (toolkits of this century all set _NET_WM_NAME).
    std::vector<std::pair<ClientWindow *, xcb_get_property_cookie_t>> unnamed;
    for (ClientWindow &w : result) {
        if ((fields & fieldTitle) && w.title.isEmpty())
            unnamed.emplace_back(&w, property(c, w.id, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kTitleLongs));
    }
    for (auto &[w, cookie] : unnamed)
        w->title = capped(text(propertyReply(c, cookie).get(), atoms));
    return result;
}

std::vector<ClientWindow> readClientWindows(uint32_t fields)
{
    return readClientWindows(connection(), rootWindow(), fields);
}

QRectF toDesktopPoints(const QRect &rootPixels)
{
    const QScreen *primary = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
    const double ratio = primary ? primary->devicePixelRatio() : 1.0;
    const QRect screen = primary ? primary->geometry() : QRect();
    const QRectF points(rootPixels.x() / ratio, rootPixels.y() / ratio, rootPixels.width() / ratio,
                        rootPixels.height() / ratio);
    const double bottom = screen.y() + screen.height();
    return QRectF(points.x(), bottom - points.y() - points.height(), points.width(), points.height());
}

} // namespace X11
