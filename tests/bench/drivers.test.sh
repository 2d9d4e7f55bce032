#!/usr/bin/env bash
# The start-up and consent drivers against the real pellim, one round each: they
# must find everything they need, click the right button, see the journal entry
# and report every subject and measure. `make bench` runs rarely; this notices
# when a change to the window or the build leaves it broken. No timing is judged.
set -u
build=${1:?usage: drivers.test.sh BUILD_DIR}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
command -v Xvfb >/dev/null || { echo "skipped: no Xvfb"; exit 77; }
[ -f "$build/bench/startup/libpaint_probe.so" ] || { echo "skipped: benchmarks not built"; exit 77; }

check() { # DRIVER EXPECTED_LINE...
    local driver=$1 output status
    shift
    output=$("$source_dir/bench/startup/$driver" "$build" --runs 1 2>&1)
    status=$?
    if [ "$status" -eq 77 ]; then
        echo "skipped: $driver: $output"
        exit 77
    fi
    [ "$status" -eq 0 ] || { echo "$driver failed ($status):"; echo "$output"; exit 1; }
    for expected in "$@"; do
        printf '%s\n' "$output" | grep -qP "^RESULT\t$expected\t[0-9.]+\t" ||
            { echo "$driver: no line RESULT $expected:"; echo "$output"; exit 1; }
    done
}

check run-startup \
    "startup\tpellim\tstart-up" "startup\tbare Qt window\tstart-up" \
    "startup\tsame form, no logic\tstart-up" "startup\tpellim\tresident set" \
    "startup\tbare Qt window\tresident set" "startup\tpellim\twritten memory"
"$source_dir/scripts/ensure-journald" >/dev/null 2>&1 || { echo "skipped: no journal daemon"; exit 77; }
check run-consent "consent\tpellim\tclick to read"
echo ok
