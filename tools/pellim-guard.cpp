// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardCommand.h"

// The folder guard for any program; its logic lives in pellim_guard.
int main(int argc, char **argv) {
    return pellim::runGuardCommand(argc, argv);
}
