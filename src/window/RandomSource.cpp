// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/RandomSource.h"

#include <QRandomGenerator>

#include <sys/random.h>

#include <cerrno>
#include <cstring>

namespace pellim {

std::uint64_t SystemRandomSource::next64() {
    unsigned char bytes[sizeof(std::uint64_t)];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            // No getrandom (an old kernel or a seccomp filter): Qt's system
            // generator reads the kernel's pool another way.
            return QRandomGenerator::system()->generate64();
        }
    }
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

} // namespace pellim
