// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "paths/KeptOutPaths.h"
#include "sys/Descriptor.h"
#include "sys/EarlyDisplay.h"

namespace pellim {

// The guard process's whole life: it takes the confined Pellim's seccomp
// listener from `channel` and answers each held call (Supervisor, deciding with
// a FolderGuard), and shows what only the person may answer: the prompt, the
// Save and Open dialogs Pellim asks for, and Folder Access. It answers calls
// before it has any window, and connects to the display only once something is
// to be shown. Returns the exit status once Pellim is gone.
// `keptOut` is what Pellim was confined with; `display` is Pellim's, which the
// guard leaves to Pellim (it connects to the same display by itself).
int runGuardProcess(UniqueFd channel, int &argc, char **argv, const KeptOutPaths &keptOut,
                    const EarlyDisplay &display = {});

} // namespace pellim
