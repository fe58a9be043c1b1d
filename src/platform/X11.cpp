#include "platform/X11.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>

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

#include <xcb/shape.h>
#include <xcb/xinerama.h>

#include <array>
#include <cstdlib>
#include <cstring>

namespace X11 {

void setInputShape(unsigned int window, const std::vector<QRect> &rects)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    std::vector<xcb_rectangle_t> list;
    list.reserve(rects.size());
    for (const QRect &r : rects) {
        if (r.isEmpty())
            continue;
        auto clamp16 = [](int v) { return int16_t(std::clamp(v, -32768, 32767)); };
        auto clampU16 = [](int v) { return uint16_t(std::clamp(v, 0, 65535)); };
        list.push_back({clamp16(r.x()), clamp16(r.y()), clampU16(r.width()), clampU16(r.height())});
    }
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED, window, 0, 0,
                         uint32_t(list.size()), list.data());
    xcb_flush(c);
}

bool compositorRunning()
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 13, "_NET_WM_CM_S0"), nullptr);
    if (!atom)
        return false;
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
    const bool running = owner && owner->owner != XCB_NONE;
    std::free(owner);
    std::free(atom);
    return running;
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

void markFloating(unsigned int window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
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
        return;
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
}

} // namespace X11
