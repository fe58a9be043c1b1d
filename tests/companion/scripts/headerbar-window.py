#!/usr/bin/python3
# A GTK window with a header bar, as GNOME applications draw their own frame.
# Usage: headerbar-window.py TITLE X Y WIDTH HEIGHT
# Once shown it prints "window XID" and "visible X Y WIDTH HEIGHT": the part of
# the window a user sees, from the header bar's top to the content's bottom, in
# root pixels, as GTK itself lays it out (without its invisible shadow margin).
# It quits when its standard input closes.
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

title, x, y, width, height = sys.argv[1], *map(int, sys.argv[2:6])
window = Gtk.Window(title=title)
bar = Gtk.HeaderBar(title=title, show_close_button=True)
window.set_titlebar(bar)
content = Gtk.Label(label=title)
window.add(content)
window.set_default_size(width, height)
window.move(x, y)


def report():
    gdk = window.get_window()
    if gdk is None or not bar.get_mapped() or not content.get_mapped():
        return True
    ox, oy = gdk.get_origin()[1:]
    left, top = bar.translate_coordinates(window, 0, 0)
    cx, cy = content.translate_coordinates(window, 0, 0)
    bottom = cy + content.get_allocated_height()
    print("window", gdk.get_xid(), flush=True)
    print("visible", ox + left, oy + top, bar.get_allocated_width(), bottom - top, flush=True)
    return False


GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.PRIORITY_DEFAULT, GLib.IO_HUP | GLib.IO_IN | GLib.IO_ERR,
                  lambda *a: Gtk.main_quit())
window.connect("destroy", Gtk.main_quit)
window.show_all()
GLib.timeout_add(100, report)
Gtk.main()
