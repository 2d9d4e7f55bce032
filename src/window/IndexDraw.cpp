// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/IndexDraw.h"

#include "window/RandomSource.h"

namespace pellim {

namespace {
__extension__ typedef unsigned __int128 Product;
}

std::uint64_t drawIndex(RandomSource &random, std::uint64_t n) {
    if (n == 0)
        return 0;
    Product m = static_cast<Product>(random.next64()) * n;
    auto low = static_cast<std::uint64_t>(m);
    if (low < n) {
        // (2^64 - n) mod n, computed in 64 bits.
        const std::uint64_t threshold = (0 - n) % n;
        while (low < threshold) {
            m = static_cast<Product>(random.next64()) * n;
            low = static_cast<std::uint64_t>(m);
        }
    }
    return static_cast<std::uint64_t>(m >> 64);
}

} // namespace pellim
