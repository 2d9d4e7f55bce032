#!/usr/bin/env bash
# The start-up benchmark's paint probe, preloaded into a real Qt program under
# Xvfb: it must report one first paint, after the spawn, and the program must go
# on running with it in place (the probe forwards every call it intercepts).
set -u
build=${1:?usage: paint_probe.test.sh BUILD_DIR}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
probe=$build/bench/startup/libpaint_probe.so
program=$build/bench/startup/bare_window
command -v Xvfb >/dev/null || { echo "skipped: no Xvfb"; exit 77; }
[ -f "$probe" ] && [ -x "$program" ] || { echo "skipped: the benchmarks are not built"; exit 77; }

exec python3 - "$source_dir/bench/startup" "$probe" "$program" <<'PY'
import sys, time
sys.dont_write_bytecode = True
sys.path.insert(0, sys.argv[1])
import xbench

probe, program = sys.argv[2], sys.argv[3]
with xbench.XServer() as server, xbench.TempHome() as home:
    for attempt in range(2):  # the second start finds everything cached
        run = xbench.Launched(program, home.env(server.display), probe, timeout=60)
        try:
            startup = run.startup_ms()
            if startup is None:
                sys.exit(f"no first paint reported:\n{run.output()}")
            if not 0 < startup < 60_000:
                sys.exit(f"first paint {startup} ms after the spawn")
            time.sleep(0.5)
            if run.process.poll() is not None:
                sys.exit(f"the program ended with the probe in place "
                         f"(status {run.process.returncode}):\n{run.output()}")
        finally:
            run.stop()
print("ok")
PY
