// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Strict, streaming decoding of UTF-8, UTF-16 and UTF-32.

#include "files/TextEncoding.h"
#include "files/Utf8Check.h"

#include <QString>

#include <cstddef>
#include <memory>

namespace pellim::text {

// Whether every byte of `data` belongs to well-formed UTF-8 that ends with a
// complete sequence.
bool isValidUtf8(const unsigned char *data, std::size_t length,
                 VectorUnit unit = VectorUnit::Fastest);

// Decodes a byte stream fed in pieces of any size. Every ill-formed sequence
// fails: invalid or overlong UTF-8, encoded surrogates, values beyond U+10FFFF,
// unpaired UTF-16 surrogates, and a stream that ends inside a sequence.
class StreamDecoder {
public:
    explicit StreamDecoder(Encoding encoding, VectorUnit vectorUnit = VectorUnit::Fastest);
    StreamDecoder(const StreamDecoder &) = delete;
    StreamDecoder &operator=(const StreamDecoder &) = delete;
    ~StreamDecoder();

    // Appends the decoded text to `out`, or only checks the bytes when `out` is
    // null. Once fed without `out`, it must not be fed with one again.
    bool feed(const unsigned char *data, std::size_t length, QString *out);
    // Whether the stream ended on a sequence boundary.
    bool finish();

private:
    bool feedUtf8(const unsigned char *data, std::size_t length, char16_t *out,
                  std::size_t &written);
    bool feedUtf16(const unsigned char *data, std::size_t length, char16_t *out,
                   std::size_t &written);
    bool feedUtf32(const unsigned char *data, std::size_t length, char16_t *out,
                   std::size_t &written);

    Encoding m_encoding;
    VectorUnit m_vectorUnit;
    bool m_failed = false;
    // UTF-8: the code point so far, the continuation bytes still due and the
    // allowed range of the next one.
    char32_t m_codePoint = 0;
    int m_due = 0;
    unsigned char m_low = 0x80, m_high = 0xBF;
    // UTF-16 and UTF-32: bytes of an incomplete unit; UTF-16: a high surrogate
    // waiting for its partner.
    unsigned char m_unit[4] = {};
    std::size_t m_unitLength = 0;
    char16_t m_highSurrogate = 0;
    // The vector check, used once only checking is asked for.
    std::unique_ptr<Utf8BlockChecker> m_fast;
};

} // namespace pellim::text
