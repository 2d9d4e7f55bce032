#!/usr/bin/env python3
"""The real pellim as a native Wayland client (QT_QPA_PLATFORM unset, WAYLAND_DISPLAY set), with the journal and
the temporary homes of e2e.py. Usage: wayland.py {sway,weston} [BUILD_DIR].
  sway:   headless sway; windows found with swaymsg -t get_tree, keys typed with wtype (sway offers every client
          a virtual keyboard), screenshots with grim.
  weston: headless weston, which offers no client input into another's windows: Pellim's button is pressed
          through AT-SPI, and wtype cannot type into the prompt.
Compositors run as an ordinary user: as root, as `nobody`. PELLIM_E2E_SHOTS=DIR keeps the screenshots.
Exit 0: passed, 1: failed, 77: cannot run here (a failure under CI=true)."""

import contextlib
import json
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
from e2e import Skip, check, run  # noqa: E402

SWAY_PART = ("; display Wayland, whose compositor offers every program input method, virtual keyboard, virtual "
             "pointer: any program on this display can answer the prompts")
WESTON_PART = "; display Wayland: only the person at the keyboard can answer the prompts"
NO_FOREIGN = "Folder guard: the compositor offers no xdg-foreign; the guard's windows are shown on their own"
MODIFIERS = {"ctrl": "ctrl", "alt": "alt", "shift": "shift", "super": "logo"}


def as_compositor_user(argv):
    """Sway refuses to run as root, and no compositor needs to."""
    return ["runuser", "-u", "nobody", "--"] + argv if os.geteuid() == 0 else argv


@contextlib.contextmanager
def compositor(kind, root):
    """Headless sway or weston on a runtime folder of its own; yields the environment that reaches it."""
    runtime = os.path.join(root, "compositor")
    os.mkdir(runtime, 0o700)
    if os.geteuid() == 0:
        os.chmod(root, 0o755)
        nobody = pwd.getpwnam("nobody")
        os.chown(runtime, nobody.pw_uid, nobody.pw_gid)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("WAYLAND_", "QT_", "DISPLAY", "SWAYSOCK"))}
    env.update(XDG_RUNTIME_DIR=runtime, HOME=runtime)
    socket = os.path.join(runtime, "wayland-pellim")
    if kind == "sway":
        config = os.path.join(root, "sway.conf")
        with open(config, "w") as f:
            # A transient child of a fullscreen window takes it out of fullscreen: how a test sees the parent.
            f.write("output HEADLESS-1 resolution 1280x800\nxwayland disable\n"
                    "popup_during_fullscreen leave_fullscreen\n")
        os.chmod(config, 0o644)
        argv = ["sway", "-c", config]
        env.update(WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1")
    else:
        argv = ["weston", "--backend=headless-backend.so", "--use-pixman", "--socket=wayland-pellim",
                "--width=1280", "--height=800", "--idle-time=0", "--debug"]  # --debug: the screenshooter
    procs = [subprocess.Popen(as_compositor_user(argv), env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        for _ in range(100):
            names = os.listdir(runtime)
            found = [n for n in names if re.fullmatch(r"wayland-[\w-]+", n)]
            if found and (kind != "sway" or any(n.startswith("sway-ipc.") for n in names)):
                socket = os.path.join(runtime, found[0])
                out = dict(WAYLAND_DISPLAY=socket, XDG_RUNTIME_DIR=runtime)
                if kind == "sway":
                    out["SWAYSOCK"] = os.path.join(runtime, next(n for n in names if n.startswith("sway-ipc.")))
                    procs.append(lasting_keyboard(dict(env, **out)))
                yield out
                return
            check(procs[0].poll() is None, "%s exited with status %s" % (kind, procs[0].returncode))
            time.sleep(0.1)
        raise Skip(kind + " did not start")
    finally:
        for p in reversed(procs):
            p.terminate()
            p.wait()


def lasting_keyboard(env):
    """A virtual keyboard for as long as the compositor runs (a wtype that waits for text), so that its seat
    always has a keyboard. A headless sway has none of its own: the seat would gain one only while a wtype
    runs, each client would bind it only then, and keys typed before a busy client had bound it would be
    lost."""
    keyboard = subprocess.Popen(["wtype", "-"], env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    for _ in range(100):
        with contextlib.suppress(ValueError):
            seats = json.loads(run(["swaymsg", "-r", "-t", "get_seats"], env=env).stdout)
            if any(d.get("type") == "keyboard" for seat in seats for d in seat.get("devices", [])):
                return keyboard
        check(keyboard.poll() is None, "wtype exited with status %s" % keyboard.returncode)
        time.sleep(0.1)
    keyboard.terminate()
    raise AssertionError("the seat has no keyboard")


def wtype_keys(keys):
    """xdotool's key names ("ctrl+3", "Return") as wtype arguments."""
    *mods, key = keys.split("+")
    mods = [MODIFIERS[m] for m in mods]
    # A single character is typed as text: wtype reads "-k 3" as another keysym than the digit.
    pressed = [key] if len(key) == 1 else ["-k", key]
    return [a for m in mods for a in ("-M", m)] + pressed + [a for m in mods for a in ("-m", m)]


class WaylandCase(e2e.Case):
    """A pellim of e2e.Case's kind on a Wayland compositor; windows are sway's containers."""

    def __init__(self, suite, name):
        def on_wayland(c):
            for k in ("DISPLAY", "QT_QPA_PLATFORM"):
                c.env.pop(k, None)
            c.env.update(suite["wayland"])
            c.env["XDG_RUNTIME_DIR"] = c.root + "/run"  # Pellim's own; the compositor's socket is a path
        self.shots, self.settled = 0, set()
        super().__init__(suite, name, before=on_wayland)

    def start(self, wrapper=()):
        if self.suite["kind"] == "sway":
            return super().start(wrapper)
        # Weston lists no windows to a client: the first entry says the window is up.
        self.started_us, self.seen = int(time.time() * 1e6), [("6", "opened")]
        self.proc = subprocess.Popen([*wrapper, self.suite["bin"]], env=self.env, cwd=self.root,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=self.stderr_file())
        self.wait_for("\"opened\"", lambda: self.messages()[:1] == [("6", "Pellim: opened")])

    def wl(self, *argv):
        return run(list(argv), env=self.env)

    def tree(self):
        """(container id, pid, title, fullscreen) of every view of Pellim's and its guard's."""
        if self.suite["kind"] != "sway":
            return []
        out, pids = [], [self.pellim_pid()] + self.guard_pids()

        def walk(node):
            if node.get("pid") in pids and node.get("visible", True):
                out.append((node["id"], node["pid"], node.get("name") or "", node.get("fullscreen_mode", 0)))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        with contextlib.suppress(ValueError):
            walk(json.loads(self.wl("swaymsg", "-r", "-t", "get_tree").stdout))
        return out

    def windows(self):
        return {w for w, _, _, _ in self.tree()}

    def view(self, wid):
        return next((v for v in self.tree() if v[0] == wid), None)

    def new_window(self, what, before, name=None):
        wid = self.wait_for(what, lambda: next((w for w, _, title, _ in self.tree()
                                                if w not in before and name in (None, title)), None))
        self.focus(wid)
        return wid

    def focus(self, wid):
        """Focuses a view; keys sent the moment a window gets the focus are lost (its keyboard's keymap and
        focus reach Qt a moment later), so a newly focused view is given that moment."""
        focused = next((v for v in self.tree() if v[0] == wid), None)
        self.wl("swaymsg", "[con_id=%d]" % wid, "focus")
        if wid not in self.settled:
            self.settled.add(wid)
            time.sleep(0.3)
        return focused

    def wtype(self, *args):
        """Each wtype is a virtual keyboard of its own, whose keymap reaches the window with its first key;
        it waits a moment first for the window the compositor has just focused (Qt activates a window a
        round trip after it gets the keyboard, and drops shortcuts until then)."""
        return self.wl("wtype", "-s", "200", *args)

    def xdotool(self, *args):
        """The few xdotool commands e2e.py's helpers give, done the Wayland way."""
        if args[0] == "key":
            self.wtype(*[a for keys in args[1:] if not keys.startswith("--") for a in wtype_keys(keys)])
        elif args[0] == "type":
            self.wtype("-d", "15", args[-1])
        elif args[0] in ("windowactivate", "windowfocus"):
            self.focus(int(args[-1]))
        else:
            raise AssertionError("no Wayland way for xdotool " + args[0])
        return ""

    def press(self, keys, answer=None, typed=None, forged=()):
        check(not forged, "nothing is forged on Wayland but what the compositor offers")
        super().press(keys, answer, typed)

    def shot(self, what):
        """A screenshot of the whole output, kept where PELLIM_E2E_SHOTS says."""
        folder = os.environ.get("PELLIM_E2E_SHOTS") or self.root
        os.makedirs(folder, exist_ok=True)
        self.shots += 1
        path = os.path.join(folder, "%s-%02d-%s.png" % (self.suite["kind"], self.shots, what))
        if self.suite["kind"] == "sway":
            check(self.wl("grim", path).returncode == 0, "grim failed")
        return path


def guard_line(part):
    return e2e.guard_line()[:-len(e2e.X11_PART)] + part


def native(c):
    """Pellim and its guard are Wayland clients of the compositor itself, and say what it allows."""
    c.wait_for("the guard's line", lambda: guard_line(SWAY_PART) in c.guard_entries())
    check(any(t.startswith("Display: Wayland (%s, connected before confinement)" % c.env["WAYLAND_DISPLAY"])
              and "zwp_virtual_keyboard_manager_v1" in t for t in c.guard_entries()), "no list of the globals")
    check(c.view(c.main_window)[1] == c.pellim_pid(), "the main window is not Pellim's own client")
    c.shot("main")


def prompt_is_child(c):
    """The guard's prompt is a child of Pellim's window (xdg-foreign): shown over Pellim in fullscreen, it takes
    Pellim out of fullscreen as sway does for a window's own dialogs; the answer typed there is stored."""
    c.wl("swaymsg", "[con_id=%d]" % c.main_window, "fullscreen", "enable")
    c.wait_for("fullscreen", lambda: c.view(c.main_window)[3] == 1)
    before = c.windows()
    c.xdotool("key", "ctrl+3")
    wid = c.new_window("the prompt", before, c.prompt_title)
    check(c.view(wid)[1] in c.guard_pids(), "the prompt is not the guard's")
    c.wait_for("Pellim out of fullscreen", lambda: c.view(c.main_window)[3] == 0, seconds=5)
    c.shot("prompt")
    c.xdotool("key", c.allow)
    c.wait_for("the prompt to close", lambda: wid not in c.windows())
    name = c.wait_for("the write", lambda: c.messages()[len(c.seen):])[0][1].rpartition("/")[2]
    path = os.path.join(c.docs, name)
    c.expect(("6", "trying to write to: " + e2e.encoded(path)), ("6", "wrote to: " + e2e.encoded(path)))
    check(re.search(r"^documents\s+allowed", c.consent("list"), re.M), "the answer was not stored")


def dialogs(c):
    """The four tests that go through a dialog of the guard's: typed names, chosen folders."""
    e2e.writing(c, "ctrl+1", path=c.docs + "/wayland note 100% %s.txt")
    e2e.writing(c, "ctrl+2", folder=c.downloads)
    e2e.open_with_dialog(c)
    e2e.open_from_chosen_folder(c)


def consent_reads(c):
    e2e.open_consent(c)


def folder_access(c):
    """Folder Access is the guard's window, over Pellim's; a change there is stored and recorded."""
    before = c.windows()
    c.xdotool("key", "alt+w", "f")
    wid = c.new_window("Folder Access", before, "Folder Access")
    check(c.view(wid)[1] in c.guard_pids(), "Folder Access is not the guard's")
    c.shot("folder-access")
    c.xdotool("key", "alt+d", "Tab", "space")
    c.wait_for("the entry", lambda: "Documents folder: set to denied in Folder Access" in c.guard_entries())
    check(re.search(r"^documents\s+denied", c.consent("list"), re.M), "the answer was not stored")
    c.xdotool("key", "Escape")


ATSPI_PRESS = r"""
import sys, time, gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi
name = sys.argv[1]
def find(node, depth=0):
    if node is None or depth > 40:
        return None
    with_name = node.get_role() == Atspi.Role.PUSH_BUTTON and node.get_name() == name
    if with_name:
        return node
    for i in range(node.get_child_count()):
        found = find(node.get_child_at_index(i), depth + 1)
        if found:
            return found
for _ in range(100):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        # Pellim's button, in whichever application has it: Pellim reaches the bus through its guard's
        # filter, so the bus names the filter's process, not Pellim's.
        if app is not None and (button := find(app)):
            button.get_action_iface().do_action(0)
            sys.exit(0)
    time.sleep(0.1)
sys.exit("no button " + name)
"""


def weston_prompt(c):
    """On weston Pellim starts natively and says the prompts are the person's alone; the prompt appears (on its
    own: weston has no xdg-foreign, so its title says whose it is); a program's attempt to type fails, and the
    prompt stays unanswered."""
    c.wait_for("the guard's line", lambda: guard_line(WESTON_PART) in c.guard_entries())
    # No input device on a headless weston: the button is pressed as a screen reader would.
    pressed = subprocess.run(["/usr/bin/python3", "-c", ATSPI_PRESS, "Save into the protected folder"], env=c.env, capture_output=True, text=True,
                             timeout=30)
    check(pressed.returncode == 0, "AT-SPI: %s" % pressed.stderr.strip())
    c.wait_for("the question", lambda: c.messages()[len(c.seen):])
    c.wait_for("the guard's windows on their own", lambda: NO_FOREIGN in c.guard_entries())
    typed = c.wtype(*wtype_keys(c.allow))
    check(typed.returncode != 0 and "virtual keyboard" in typed.stderr, "wtype: %r" % typed.stderr)
    shot = c.shot("prompt")
    if c.suite["kind"] == "weston":
        with contextlib.suppress(OSError, subprocess.SubprocessError):
            subprocess.run(["weston-screenshooter"], env=c.env, cwd=os.path.dirname(shot), timeout=10)
    time.sleep(1)
    check(not any("asked:" in t for t in c.guard_entries()), "the prompt was answered: %r" % c.guard_entries())
    name = c.messages()[len(c.seen)][1].rpartition("/")[2]
    check(not os.path.exists(os.path.join(c.docs, name)), "the file was written")
    c.proc.terminate()
    c.proc.wait()


SUITES = {"sway": [("native", native), ("prompt_is_child", prompt_is_child), ("dialogs", dialogs),
                   ("consent_reads", consent_reads), ("folder_access", folder_access)],
          "weston": [("weston_prompt", weston_prompt)]}
TOOLS = {"sway": ("sway", "swaymsg", "wtype", "grim", "journalctl", "dbus-daemon"),
         "weston": ("weston", "wtype", "journalctl", "dbus-daemon", "/usr/bin/python3")}


def run_case(suite, name, fn):
    return e2e.run_case(suite, name, fn, lambda suite, name, fn: WaylandCase(suite, name))


def main(kind, build_dir=os.path.join(e2e.SOURCE_DIR, "build")):
    suite = {"kind": kind, "bin": os.environ.get("PELLIM_BIN") or os.path.join(build_dir, "pellim"),
             "consent_bin": os.environ.get("PELLIM_CONSENT_BIN") or os.path.join(build_dir, "pellim-consent"),
             "display": ""}
    print("e2e %s: pellim at %s" % (kind, suite["bin"]), flush=True)
    try:
        for tool in TOOLS[kind]:
            if not shutil.which(tool):
                raise Skip(tool + " is missing")
        if run([os.path.join(e2e.SOURCE_DIR, "scripts", "ensure-journald")]).returncode:
            raise Skip("no journal daemon listens")
        # A session bus of the suite's own, as for the X11 suites: the caller's could offer a portal,
        # whose chooser would come up on the caller's screen, and switching its accessibility on would
        # switch on the person's screen reader.
        with tempfile.TemporaryDirectory(prefix="pellim-wayland-") as suite["root"], \
                e2e.accessible_bus(suite["root"]) as suite["bus"], \
                compositor(kind, suite["root"]) as suite["wayland"]:
            failed = [case for case, fn in SUITES[kind] if not run_case(suite, case, fn)]
    except Skip as s:
        print("e2e %s: cannot run here: %s" % (kind, s))
        return 1 if os.environ.get("CI") == "true" else 77
    print("e2e %s: %d of %d cases passed" % (kind, len(SUITES[kind]) - len(failed), len(SUITES[kind])))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
