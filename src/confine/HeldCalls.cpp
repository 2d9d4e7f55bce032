// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/HeldCalls.h"

#include <fcntl.h>
#include <seccomp.h>

#include <algorithm>
#include <cerrno>

namespace pellim {

static_assert(kCreatFlags == (O_CREAT | O_WRONLY | O_TRUNC));
static_assert(kRemoveDirFlag == AT_REMOVEDIR);
static_assert(kNoFollowFlag == AT_SYMLINK_NOFOLLOW);
static_assert(kEPERM == EPERM && kENOSYS == ENOSYS);

namespace {

// The number libseccomp knows the call by, or the one the table gives for
// x86-64 where libseccomp is older than the call.
int numberOf(const char *name, [[maybe_unused]] int x86_64) {
    const int nr = ::seccomp_syscall_resolve_name(name);
#if defined(__x86_64__)
    if (nr < 0)
        return x86_64;
#endif
    return nr;
}

} // namespace

HeldCallTable::HeldCallTable() {
    for (const HeldCall &call : kHeldCalls) {
        const int nr = numberOf(call.name, call.x86_64);
        if (nr >= 0)
            m_entries.push_back(Entry{nr, &call});
    }
    for (const RefusedCall &call : kRefusedCalls) {
        const int nr = numberOf(call.name, call.x86_64);
        if (nr >= 0)
            m_refusals.push_back(Refusal{nr, call.error});
    }
#if defined(__x86_64__)
    for (int nr = kFirstUncheckedX86_64; nr <= kLastX86_64; ++nr)
        m_refusals.push_back(Refusal{nr, ENOSYS});
#endif
    std::sort(m_entries.begin(), m_entries.end(),
              [](const Entry &a, const Entry &b) { return a.nr < b.nr; });
}

const HeldCall *HeldCallTable::find(int nr) const {
    const auto at = std::lower_bound(m_entries.begin(), m_entries.end(), nr,
                                     [](const Entry &e, int n) { return e.nr < n; });
    return at != m_entries.end() && at->nr == nr ? at->call : nullptr;
}

} // namespace pellim
