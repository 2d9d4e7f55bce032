// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/WindowSlots.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>

namespace pellim {

UniqueFd WindowSlots::open(int slot) const {
    const QByteArray path = m_folder + "/window-" + QByteArray::number(slot);
    return UniqueFd(::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
}

int WindowSlots::hold(int wanted) {
    while (int(m_held.size()) > std::max(wanted, 0))
        m_held.pop_back(); // closing its file gives the slot back
    for (int slot = 0; slot < m_count && int(m_held.size()) < wanted; ++slot) {
        if (std::any_of(m_held.begin(), m_held.end(),
                        [&](const auto &h) { return h.first == slot; }))
            continue;
        // flock holds across every open of the file, in this process too.
        UniqueFd file = open(slot);
        if (file.isValid() && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0)
            m_held.emplace_back(slot, std::move(file));
    }
    return int(m_held.size());
}

int WindowSlots::taken() const {
    int taken = int(m_held.size());
    for (int slot = 0; slot < m_count; ++slot) {
        if (std::any_of(m_held.begin(), m_held.end(),
                        [&](const auto &h) { return h.first == slot; }))
            continue;
        const UniqueFd file = open(slot);
        taken += file.isValid() && ::flock(file.get(), LOCK_EX | LOCK_NB) != 0;
    }
    return taken;
}

} // namespace pellim
