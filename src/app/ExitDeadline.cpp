// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ExitDeadline.h"

#include <unistd.h>

namespace pellim {

void ExitDeadline::arm(int status) {
    if (m_watch.joinable())
        return;
    m_watch = std::thread([this, status] {
        std::unique_lock lock(m_mutex);
        if (m_ended.wait_for(lock, m_limit, [this] { return m_done; }))
            return;
        // Said where it can still be read: the journal has gone with the rest.
        static constexpr char kWhy[] = "pellim: the toolkit did not finish shutting down; ended\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kWhy, sizeof kWhy - 1);
        ::_exit(status);
    });
}

ExitDeadline::~ExitDeadline() {
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_ended.notify_one();
    if (m_watch.joinable())
        m_watch.join();
}

} // namespace pellim
