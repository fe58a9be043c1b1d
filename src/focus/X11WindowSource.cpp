#include "focus/X11WindowSource.h"

#include "platform/X11.h"
#include "platform/X11WindowList.h"

#include <QCoreApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace {

// Windows a task bar would list: what the user thinks of as an application's windows.
bool isTaskWindow(const X11::ClientWindow &w)
{
    const bool ordinary = w.type == X11::WindowType::normal || w.type == X11::WindowType::dialog ||
                          w.type == X11::WindowType::other;
    return ordinary && !(w.state & X11::stateSkipTaskbar);
}

} // namespace

bool X11WindowSource::trusted() const { return X11::available(); }

std::vector<WindowSource::Application> X11WindowSource::applications() const
{
    std::vector<Application> apps;
    xcb_connection_t *c = X11::connection();
    if (!c)
        return apps;
    // Windows made on our own connection are ours even without a pid.
    const xcb_setup_t *setup = xcb_get_setup(c);
    const uint32_t base = setup->resource_id_base, mask = setup->resource_id_mask;
    const uint32_t ownPid = uint32_t(QCoreApplication::applicationPid());

    const std::vector<X11::ClientWindow> list = X11::readClientWindows(c, X11::rootWindow(), X11::fieldTitle | X11::fieldClass);
    std::unordered_map<uint32_t, size_t> byPid;
    // The list is bottom-most first; applications and their windows go front-most first.
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        const X11::ClientWindow &w = *it;
        if ((w.id & ~mask) == base || (w.pid != 0 && w.pid == ownPid))
            continue;
        if (!isTaskWindow(w) || !w.onCurrentDesktop)
            continue;
        auto [slot, added] = byPid.try_emplace(w.pid, apps.size());
        if (added) {
            Application app;
            app.pid = w.pid;
            app.name = !w.className.isEmpty() ? w.className : w.instanceName;
            apps.push_back(std::move(app));
        }
        Window window;
        window.element = w.id;
        window.title = w.title;
        window.minimized = w.hidden();
        // A hidden window's coordinates are stale.
        if (!w.hidden())
            window.frame = X11::toDesktopPoints(w.outerFrame());
        apps[slot->second].windows.push_back(std::move(window));
    }
    return apps;
}

bool X11WindowSource::minimize(uint64_t element)
{
    xcb_connection_t *c = X11::connection();
    if (!c || element == 0 || element > 0xFFFFFFFFu)
        return false;
    static const char name[] = "WM_CHANGE_STATE";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    if (!atom)
        return false;
    // ICCCM 4.1.4: a client message to the root asking for IconicState (3).
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(element);
    event.type = atom->atom;
    event.data.data32[0] = 3;
    std::free(atom);
    xcb_send_event(c, 0, X11::rootWindow(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(c);
    return true;
}
