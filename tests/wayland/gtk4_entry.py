#!/usr/bin/env python3
# A GTK 4 entry in a window of its own: prints what it holds, and ends, when Return is pressed.
import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import Gio, Gtk  # noqa: E402


def activate(app):
    window = Gtk.ApplicationWindow(application=app, title="entry")
    entry = Gtk.Entry()

    def done(field):
        sys.stdout.write(field.get_text() + "\n")
        sys.stdout.flush()
        app.quit()

    entry.connect("activate", done)
    window.set_child(entry)
    window.present()


app = Gtk.Application(flags=Gio.ApplicationFlags.NON_UNIQUE)
app.connect("activate", activate)
app.run([])
