// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The vector UTF-8 check: whole 64-byte blocks at a time with AVX2 or AVX-512,
// for the part of a file that is only checked, never shown.

#include <cstddef>
#include <memory>

namespace pellim::text {

// How far the UTF-8 check may use the vector unit. Anything but the fastest is
// for comparing the paths with each other; a unit the processor lacks falls
// back to the next slower one.
enum class VectorUnit { Fastest, Avx2, Scalar };

// Checks a UTF-8 stream fed in pieces of any size.
class Utf8BlockChecker {
public:
    // Null where the processor (or `limit`) allows no vector path: the scalar
    // decoder checks then.
    static std::unique_ptr<Utf8BlockChecker> create(VectorUnit limit);
    ~Utf8BlockChecker();
    Utf8BlockChecker(const Utf8BlockChecker &) = delete;
    Utf8BlockChecker &operator=(const Utf8BlockChecker &) = delete;

    // False once any byte so far is ill-formed.
    bool feed(const unsigned char *data, std::size_t length);
    // Whether the whole stream was well-formed and ended on a sequence boundary.
    bool finish();

private:
    struct Stream;
    explicit Utf8BlockChecker(std::unique_ptr<Stream> stream);
    std::unique_ptr<Stream> m_stream;
};

} // namespace pellim::text
