// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace pellim {

// pellim-guard's whole command line:
//   pellim-guard run [--name NAME] -- PROGRAM [ARG...]
//   pellim-guard --help | --version
// `run` starts PROGRAM confined and answers its held calls. The process the
// person started only waits: it passes on the program's exit status (or ends
// by the signal that ended the program), stops when the program is stopped,
// and passes on SIGTERM and SIGHUP sent to it. Its child is the guard, and the
// guard's child the program, so that the guard may read the program's memory
// and outlives the command: processes the program leaves behind stay guarded
// until they end. Statuses of its own: 2 for a usage error, 125 when the
// program cannot be guarded (nothing is run), 126 and 127 when it cannot be
// run or found.
int runGuardCommand(int argc, char **argv);

} // namespace pellim
