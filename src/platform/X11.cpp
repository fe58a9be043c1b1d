#include "platform/X11.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

namespace X11 {

xcb_connection_t *connection()
{
    auto *app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app ? app->connection() : nullptr;
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
