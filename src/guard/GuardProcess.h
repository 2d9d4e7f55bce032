// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/ProgramLaunch.h"
#include "consent/Program.h"
#include "guard/PrivateBus.h"
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
// `busFolder`: where the confined program's own bus and its accessibility bus
// proxy go (BusProxies::makeFolder; sealed in `keptOut`); empty: it has no buses.
// What `pellim-guard run` starts a program's guard with.
struct GuardStart {
    Program program;
    bool pellim = false; // Pellim: its private channel stays open, its display is its own
    int reportTo = -1;   // where the first process's pid, stops and end are told; -1: nobody
    KeptOutPaths keptOut;
    QByteArray busFolder;
    QString busProblem;  // why there is no bus folder
    QString keptAtStart; // an answers file that could not be used, kept beside
    // The program's bus daemon, started as soon as its folder is there, so
    // that it comes up while the program is started and confines itself.
    std::optional<Result<std::unique_ptr<PrivateBus>>> bus;
};

// The guard of `pellim-guard run`: starts the program (launchConfined, with
// `launch`), takes its listener and answers its held calls until every process
// of it has ended. Returns only when it cannot start; the status is then the
// command's (125 when the program could not be confined).
int runGuardForProgram(GuardStart start, const LaunchRequest &launch, int &argc, char **argv);

// The guard forked by a program that confines itself (startKernelGuard): its
// parent is the program, Pellim.
int runGuardProcess(UniqueFd channel, int &argc, char **argv, const KeptOutPaths &keptOut,
                    const EarlyDisplay &display = {}, const QByteArray &busFolder = {});

} // namespace pellim
