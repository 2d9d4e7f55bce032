"""Clients run by the end-to-end cases, with Debian's own Python (it has the AT-SPI bindings).

  inside DIR        run inside the confined Pellim (the probe plugin starts it):
                    waits for DIR/request.json and writes what it got to
                    DIR/answer.json. {"mode": "doors", "real bus": ADDRESS}: lists the
                    applications on Pellim's accessibility bus, tries to press an
                    "Allow" button, to connect to the session's own bus and to
                    have a service started through Pellim's.
                    {"mode": "writable", "paths": [...]}: tries to write, replace
                    or make each path, and lists those where it could
  press NAME [PID...]
                    presses the button named NAME in the applications of these
                    processes (in any application if none is named)
  set NAME TEXT     sets the text of the field named NAME in any application, then
                    prints the text it reads back
"""
import contextlib
import json
import os
import socket
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402


def nodes(node, depth=0):
    """Every accessible below `node`, breadth first, errors (AccessDenied, a gone
    application) counted as an empty subtree."""
    if depth > 30:
        return
    yield node
    try:
        count = node.get_child_count()
    except Exception:  # noqa: BLE001
        return
    for i in range(count):
        try:
            child = node.get_child_at_index(i)
        except Exception:  # noqa: BLE001
            continue
        if child is not None:
            yield from nodes(child, depth + 1)


def applications(pids=()):
    """The applications on the bus, only those of `pids` if any are named. An application that does
    not answer holds up each call to it for seconds (Pellim, while the guard asks about its call)."""
    desktop = Atspi.get_desktop(0)
    try:
        count = desktop.get_child_count()
    except Exception:  # noqa: BLE001 - a bus that lists none
        return
    for i in range(count):
        try:
            app = desktop.get_child_at_index(i)
            # Asked of the bus, not of the application.
            if app is not None and (not pids or app.get_process_id() in pids):
                yield app
        except Exception:  # noqa: BLE001 - gone meanwhile
            continue


def find(name, want, pids=()):
    for app in applications(pids):
        for node in nodes(app):
            try:
                if node.get_name() == name and want(node):
                    return node
            except Exception:  # noqa: BLE001
                continue
    return None


def button(node):
    return node.get_role() == Atspi.Role.PUSH_BUTTON


def editable(node):
    return node.get_editable_text_iface() is not None


def until(what, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if (found := what()) is not None:
            return found
        time.sleep(0.2)
    return None


def inside_doors(real_bus):
    """The doors out of Pellim: the session's own bus, a service started through Pellim's bus, another
    application over the accessibility bus."""
    got = inside_atspi()
    path = real_bus.partition("unix:path=")[2].split(",")[0]
    try:
        with socket.socket(socket.AF_UNIX) as s:
            s.connect(path)
        got["real bus"] = "connected"
    except OSError as e:
        got["real bus"] = e.strerror
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "StartServiceByName", GLib.Variant("(su)", ("org.a11y.Bus", 0)), None,
                      Gio.DBusCallFlags.NONE, 5000, None)
        got["activation"] = "started"
    except GLib.Error as e:
        got["activation"] = e.message
    return got


def inside_atspi():
    got = {"applications": [], "pressed": False, "errors": []}
    try:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            got["applications"].append(desktop.get_child_at_index(i).get_name())
    except Exception as e:  # noqa: BLE001
        got["errors"].append(str(e))
    allow = until(lambda: find("Allow", button), 5)
    if allow is not None:
        try:
            got["pressed"] = allow.get_action_iface().do_action(0)
        except Exception as e:  # noqa: BLE001
            got["errors"].append(str(e))
    return got


def inside_writable(folder, paths):
    """Each path Pellim could write, replace or make, with how; a file made is removed again."""
    spare = os.path.join(folder, "spare")
    could = []
    for path in paths:
        if os.path.lexists(path):
            with contextlib.suppress(OSError):
                os.close(os.open(path, os.O_WRONLY | os.O_APPEND))
                could.append([path, "written"])
            with contextlib.suppress(OSError):
                with open(spare, "w"):
                    pass
                os.rename(spare, path)
                could.append([path, "replaced"])
        else:
            with contextlib.suppress(OSError):
                os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600))
                os.unlink(path)
                could.append([path, "made"])
    return {"could": could}


def main(mode, *args):
    if mode == "inside":
        folder, = args
        request = os.path.join(folder, "request.json")
        until(lambda: True if os.path.exists(request) else None, 120)
        with open(request) as f:
            asked = json.load(f)
        got = (inside_doors(asked["real bus"]) if asked["mode"] == "doors"
               else inside_writable(folder, asked["paths"]))
        answer = os.path.join(folder, "answer.json")
        with open(answer + ".part", "w") as f:
            json.dump(got, f)
        os.rename(answer + ".part", answer)
        return 0
    if mode == "press":
        pids = {int(pid) for pid in args[1:]}
        node = until(lambda: find(args[0], button, pids))
        return 0 if node is not None and node.get_action_iface().do_action(0) else 1
    if mode == "set":
        node = until(lambda: find(args[0], editable))
        if node is None:
            return 1
        node.get_editable_text_iface().set_text_contents(args[1])
        text = node.get_text_iface()
        print(text.get_text(0, text.get_character_count()))
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
