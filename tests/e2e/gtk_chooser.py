#!/usr/bin/python3
"""A GTK program that opens a file with GTK's own portal client (run with GTK_USE_PORTAL=1): prints the chosen
file's text, or "cancelled". With PATH it then reads PATH itself and prints what it got; with --wait it stays
until its input closes. Usage: gtk_chooser.py [--wait] [PATH]"""

import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402


def show(path):
    try:
        with open(path) as f:
            print(f.read(), end="", flush=True)
    except OSError as e:
        print("could not read %s: %s" % (path, e.strerror), flush=True)


args = sys.argv[1:]
chooser = Gtk.FileChooserNative.new("Open a note", None, Gtk.FileChooserAction.OPEN, None, None)
if chooser.run() == Gtk.ResponseType.ACCEPT:
    show(chooser.get_filename())
else:
    print("cancelled", flush=True)
for path in [a for a in args if a != "--wait"]:
    show(path)
if "--wait" in args:
    print("waiting", flush=True)
    sys.stdin.read()
