#pragma once
// Reading the X server straight, for tests that check what the code read.

#include <QRect>

#include <xcb/xcb.h>

#include <cstdlib>

namespace zktest {

// The window around `w` that is a child of the root (the frame a reparenting
// window manager put it in, or `w` itself), border included, in root pixels.
inline QRect topLevelFrame(xcb_connection_t *c, xcb_window_t w)
{
    for (;;) {
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        if (!tree)
            return {};
        const xcb_window_t parent = tree->parent, root = tree->root;
        std::free(tree);
        if (parent == root || parent == XCB_NONE)
            break;
        w = parent;
    }
    xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
    if (!g)
        return {};
    const QRect r(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    std::free(g);
    return r;
}

} // namespace zktest
