// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace pellim {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // A uniformly distributed 64-bit value.
    virtual std::uint64_t next64() = 0;
};

// The kernel's CSPRNG (getrandom).
class SystemRandomSource final : public RandomSource {
public:
    std::uint64_t next64() override;
};

} // namespace pellim
