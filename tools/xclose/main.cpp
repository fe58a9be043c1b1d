// xclose WINDOW [SECONDS]: asks the client of WINDOW (an X window id, decimal
// or 0x hex) to close it with WM_DELETE_WINDOW, as a window manager does when
// its close button is pressed, and waits until the window is unmapped or gone.
// Exits 0 once it is, 1 when it is still shown after SECONDS (default 10), 2 on
// a bad argument or a window that takes no WM_DELETE_WINDOW.

#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

bool takesDelete(xcb_connection_t *c, xcb_window_t window, xcb_atom_t protocols, xcb_atom_t del)
{
    xcb_icccm_get_wm_protocols_reply_t reply;
    if (!xcb_icccm_get_wm_protocols_reply(c, xcb_icccm_get_wm_protocols(c, window, protocols), &reply, nullptr))
        return false;
    bool found = false;
    for (uint32_t i = 0; i < reply.atoms_len; ++i)
        found = found || reply.atoms[i] == del;
    xcb_icccm_get_wm_protocols_reply_wipe(&reply);
    return found;
}

// Shown: the window exists and is viewable.
bool shown(xcb_connection_t *c, xcb_window_t window)
{
    xcb_get_window_attributes_reply_t *attrs =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    const bool viewable = attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attrs);
    return viewable;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: xclose WINDOW [SECONDS]\n");
        return 2;
    }
    char *end = nullptr;
    const unsigned long id = std::strtoul(argv[1], &end, 0);
    const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    if (!end || *end || id == 0 || seconds <= 0) {
        std::fprintf(stderr, "xclose: bad window or seconds\n");
        return 2;
    }
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "xclose: no X display\n");
        return 2;
    }
    const auto window = xcb_window_t(id);
    const xcb_atom_t protocols = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t del = atom(c, "WM_DELETE_WINDOW");
    if (!takesDelete(c, window, protocols, del)) {
        std::fprintf(stderr, "xclose: window 0x%lx takes no WM_DELETE_WINDOW\n", id);
        xcb_disconnect(c);
        return 2;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = protocols;
    event.data.data32[0] = del;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(c);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int result = 1;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!shown(c, window)) {
            result = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (result != 0)
        std::fprintf(stderr, "xclose: window 0x%lx still shown after %.1f s\n", id, seconds);
    xcb_disconnect(c);
    return result;
}
