#pragma once

// Strict, streaming text decoding for the file read: byte-order marks, UTF-8,
// UTF-16 and UTF-32, and the cut after the first user-perceived characters.

#include "platform/FileAccess.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace pellim::text {

enum class Encoding { Utf8, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

struct ByteOrderMark {
    Encoding encoding = Encoding::Utf8;
    std::size_t length = 0; // bytes to skip
};

// Looks at the first min(4, file size) bytes. Without a mark the text is UTF-8.
// FF FE 00 00 is read as UTF-32LE, not as UTF-16LE starting with U+0000.
ByteOrderMark detectByteOrderMark(const unsigned char *head, std::size_t length);

// How far the UTF-8 check may use the vector unit. Anything but the fastest is
// for comparing the paths with each other; a unit the processor lacks falls
// back to the next slower one.
enum class VectorUnit { Fastest, Avx2, Scalar };

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

    struct FastUtf8;

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
    std::unique_ptr<FastUtf8> m_fast;
};

// Reads `fd` to its end in pieces of `chunkSize` bytes and decodes it strictly.
// Keeps the first `keepCharacters` user-perceived characters (extended grapheme
// clusters) and whether more text follows; everything after them is checked but
// not kept. nullopt on a read error or any byte that does not decode.
std::optional<TextPrefix> readTextPrefix(int fd, qsizetype keepCharacters,
                                         std::size_t chunkSize = std::size_t(256) * 1024);

// A single cluster longer than this many UTF-16 units (only in crafted text:
// real clusters are a few dozen units at most) is cut here and counted as one
// character, so a read never holds more than a bounded amount of text.
inline constexpr qsizetype kMaxClusterUnits = qsizetype(1) << 20;

} // namespace pellim::text
