"""An assistive client, run with Debian's own Python (it has the AT-SPI bindings).

  inside FLAG OUT   waits for FLAG, then tries to press the guard's "Allow" button
                    and to list the applications; writes what it got to OUT (JSON)
  press NAME        presses the button named NAME in any application
  set NAME TEXT     sets the text of the field named NAME in any application, then
                    prints the text it reads back
"""
import json
import os
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


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


def find(name, want):
    for node in nodes(Atspi.get_desktop(0)):
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


def main(mode, *args):
    if mode == "inside":
        flag, out = args
        until(lambda: True if os.path.exists(flag) else None, 60)
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
        with open(out + ".part", "w") as f:
            json.dump(got, f)
        os.rename(out + ".part", out)
        return 0
    if mode == "press":
        node = until(lambda: find(args[0], button))
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
