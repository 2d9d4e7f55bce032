// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/HeldCalls.h"
#include "confine/Perform.h"

#include <sys/types.h>

#include <cstdint>

namespace pellim {

// Which processes are the confined program's own: the first one it was started
// as and every process descended from it. Signals and the links in /proc/PID/
// reach only these; the guard, its helpers and every other process of the
// person's stay out of reach.
// Ends the program: SIGKILL to `first` and every process descending from it,
// and to what it left behind with the command that started the guard (our
// parent, a subreaper, inherits the program's orphans), the guard and its own
// children (the bus daemon) aside. Goes on until a look finds none left, so
// that one forked meanwhile goes too.
void endProgram(pid_t first);

class OwnProcesses {
public:
    // Until a first process is named, only a caller's own process counts.
    void setFirst(pid_t first) { m_first = first; }

    // Whether `pid` (a process or one of its threads) is one of them. One whose
    // parent has ended and was taken in elsewhere is not known to be: refused.
    [[nodiscard]] bool own(pid_t pid, pid_t caller) const;

    // A held kill, tkill, tgkill, rt_sigqueueinfo, rt_tgsigqueueinfo or
    // pidfd_send_signal (held below Landlock ABI 6, whose signal scope does the
    // same): goes on when every process it reaches is one of them, else EPERM.
    // A target that does not exist goes on, for the kernel's own error.
    [[nodiscard]] Reply answerSignal(const HeldCall &call, const unsigned long long args[6],
                                     pid_t callerTid) const;

private:
    [[nodiscard]] bool groupOwn(pid_t group, pid_t caller) const;
    pid_t m_first = 0;
};

} // namespace pellim
