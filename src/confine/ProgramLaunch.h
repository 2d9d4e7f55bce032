// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/Confinement.h"
#include "paths/KeptOutPaths.h"
#include "sys/Descriptor.h"
#include "sys/Result.h"

#include <QByteArray>

#include <vector>

#include <sys/types.h>

namespace pellim {

// The variable that hands a program the guard's end of a private channel
// across exec (Pellim's; no other program gets one).
inline constexpr char kGuardChannelVariable[] = "PELLIM_GUARD_CHANNEL";

// What the program's first process says before it offers its listener.
inline constexpr char kEarlyWaylandMessage[] = "display wayland";
inline constexpr char kNoEarlyDisplayMessage[] = "display none";
// ...or, instead of the offer, why it could not confine itself: "cannot " and the reason.
inline constexpr char kCannotConfineMessage[] = "cannot ";

struct LaunchRequest {
    KeptOutPaths keptOut;
    QByteArray path;              // the resolved executable or script
    std::vector<QByteArray> argv; // argv[0] as the person gave it
    bool keepChannel = false;     // Pellim: the channel stays open across exec
    bool earlyWayland = false;    // Pellim: its own Wayland connection, made before confinement
    // Killed when the guard ends, since nothing would answer its calls; Pellim
    // is not: it hears the end on its channel and says so before it quits.
    bool diesWithGuard = true;
    // Pellim's every call is held; another program's only where Landlock
    // cannot see it, with the guard asked through a preloaded library.
    CallsHeld held = CallsHeld::Every;
    // With CallsHeld::UnseenByLandlock: the library that asks the guard about
    // what Landlock refused (AskWire.h), put first in LD_PRELOAD.
    QByteArray askLibrary;
};

struct LaunchedProgram {
    pid_t pid = -1;
    UniqueFd channel; // the guard's end: the display word, then the listener's offer
};

// Forks the program's first process. The child, before it runs anything of the
// program: dies with the guard where asked (PR_SET_PDEATHSIG), takes the default action for
// the signals the guard ignores, connects to Wayland where asked, confines
// itself (confineSelf), offers its listener on the channel and waits until the
// guard has answered with its first message (the buses, GuardBuses), which it
// reads without taking it (Pellim takes it once it runs), sets the bus
// addresses in its environment and execs. Whatever fails before the exec is
// said on the channel and the child exits with status 125; an exec that fails
// exits with 126 or 127, as a shell's would.
// Call while the calling process has one thread.
[[nodiscard]] Result<LaunchedProgram> launchConfined(const LaunchRequest &request);

} // namespace pellim
