#!/usr/bin/env python3
"""The real pellim (PELLIM_BIN, or BUILD_DIR/pellim) under Xvfb and openbox, driven with xdotool, a temporary
home per case. Usage: e2e.py {launch,writing,reading,portal,guard_run,portal_run} [BUILD_DIR]. Exit 0: passed,
1: failed, 77: cannot run here (a failure under CI=true). The portal suite gives the guard a session bus of its own
with xdg-desktop-portal and its GTK back-end, whose chooser shows the dialogs. The guard_run suite runs other
programs (sh, cat, git, Python, a static one: PELLIM_STATIC_PROBE, or BUILD_DIR/tests/static_probe) under
pellim-guard (PELLIM_GUARD_BIN, or BUILD_DIR/pellim-guard), on a terminal of their own where Ctrl+C is typed. The
portal_run suite runs a GTK and a Qt program (PELLIM_QT_CHOOSER, or BUILD_DIR/tests/qt_chooser) under it, whose
file dialogs their toolkits send to the guard's portal."""

import contextlib
import ctypes
import glob
import json
import os
import pty
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
APP_ID = "org.pellim.Pellim"
GUARD_ID = "org.pellim.FolderGuard"
TEST_NAME = re.compile(r"Pellim[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\.txt")
PROBE = os.path.join(SOURCE_DIR, "tests", "e2e", "atspi_probe.py")
REFUSED = "Folder guard: ignored input sent by another program (XSendEvent)"
# What the guard line says of the display after the guard in force.
X11_PART = "; display X11: any program on this display can answer the prompts and make other programs load its code"
UNRESERVED = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~!$&'()*+,;=:@/")
# The guard's question, its title and the key of its Allow button, by language.
PROMPT = {"C.UTF-8": ("Pellim: allow folder access?", "alt+a"),
          "de_DE.UTF-8": ("Pellim: Ordnerzugriff erlauben?", "alt+e")}
ALLOWED = {"C.UTF-8": "allowed", "de_DE.UTF-8": "erlaubt"}  # as pellim-consent list says it


class Skip(Exception):
    pass


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def encoded(path):
    return "".join(chr(b) if b in UNRESERVED else "%%%02X" % b
                   for b in (path if isinstance(path, bytes) else path.encode()))


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, timeout=20, **kw)


@contextlib.contextmanager
def display():
    """Xvfb on a free display with openbox managing its windows; yields the display."""
    read_end, write_end = os.pipe()
    procs = [subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten",
                               "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)]
    try:
        os.close(write_end)
        with os.fdopen(read_end) as f:
            env = dict(os.environ, DISPLAY=":" + f.readline().strip())
        procs.append(subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        for _ in range(300):  # openbox is up once it announces a current desktop
            if run(["xdotool", "get_desktop"], env=env).returncode == 0:
                yield env["DISPLAY"]
                return
            time.sleep(0.1)
        raise Skip("Xvfb or openbox did not start")
    finally:
        for p in reversed(procs):
            p.terminate()
            p.wait()


PORTAL = "/usr/libexec/xdg-desktop-portal"
PORTAL_GTK = "/usr/libexec/xdg-desktop-portal-gtk"


@contextlib.contextmanager
def portal(display_name, root):
    """A session bus with the file chooser portal and its GTK back-end on `display_name`, in a home of
    their own; yields the bus's address, the back-end's pid (the chooser's windows are its) and a
    function that gives the portal's pid."""
    home = os.path.join(root, "portal-home")
    os.makedirs(home + "/run", mode=0o700)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "DBUS_", "GTK_"))}
    # Debian 12's xdg-desktop-portal picks its back-end by the desktop's name (UseIn= in gtk.portal).
    env.update(HOME=home, DISPLAY=display_name, XDG_CURRENT_DESKTOP="GNOME", XDG_RUNTIME_DIR=home + "/run",
               GTK_A11Y="none", NO_AT_BRIDGE="1")
    procs = [subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)]
    try:
        env["DBUS_SESSION_BUS_ADDRESS"] = procs[0].stdout.readline().strip()
        check(run(["dbus-update-activation-environment", "DISPLAY", "XDG_CURRENT_DESKTOP", "XDG_RUNTIME_DIR",
                   "HOME"], env=env).returncode == 0, "dbus-update-activation-environment failed")
        for argv in ([PORTAL_GTK, "-r"], [PORTAL, "-r"]):
            procs.append(subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        get = ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.portal.Desktop",
               "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Properties.Get",
               "string:org.freedesktop.portal.FileChooser", "string:version"]
        for _ in range(100):
            if run(get, env=env).returncode == 0:
                owner = ["dbus-send", "--session", "--print-reply=literal", "--dest=org.freedesktop.DBus", "/",
                         "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:org.freedesktop.portal.Desktop"]
                yield env["DBUS_SESSION_BUS_ADDRESS"], procs[1].pid, lambda: int(run(owner, env=env).stdout.split()[-1])
                return
            time.sleep(0.1)
        raise Skip("the file chooser portal did not come up")
    finally:
        for p in reversed(procs):
            p.terminate()
            p.wait()


@contextlib.contextmanager
def accessible_bus(root):
    """A session bus of the suite's own with the accessibility bus switched on, as for a person with a screen
    reader, so that Qt's accessibility runs in Pellim and its guard; only the accessibility launcher can be
    started on it (no desktop portal: the suites drive Qt's own dialogs). Yields its address."""
    services = os.path.join(root, "bus-services")
    os.makedirs(services)
    shutil.copy("/usr/share/dbus-1/services/org.a11y.Bus.service", services)
    config = os.path.join(root, "bus.conf")
    with open(config, "w") as f:
        f.write('<busconfig><type>session</type><listen>unix:tmpdir=%s</listen><servicedir>%s</servicedir>'
                '<policy context="default"><allow send_destination="*" eavesdrop="true"/>'
                '<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n' % (tempfile.gettempdir(), services))
    # The accessibility launcher puts its bus in the runtime folder: one of the suite's own, so
    # that suites run side by side do not take each other's.
    home = os.path.join(root, "bus-home")
    os.makedirs(home + "/run", mode=0o700)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "DBUS_", "AT_SPI", "GSETTINGS_"))}
    # The launcher keeps the switches in GSettings. With the person's dconf a switch set here would be
    # taken back at once (no dconf service on this bus), and read from whatever an earlier run left in
    # their settings: the guard, which asks the switches, would register or not by the order of runs.
    env.update(XDG_RUNTIME_DIR=home + "/run", GSETTINGS_BACKEND="memory")
    bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        send = ["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus", "/org/a11y/bus"]
        if run(send + ["org.a11y.Bus.GetAddress"], env=env).returncode:
            raise Skip("no accessibility bus (at-spi2-core)")
        status = ["org.freedesktop.DBus.Properties.%s", "string:org.a11y.Status"]
        for prop in ("IsEnabled", "ScreenReaderEnabled"):
            run(send + [status[0] % "Set", status[1], "string:" + prop, "variant:boolean:true"], env=env)
            check(run(send + [status[0] % "Get", status[1], "string:" + prop], env=env).stdout.split()[-1:]
                  == ["true"], "the accessibility bus did not stay switched on (%s)" % prop)
        yield env["DBUS_SESSION_BUS_ADDRESS"]
    finally:
        bus.terminate()
        bus.wait()


class Case:
    """A pellim of its own in a temporary home; `seen` holds its entries checked so far."""

    def __init__(self, suite, name, wrapper=(), lang="C.UTF-8", before=None):
        self.suite, self.seen = suite, [("6", "opened")]
        self.helpers = []  # processes the case started, ended with it
        self.guards = set()  # pids whose guard entries are this case's: guard processes, pellim-consent
        self.prompt_title, self.allow = PROMPT[lang]
        self.root = tempfile.mkdtemp(prefix=name + "-", dir=suite["root"])
        self.home = os.path.join(self.root, "home")
        self.docs, self.downloads = os.path.join(self.home, "Documents"), os.path.join(self.home, "Downloads")
        for d in (self.docs, self.downloads, self.home + "/Desktop", self.home + "/.config", self.root + "/run"):
            os.makedirs(d, mode=0o700)
        with open(self.home + "/.config/user-dirs.dirs", "w") as f:
            f.write('XDG_DOCUMENTS_DIR="$HOME/Documents"\nXDG_DESKTOP_DIR="$HOME/Desktop"\n'
                    'XDG_DOWNLOAD_DIR="$HOME/Downloads"\n')
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("XDG_", "QT_", "LC_", "LANGUAGE"))}  # the bus stays
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=self.home + "/.config", XDG_STATE_HOME=self.root + "/state",
                        XDG_RUNTIME_DIR=self.root + "/run", DISPLAY=suite["display"], QT_QPA_PLATFORM="xcb",
                        LANG=lang, QT_QPA_PLATFORMTHEME="")  # Qt's own file dialog
        if suite.get("bus"):  # the suite's own
            self.env["DBUS_SESSION_BUS_ADDRESS"] = suite["bus"]
        if before:
            before(self)
        self.start(wrapper)

    def stderr_file(self):
        """Where pellim and its guard write what they cannot journal (Qt's own fatal errors), shown when the
        case fails. Beside the case's folder, not in it: the hostile cases judge every file in it."""
        return open(self.root + ".stderr", "a")

    def start(self, wrapper=()):
        """Starts pellim in this home, and waits for its window and its first entry."""
        self.started_us = int(time.time() * 1e6)  # pids are reused, and the journal keeps old entries
        self.seen = [("6", "opened")]
        self.proc = subprocess.Popen([*wrapper, self.suite["bin"]], env=self.env, cwd=self.root,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=self.stderr_file())  # a wrapper execs
        self.main_window = self.new_window("the main window", set(), "Pellim")
        self.wait_for("\"opened\"", lambda: self.messages()[:1] == [("6", "Pellim: opened")])

    def wait_for(self, what, predicate, seconds=15):
        """Each wait has its own bound, and none is the case's: a whole case takes longer as the machine gets
        busier (sway's four dialogs took 30 s on two cores under a load of 18), and a minute for the case
        made whichever wait came after it fail at once."""
        end = time.monotonic() + seconds
        while not (value := predicate()):
            check(time.monotonic() < end, "timed out waiting for " + what)
            time.sleep(0.1)
        return value

    def consent(self, *args):
        """Runs pellim-consent; its entries count among the guard's."""
        p = subprocess.Popen([self.suite["consent_bin"], *args], env=self.env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        self.guards.add(p.pid)
        out, err = p.communicate(timeout=20)
        check(p.returncode == 0, "pellim-consent %s failed: %s" % (" ".join(args), err))
        return out

    def xdotool(self, *args):
        return run(["xdotool", *args], env=self.env).stdout.strip()

    def guard_pids(self):
        """Pellim runs under `pellim-guard run`: the process started (self.proc) waits, its child is the
        guard, and the guard's child is Pellim. Without the kernel guard, the process started is Pellim."""
        if self.proc.pid == self.pellim_pid():
            return []
        pids = children(self.proc.pid)
        self.guards.update(pids)
        return pids

    def pellim_pid(self):
        if getattr(self, "_pellim", (None,))[0] == self.proc.pid:
            return self._pellim[1]
        found = next((p for p in [self.proc.pid] + [c for g in children(self.proc.pid) for c in children(g)]
                      if exe_of(p) == os.path.realpath(self.suite["bin"])), None)
        if found and found != self.proc.pid:  # the process started is Pellim until it execs the guard
            self._pellim = (self.proc.pid, found)
        return found or self.proc.pid

    def windows(self):
        """Pellim's windows and its guard's (the prompt, the file dialogs), and the portal's chooser."""
        return {w for pid in [self.pellim_pid()] + self.guard_pids() + self.suite.get("chooser", [])
                for w in self.xdotool("search", "--all", "--onlyvisible", "--pid", str(pid)).split()}

    def new_window(self, what, before, name=None):
        """Waits for a window of pellim's not in `before` (named `name`), and activates it."""
        wid = self.wait_for(what, lambda: next((w for w in self.windows() - before
                                                if name in (None, self.xdotool("getwindowname", w))), None))
        self.xdotool("windowactivate", "--sync", wid)
        return wid

    def press(self, keys, answer=None, typed=None, forged=(), before_typing=()):
        """Presses `keys` in the main window; then types `typed` into the file dialog (after
        `before_typing`) and presses Return, or presses `answer` in the guard's prompt, until that
        window closes. `forged` keys go to that window first with XSendEvent, and must leave it open."""
        self.xdotool("windowactivate", "--sync", self.main_window)
        before = self.windows()
        self.xdotool("key", "--clearmodifiers", keys)
        if not (answer or typed):
            return
        self.answer(self.new_window("a dialog", before, None if typed else self.prompt_title), answer, typed,
                    forged, before_typing)

    def answer(self, wid, answer=None, typed=None, forged=(), before_typing=()):
        """Answers the dialog `wid` as `press` says."""
        if forged:  # xdotool uses XSendEvent only for a window without the focus
            self.xdotool("windowfocus", "--sync", self.main_window)
            self.xdotool("key", "--window", wid, *forged)
            self.wait_for("the refusal", lambda: REFUSED in self.guard_entries())
            time.sleep(0.5)
            check(wid in self.windows(), "keys sent with XSendEvent answered the dialog")
            self.xdotool("windowactivate", "--sync", wid)
        if typed:
            time.sleep(0.3)  # let the dialog give its name field the focus
            for key in before_typing:
                self.xdotool("key", "--clearmodifiers", key)
                time.sleep(0.2)
            self.xdotool("key", "--clearmodifiers", "ctrl+a")
            self.xdotool("type", "--clearmodifiers", "--delay", "15", typed)
        if callable(answer):  # answered by other means than keys
            answer(wid)
            return self.wait_for("the dialog to close", lambda: wid not in self.windows())
        for _ in range(3):  # the first Return may only close the completion list
            self.xdotool("key", "--clearmodifiers", answer or "Return")
            with contextlib.suppress(AssertionError):
                return self.wait_for("the dialog to close", lambda: wid not in self.windows(), seconds=5)
        raise AssertionError("the dialog did not close")

    def messages(self, subsystem=APP_ID):
        """(priority, text) of the program's own entries since it started, not the guard's."""
        # The guard's entries come from Pellim (the guard line) and from its guard processes.
        pids = [self.pellim_pid()] + ([] if subsystem == APP_ID else sorted(self.guards.union(self.guard_pids())))
        out = run(["journalctl", "-o", "json", "SYSLOG_IDENTIFIER=pellim"] + ["_PID=%d" % p for p in pids]).stdout
        return [(e.get("PRIORITY"), bytes(m).decode("utf-8", "replace") if isinstance(m := e["MESSAGE"], list) else m)
                for e in map(json.loads, out.splitlines()) if e.get("SUBSYSTEM") == subsystem
                and int(e["__REALTIME_TIMESTAMP"]) >= self.started_us]

    def guard_entries(self):
        return [text for _, text in self.messages(GUARD_ID)]

    def expect(self, *want):
        """Once the last of `want` ((priority, text) pairs) has come, the program's entries
        must be exactly those seen before and `want`."""
        full = [(level, "Pellim: " + text) for level, text in self.seen + list(want)]
        with contextlib.suppress(AssertionError):  # on a timeout the comparison says what came instead
            self.wait_for(full[-1][1], lambda: full[-1] in self.messages())
        check(self.messages() == full, "entries\n  got  %r\n  want %r" % (self.messages(), full))
        self.seen += want

    def end(self, keys="ctrl+q"):
        """`keys` end pellim with status 0, and it logs nothing after what was checked."""
        self.press(keys)
        self.wait_for("pellim to exit", lambda: self.proc.poll() is not None)
        check(self.proc.returncode == 0, "exit status %s after %s" % (self.proc.returncode, keys))
        time.sleep(1)  # entries reach the journal asynchronously
        self.expect()


def children(pid):
    with contextlib.suppress(OSError), open("/proc/%d/task/%d/children" % (pid, pid)) as f:
        return [int(p) for p in f.read().split()]
    return []


def exe_of(pid):
    with contextlib.suppress(OSError):
        return os.readlink("/proc/%d/exe" % pid)
    return None


def make_file(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write("A short note for the reading tests.\nIts second line.\n")
    return path


def writing(c, keys, path=None, folder=None, answer=None, forged=(), before_typing=()):
    """A writing test to `path`, or to a fresh test file in `folder`: its entries, and the file."""
    more = {"before_typing": before_typing} if before_typing else {}  # Qt's dialog needs none
    c.press(keys, answer, typed=path or (None if answer else folder), forged=forged, **more)
    if not path:
        name = c.wait_for("the write", lambda: c.messages()[len(c.seen):])[0][1].rpartition("/")[2]
        check(TEST_NAME.fullmatch(name), "not a fresh test file: %r" % name)
        path = os.path.join(folder, name)
    c.expect(("6", "trying to write to: " + encoded(path)), ("6", "wrote to: " + encoded(path)))
    with open(path, "rb") as f:
        data = f.read()
    check(len(data) == 686 and all(32 <= b < 127 for b in data), "%s holds %r" % (path, data[:80]))


def reading(c, keys, path, typed=None, folder=None, before_typing=()):
    """A reading test of `path`, which a listing of `folder` finds first if given: its entries."""
    c.press(keys, typed=typed, **({"before_typing": before_typing} if before_typing else {}))
    listing = [("6", "trying to list files in %s" % folder), ("6", "trying to look in %s for text files" % folder)]
    c.expect(*(listing if folder else []), ("6", "trying to read from: " + encoded(path)),
             ("6", "read from: " + encoded(path)))


def close_window(c):
    c.seen.append(("6", "closing"))
    c.end("alt+F4")  # openbox closes the active window politely (WM_DELETE_WINDOW)


def save_consent(c):
    writing(c, "ctrl+3", folder=c.docs, answer=c.allow)  # asked by the guard process, so stored
    check(re.search(r"^documents\s+%s " % ALLOWED[c.env["LANG"]], c.consent("list"), re.M),
          "the answer was not stored")
    check(c.guard_pids(), "no guard process")
    check(any(t.startswith("Documents folder, write access to %s/Pellim" % c.docs) and t.endswith("asked: allowed")
              for t in c.guard_entries()), "the guard did not record its decision: %r" % c.guard_entries())


def forged_answer(c):
    """Keys another program sends to the prompt (XSendEvent) answer nothing, and are one entry."""
    writing(c, "ctrl+3", folder=c.docs, answer="alt+a", forged=("alt+a", "Return"))  # then real keys (XTEST)
    check(c.guard_entries().count(REFUSED) == 1, "refusals: %r" % c.guard_entries())


def guard_line():
    # Before Landlock ABI 3 (Debian 12's Linux 6.1; scripts/as-linux-6.1) the line says what the guard gives up.
    abi = ctypes.CDLL(None).syscall(444, None, 0, 1)  # landlock_create_ruleset: the version
    return "Folder guard: enforced by the kernel" + (
        "" if abi >= 3 else " (Landlock ABI %d: each truncate is done by the guard)" % abi) + X11_PART


def start_then_quit(c):
    c.wait_for("the guard's line", lambda: guard_line() in c.guard_entries())


def guard_killed(c):
    """Without its guard a confined Pellim can reach nothing: it says so and ends with status 1."""
    before, guard = c.windows(), c.guard_pids()[0]
    os.kill(guard, 9)
    wid = c.new_window("the alert", before, "Pellim")
    c.wait_for("the error entry", lambda: "Folder guard stopped; Pellim cannot reach files "
               "without it and quits" in c.guard_entries())
    c.xdotool("key", "--window", wid, "Return")
    c.wait_for("pellim to exit", lambda: c.proc.poll() is not None)
    check(c.proc.returncode == 1, "exit status %s" % c.proc.returncode)


def bus_stopped(c):
    """A guard whose bus does not take Pellim's request within 5 s: Pellim goes on meanwhile, the test ends as
    cancelled with an error entry, and no dialog comes late once the bus answers. (The first dialog connects.)"""
    c.press("ctrl+1")
    wid = c.new_window("the dialog", set(), "Pellim: choose where to save the test file")
    c.xdotool("key", "--clearmodifiers", "Escape")
    c.wait_for("the dialog to close", lambda: wid not in c.windows())
    daemon = next(p for guard in c.guard_pids() for p in children(guard) if exe_of(p) == "/usr/bin/dbus-daemon")
    before = c.windows()
    os.kill(daemon, signal.SIGSTOP)
    try:
        c.press("ctrl+1")
        c.wait_for("the error entry", lambda: "Folder guard: the Save dialog was not shown: the guard's file "
                   "chooser did not take it: it did not answer within 5 s" in c.guard_entries(), seconds=10)
    finally:
        os.kill(daemon, signal.SIGCONT)
    time.sleep(2)
    check(c.windows() == before, "a dialog came late: %r" % (c.windows() - before))
    c.expect()


def pellim_killed(c):
    guard = c.guard_pids()[0]
    os.kill(c.pellim_pid(), 9)
    c.proc.wait()
    check(c.proc.returncode == -9, "the command ended with %s, not as Pellim did" % c.proc.returncode)
    c.wait_for("the guard to end", lambda: not os.path.exists("/proc/%d" % guard) or
               open("/proc/%d/stat" % guard).read().split(") ")[1].startswith("Z"), seconds=5)


def folder_access(c):
    """Window > Folder Access is the guard's window, not Pellim's; a change there is stored and recorded."""
    c.press("alt+w")
    c.xdotool("key", "--clearmodifiers", "f")
    wid = c.wait_for("Folder Access", lambda: next(
        (w for pid in c.guard_pids() for w in c.xdotool("search", "--onlyvisible", "--pid", str(pid),
                                                         "--name", "^Folder Access$").split()), None))
    c.xdotool("windowactivate", "--sync", wid)
    # Documents' mnemonic only takes the focus to its row (Allow); the next button is Deny.
    c.xdotool("key", "--clearmodifiers", "alt+d", "Tab", "space")
    c.wait_for("the entry", lambda: "Documents folder: set to denied in Folder Access" in c.guard_entries())
    check("Documents folder: set to allowed in Folder Access" not in c.guard_entries(), "the mnemonic clicked Allow")
    listed = c.consent("list")
    check(re.search(r"^documents\s+denied", listed, re.M), "the answer was not stored: %r" % listed)
    c.xdotool("key", "--clearmodifiers", "Escape")
    c.consent("allow", "downloads")  # the same record, made from a terminal
    c.wait_for("the tool's entry", lambda: "Downloads folder: set to allowed with pellim-consent" in c.guard_entries())


class RootProperty:
    """A property of the X root window, set for one case and removed with its helpers."""

    def __init__(self, env, name, value):
        self.env, self.name = env, name
        check(run(["xprop", "-root", "-f", name, "8s", "-set", name, value], env=env).returncode == 0,
              "cannot set " + name)

    def terminate(self):
        run(["xprop", "-root", "-remove", self.name], env=self.env)

    def wait(self):
        pass


def plant_bus(c):
    """A session without an accessibility bus, whose X root window names one: a socket the case
    listens on, as Pellim could have made and named."""
    config = os.path.join(c.root, "bare-bus.conf")
    with open(config, "w") as f:
        f.write('<busconfig><type>session</type><listen>unix:tmpdir=%s</listen><policy context="default">'
                '<allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy></busconfig>\n' % c.root)
    bus = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    c.helpers.append(bus)
    c.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    c.env.pop("AT_SPI_BUS_ADDRESS", None)
    c.planted = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    c.planted.bind(c.root + "/planted-bus")
    c.planted.listen(8)
    c.planted.setblocking(False)
    c.helpers.append(RootProperty(c.env, "AT_SPI_BUS", "unix:path=" + c.root + "/planted-bus"))


def planted_bus(c):
    """The guard shows Folder Access without joining the bus the display names; with no accessibility
    bus in the session, Pellim's connection to its proxy's is no error."""
    def joined():
        with contextlib.suppress(BlockingIOError):
            return bool(c.planted.accept())
        return False

    c.press("alt+w")
    c.xdotool("key", "--clearmodifiers", "f")
    try:
        wid = c.wait_for("Folder Access", lambda: next(
            (w for pid in c.guard_pids() for w in c.xdotool("search", "--onlyvisible", "--pid", str(pid),
                                                             "--name", "^Folder Access$").split()), None))
        time.sleep(1)  # Qt's accessibility connects as its application starts
    finally:
        check(not joined(), "the guard connected to the bus the root window names")
    refused = [t for t in c.guard_entries() if "refused Pellim a connection" in t]
    check(not refused, "entries: %r" % refused)
    c.xdotool("windowactivate", "--sync", wid)
    c.xdotool("key", "--clearmodifiers", "Escape")


def fallback(c):
    """Where the kernel cannot confine, Pellim guards in its own process and says so."""
    c.wait_for("the fallback line", lambda: "Folder guard: checks in Pellim only (the kernel has no Landlock)" + X11_PART
               in c.guard_entries())
    check(not c.guard_pids(), "a guard process without confinement")
    writing(c, "ctrl+3", folder=c.docs, answer=c.allow)  # still asked, in Pellim's own process


def settings_rewritten(c):
    """Documents, kept out at one start, stays guarded at the next though the settings file
    names a decoy by then: the guard recorded it. (From inside Pellim the file cannot be
    written at all; here another program rewrites it between the runs.)"""
    c.consent("deny", "documents")
    c.end()
    os.makedirs(c.home + "/Decoy")
    with open(c.home + "/.config/user-dirs.dirs", "w") as f:
        f.write('XDG_DOCUMENTS_DIR="$HOME/Decoy"\n')
    make_file(c.docs + "/secret.txt")
    c.start()
    c.xdotool("key", "--clearmodifiers", "alt+p", "ctrl+a")  # Protected folder: the real Documents
    c.xdotool("type", "--clearmodifiers", "--delay", "15", c.docs + "/")
    c.press("ctrl+5")
    c.expect(("6", "trying to list files in " + c.docs), ("3", "couldn't get contents of " + c.docs))
    check(any(t.startswith("Documents folder, list access to %s" % c.docs) and t.endswith("stored: denied")
              for t in c.guard_entries()), "the guard did not decide: %r" % c.guard_entries())
    check(re.search(r"^documents\s+denied\s+%s \(guarded before" % re.escape(c.docs), c.consent("list"), re.M),
          "pellim-consent does not list the recorded folder")


def german(c):
    """Under LANG=de_DE.UTF-8 the windows speak German (the help, the guard's question and its
    buttons), and the journal entries, Pellim's and the guard's, read as in English."""
    before = c.windows()
    c.press("F1")
    c.new_window("the help window", before, "Pellim-Hilfe")
    save_consent(c)
    check(guard_line() in c.guard_entries(), "the guard's line: %r" % c.guard_entries())


def plant_hostile_home(c):
    """What a hostile earlier run could have left: a GTK module named in GTK's settings, a font
    configuration that names Documents, and a stored deny for Documents."""
    c.marker = c.home + "/marker-module.so"
    shutil.copy(glob.glob("/usr/lib/*/libz.so.1")[0], c.marker)  # any library: only its name is looked for
    for path, text in (("/.config/gtk-3.0/settings.ini", "[Settings]\ngtk-modules=%s\n" % c.marker),
                       ("/.config/fontconfig/fonts.conf", '<?xml version="1.0"?>\n<fontconfig><dir>%s</dir>'
                                                          '</fontconfig>\n' % c.docs)):
        os.makedirs(os.path.dirname(c.home + path), exist_ok=True)
        with open(c.home + path, "w") as f:
            f.write(text)
    shutil.copy(run(["fc-match", "-f", "%{file}", "sans"]).stdout, c.docs)  # a font for a scan to find
    c.env.update(XDG_CURRENT_DESKTOP="GNOME", GTK_MODULES=c.marker, LD_LIBRARY_PATH=c.home + "/lib")
    c.consent("deny", "documents")
    probe_inside(c)


def guard_opened(c, trace):
    """What the guard process tried to open for itself (strace -f -y lines), in the places the person
    may write; not what it opened for Pellim in the guarded folders."""
    guard = c.guard_pids()[0]
    tids = {int(t) for t in os.listdir("/proc/%d/task" % guard)}
    call = re.compile(r'^(\d+) +(?:open|openat|openat2)\((?:[A-Z_]+)?(?:<([^>]*)>)?[^"]*"((?:[^"\\]|\\.)*)"')
    paths = set()
    with open(trace) as f:
        for line in f:
            if not (m := call.match(line)) or int(m.group(1)) not in tids:
                continue
            name = m.group(3).encode().decode("unicode_escape").encode("latin-1").decode("utf-8", "replace")
            path = os.path.normpath(os.path.join(m.group(2) or "/", name))
            if path.startswith(c.root + "/") and not any(path.startswith(d + "/") for d in
                                                          (c.docs, c.downloads, c.home + "/Desktop", c.probe_dir)):
                paths.add(path)
    return sorted(paths)


def hostile_home(c):
    """The guard shows its prompt, a dialog and Folder Access; it loads no module and scans no
    folder the person's settings name: no font cache holds Documents."""
    c.xdotool("key", "--clearmodifiers", "alt+p", "ctrl+a")  # Protected folder: Downloads, not decided
    c.xdotool("type", "--clearmodifiers", "--delay", "15", c.downloads + "/")
    writing(c, "ctrl+3", folder=c.downloads, answer=c.allow)  # the prompt
    writing(c, "ctrl+1", path=c.downloads + "/typed.txt")  # a dialog
    c.press("alt+w")
    c.xdotool("key", "--clearmodifiers", "f")
    c.wait_for("Folder Access", lambda: any(c.xdotool("search", "--onlyvisible", "--pid", str(pid), "--name",
                                                      "^Folder Access$") for pid in c.guard_pids()))
    guard = c.guard_pids()[0]
    with open("/proc/%d/maps" % guard) as f:
        check(c.marker not in f.read(), "the guard loaded the marker module")
    # A scan writes its cache to the first of these it may write (the system's, for root).
    for caches in (c.home + "/.cache/fontconfig", "/var/cache/fontconfig"):
        for name in os.listdir(caches) if os.path.isdir(caches) else []:
            with open(os.path.join(caches, name), "rb") as f:
                check(c.docs.encode() not in f.read(), "a font cache lists Documents: " + name)
    # Nothing the guard opened (or looked for) while it showed them can the confined Pellim write,
    # replace or make.
    opened = guard_opened(c, c.suite["root"] + "/hostile_home.trace")
    check(any(p.endswith("/.config/user-dirs.dirs") for p in opened), "no trace of the guard: %r" % opened)
    could = ask_inside(c, {"mode": "writable", "paths": opened})["could"]
    check(not could, "the confined Pellim can change what the guard reads: %r" % could)
    c.xdotool("key", "--clearmodifiers", "Escape")


def probe_inside(c):
    """The probe plugin in Pellim: it starts a client inside the confined Pellim, which `ask_inside` asks."""
    c.probe_dir = c.root + "/probe"
    os.makedirs(c.probe_dir)
    plugins = os.environ.get("PELLIM_PROBE_PLUGINS") or os.path.join(c.suite["build"], "tests", "probe-plugins")
    check(os.path.exists(plugins + "/styles/pellimprobe.so"), "no probe plugin in " + plugins)
    c.env.update(QT_PLUGIN_PATH=plugins,
                 QT_STYLE_OVERRIDE="pellimprobe", PELLIM_PROBE="/usr/bin/python3 %s inside %s" % (PROBE, c.probe_dir))


def ask_inside(c, request):
    """What the client inside the confined Pellim got for `request`."""
    with open(c.probe_dir + "/request.part", "w") as f:
        json.dump(request, f)
    os.rename(c.probe_dir + "/request.part", c.probe_dir + "/request.json")
    answer = c.probe_dir + "/answer.json"
    c.wait_for("the client inside", lambda: os.path.exists(answer), seconds=60)
    with open(answer) as f:
        return json.load(f)


def assistive(c):
    """Over the accessibility bus, a screen reader outside Pellim sets Pellim's field and presses the guard's
    Allow; a client started inside the confined Pellim, on Pellim's buses, sees no application, presses nothing,
    starts no service and cannot reach the session's own bus."""
    got = run(["/usr/bin/python3", PROBE, "set", "Protected folder", c.downloads + "/"], env=c.env)
    check(got.returncode == 0 and got.stdout.strip() == c.downloads + "/", "setting the field: %r" % (got,))

    def answer(wid):
        inside = ask_inside(c, {"mode": "doors", "real bus": c.env["DBUS_SESSION_BUS_ADDRESS"]})
        check(not inside["pressed"] and not inside["applications"] and inside["real bus"] == "Permission denied"
              and inside["activation"] != "started", "from inside Pellim: %r" % inside)
        check(wid in c.windows(), "the prompt was answered from inside Pellim")
        # In the guard's application: Pellim, its call held, answers no one until the prompt is answered.
        guards = [str(pid) for pid in c.guard_pids()]
        check(run(["/usr/bin/python3", PROBE, "press", "Allow", *guards], env=c.env).returncode == 0,
              "the client outside could not press Allow")

    writing(c, "ctrl+3", folder=c.downloads, answer=answer)
    check(re.search(r"^downloads\s+allowed", c.consent("list"), re.M), "the answer was not stored")


def open_with_dialog(c):
    path = make_file(c.docs + "/notes 100% %n.txt")
    reading(c, "ctrl+4", path, typed=path)
    check(any(t.startswith("Folder guard: the Open dialog is Qt's (") for t in c.guard_entries()),
          "the guard did not say whose dialog it showed: %r" % c.guard_entries())
    # What the guard granted is seen from outside it while Pellim runs.
    listed = c.consent("list")
    check("  Chosen in a dialog, open until Pellim quits: " + path + "\n" in listed, "not listed: %r" % listed)


def open_consent(c):
    c.consent("allow", "documents")
    reading(c, "ctrl+5", make_file(c.docs + "/only.txt"), folder=c.docs)  # a question would stall it


def documents_made_later(c):
    """Documents made by the person while Pellim runs is guarded by its name: a stored deny holds."""
    c.consent("deny", "documents")
    make_file(c.docs + "/letter.txt")
    refused_read(c)


def refused_read(c):
    """Open from the protected folder under a stored deny: the listing is refused by the guard."""
    c.press("ctrl+5")
    c.expect(("6", "trying to list files in " + encoded(c.docs)), ("3", "couldn't get contents of " + encoded(c.docs)))
    check(any(t.startswith("Documents folder, ") and t.endswith("stored: denied") for t in c.guard_entries()),
          "no refusal from the guard: %r" % c.guard_entries())


def unlistable_parent(c):
    """A home whose parent the person cannot list (0711 on a shared machine, 0311 here) starts
    confined, and a stored deny holds. Root lists every folder: this bites as an ordinary user."""
    try:
        c.wait_for("the guard's line", lambda: guard_line() in c.guard_entries())
        c.consent("deny", "documents")
        make_file(c.docs + "/letter.txt")
        refused_read(c)
    finally:
        os.chmod(c.root, 0o700)


def open_from_chosen_folder(c):
    folder = c.root + "/picked folder"
    reading(c, "ctrl+6", make_file(folder + "/a.txt"), typed=folder, folder=folder)


# The GTK chooser opens on its recent files, where a typed path only searches: Home first, then the
# location field. A folder is chosen with the Return that follows its path and closing slash.
TO_LOCATION = ("alt+Home", "ctrl+l")


def chooser(c, dialog):
    check("Folder guard: the %s is the desktop's file chooser (portal)" % dialog in c.guard_entries(),
          "not the portal's chooser: %r" % c.guard_entries())


def portal_open_under_deny(c):
    """A file chosen in Documents is read though Documents is denied: the choice is the grant."""
    c.consent("deny", "documents")
    path = make_file(c.docs + "/notes 100% %n.txt")
    reading(c, "ctrl+4", path, typed=path, before_typing=TO_LOCATION)
    chooser(c, "Open dialog")
    check(any(t.startswith("Documents folder, read access to %s" % path) and t.endswith("chosen in a dialog")
              for t in c.guard_entries()), "not granted by the choice: %r" % c.guard_entries())


def portal_save(c):
    writing(c, "ctrl+1", path=c.docs + "/portal note.txt")  # the name field has the focus
    chooser(c, "Save dialog")


def portal_folders(c):
    """Both folder tests: a fresh file saved into Downloads, a file read from a chosen folder."""
    writing(c, "ctrl+2", folder=c.downloads, before_typing=TO_LOCATION)
    folder = c.root + "/picked folder"
    reading(c, "ctrl+6", make_file(folder + "/a.txt"), typed=folder + "/", folder=folder,
            before_typing=TO_LOCATION)
    chooser(c, "folder dialog")


def portal_name_not_utf8(c):
    """A name that is not UTF-8, picked in the chooser's list, is read byte for byte."""
    path = c.docs.encode() + b"/n\xff.txt"
    with open(path, "wb") as f:
        f.write(b"A name of bytes.\n")
    c.press("ctrl+4")
    wid = c.new_window("the chooser", set(), "Pellim: choose a text file to read")
    for key in TO_LOCATION:
        c.xdotool("key", "--clearmodifiers", key)
        time.sleep(0.2)
    c.xdotool("type", "--clearmodifiers", "--delay", "15", c.docs + "/")
    time.sleep(0.5)
    # Delete drops the name the field completed (the one file, as the chooser shows it, which names
    # nothing); Return opens the folder with its one file selected, and the next Return picks it.
    c.xdotool("key", "--clearmodifiers", "Delete", "Return")
    time.sleep(0.8)
    c.xdotool("key", "--clearmodifiers", "Return")
    c.wait_for("the chooser to close", lambda: wid not in c.windows())
    c.expect(("6", "trying to read from: " + encoded(path)), ("6", "read from: " + encoded(path)))


def portal_cancelled_save(c):
    """Cancel, and then Escape, end the test as with Qt's dialog: no entry of Pellim's, one of the
    guard's naming what the person did."""
    for keys, how in (("alt+c", "cancelled (response 1)"),  # the chooser's Cancel
                      ("Escape", "closed with Escape or the window's close button (response 2)")):
        c.press("ctrl+1")
        wid = c.new_window("the chooser", set(), "Pellim: choose where to save the test file")
        parent = run(["xprop", "-id", wid, "WM_TRANSIENT_FOR"], env=c.env).stdout.rpartition(" ")[2]
        check(parent.startswith("0x") and int(parent, 16) == int(c.main_window), "transient for %r" % parent)
        c.xdotool("key", "--clearmodifiers", keys)
        c.wait_for("the chooser to close", lambda: wid not in c.windows())
        c.wait_for("the guard's entry", lambda: "Folder guard: the Save dialog ended without a choice: "
                   + how in c.guard_entries())
    c.expect()


def portal_gone(c):
    """A portal that leaves the bus mid-dialog ends the test, and says so; the next dialog comes
    from the portal the bus starts again."""
    c.press("ctrl+1")
    wid = c.new_window("the chooser", set(), "Pellim: choose where to save the test file")
    os.kill(c.suite["portal_pid"](), signal.SIGTERM)
    c.wait_for("the guard's entry", lambda: "Folder guard: the Save dialog ended without a choice: the file "
               "chooser portal left the session bus" in c.guard_entries())
    c.xdotool("windowactivate", "--sync", wid)
    c.xdotool("key", "--clearmodifiers", "Escape", "Escape")  # the back-end's window outlives its portal
    c.expect()
    writing(c, "ctrl+1", path=c.docs + "/after.txt")


def portal_stalled(c):
    """A portal that does not answer within 3 s: Qt's dialog comes, and the entry says why."""
    portal = c.suite["portal_pid"]()
    os.kill(portal, signal.SIGSTOP)
    try:
        writing(c, "ctrl+1", path=c.docs + "/qt.txt")
    finally:
        os.kill(portal, signal.SIGCONT)
    check("Folder guard: the Save dialog is Qt's (the file chooser portal did not answer within 3 s)"
          in c.guard_entries(), "the guard did not say why: %r" % c.guard_entries())


# --- guard_run: other programs under pellim-guard ------------------------------------------------------

NOTE = "A short note for the reading tests.\nIts second line.\n"  # what make_file writes


class GuardCase(Case):
    """A home of its own, as for pellim, where the case runs other programs under `pellim-guard run`."""

    def start(self, wrapper=()):
        self.proc, self.started_us = None, int(time.time() * 1e6)  # no pellim

    def started(self, *argv, env=None, stdin=subprocess.DEVNULL):
        """pellim-guard with `argv`, in a process group of its own: a program left waiting on a question is
        ended with it, and its question does not outlive the case."""
        p = subprocess.Popen([self.suite["guard_bin"], *argv], env=env or self.env, cwd=self.root,
                             stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             start_new_session=True)
        self.helpers.append(ProcessGroup(p))
        return p

    def guarded(self, *argv, env=None):
        p = self.started(*argv, env=env)
        try:
            out, err = p.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s still ran after 20 s, with %d question(s) shown" % (
                " ".join(argv), len(self.windows()))) from None
        return subprocess.CompletedProcess(p.args, p.returncode, out, err)

    def windows(self):  # the suite's display shows only what this case's guard shows
        return set(self.xdotool("search", "--onlyvisible", "--name", ".").split())

    def program_entries(self, command):
        """The guard's entries since the case began for `command`, by its key: its file, found as execvp does."""
        program = os.path.realpath(shutil.which(command, path=self.env["PATH"]) or command)
        out = run(["journalctl", "-o", "json", "SUBSYSTEM=" + GUARD_ID, "PELLIM_PROGRAM=" + program]).stdout
        return [bytes(m).decode("utf-8", "replace") if isinstance(m := e["MESSAGE"], list) else m
                for e in map(json.loads, out.splitlines()) if int(e["__REALTIME_TIMESTAMP"]) >= self.started_us]


class ProcessGroup:
    """Ends a process's whole group, as the case's helpers are ended."""

    def __init__(self, p):
        self.p = p

    def terminate(self):
        with contextlib.suppress(ProcessLookupError):
            os.killpg(self.p.pid, signal.SIGKILL)

    def wait(self):
        self.p.wait()


def refused(got, what):
    check(got.returncode != 0 and "Operation not permitted" in got.stderr and NOTE not in got.stdout,
          "%s was not refused: status %d, %r" % (what, got.returncode, got.stderr))


def denied_entry(c, command, shown, path):
    """The guard's refusal of `path` is `command`'s (its field) and names it as `shown` (its message)."""
    texts = c.wait_for("the guard's entry", lambda: [t for t in c.program_entries(command) if path in t])
    check(any(t.startswith(shown + ": Documents folder, read access to " + path) and t.endswith("stored: denied")
              for t in texts), "entries of %s: %r" % (command, texts))


# x86-64's openat, made around the preloaded library: Landlock's refusal stands, unasked.
RAW_OPEN = """import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
fd = libc.syscall(ctypes.c_long(257), ctypes.c_int(-100), sys.argv[1].encode(), ctypes.c_int(os.O_WRONLY | os.O_TRUNC))
sys.exit(os.strerror(ctypes.get_errno()) if fd < 0 else "opened")"""


def refused_for_sh(c):
    """Under sh's deny its read and its write in Documents are refused by the guard, and an openat made around
    the preloaded library by Landlock, unasked; the file stays as it was."""
    secret = make_file(c.docs + "/secret.txt")
    c.consent("deny", "--program", "sh", "documents")
    refused(c.guarded("run", "--", "sh", "-c", "cat ~/Documents/secret.txt"), "sh's cat")
    for row, script, error in (("write", 'echo changed > "$1"', "Operation not permitted"),
                               ("raw openat", 'exec /usr/bin/python3 -I -c "$RAW" "$1"', "Permission denied")):
        got = c.guarded("run", "--", "sh", "-c", script, "sh", secret, env=dict(c.env, RAW=RAW_OPEN))
        check(got.returncode != 0 and error in got.stderr, "%s: status %d, %r" % (row, got.returncode, got.stderr))
    check(open(secret).read() == NOTE, "the file was changed under a deny")
    denied_entry(c, "sh", "sh", secret)


def allow_is_per_program(c):
    """An allow stored for cat opens Documents to cat alone; a script's cat is confined too, and answered as
    the script."""
    secret = make_file(c.docs + "/secret.txt")
    script = c.root + "/show-notes"
    with open(script, "w") as f:
        f.write('#!/bin/sh\ncat "$1"\nstatus=$?\necho "cat ended with $status" >&2\nexit $status\n')
    os.chmod(script, 0o755)
    for program, answer in (("cat", "allow"), ("sh", "deny"), (script, "deny")):
        c.consent(answer, "--program", program, "documents")
    got = c.guarded("run", "--", "cat", secret)
    check(got.returncode == 0 and got.stdout == NOTE, "cat under its allow: %r" % (got,))
    refused(c.guarded("run", "--", "sh", "-c", 'head -n 1 "$1"', "sh", secret), "sh's head")
    got = c.guarded("run", "--", script, secret)
    refused(got, "the script's cat")
    check("cat ended with 1" in got.stderr, "the script did not go on after cat: %r" % got.stderr)
    denied_entry(c, script, "show-notes", secret)


def allowed_entry(c, command, access, path):
    texts = c.wait_for("the guard's entry", lambda: [t for t in c.program_entries(command) if path in t])
    check(any(t.endswith("Documents folder, %s access to %s: stored: allowed" % (access, path)) for t in texts),
          "entries of %s: %r" % (command, texts))


# Lists a folder (opendir), writes a new file in it, and runs cat on another through subprocess.
LIST_WRITE_RUN = """import os, subprocess, sys
folder, made, note = sys.argv[1:]
print(os.listdir(folder))
open(made, "w").write("made")
print(subprocess.run(["cat", note], stdout=subprocess.PIPE, text=True).stdout, end="")"""


def asked_through_library(c):
    """Calls that Landlock refuses are asked about through the preloaded library, with the entries a held call
    had: cat reads; Python lists Documents, writes a new file there and runs cat, which is asked as Python."""
    secret, made = make_file(c.docs + "/secret.txt"), c.docs + "/made.txt"
    for program in ("cat", "/usr/bin/python3"):
        c.consent("allow", "--program", program, "documents")
    got = c.guarded("run", "--", "cat", secret)
    check(got.returncode == 0 and got.stdout == NOTE, "cat: %r" % (got,))
    got = c.guarded("run", "--", "/usr/bin/python3", "-I", "-c", LIST_WRITE_RUN, c.docs, made, secret)
    check(got.returncode == 0 and got.stdout == "['secret.txt']\n" + NOTE, "Python: %r" % (got,))
    check(open(made).read() == "made", "Python's new file does not hold what it wrote")
    for command, access, path in (("cat", "read", secret), ("/usr/bin/python3", "list", c.docs),
                                  ("/usr/bin/python3", "write", made), ("/usr/bin/python3", "read", secret)):
        allowed_entry(c, command, access, path)


def static_refused_unasked(c):
    """A statically linked program has no preloaded library: Landlock refuses its read and its write in
    Documents unasked, with no answer stored (no question is shown) and under an allow alike."""
    secret, made = make_file(c.docs + "/secret.txt"), c.docs + "/made.txt"
    for answer in (None, "allow"):
        if answer:
            c.consent(answer, "--program", c.suite["static_probe"], "documents")
        got = c.guarded("run", "--", c.suite["static_probe"], secret, made)
        check(got.stdout == "read: Permission denied\nwrite: Permission denied\n" and not c.windows(),
              "%s: status %d, printed %r" % (answer or "unanswered", got.returncode, got.stdout))
    check(not os.path.exists(made), "the static program made a file in Documents")
    check(not [t for t in c.program_entries(c.suite["static_probe"]) if secret in t], "the guard was asked")


def moved_in_ends_program(c):
    """A folder of the home has a Landlock rule of its own, which goes with it: moved into Desktop while a
    program runs with its opens left to Landlock, it would be open to the program there, unasked. The guard
    ends the program as the folder arrives, says so, and nothing of it is read; a move elsewhere in the home
    changes nothing."""
    notes = make_file(c.home + "/Notes/notes.txt")
    script = 'echo ready; read line; cat "$1" || echo refused'
    for target, ended in ((c.home + "/Desktop/Notes", True), (c.home + "/Kept", False)):
        p = c.started("run", "--", "sh", "-c", script, "sh", target + "/notes.txt", stdin=subprocess.PIPE)
        check(p.stdout.readline() == "ready\n", "the program did not start")
        os.rename(os.path.dirname(notes), target)
        time.sleep(0.5)  # the guard hears of the move from inotify, not from the program
        out, err = p.communicate("go\n", timeout=20)  # a pipe closed by then is ignored
        os.rename(target, os.path.dirname(notes))
        if ended:
            check(p.returncode == -signal.SIGKILL and "short note" not in out and
                  "moved into a guarded folder" in err, "into Desktop: %d, %r, %r" % (p.returncode, out, err))
        else:
            check(p.returncode == 0 and "A short note" in out, "within the home: %d, %r" % (p.returncode, out))
    check([t for t in c.program_entries("sh") if "was moved into a guarded folder" in t],
          "no entry says why sh was stopped")


def on_terminal(c, script):
    """`sh -c script` under the guard as a shell starts it, on a terminal; once it says "ready", Ctrl+C is
    typed there, which signals the terminal's foreground process group. The guard's wait status."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.chdir(c.root)
            os.execve(c.suite["guard_bin"], [c.suite["guard_bin"], "run", "--", "sh", "-c", script], c.env)
        finally:
            os._exit(127)
    output, status, end = b"", None, time.monotonic() + 20
    try:
        with contextlib.suppress(OSError):  # EIO: every process that held the terminal has ended
            while time.monotonic() < end:
                if select.select([fd], [], [], 0.2)[0]:
                    if not (chunk := os.read(fd, 4096)):
                        break
                    if b"ready" in chunk:
                        os.write(fd, b"\x03")
                    output += chunk
        while status is None and time.monotonic() < end + 10:
            done, wait_status = os.waitpid(pid, os.WNOHANG)
            status = wait_status if done else time.sleep(0.1)
        check(status is not None, "the guard did not end after Ctrl+C: %r" % output)
        return status
    finally:
        if status is None:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
        os.close(fd)


def ctrl_c(c):
    """Ctrl+C reaches the program, not the guard: one that traps it ends as it chooses, and the guard with its
    status; one that does not is ended by it, and the guard by the same signal."""
    status = on_terminal(c, 'trap "exit 42" INT; echo ready; while :; do sleep 0.1; done')
    check(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 42, "trapped: wait status %#x" % status)
    status = on_terminal(c, "echo ready; sleep 20")
    check(os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGINT, "untrapped: wait status %#x" % status)


def exit_statuses(c):
    """The program's status is the guard's; its own are env's (126, 127) and a usage error's. The last rows
    run without a display: a question that cannot be shown is no answer, and the guard goes on."""
    plain = make_file(c.root + "/plain.txt")
    secret = make_file(c.docs + "/secret.txt")
    headless = {k: v for k, v in c.env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    for argv, want, env in ((["run", "--", "true"], 0, None), (["run", "--", "sh", "-c", "exit 3"], 3, None),
                            (["run", "--", "pellim-no-such-program"], 127, None), (["run", "--", plain], 126, None),
                            (["--version"], 0, headless), (["--no-such-option"], 2, headless),
                            (["run", "--", "cat", secret], 1, headless)):
        got = c.guarded(*argv, env=env)
        check(got.returncode == want, "%s: status %d, not %d: %r" % (argv, got.returncode, want, got.stderr))
    check(c.guarded("--version", env=headless).stdout.startswith("pellim-guard "), "no version")


def git_settings(c):
    """git's change to ~/.gitconfig fails under a stored deny and is made under an allow; a repository in a
    folder of the person's own needs no question (none could be answered here: it would stall)."""
    gitconfig = c.home + "/.gitconfig"
    c.consent("deny", "--program", "git", gitconfig)
    refused(c.guarded("run", "--", "git", "config", "--global", "x.y", "z"), "git config under a deny")
    check(not os.path.exists(gitconfig), "~/.gitconfig was written under a deny")
    c.consent("allow", "--program", "git", gitconfig)
    got = c.guarded("run", "--", "git", "config", "--global", "x.y", "z")
    check(got.returncode == 0 and "[x]\n\ty = z\n" in open(gitconfig).read(), "under an allow: %r" % (got,))
    got = c.guarded("run", "--", "git", "init", "-q", c.home + "/Reports/repo")
    check(got.returncode == 0 and os.path.isfile(c.home + "/Reports/repo/.git/HEAD"), "git init: %r" % (got,))


def git_asked_once(c):
    """The first change to ~/.gitconfig asks; the answer is kept, and the next change asks nothing."""
    first = c.started("run", "--", "git", "config", "--global", "x.y", "z")
    wid = c.new_window("the question", set())
    for _ in range(3):  # as for pellim's prompt: the key may come before the window takes it
        c.xdotool("key", "--clearmodifiers", c.allow)
        with contextlib.suppress(AssertionError):
            c.wait_for("the question to close", lambda: wid not in c.windows(), seconds=5)
            break
    c.wait_for("git config to end after Allow, not a second question", lambda: first.poll() is not None, 20)
    check(first.returncode == 0, "git config after Allow: %r" % first.stderr.read())
    got = c.guarded("run", "--", "git", "config", "--global", "x.y", "w")
    check(got.returncode == 0 and not c.windows(), "the second change: %r" % (got,))
    check("\ty = w\n" in open(c.home + "/.gitconfig").read(), "~/.gitconfig does not hold the second value")
    listed = c.consent("list", "--program", "git").splitlines()
    check(any(".gitconfig" in line and "allowed" in line for line in listed), "not listed: %r" % listed)


# --- portal_run: programs' own file dialogs, through the guard's portal on their session bus ------------------

GTK_CHOOSER = os.path.join(SOURCE_DIR, "tests", "e2e", "gtk_chooser.py")
# A request as a program sends it, its arguments in GVariant's text form; prints the code of its Response.
REQUEST = """import sys
from gi.repository import Gio, GLib
bus, loop, got = Gio.bus_get_sync(Gio.BusType.SESSION), GLib.MainLoop(), []
bus.signal_subscribe(None, "org.freedesktop.portal.Request", "Response", None, None, 0,
                     lambda *a: (got.append(a[5][0]), loop.quit()))
bus.call_sync("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.portal.FileChooser",
              "OpenFile", GLib.Variant.parse(GLib.VariantType("(ssa{sv})"), sys.argv[1]), None, 0, 5000, None)
GLib.timeout_add_seconds(10, loop.quit)
loop.run()
print(got)"""


def toolkit_program(c, toolkit):
    """The program of `toolkit` (its answer for Documents stored as denied), and what sends its dialog to the
    portal."""
    program, env = {"gtk": (GTK_CHOOSER, dict(c.env, GTK_USE_PORTAL="1")),
                    "qt": (c.suite["qt_chooser"], dict(c.env, QT_QPA_PLATFORMTHEME="xdgdesktopportal"))}[toolkit]
    c.consent("deny", "--program", program, "documents")
    if toolkit == "qt":  # Qt's dialog keeps its last folder in ~/.config/QtProject.conf: not asked, not kept
        c.consent("deny", "--program", program, c.home + "/.config")
    return program, env


def pick(c, toolkit, path, *args):
    """The toolkit's program under the guard, `path` picked in the dialog the guard shows for it (None: Escape
    pressed there); the program, running (--wait in `args`) or ended, and its file."""
    program, env = toolkit_program(c, toolkit)
    p = c.started("run", "--", program, *args, env=env, stdin=subprocess.PIPE)
    try:
        wid = c.wait_for("the dialog", lambda: next(iter(c.windows()), None) or p.poll() is not None)
    except AssertionError:
        raise AssertionError("no dialog; the program's entries: %r" % c.program_entries(program)) from None
    if p.poll() is not None:
        raise AssertionError("the program ended without a dialog: %r" % (p.communicate(timeout=5),))
    c.xdotool("windowactivate", "--sync", wid)
    owner = int(c.xdotool("getwindowpid", wid) or 0)
    check(owner in children(p.pid), "%r is not the guard's: its toolkit did not ask the portal"
          % c.xdotool("getwindowname", wid))
    c.answer(wid, None if path else "Escape", path)
    return p, program


def picked_under_deny(c, toolkit):
    """The file picked in the guard's dialog is read under a deny and asked about nowhere; the grant is the
    program's alone: cat, run under the guard after it, is refused. (Qt 6.4 names no parent window as "x11:0".)"""
    note = make_file(c.docs + "/note.txt")
    p, program = pick(c, toolkit, note)
    out, err = p.communicate(timeout=20)
    check(p.returncode == 0 and out == NOTE, "the program printed %r: %r" % (out, err[-400:]))
    check(not c.windows(), "a question was shown")
    texts = c.wait_for("the grant's entry", lambda: [t for t in c.program_entries(program) if note in t])
    shown = os.path.basename(program) + ": Documents folder, read access to " + note
    check(any(t.startswith(shown) and t.endswith("chosen in a dialog") for t in texts), "entries: %r" % texts)
    c.consent("deny", "--program", "cat", "documents")
    refused(c.guarded("run", "--", "cat", note), "cat after the pick")


def cancel_grants_nothing(c):
    """Escape in the guard's dialog grants nothing: the program's own read is refused. (GTK 3 reads the `uris`
    of every Response, a cancelled one's too: without them the program crashes.)"""
    note = make_file(c.docs + "/note.txt")
    p, _ = pick(c, "gtk", None, note)
    out, err = p.communicate(timeout=20)
    check(out == "cancelled\ncould not read %s: Operation not permitted\n" % note,
          "status %d, printed %r: %r" % (p.returncode, out, err))


def listed_while_running(c):
    """pellim-consent lists the grant while the program runs (it waits for its input to close), and no more once
    it has quit."""
    note = make_file(c.docs + "/note.txt")
    p, program = pick(c, "gtk", note, "--wait")
    line = "  Chosen in a dialog, open until %s quits: %s\n" % (os.path.basename(program), note)
    c.wait_for("the grant to be listed", lambda: line in c.consent("list"))
    out, err = p.communicate("", timeout=20)
    check(p.returncode == 0 and out == NOTE + "waiting\n", "the program printed %r: %r" % (out, err[-400:]))
    c.wait_for("the grant to go", lambda: line not in c.consent("list"))


MALFORMED = [("folder not absolute", "('', 'Open', {'current_folder': <b'Documents'>})"),
             ("parent not a window", "('x11:not-a-window', 'Open', {})"),
             ("filter of no type", "('', 'Open', {'filters': <[('Text', [(uint32 7, '*.txt')])]>})")]


def malformed_requests(c):
    """Each malformed request is answered with response 2 and an entry, and shows nothing."""
    def refusals():
        return [t for t in c.program_entries("/usr/bin/python3") if "file dialog request" in t]

    for row, request in MALFORMED:
        before = len(refusals())
        got = c.guarded("run", "--", "/usr/bin/python3", "-I", "-c", REQUEST, request)
        check(got.stdout == "[2]\n" and not c.windows(), "%s: %r, %r" % (row, got.stdout, got.stderr[-400:]))
        c.wait_for(row + ": its entry", lambda: len(refusals()) > before)


# A space, a percent sign and a format directive in names: escaped in the entries, plain on disk.
SUITES = {
    "launch": [("start_then_quit", start_then_quit), ("close_window", close_window), ("guard_killed", guard_killed),
               ("pellim_killed", pellim_killed), ("fallback", fallback), ("folder_access", folder_access),
               ("german", german), ("planted_bus", planted_bus), ("bus_stopped", bus_stopped)],
    "writing": [("save_with_dialog", lambda c: writing(c, "ctrl+1", path=c.docs + "/e2e note 100% %s.txt")),
                ("save_into_chosen_folder", lambda c: writing(c, "ctrl+2", folder=c.downloads)),
                ("save_consent", save_consent), ("forged_answer", forged_answer), ("hostile_home", hostile_home),
                ("assistive", assistive)],
    "reading": [("open_with_dialog", open_with_dialog), ("open_consent", open_consent),
                ("open_from_chosen_folder", open_from_chosen_folder), ("settings_rewritten", settings_rewritten),
                ("documents_made_later", documents_made_later), ("unlistable_parent", unlistable_parent)],
    "portal": [("portal_open_under_deny", portal_open_under_deny), ("portal_save", portal_save),
               ("portal_folders", portal_folders), ("portal_name_not_utf8", portal_name_not_utf8),
               ("portal_cancelled_save", portal_cancelled_save),
               ("portal_gone", portal_gone), ("portal_stalled", portal_stalled)],
    "guard_run": [("refused_for_sh", refused_for_sh), ("allow_is_per_program", allow_is_per_program),
                  ("ctrl_c", ctrl_c), ("exit_statuses", exit_statuses),
                  ("git_settings", git_settings), ("git_asked_once", git_asked_once),
                  ("asked_through_library", asked_through_library), ("static_refused_unasked", static_refused_unasked),
                  ("moved_in_ends_program", moved_in_ends_program)],
    "portal_run": [("gtk_picked_under_deny", lambda c: picked_under_deny(c, "gtk")),
                   ("qt_picked_under_deny", lambda c: picked_under_deny(c, "qt")),
                   ("cancel_grants_nothing", cancel_grants_nothing), ("listed_while_running", listed_while_running),
                   ("malformed_requests", malformed_requests)]}


def new_case(suite, name, fn):
    wrapper = {fallback: [os.path.join(SOURCE_DIR, "scripts", "without-landlock")],
               # every file the guard opens, for the case to check (-D: pellim stays the case's child)
               hostile_home: ["strace", "-D", "-f", "-y", "-qq", "-e", "trace=open,openat,openat2",
                              "-o", suite["root"] + "/hostile_home.trace"]}.get(fn, ())
    return Case(suite, name, wrapper, "de_DE.UTF-8" if fn is german else "C.UTF-8",
                {hostile_home: plant_hostile_home, assistive: probe_inside, planted_bus: plant_bus,
                 documents_made_later: lambda c: shutil.rmtree(c.docs),
                 unlistable_parent: lambda c: os.chmod(c.root, 0o311)}.get(fn))


def run_case(suite, name, fn, make=new_case):
    """One case, in the Case `make` gives; a pellim it leaves running must then quit cleanly."""
    c = None
    try:
        c = make(suite, name, fn)
        fn(c)
        if c.proc and c.proc.poll() is None:
            c.end()
        print("PASS", name, flush=True)
        return True
    except Exception as e:  # noqa: BLE001 - each case reports and the next goes on
        print("FAIL %s: %s: %s" % (name, type(e).__name__, e), flush=True)
        try:
            with open(c.root + ".stderr", errors="replace") as said:
                print("  stderr of pellim and its guard:", said.read()[-2000:], flush=True)
        except (AttributeError, OSError):
            pass
        return False
    finally:
        if c and c.proc and c.proc.poll() is None:
            c.proc.kill()
            c.proc.wait()
        for p in c.helpers if c else []:
            p.terminate()
            p.wait()


def main(name, build_dir=os.path.join(SOURCE_DIR, "build")):
    build_dir = os.path.abspath(build_dir)  # the cases run in folders of their own
    suite = {"build": build_dir, "bin": os.environ.get("PELLIM_BIN") or os.path.join(build_dir, "pellim"),
             "consent_bin": os.environ.get("PELLIM_CONSENT_BIN") or os.path.join(build_dir, "pellim-consent"),
             "guard_bin": os.environ.get("PELLIM_GUARD_BIN") or os.path.join(build_dir, "pellim-guard"),
             "qt_chooser": os.environ.get("PELLIM_QT_CHOOSER") or os.path.join(build_dir, "tests", "qt_chooser"),
             "static_probe": os.environ.get("PELLIM_STATIC_PROBE") or os.path.join(build_dir, "tests", "static_probe")}
    print("e2e %s: pellim at %s" % (name, suite["bin"]), flush=True)
    if not all(os.access(suite[b], os.X_OK) for b in ("bin", "consent_bin", "guard_bin")):
        print("e2e %s: no pellim, pellim-guard or pellim-consent there" % name)
        return 1
    try:
        for tool in ("Xvfb", "openbox", "xdotool", "journalctl", "dbus-daemon", "/usr/bin/python3") + (
                ("dbus-daemon", "xprop", PORTAL, PORTAL_GTK) if name == "portal" else
                ("git", "sh", "cat", "head", suite["static_probe"]) if name == "guard_run" else
                (suite["qt_chooser"],) if name == "portal_run" else ("xprop",)):
            if not shutil.which(tool):
                raise Skip(tool + " is missing")
        if name == "portal_run" and not glob.glob("/usr/lib/*/qt6/plugins/platformthemes/libqxdgdesktopportal.so"):
            raise Skip("Qt's xdgdesktopportal theme is missing")
        if name == "portal_run" and run(["/usr/bin/python3", "-c", "import gi; gi.require_version('Gtk', '3.0')"]
                                        ).returncode:
            raise Skip("GTK 3 for Python is missing")
        if run([os.path.join(SOURCE_DIR, "scripts", "ensure-journald")]).returncode:
            raise Skip("no journal daemon listens")
        with contextlib.ExitStack() as stack:
            suite["root"] = stack.enter_context(tempfile.TemporaryDirectory(prefix="pellim-e2e-"))
            suite["display"] = stack.enter_context(display())
            if name == "portal":
                suite["bus"], chooser, suite["portal_pid"] = stack.enter_context(portal(suite["display"], suite["root"]))
                suite["chooser"] = [chooser]
            else:
                suite["bus"] = stack.enter_context(accessible_bus(suite["root"]))
            make = (lambda suite, case, fn: GuardCase(suite, case)) if name.endswith("_run") else new_case
            failed = [case for case, fn in SUITES[name] if not run_case(suite, case, fn, make)]
    except Skip as s:
        print("e2e %s: cannot run here: %s" % (name, s))
        return 1 if os.environ.get("CI") == "true" else 77
    print("e2e %s: %d of %d cases passed" % (name, len(SUITES[name]) - len(failed), len(SUITES[name])))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
