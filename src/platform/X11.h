#pragma once

struct xcb_connection_t;

// The X connection the application's windows live on, or none when the
// application does not run on X11 (offscreen tests, Wayland).
namespace X11 {
xcb_connection_t *connection();
unsigned int rootWindow();
bool available();
} // namespace X11
