// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace pellim {

// Bounds how long the program takes to end once its work is done. Armed with
// the status it ends with, it ends the process with that status (_exit) unless
// it is destroyed within `limit`: the teardown that follows must not hang.
//
// Qt 6.4's Wayland client can deadlock as it shuts down: its event thread may
// leave a read that the main thread prepared for it neither done nor cancelled,
// and the frame event thread then waits in wl_display_read_events for ever.
// By then every window is gone and every entry written; without this the
// person is left with a process that never ends.
class ExitDeadline final {
public:
    explicit ExitDeadline(std::chrono::milliseconds limit) : m_limit(limit) {}
    ~ExitDeadline();
    ExitDeadline(const ExitDeadline &) = delete;
    ExitDeadline &operator=(const ExitDeadline &) = delete;

    // Once only; from here on the clock runs.
    void arm(int status);

private:
    std::chrono::milliseconds m_limit;
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    std::thread m_watch;
};

} // namespace pellim
