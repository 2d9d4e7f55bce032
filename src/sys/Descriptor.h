// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every part that works on file descriptors needs: owning one, writing a
// whole buffer to one, and saying what went wrong.

#include <QByteArray>
#include <QString>

#include <utility>

namespace pellim {

// Owns one descriptor and closes it once. Move-only, so an early return can
// neither leak it nor close it twice.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1);
    // Closes now and returns what close() said: some file systems report a
    // failed write only there.
    int close();

private:
    int m_fd = -1;
};

// Writes all of `bytes` to `fd`, across partial writes and interruptions.
// False, with errno set (EIO where the kernel took nothing and said nothing),
// on the first write that fails: a full disk, a file-size limit, a full pipe.
bool writeAll(int fd, const QByteArray &bytes);

// What `error` (an errno value) means, in English whatever the locale:
// "Permission denied". Journal entries carry it, and they read the same in
// every language.
QString errnoText(int error);

} // namespace pellim
