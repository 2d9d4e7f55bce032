// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "paths/KeptOutPaths.h"
#include "sys/Descriptor.h"

#include "sys/EarlyDisplay.h"
#include <QByteArray>

namespace pellim {

// The guard process's whole life: it takes the confined Pellim's seccomp
// listener from `channel` and answers each held call (Supervisor, deciding with
// a FolderGuard), and shows what only the person may answer: the prompt, the
// Save and Open dialogs Pellim asks for, and Folder Access. Held calls are
// answered on a thread of their own, which no window, display or bus can hold
// up; the display is connected to only once something is to be shown. Returns
// only when the guard cannot start; once it answers calls, it ends the process
// itself as soon as Pellim is gone.
// `keptOut` is what Pellim was confined with; `display` is Pellim's, which the
// guard leaves to Pellim (it connects to the same display by itself).
// `busFolder`: where the confined Pellim's bus proxies go (BusProxies::makeFolder;
// sealed in `keptOut`); empty: Pellim has no buses.
int runGuardProcess(UniqueFd channel, int &argc, char **argv, const KeptOutPaths &keptOut,
                    const EarlyDisplay &display = {}, const QByteArray &busFolder = {});

} // namespace pellim
