// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace pellim {

class RandomSource;

// An index drawn uniformly from [0, n) for n > 0: the high 64 bits of r * n,
// redrawing r only while the low 64 bits fall below (2^64 - n) mod n, which removes
// the bias of the multiplication. Returns 0 for n == 0 without drawing.
std::uint64_t drawIndex(RandomSource &random, std::uint64_t n);

} // namespace pellim
