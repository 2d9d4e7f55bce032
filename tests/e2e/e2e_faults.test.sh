#!/usr/bin/env bash
# End to end, against the built (or installed, PELLIM_BIN) binary: bad input and faults.
# Argument: the build folder. Exit 77 when the suite cannot run here (reason printed).
exec python3 "$(dirname "$0")/cases.py" faults "${1:-}"
