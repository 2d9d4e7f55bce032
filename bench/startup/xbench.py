"""What the start-up and consent benchmarks share: a private X server, a
temporary home, launching a program with the paint probe, and reading its
memory. Standard library only."""

import ctypes
import ctypes.util
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path


SKIPPED = 77


def fail(message, status=1):
    print(f"{Path(sys.argv[0]).name}: {message}", file=sys.stderr)
    sys.exit(status)


def find_built(build_dir, name):
    """The first file called `name` below the build folder (targets may move)."""
    build_dir = Path(build_dir)
    direct = build_dir / name
    if direct.is_file():
        return direct
    for path in sorted(build_dir.rglob(name)):
        if path.is_file() and "CMakeFiles" not in path.parts:
            return path
    return None


def exe_of(pid):
    try:
        return os.readlink(f"/proc/{pid}/exe")
    except OSError:
        return ""


def children_of(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


class XServer:
    """An Xvfb of our own on a free display, so no one else's windows interfere."""

    def __init__(self, geometry="1280x1024x24"):
        if not shutil.which("Xvfb"):
            fail("Xvfb is needed (apt-get install xvfb); skipped", SKIPPED)
        # Numbers well above those xvfb-run -a and desktops take, so that a
        # server started elsewhere at the same moment does not race us for one.
        for number in range(180, 260):
            if Path(f"/tmp/.X{number}-lock").exists():
                continue
            self.process = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", geometry, "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            socket = Path(f"/tmp/.X11-unix/X{number}")
            deadline = time.monotonic() + 10
            while self.process.poll() is None and not socket.exists() and \
                    time.monotonic() < deadline:
                time.sleep(0.02)
            time.sleep(0.1)
            if self.process.poll() is None and socket.exists():
                self.display = f":{number}"
                return
            self.close()
        fail("Xvfb did not start")

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class SessionBuses:
    """A D-Bus session bus with the accessibility bus on it, switched on as a
    screen reader would: what a desktop gives a program. Confined, pellim's guard
    starts its bus proxies for it; unconfined, Qt talks to the buses itself."""

    def __enter__(self):
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.address = self.bus.stdout.readline().strip()
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address)
        send = ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus"]
        if subprocess.run(send + ["org.a11y.Bus.GetAddress"], env=env, capture_output=True).returncode:
            fail("no accessibility bus (at-spi2-core)")
        for prop in ("IsEnabled", "ScreenReaderEnabled"):
            subprocess.run(send + ["org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                                   "string:" + prop, "variant:boolean:true"], env=env, capture_output=True)
        return {"DBUS_SESSION_BUS_ADDRESS": self.address}

    def __exit__(self, *exc):
        self.bus.terminate()
        self.bus.wait()


class TempHome:
    """HOME, the XDG folders and the three user folders in a fresh temporary
    folder, so nothing of the person's is read or touched."""

    def __init__(self):
        self.root = Path(tempfile.mkdtemp(prefix="pellim-bench-"))
        self.home = self.root / "home"
        self.config = self.home / ".config"
        self.state = self.home / ".local/state"
        self.runtime = self.root / "runtime"
        for folder in (self.home, self.config, self.state, self.home / ".cache",
                       self.home / ".local/share"):
            folder.mkdir(parents=True, exist_ok=True)
        self.runtime.mkdir(mode=0o700)
        for name in ("Documents", "Desktop", "Downloads"):
            (self.home / name).mkdir()
        (self.config / "user-dirs.dirs").write_text(
            'XDG_DOCUMENTS_DIR="$HOME/Documents"\n'
            'XDG_DESKTOP_DIR="$HOME/Desktop"\n'
            'XDG_DOWNLOAD_DIR="$HOME/Downloads"\n')

    @property
    def documents(self):
        return self.home / "Documents"

    def env(self, display):
        return {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "LANG": "C.UTF-8",
            "DISPLAY": display,
            "HOME": str(self.home),
            "XDG_CONFIG_HOME": str(self.config),
            "XDG_STATE_HOME": str(self.state),
            "XDG_CACHE_HOME": str(self.home / ".cache"),
            "XDG_DATA_HOME": str(self.home / ".local/share"),
            "XDG_RUNTIME_DIR": str(self.runtime),
        }

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.remove()


class Launched:
    """A program started with the paint probe preloaded. `start_ns` is
    CLOCK_MONOTONIC just before the spawn; `paint_ns` the probe's note of the
    first paint, or None when none came within the timeout."""

    def __init__(self, program, env, probe, extra_preload=(), extra_env=None, timeout=20):
        read_end, write_end = os.pipe()
        env = dict(env)
        env["LD_PRELOAD"] = ":".join([str(probe), *map(str, extra_preload)])
        env["PAINT_PROBE_FD"] = str(write_end)
        fds = [write_end]
        for key, value in (extra_env or {}).items():
            env[key] = value
        self.locate_read = None
        if "LOCATE_BUTTON_TEXT" in env:
            locate_read, locate_write = os.pipe()
            env["LOCATE_FD"] = str(locate_write)
            fds.append(locate_write)
            self.locate_read = locate_read
        self.log = tempfile.TemporaryFile()
        self.start_ns = time.monotonic_ns()
        command = [*map(str, program)] if isinstance(program, (list, tuple)) else [str(program)]
        self.process = subprocess.Popen(command, env=env, pass_fds=fds,
                                        stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=self.log)
        for fd in fds:
            os.close(fd)
        ready, _, _ = select.select([read_end], [], [], timeout)
        text = os.read(read_end, 64).decode().strip() if ready else ""
        os.close(read_end)
        self.paint_ns = int(text) if text else None

    @property
    def pid(self):
        """The program itself. pellim runs under `pellim-guard run`: the process
        spawned waits, its child is the guard, and the guard's child is pellim
        (beside its bus daemon and the accessibility bus's proxy)."""
        pid = self.process.pid
        while exe_of(pid).endswith("/pellim-guard"):
            kids = children_of(pid)
            guards = [k for k in kids if exe_of(k).endswith("/pellim-guard")]
            others = [k for k in kids if k not in guards and
                      not exe_of(k).endswith(("/xdg-dbus-proxy", "/dbus-daemon"))]
            if not (guards or others):
                break
            pid = (guards or others)[0]
        return pid

    def startup_ms(self):
        return None if self.paint_ns is None else (self.paint_ns - self.start_ns) / 1e6

    def located(self, timeout=10):
        """(window id, x, y) of the button the locator looked for, or None."""
        if self.locate_read is None:
            return None
        ready, _, _ = select.select([self.locate_read], [], [], timeout)
        text = os.read(self.locate_read, 128).decode().split() if ready else []
        if len(text) != 3:
            return None
        return int(text[0]), int(text[1]), int(text[2])

    def output(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def memory_kib(self):
        """Resident set (VmRSS) and written memory (Private_Dirty: heap, stacks,
        relocated data; unlike clean pages it does not depend on what other
        processes happen to map) in KiB."""
        rss = None
        with open(f"/proc/{self.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1])
        private = 0
        with open(f"/proc/{self.pid}/smaps_rollup") as rollup:
            for line in rollup:
                if line.startswith("Private_Dirty:"):
                    private += int(line.split()[1])
        return rss, private

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.locate_read is not None:
            os.close(self.locate_read)
            self.locate_read = None
        self.log.close()


def result(benchmark, subject, metric, value, unit):
    """One measured run, in the form scripts/run-benchmarks gathers."""
    print(f"RESULT\t{benchmark}\t{subject}\t{metric}\t{value:.3f}\t{unit}", flush=True)


def target(benchmark, metric, reference, limit):
    """A target: the median of pellim over the median of `reference` at most
    `limit`, or with reference "absolute", the median itself at most `limit`."""
    print(f"TARGET\t{benchmark}\t{metric}\t{reference}\t{limit}", flush=True)


def note(benchmark, text):
    """A line of prose for the benchmark's section of the performance document."""
    print(f"NOTE\t{benchmark}\t{text}", flush=True)


class XTest:
    """Mouse input through the XTest extension: the server delivers it like a
    person's."""

    def __init__(self, display):
        x11 = ctypes.util.find_library("X11")
        xtst = ctypes.util.find_library("Xtst")
        if not x11 or not xtst:
            raise OSError("libX11 and libXtst are needed (apt-get install libxtst6)")
        self.x11 = ctypes.CDLL(x11)
        self.xtst = ctypes.CDLL(xtst)
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XTranslateCoordinates.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
            ctypes.POINTER(ctypes.c_ulong)]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeMotionEvent.argtypes = [
            ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [
            ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise OSError(f"cannot open display {display}")

    def close(self):
        self.x11.XCloseDisplay(self.display)

    def click(self, window, x, y):
        """Moves to (x, y) in `window`, presses and releases button 1; returns
        the wall-clock time in nanoseconds just before the release."""
        root = self.x11.XDefaultRootWindow(self.display)
        root_x, root_y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        self.x11.XTranslateCoordinates(self.display, window, root, x, y, ctypes.byref(root_x),
                                       ctypes.byref(root_y), ctypes.byref(child))
        self.xtst.XTestFakeMotionEvent(self.display, -1, root_x.value, root_y.value, 0)
        self.x11.XSync(self.display, 0)
        time.sleep(0.1)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 1, 0)
        self.x11.XSync(self.display, 0)
        time.sleep(0.05)
        clicked = time.time_ns()
        self.xtst.XTestFakeButtonEvent(self.display, 1, 0, 0)
        self.x11.XSync(self.display, 0)
        return clicked
