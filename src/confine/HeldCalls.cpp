// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/HeldCalls.h"

#include <fcntl.h>
#include <seccomp.h>

#include <algorithm>

namespace pellim {

static_assert(kCreatFlags == (O_CREAT | O_WRONLY | O_TRUNC));
static_assert(kRemoveDirFlag == AT_REMOVEDIR);

HeldCallTable::HeldCallTable() {
    for (const HeldCall &call : kHeldCalls) {
        const int nr = ::seccomp_syscall_resolve_name(call.name);
        if (nr >= 0)
            m_entries.push_back(Entry{nr, &call});
    }
    std::sort(m_entries.begin(), m_entries.end(),
              [](const Entry &a, const Entry &b) { return a.nr < b.nr; });
}

const HeldCall *HeldCallTable::find(int nr) const {
    const auto at = std::lower_bound(m_entries.begin(), m_entries.end(), nr,
                                     [](const Entry &e, int n) { return e.nr < n; });
    return at != m_entries.end() && at->nr == nr ? at->call : nullptr;
}

} // namespace pellim
