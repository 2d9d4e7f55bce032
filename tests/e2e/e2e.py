#!/usr/bin/env python3
"""Machinery for the end-to-end cases (cases.py SUITE [BUILD_DIR]): Xvfb with openbox,
the real journal daemon, keys sent with xdotool, and pellim's journal entries and
files read back, each case in a temporary home. PELLIM_BIN and PELLIM_CONSENT_BIN
override the binaries in BUILD_DIR. Exit 0: all passed, 1: a case failed, 77: the
suite cannot run here (reason printed), which under CI=true is a failure instead.
"""

import contextlib
import json
import os
import resource
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import traceback
import types
import uuid

CASE_SECONDS = 60  # no case may take longer; a hung pellim is killed
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
APP_ID, GUARD_ID = "org.pellim.Pellim", "org.pellim.FolderGuard"
JOURNAL_SOCKET = "/run/systemd/journal/socket"
I, E = "6", "3"  # journal priorities: info, error
ON_CI = os.environ.get("CI") == "true"


class Skip(Exception):
    """The suite, or one case, cannot run on this machine."""


class CaseFailed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise CaseFailed(what)


def encoded(path, folder=False):
    """The encoded form of a path: every UTF-8 byte outside the unreserved set as %XX."""
    keep = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~!$&'()*+,;=:@/")
    out = "".join(chr(b) if b in keep else "%%%02X" % b for b in path.encode("utf-8"))
    return out + "/" if folder and not out.endswith("/") else out


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, timeout=kw.pop("timeout", 20), **kw)


def ensure_journal():
    """Raises Skip with the reason unless this user can write entries and read them back."""
    def listening():
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as s:
            return s.connect_ex(JOURNAL_SOCKET) == 0

    if not listening():
        run([os.path.join(SOURCE_DIR, "scripts", "ensure-journald")], timeout=30)
    if not listening():
        raise Skip("no journal daemon listens on %s and %s" % (
            JOURNAL_SOCKET, "starting one failed" if os.geteuid() == 0 else "none can be started (not root)"))
    token = "pellim-e2e-probe-" + uuid.uuid4().hex
    run(["systemd-cat", "-t", "pellim-e2e-probe", "echo", token])
    for _ in range(50):
        if token in run(["journalctl", "--no-pager", "-o", "cat", "SYSLOG_IDENTIFIER=pellim-e2e-probe"]).stdout:
            return
        time.sleep(0.1)
    raise Skip("the journal does not show this user's entries (add the user to the systemd-journal group)")


@contextlib.contextmanager
def display(root):
    """Xvfb on a free display with openbox managing its windows; yields the display name."""
    procs = []
    try:
        read_end, write_end = os.pipe()
        procs.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True))
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n") and select.select([read_end], [], [], 30)[0]:
            chunk = os.read(read_end, 16)
            number += chunk
            if not chunk:
                break
        os.close(read_end)
        if not number.strip():
            raise Skip("Xvfb did not start")
        print("e2e: display :%s" % number.decode().strip(), flush=True)
        env = dict(os.environ, DISPLAY=":" + number.decode().strip(), HOME=root)
        procs.append(subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL, start_new_session=True))
        for _ in range(300):  # openbox is up once it announces a current desktop
            if run(["xdotool", "get_desktop"], env=env).returncode == 0:
                yield env["DISPLAY"]
                return
            time.sleep(0.1)
        raise Skip("openbox did not start under Xvfb (its status: %s)" % procs[-1].poll())
    finally:
        for p in reversed(procs):
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def messages(entries):
    """(level, text) of the program's own entries, not the guard's."""
    return [(e.get("PRIORITY"), e.get("MESSAGE")) for e in entries if e.get("SUBSYSTEM") == APP_ID]


class Case:
    """One pellim process in a temporary home. `seen` holds the program's entries
    checked so far, after "opened"; every check extends it."""

    def __init__(self, suite, name):
        self.suite = suite
        self.deadline = time.monotonic() + CASE_SECONDS
        self.root = tempfile.mkdtemp(prefix="case-%s-" % name, dir=suite.root)
        self.home = os.path.join(self.root, "home")
        self.docs, self.desktop, self.downloads, self.config = (
            os.path.join(self.home, d) for d in ("Documents", "Desktop", "Downloads", ".config"))
        runtime = os.path.join(self.root, "runtime")
        for d in (self.docs, self.desktop, self.downloads, self.config, runtime):
            os.makedirs(d, mode=0o700)
        self.use_documents(self.docs)
        self.state_file = os.path.join(self.root, "state", "pellim", "folder-access.json")
        self.output = os.path.join(self.root, "output")  # pellim's standard output and error
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("XDG_", "QT_", "DBUS_", "GTK_", "WAYLAND_", "LC_"))}
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=self.config, XDG_STATE_HOME=os.path.join(self.root, "state"),
                        XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                        XDG_CACHE_HOME=os.path.join(self.home, ".cache"), XDG_RUNTIME_DIR=runtime,
                        DISPLAY=suite.display, QT_QPA_PLATFORM="xcb", LANG="C.UTF-8",
                        QT_QPA_PLATFORMTHEME="")  # Qt's own file dialog, as on a bare desktop
        self.proc = None
        self.seen = []

    def use_documents(self, path):
        """Makes `path` the person's Documents folder."""
        os.makedirs(path, exist_ok=True)
        self.docs = path
        with open(os.path.join(self.config, "user-dirs.dirs"), "w") as f:
            f.write('XDG_DOCUMENTS_DIR="%s"\nXDG_DESKTOP_DIR="%s"\nXDG_DOWNLOAD_DIR="%s"\n'
                    % (self.docs, self.desktop, self.downloads))

    def left(self):
        remaining = self.deadline - time.monotonic()
        if remaining <= 0:
            raise CaseFailed("the case ran out of time (%d s); pellim is killed" % CASE_SECONDS)
        return remaining

    def wait_for(self, what, predicate, seconds=15, alive=True):
        end = min(self.deadline, time.monotonic() + seconds)
        while True:
            value = predicate()
            if value:
                return value
            if alive and self.proc and self.proc.poll() is not None:
                raise CaseFailed("pellim ended (status %s) while waiting for %s" % (self.proc.returncode, what))
            if time.monotonic() >= end:
                self.left()
                raise CaseFailed("timed out waiting for " + what)
            time.sleep(0.1)

    def consent(self, *args):
        r = run([self.suite.consent_bin, *args], env=self.env, timeout=min(20, self.left()))
        check(r.returncode == 0, "pellim-consent %s failed (%d): %s" % (" ".join(args), r.returncode, r.stderr))
        return r.stdout

    def xdotool(self, *args):
        r = run(["xdotool", *args], env=self.env, timeout=min(20, self.left()))
        return r.stdout.rstrip("\n") if r.returncode == 0 else None

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", "--delay", "30", *keys)

    def windows(self):
        return set((self.xdotool("search", "--all", "--onlyvisible", "--pid", str(self.proc.pid)) or "").split())

    def new_window(self, what, before, name=None):
        """Waits for a window of pellim's that is not in `before`, and activates it."""
        wid = self.wait_for(what, lambda: next((w for w in self.windows() - before
                                                if name is None or self.xdotool("getwindowname", w) == name), None))
        self.xdotool("windowactivate", "--sync", wid)
        return wid

    def window_gone(self, what, wid):
        self.wait_for(what, lambda: wid not in self.windows(), seconds=10)

    def start(self, wrap=None, limits=None, journal=True):
        """Starts pellim and waits for its main window and "opened". `wrap` is shell text
        run first in a mount namespace of its own (root only); `limits` maps resource
        limits to values; without `journal`, "opened" is looked for on standard error."""
        argv = [self.suite.bin]
        if wrap:
            if os.geteuid() != 0:
                raise Skip("needs root for a mount namespace of its own")
            argv = ["unshare", "--mount", "sh", "-euc", wrap + '\nexec "$0"', self.suite.bin]
        # Process ids are reused and the journal keeps older processes' entries.
        self.started_us = int(time.time() * 1_000_000)
        with open(self.output, "w") as out:
            self.proc = subprocess.Popen(
                argv, env=self.env, cwd=self.root, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                start_new_session=True,
                preexec_fn=(lambda: [resource.setrlimit(r, (v, v)) for r, v in limits.items()]) if limits else None)
        self.main_window = self.new_window("the main window", set(), name="Pellim")
        if journal:
            self.wait_for_entries("the entry \"opened\"", lambda es: (I, "Pellim: opened") in messages(es))
        else:
            self.wait_for("\"opened\" on standard error",
                          lambda: ("info", "Pellim: opened") in self.output_lines())

    def run_test(self, key, path=None, prompt=None, replace=False):
        """Starts pellim unless it runs, presses `key`, then types `path` into the file
        dialog or presses `prompt` in the guard's prompt. Returns the windows before."""
        if not self.proc:
            self.start()
        self.xdotool("windowactivate", "--sync", self.main_window)
        before = self.windows()
        self.key(key)
        if path is not None:
            self.answer_file_dialog(path, before, replace)
        if prompt:
            window = self.new_window("the guard's prompt", before, name="Folder Access")
            self.key(prompt)
            self.window_gone("the prompt to close", window)
        return before

    def answer_file_dialog(self, path, before, replace=False):
        dialog = self.new_window("a file dialog", before)
        time.sleep(0.3)  # let the dialog give its name field the focus
        self.key("ctrl+a")
        self.xdotool("type", "--clearmodifiers", "--delay", "15", path)
        for _ in range(3):  # the first Return may only close the completion list
            self.key("Return")
            if replace:  # "... already exists. Do you want to replace it?"
                self.new_window("the replace question", before | {dialog})
                self.key("alt+y")
            with contextlib.suppress(CaseFailed):
                self.window_gone("the file dialog to close", dialog)
                return
        raise CaseFailed("the file dialog did not accept " + path)

    def dismiss_alert(self, before):
        alert = self.new_window("the alert", before)
        self.key("Return")
        self.window_gone("the alert to close", alert)

    def wait_exit(self):
        self.wait_for("pellim to exit", lambda: self.proc.poll() is not None, alive=False)
        return self.proc.returncode

    def finish(self, journal=True):
        """Ctrl+Q: pellim exits 0 and has logged nothing beyond what was checked."""
        self.xdotool("windowactivate", "--sync", self.main_window)
        self.key("ctrl+q")
        check(self.wait_exit() == 0, "exit status %s after Ctrl+Q" % self.proc.returncode)
        if journal:
            self.expect(settled=True)

    def kill(self):
        if self.proc and self.proc.poll() is None:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()

    def entries(self):
        r = subprocess.run(["journalctl", "--no-pager", "-o", "json", "_PID=%d" % self.proc.pid],
                           capture_output=True, timeout=min(20, self.left()))
        result = []
        for e in map(json.loads, r.stdout.splitlines()):
            if e.get("SYSLOG_IDENTIFIER") == "pellim" and int(e["__REALTIME_TIMESTAMP"]) >= self.started_us:
                # journalctl writes fields that are not plain text as byte arrays
                result.append({k: bytes(v).decode("utf-8", "replace") if isinstance(v, list) else v
                               for k, v in e.items()})
        return result

    def wait_for_entries(self, what, predicate):
        return self.wait_for(what, lambda: (lambda es: es if predicate(es) else None)(self.entries()))

    def expect(self, *want, settled=False):
        """Waits for the last of `want`, (level, text) pairs, or with `settled` until no
        entry has come for a while; then the program's entries must be exactly
        "opened", those checked before and `want`."""
        full = [(level, "Pellim: " + text) for level, text in [(I, "opened"), *self.seen, *want]]
        if settled:
            entries, last = None, self.entries()
            while entries != last:
                time.sleep(0.7)
                self.left()
                entries, last = last, self.entries()
        else:  # on a timeout the comparison below tells what came instead
            with contextlib.suppress(CaseFailed):
                self.wait_for_entries("the entry \"%s\"" % full[-1][1], lambda es: full[-1] in messages(es))
            entries = self.entries()
        check(messages(entries) == full, "entries\n  got  %r\n  want %r" % (messages(entries), full))
        self.seen += want
        return entries

    def output_lines(self):
        """(level, text) of the program's entries written as lines to standard error."""
        with open(self.output, "rb") as f:
            lines = f.read().decode("utf-8", "replace").split("\n")
        return [(p[1], p[4]) for p in (line.split(" ", 4) for line in lines) if len(p) == 5 and p[2] == APP_ID]


def run_case(suite, name, fn, *args):
    """Runs one case; a case that leaves pellim running ends it with Ctrl+Q, and the
    whole case fails if pellim does not exit 0 or logged anything unchecked."""
    case, started = Case(suite, name), time.monotonic()
    try:
        fn(case, *args)
        if case.proc and case.proc.poll() is None:
            case.finish()
        print("PASS %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
        return True
    except Skip as s:
        print("%s %s: %s" % ("FAIL" if ON_CI else "SKIP", name, s), flush=True)
        return not ON_CI
    except Exception as e:  # noqa: BLE001 - each case reports and the next goes on
        print("FAIL %s: %s" % (name, e), flush=True)
        if not isinstance(e, CaseFailed):
            traceback.print_exc()
        with contextlib.suppress(OSError), open(case.output, errors="replace") as f:
            tail = f.read()[-3000:]
            print("  pellim's output:\n    " + tail.replace("\n", "\n    ") if tail else "  (no output)")
        return False
    finally:
        case.kill()


def main(argv, suites):
    if len(argv) < 2 or argv[1] not in suites:
        print("usage: cases.py {%s} [BUILD_DIR]" % ",".join(sorted(suites)))
        return 2
    build_dir = argv[2] if len(argv) > 2 else os.path.join(SOURCE_DIR, "build")
    suite = types.SimpleNamespace(
        name=argv[1], bin=os.path.abspath(os.environ.get("PELLIM_BIN") or os.path.join(build_dir, "pellim")),
        consent_bin=os.path.abspath(os.environ.get("PELLIM_CONSENT_BIN") or os.path.join(build_dir, "pellim-consent")))
    cases = suites[suite.name]
    print("e2e %s: pellim at %s" % (suite.name, suite.bin), flush=True)
    for b in (suite.bin, suite.consent_bin):
        if not os.access(b, os.X_OK):
            print("e2e %s: no executable at %s" % (suite.name, b))
            return 1
    try:
        for tool, package in (("Xvfb", "xvfb"), ("openbox", "openbox"), ("xdotool", "xdotool"),
                              ("journalctl", "systemd"), ("systemd-cat", "systemd")):
            if not shutil.which(tool):
                raise Skip("%s is missing (package %s)" % (tool, package))
        ensure_journal()
        with tempfile.TemporaryDirectory(prefix="pellim-e2e-%s-" % suite.name) as suite.root, \
                display(suite.root) as suite.display:
            failed = [case[0] for case in cases if not run_case(suite, *case)]
    except Skip as s:
        print("e2e %s: %s: %s" % (suite.name, "cannot run, and CI must run it" if ON_CI else "SKIPPED", s))
        return 1 if ON_CI else 77
    print("e2e %s: %d of %d cases passed" % (suite.name, len(cases) - len(failed), len(cases)), flush=True)
    return 1 if failed else 0
