#!/usr/bin/env python3
"""The machinery of the end-to-end cases (cases.py): a real X server (Xvfb) with
a small window manager (openbox), the real journal daemon, keys sent with
xdotool, and the journal entries of the pellim process and the files on disk read
back. Each case gets a temporary home whose XDG user folders lie inside it.

    cases.py SUITE [BUILD_DIR]

PELLIM_BIN and PELLIM_CONSENT_BIN name the binaries (default: BUILD_DIR/pellim
and BUILD_DIR/pellim-consent). Exit status: 0 all cases passed, 1 a case failed,
77 the suite cannot run here (the reason is printed). Under CI=true a suite that
cannot run fails instead of skipping.
"""

import json
import os
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import traceback
import uuid

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
CASE_SECONDS = 60  # no case may take longer; a hung pellim is killed
APP_ID = "org.pellim.Pellim"
GUARD_ID = "org.pellim.FolderGuard"
JOURNAL_SOCKET = "/run/systemd/journal/socket"
TEST_TEXT_BYTES = 686
TEST_NAME = re.compile(r"Pellim[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\.txt")


class Skip(Exception):
    pass


class CaseFailed(Exception):
    pass


class CaseSkipped(Exception):
    pass


def check(condition, what):
    if not condition:
        raise CaseFailed(what)


def encoded(path, folder=False):
    """The encoded form of a path: every UTF-8 byte outside the unreserved set as %XX."""
    keep = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~!$&'()*+,;=:@/")
    out = "".join(chr(b) if b in keep else "%%%02X" % b for b in path.encode("utf-8"))
    return out + "/" if folder and not out.endswith("/") else out


# --- the machine: X server, window manager, journal -------------------------------------------


def journal_listening():
    s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    try:
        s.connect(JOURNAL_SOCKET)
        return True
    except OSError:
        return False
    finally:
        s.close()


def ensure_journal():
    """Returns nothing when entries can be written and read back; raises Skip with the reason."""
    if not journal_listening():
        subprocess.run([os.path.join(SOURCE_DIR, "scripts", "ensure-journald")],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    if not journal_listening():
        reason = ("no journal daemon listens on %s and none can be started (not root)" % JOURNAL_SOCKET
                  if os.geteuid() != 0 else "no journal daemon listens on %s and starting one failed"
                  % JOURNAL_SOCKET)
        raise Skip(reason)
    # Can this user read back what it writes? (A user outside systemd-journal and
    # adm sees only a per-user journal, which a daemon without systemd may not keep.)
    token = "pellim-e2e-probe-" + uuid.uuid4().hex
    if not shutil.which("systemd-cat"):
        raise Skip("systemd-cat is missing (package systemd)")
    subprocess.run(["systemd-cat", "-t", "pellim-e2e-probe", "echo", token], timeout=10)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        out = subprocess.run(["journalctl", "--no-pager", "-o", "cat", "SYSLOG_IDENTIFIER=pellim-e2e-probe"],
                             capture_output=True, text=True, timeout=10).stdout
        if token in out:
            return
        time.sleep(0.1)
    raise Skip("the journal does not show this user's entries (add the user to the systemd-journal group)")


class Display:
    """Xvfb on a free display, with openbox managing the windows."""

    def __init__(self, root):
        self.root = root
        self.xvfb = None
        self.wm = None
        self.name = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.root, "xvfb.log"), "w"),
            start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            raise Skip("Xvfb did not start (see its log: %s)" % os.path.join(self.root, "xvfb.log"))
        self.name = ":" + number.decode().strip()
        env = dict(os.environ, DISPLAY=self.name, HOME=self.root)
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
                                   stderr=open(os.path.join(self.root, "openbox.log"), "w"),
                                   start_new_session=True)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            # The window manager is up once it announces a current desktop.
            if subprocess.run(["xdotool", "get_desktop"], env=env, capture_output=True).returncode == 0:
                return self
            time.sleep(0.1)
        raise Skip("openbox did not start under Xvfb")

    def __exit__(self, *exc):
        for p in (self.wm, self.xvfb):
            if p and p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()


# --- one case: a temporary home and a pellim process ------------------------------------------


class Case:
    def __init__(self, suite, name):
        self.suite = suite
        self.name = name
        self.deadline = time.monotonic() + CASE_SECONDS
        self.root = tempfile.mkdtemp(prefix="case-%s-" % name, dir=suite.root)
        home = os.path.join(self.root, "home")
        self.home = home
        self.docs = os.path.join(home, "Documents")
        self.desktop = os.path.join(home, "Desktop")
        self.downloads = os.path.join(home, "Downloads")
        config = os.path.join(home, ".config")
        runtime = os.path.join(self.root, "runtime")
        for d in (self.docs, self.desktop, self.downloads, config, runtime):
            os.makedirs(d)
        os.chmod(runtime, 0o700)
        self.config = config
        self.write_user_dirs()
        self.state_file = os.path.join(self.root, "state", "pellim", "folder-access.json")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("XDG_", "QT_", "DBUS_", "GTK_", "WAYLAND_", "LC_"))}
        env.update(HOME=home, XDG_CONFIG_HOME=config, XDG_STATE_HOME=os.path.join(self.root, "state"),
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_RUNTIME_DIR=runtime,
                   DISPLAY=suite.display.name, QT_QPA_PLATFORM="xcb", LANG="C.UTF-8",
                   # Qt's own dialog, as on a desktop without a platform theme.
                   QT_QPA_PLATFORMTHEME="")
        self.env = env
        self.proc = None
        self.main_window = None

    def write_user_dirs(self):
        with open(os.path.join(self.config, "user-dirs.dirs"), "w") as f:
            f.write('XDG_DOCUMENTS_DIR="%s"\nXDG_DESKTOP_DIR="%s"\nXDG_DOWNLOAD_DIR="%s"\n'
                    % (self.docs, self.desktop, self.downloads))

    def use_documents(self, path):
        """Makes `path` the person's Documents folder."""
        os.makedirs(path, exist_ok=True)
        self.docs = path
        self.write_user_dirs()

    # time
    def left(self):
        remaining = self.deadline - time.monotonic()
        if remaining <= 0:
            raise CaseFailed("the case ran out of time (%d s); pellim is killed" % CASE_SECONDS)
        return remaining

    def wait_for(self, what, predicate, seconds=15):
        end = min(self.deadline, time.monotonic() + seconds)
        while True:
            value = predicate()
            if value:
                return value
            if self.proc and self.proc.poll() is not None and not what.startswith("exit"):
                raise CaseFailed("pellim ended (status %s) while waiting for %s" % (self.proc.returncode, what))
            if time.monotonic() >= end:
                self.left()
                raise CaseFailed("timed out waiting for " + what)
            time.sleep(0.1)

    # tools
    def consent(self, *args):
        r = subprocess.run([self.suite.consent_bin, *args], env=self.env, capture_output=True, text=True,
                           timeout=min(20, self.left()))
        check(r.returncode == 0, "pellim-consent %s failed (%d): %s" % (" ".join(args), r.returncode, r.stderr))
        return r.stdout

    def xdotool(self, *args):
        r = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                           timeout=min(20, self.left()))
        return r.stdout.split() if r.returncode == 0 else []

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", "--delay", "30", *keys)

    def type(self, text):
        self.xdotool("type", "--clearmodifiers", "--delay", "15", text)

    def windows(self):
        return set(self.xdotool("search", "--all", "--onlyvisible", "--pid", str(self.proc.pid)))

    def window_name(self, wid):
        out = subprocess.run(["xdotool", "getwindowname", wid], env=self.env, capture_output=True, text=True,
                             timeout=10)
        return out.stdout.rstrip("\n") if out.returncode == 0 else None

    def activate(self, wid):
        self.xdotool("windowactivate", "--sync", wid)

    # the process
    def start(self, wrap=None, limits=None, journal=True):
        """Starts pellim and waits for its window and its "opened" entry. `wrap` is shell
        text run first in a mount namespace of its own (root only); `limits` maps
        resource limits to values; without `journal` the entry is looked for on
        standard error, where entries go when the journal cannot be reached."""
        self.out = open(os.path.join(self.root, "stdout"), "w")
        self.err = open(os.path.join(self.root, "stderr"), "w")
        argv = [self.suite.bin]
        if wrap:
            if os.geteuid() != 0:
                raise CaseSkipped("needs root for a mount namespace of its own")
            argv = ["unshare", "--mount", "sh", "-euc", wrap + '\nexec "$0"', self.suite.bin]

        def set_limits():
            for resource_id, value in (limits or {}).items():
                resource.setrlimit(resource_id, (value, value))

        # Process ids are reused and the journal keeps older processes' entries:
        # only entries written after this start belong to this process.
        self.started_us = int(time.time() * 1_000_000)
        self.proc = subprocess.Popen(argv, env=self.env, cwd=self.root, stdin=subprocess.DEVNULL,
                                     stdout=self.out, stderr=self.err, start_new_session=True,
                                     preexec_fn=set_limits if limits else None)

        def main_window():
            for wid in self.windows():
                if self.window_name(wid) == "Pellim":
                    return wid
            return None

        self.main_window = self.wait_for("the main window", main_window)
        if journal:
            self.wait_for_entries("the entry \"opened\"", lambda es: any(program(es, "opened")))
        else:
            self.wait_for("\"opened\" on standard error",
                          lambda: any(m == "Pellim: opened" for _, _, _, m in self.stderr_entries()))
        self.focus_main()

    def stderr_entries(self):
        """Entries written to standard error: (level, subsystem, category, message) per line."""
        with open(os.path.join(self.root, "stderr"), "rb") as f:
            lines = f.read().split(b"\n")
        result = []
        for line in lines:
            parts = line.decode("utf-8", "replace").split(" ", 4)
            if len(parts) == 5 and parts[2] in (APP_ID, GUARD_ID):
                result.append(tuple(parts[1:]))
        return result

    def focus_main(self):
        self.activate(self.main_window)

    def new_window(self, what, before, name=None):
        def find():
            for wid in self.windows() - before:
                if name is None or self.window_name(wid) == name:
                    return wid
            return None

        wid = self.wait_for(what, find)
        self.activate(wid)
        return wid

    def window_gone(self, what, wid):
        self.wait_for(what, lambda: wid not in self.windows(), seconds=10)

    def quit(self):
        """Ends pellim with Ctrl+Q and returns its exit status."""
        self.focus_main()
        self.key("ctrl+q")
        return self.wait_exit()

    def wait_exit(self, seconds=15):
        self.wait_for("exit of pellim", lambda: self.proc.poll() is not None, seconds)
        return self.proc.returncode

    def kill(self):
        if self.proc and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait()

    # the journal
    def entries(self):
        r = subprocess.run(["journalctl", "--no-pager", "-o", "json", "_PID=%d" % self.proc.pid],
                           capture_output=True, timeout=min(20, self.left()))
        result = []
        for line in r.stdout.splitlines():
            e = json.loads(line)
            if e.get("SYSLOG_IDENTIFIER") != "pellim" or int(e["__REALTIME_TIMESTAMP"]) < self.started_us:
                continue
            for k, v in e.items():
                if isinstance(v, list):  # journalctl writes binary-safe fields as byte arrays
                    e[k] = bytes(v).decode("utf-8", "replace")
            result.append(e)
        return result

    def wait_for_entries(self, what, predicate, seconds=15):
        return self.wait_for(what, lambda: (lambda es: es if predicate(es) else None)(self.entries()), seconds)

    def settled_entries(self, quiet=0.7):
        """The entries once no new one has arrived for `quiet` seconds."""
        last = self.entries()
        while True:
            time.sleep(quiet)
            now = self.entries()
            if len(now) == len(last):
                return now
            self.left()
            last = now

    # the file dialog: type the full path into its name field and confirm
    def answer_file_dialog(self, path, before):
        dialog = self.new_window("a file dialog", before)
        time.sleep(0.3)  # let the dialog give its name field the focus
        self.key("ctrl+a")
        self.type(path)
        for _ in range(3):
            # The first Return may only close the completion list.
            self.key("Return")
            try:
                self.window_gone("the file dialog to close", dialog)
                return
            except CaseFailed:
                if dialog not in self.windows():
                    return
        raise CaseFailed("the file dialog did not accept " + path)

    def dismiss_alert(self, before):
        alert = self.new_window("the alert", before)
        self.key("Return")
        self.window_gone("the alert to close", alert)


def program(entries, message=None):
    """The program's own entries (not the guard's), optionally only those with `message`."""
    own = [e for e in entries if e.get("SUBSYSTEM") == APP_ID]
    return [e for e in own if message is None or e.get("MESSAGE") == "Pellim: " + message]


def guard(entries):
    return [e for e in entries if e.get("SUBSYSTEM") == GUARD_ID]


def messages(entries):
    return [(e.get("PRIORITY"), e.get("MESSAGE")) for e in program(entries)]


def expect_messages(entries, expected):
    """The program's entries after "opened" are exactly `expected`: (level, message) pairs."""
    got = messages(entries)
    check(got[:1] == [("6", "Pellim: opened")], "the first entry is not \"opened\": %r" % got[:1])
    want = [("6" if level == "info" else "3", "Pellim: " + text) for level, text in expected]
    check(got[1:] == want, "entries\n  got  %r\n  want %r" % (got[1:], want))


# --- the suite runner ---------------------------------------------------------------------------


class Suite:
    def __init__(self, name, build_dir):
        self.name = name
        self.bin = os.path.abspath(os.environ.get("PELLIM_BIN") or os.path.join(build_dir, "pellim"))
        self.consent_bin = os.path.abspath(os.environ.get("PELLIM_CONSENT_BIN")
                                           or os.path.join(build_dir, "pellim-consent"))
        self.root = None
        self.display = None

    def preflight(self):
        for tool, package in (("Xvfb", "xvfb"), ("openbox", "openbox"), ("xdotool", "xdotool"),
                              ("journalctl", "systemd")):
            if not shutil.which(tool):
                raise Skip("%s is missing (package %s)" % (tool, package))
        for b in (self.bin, self.consent_bin):
            if not os.access(b, os.X_OK):
                raise CaseFailed("no executable at %s" % b)
        ensure_journal()

    def run(self, cases):
        print("e2e %s: pellim at %s" % (self.name, self.bin), flush=True)
        try:
            self.preflight()
        except Skip as s:
            return self.skip(str(s))
        failed = []
        with tempfile.TemporaryDirectory(prefix="pellim-e2e-%s-" % self.name) as root:
            self.root = root
            try:
                with Display(root) as display:
                    self.display = display
                    for fn in cases:
                        name = fn.__name__[len("case_"):]
                        case = Case(self, name)
                        started = time.monotonic()
                        try:
                            fn(case)
                            print("PASS %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
                        except CaseSkipped as s:
                            if os.environ.get("CI") == "true":
                                failed.append(name)
                                print("FAIL %s: cannot run, and CI must run it: %s" % (name, s), flush=True)
                            else:
                                print("SKIP %s: %s" % (name, s), flush=True)
                        except Exception as e:  # noqa: BLE001 - each case reports and the next goes on
                            failed.append(name)
                            print("FAIL %s: %s" % (name, e), flush=True)
                            if not isinstance(e, CaseFailed):
                                traceback.print_exc()
                            self.show_logs(case)
                        finally:
                            case.kill()
            except Skip as s:
                return self.skip(str(s))
        print("e2e %s: %d of %d cases passed" % (self.name, len(cases) - len(failed), len(cases)), flush=True)
        return 1 if failed else 0

    def skip(self, reason):
        if os.environ.get("CI") == "true":
            print("e2e %s: cannot run, and CI must run it: %s" % (self.name, reason), flush=True)
            return 1
        print("e2e %s: SKIPPED: %s" % (self.name, reason), flush=True)
        return SKIP

    @staticmethod
    def show_logs(case):
        for stream in ("stdout", "stderr"):
            path = os.path.join(case.root, stream)
            if os.path.exists(path) and os.path.getsize(path):
                with open(path, errors="replace") as f:
                    print("  pellim %s:\n    %s" % (stream, f.read()[-3000:].replace("\n", "\n    ")))


def main(argv, suites):
    if len(argv) < 2 or argv[1] not in suites:
        print("usage: e2e.py {%s} [BUILD_DIR]" % ",".join(sorted(suites)), file=sys.stderr)
        return 2
    build_dir = argv[2] if len(argv) > 2 else os.path.join(SOURCE_DIR, "build")
    return Suite(argv[1], build_dir).run(suites[argv[1]])
