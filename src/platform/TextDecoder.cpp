#include "platform/TextDecoder.h"

#include <QTextBoundaryFinder>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PELLIM_HAVE_VECTOR_PATHS 1
#endif

namespace pellim::text {

ByteOrderMark detectByteOrderMark(const unsigned char *h, std::size_t n) {
    if (n >= 3 && h[0] == 0xEF && h[1] == 0xBB && h[2] == 0xBF)
        return {Encoding::Utf8, 3};
    if (n >= 4 && h[0] == 0xFF && h[1] == 0xFE && h[2] == 0 && h[3] == 0)
        return {Encoding::Utf32LE, 4};
    if (n >= 4 && h[0] == 0 && h[1] == 0 && h[2] == 0xFE && h[3] == 0xFF)
        return {Encoding::Utf32BE, 4};
    if (n >= 2 && h[0] == 0xFF && h[1] == 0xFE)
        return {Encoding::Utf16LE, 2};
    if (n >= 2 && h[0] == 0xFE && h[1] == 0xFF)
        return {Encoding::Utf16BE, 2};
    return {Encoding::Utf8, 0};
}

// ---------------------------------------------------------------------------
// The vector check: each byte is classified together with the byte before it
// through three 16-entry tables (high nibble of the previous byte, its low
// nibble, high nibble of this byte); each table entry is a set of error kinds,
// and a pair is ill-formed when all three agree on one. Third and fourth bytes
// of long sequences are checked by looking two and three bytes back.
//
// The bytes one, two and three places back are loaded straight from memory,
// which costs load slots the check does not otherwise use, instead of being
// shuffled out of the previous block on the one port every table lookup
// needs. Hence the contract of the block functions: the three bytes before
// `data` are readable and are the stream's bytes before it.
namespace {

constexpr unsigned char kTooShort = 1 << 0;     // lead followed by a lead or ASCII
constexpr unsigned char kTooLong = 1 << 1;      // ASCII followed by a continuation
constexpr unsigned char kOverlong3 = 1 << 2;    // E0 80..9F
constexpr unsigned char kTooLarge = 1 << 3;     // F4 90..BF, F5..FF 90..BF
constexpr unsigned char kSurrogate = 1 << 4;    // ED A0..BF
constexpr unsigned char kOverlong2 = 1 << 5;    // C0, C1
constexpr unsigned char kTooLarge1000 = 1 << 6; // F5..FF 80..8F
constexpr unsigned char kOverlong4 = 1 << 6;    // F0 80..8F
constexpr unsigned char kTwoConts = 1 << 7;     // continuation after continuation
constexpr unsigned char kCarry = kTooShort | kTooLong | kTwoConts;

using Nibbles = unsigned char[16];

constexpr Nibbles kByte1High = {kTooLong,
                                kTooLong,
                                kTooLong,
                                kTooLong,
                                kTooLong,
                                kTooLong,
                                kTooLong,
                                kTooLong,
                                kTwoConts,
                                kTwoConts,
                                kTwoConts,
                                kTwoConts,
                                kTooShort | kOverlong2,
                                kTooShort,
                                kTooShort | kOverlong3 | kSurrogate,
                                kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};

constexpr Nibbles kByte1Low = {kCarry | kOverlong3 | kOverlong2 | kOverlong4,
                               kCarry | kOverlong2,
                               kCarry,
                               kCarry,
                               kCarry | kTooLarge,
                               kCarry | kTooLarge | kTooLarge1000,
                               kCarry | kTooLarge | kTooLarge1000,
                               kCarry | kTooLarge | kTooLarge1000,
                               kCarry | kTooLarge | kTooLarge1000,
                               kCarry | kTooLarge | kTooLarge1000,
                               kCarry | kTooLarge | kTooLarge1000,
                               kCarry | kTooLarge | kTooLarge1000,
                               kCarry | kTooLarge | kTooLarge1000,
                               kCarry | kTooLarge | kTooLarge1000 | kSurrogate,
                               kCarry | kTooLarge | kTooLarge1000,
                               kCarry | kTooLarge | kTooLarge1000};

constexpr Nibbles kByte2High = {kTooShort,
                                kTooShort,
                                kTooShort,
                                kTooShort,
                                kTooShort,
                                kTooShort,
                                kTooShort,
                                kTooShort,
                                kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 |
                                    kOverlong4,
                                kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,
                                kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
                                kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
                                kTooShort,
                                kTooShort,
                                kTooShort,
                                kTooShort};

// A table repeated over 64 entries: the 256-bit lookup takes 16 entries per
// 128-bit lane, and the 512-bit one indexes by the low six bits of a byte, so
// the two bits above the nibble need no masking.
struct WideTable {
    alignas(64) unsigned char entries[64];
};
constexpr WideTable widen(const Nibbles &table) {
    WideTable wide{};
    for (int i = 0; i < 64; ++i)
        wide.entries[i] = table[i % 16];
    return wide;
}
constexpr WideTable kWideByte1High = widen(kByte1High);
constexpr WideTable kWideByte1Low = widen(kByte1Low);
constexpr WideTable kWideByte2High = widen(kByte2High);

// Blocks of 64 bytes; four blocks of plain ASCII are skipped at once.
constexpr std::size_t kBlock = 64;

// Whether the three bytes before plain ASCII at `p` leave a sequence unfinished.
inline bool cutBeforeAscii(const unsigned char *p) {
    return (p[-1] >= 0xC0) | (p[-2] >= 0xE0) | (p[-3] >= 0xF0);
}

#ifdef PELLIM_HAVE_VECTOR_PATHS
__attribute__((target("avx2"))) inline __m256i at256(const unsigned char *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

__attribute__((target("avx2"))) bool checkBlocksAvx2(const unsigned char *data,
                                                     std::size_t blocks) {
    const __m256i high1 = at256(kWideByte1High.entries);
    const __m256i low1 = at256(kWideByte1Low.entries);
    const __m256i high2 = at256(kWideByte2High.entries);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i thirdBase = _mm256_set1_epi8(char(0xE0 - 0x80));
    const __m256i fourthBase = _mm256_set1_epi8(char(0xF0 - 0x80));
    const __m256i topBit = _mm256_set1_epi8(char(0x80));
    __m256i error = _mm256_setzero_si256();
    bool cut = false;
    std::size_t b = 0;
    while (b < blocks) {
        const unsigned char *group = data + kBlock * b;
        std::size_t count = std::min<std::size_t>(4, blocks - b);
        if (count == 4) {
            __m256i any = at256(group);
            for (std::size_t i = 32; i < 4 * kBlock; i += 32)
                any = _mm256_or_si256(any, at256(group + i));
            if (_mm256_movemask_epi8(any) == 0) {
                cut |= cutBeforeAscii(group);
                b += 4;
                continue;
            }
        }
        for (const unsigned char *p = group; p < group + count * kBlock; p += 32) {
            const __m256i input = at256(p);
            const __m256i prev1 = at256(p - 1);
            const __m256i special = _mm256_and_si256(
                _mm256_and_si256(_mm256_shuffle_epi8(
                                     high1, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                                 _mm256_shuffle_epi8(low1, _mm256_and_si256(prev1, nibble))),
                _mm256_shuffle_epi8(high2, _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble)));
            const __m256i mustContinue =
                _mm256_and_si256(_mm256_or_si256(_mm256_subs_epu8(at256(p - 2), thirdBase),
                                                 _mm256_subs_epu8(at256(p - 3), fourthBase)),
                                 topBit);
            error = _mm256_or_si256(error, _mm256_xor_si256(mustContinue, special));
        }
        b += count;
    }
    return cut || !_mm256_testz_si256(error, error);
}

#define PELLIM_AVX512 target("avx512f,avx512bw,avx512vbmi")
// GCC 12's byte permute starts from an undefined vector and then warns about it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((PELLIM_AVX512)) inline __m512i at512(const unsigned char *p) {
    return _mm512_loadu_si512(p);
}

__attribute__((PELLIM_AVX512)) bool checkBlocksAvx512(const unsigned char *data,
                                                      std::size_t blocks) {
    const __m512i high1 = at512(kWideByte1High.entries);
    const __m512i low1 = at512(kWideByte1Low.entries);
    const __m512i high2 = at512(kWideByte2High.entries);
    const __m512i thirdBase = _mm512_set1_epi8(char(0xE0 - 0x80));
    const __m512i fourthBase = _mm512_set1_epi8(char(0xF0 - 0x80));
    const __m512i topBit = _mm512_set1_epi8(char(0x80));
    // Three-input logic: 0xF0, 0xCC and 0xAA stand for the first, second and third.
    constexpr int kAnd3 = 0xF0 & 0xCC & 0xAA;
    constexpr int kOr3 = 0xF0 | 0xCC | 0xAA;
    constexpr int kOrThenAnd = (0xF0 | 0xCC) & 0xAA;
    constexpr int kOrXor = 0xF0 | (0xCC ^ 0xAA);
    __m512i error = _mm512_setzero_si512();
    bool cut = false;
    std::size_t b = 0;
    while (b < blocks) {
        const unsigned char *group = data + kBlock * b;
        std::size_t count = std::min<std::size_t>(4, blocks - b);
        if (count == 4) {
            const __m512i any =
                _mm512_or_si512(_mm512_ternarylogic_epi32(at512(group), at512(group + 64),
                                                          at512(group + 128), kOr3),
                                at512(group + 192));
            if (_mm512_movepi8_mask(any) == 0) {
                cut |= cutBeforeAscii(group);
                b += 4;
                continue;
            }
        }
        for (const unsigned char *p = group; p < group + count * kBlock; p += kBlock) {
            const __m512i input = at512(p);
            const __m512i prev1 = at512(p - 1);
            const __m512i special = _mm512_ternarylogic_epi32(
                _mm512_permutexvar_epi8(_mm512_srli_epi16(prev1, 4), high1),
                _mm512_permutexvar_epi8(prev1, low1),
                _mm512_permutexvar_epi8(_mm512_srli_epi16(input, 4), high2), kAnd3);
            const __m512i mustContinue = _mm512_ternarylogic_epi32(
                _mm512_subs_epu8(at512(p - 2), thirdBase),
                _mm512_subs_epu8(at512(p - 3), fourthBase), topBit, kOrThenAnd);
            error = _mm512_ternarylogic_epi32(error, mustContinue, special, kOrXor);
        }
        b += count;
    }
    return cut || _mm512_test_epi64_mask(error, error) != 0;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#undef PELLIM_AVX512
#endif

using BlockCheck = bool (*)(const unsigned char *, std::size_t);

// The fastest block check the processor runs, no faster than `limit`; null
// where there is none and the scalar decoder checks.
BlockCheck blockCheck(VectorUnit limit) {
#ifdef PELLIM_HAVE_VECTOR_PATHS
    static const bool avx512 = __builtin_cpu_supports("avx512f") &&
                               __builtin_cpu_supports("avx512bw") &&
                               __builtin_cpu_supports("avx512vbmi");
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (limit == VectorUnit::Fastest && avx512)
        return checkBlocksAvx512;
    if (limit != VectorUnit::Scalar && avx2)
        return checkBlocksAvx2;
#else
    (void)limit;
#endif
    return nullptr;
}

} // namespace

// Streaming form of the vector check. Whole blocks are checked where they lie;
// a block that would start less than three bytes into a piece, or that the
// piece does not fill, is first copied behind the stream's three bytes before
// it. The end is padded with ASCII, which makes a sequence cut off there an
// error.
struct StreamDecoder::FastUtf8 {
    explicit FastUtf8(BlockCheck check) : check(check) {}

    BlockCheck check;
    // stage[kBlock - 3, kBlock): the three bytes before stage[kBlock]; a block
    // being gathered from stage[kBlock].
    alignas(64) unsigned char stage[2 * kBlock] = {};
    std::size_t staged = 0;
    bool error = false;

    void feed(const unsigned char *data, std::size_t length) {
        std::size_t used = 0;
        while (used < length) {
            if (staged > 0 || used < 3) {
                const std::size_t take = std::min(length - used, kBlock - staged);
                std::memcpy(stage + kBlock + staged, data + used, take);
                staged += take;
                used += take;
                if (staged < kBlock)
                    return;
                checkStage();
                continue;
            }
            const std::size_t blocks = (length - used) / kBlock;
            error |= check(data + used, blocks);
            used += kBlock * blocks;
            std::memcpy(stage + kBlock - 3, data + used - 3, 3);
            if (used < length) {
                staged = length - used;
                std::memcpy(stage + kBlock, data + used, staged);
                return;
            }
        }
    }
    bool finish() {
        std::memset(stage + kBlock + staged, 0, kBlock - staged);
        checkStage();
        return !error;
    }
    void checkStage() {
        error |= check(stage + kBlock, 1);
        std::memcpy(stage + kBlock - 3, stage + 2 * kBlock - 3, 3);
        staged = 0;
    }
};

StreamDecoder::StreamDecoder(Encoding encoding, VectorUnit vectorUnit)
    : m_encoding(encoding), m_vectorUnit(vectorUnit) {}

StreamDecoder::~StreamDecoder() = default;

bool StreamDecoder::feed(const unsigned char *data, std::size_t length, QString *out) {
    if (m_failed)
        return false;
    if (length == 0)
        return true;
    if (!out && m_encoding == Encoding::Utf8 && !m_fast) {
        if (const BlockCheck check = blockCheck(m_vectorUnit)) {
            // Hand over a sequence the scalar decoder had begun: replay its
            // bytes. Only its lead and continuation bytes are needed, and they
            // are kept below.
            m_fast = std::make_unique<FastUtf8>(check);
            if (m_unitLength > 0)
                m_fast->feed(m_unit, m_unitLength);
            m_unitLength = 0;
            m_due = 0;
        }
    }
    if (m_fast) {
        m_fast->feed(data, length);
        m_failed = m_fast->error;
        return !m_failed;
    }

    std::size_t written = 0;
    char16_t *target = nullptr;
    qsizetype start = 0;
    if (out) {
        // UTF-8 gives at most one unit per byte; UTF-16 and UTF-32 at most one
        // per two bytes, plus a surrogate pair completed from an earlier piece.
        start = out->size();
        out->resize(start + qsizetype(length) + 2);
        target = reinterpret_cast<char16_t *>(out->data()) + start;
    }
    bool ok = false;
    switch (m_encoding) {
    case Encoding::Utf8:
        ok = feedUtf8(data, length, target, written);
        break;
    case Encoding::Utf16LE:
    case Encoding::Utf16BE:
        ok = feedUtf16(data, length, target, written);
        break;
    case Encoding::Utf32LE:
    case Encoding::Utf32BE:
        ok = feedUtf32(data, length, target, written);
        break;
    }
    if (out)
        out->resize(start + qsizetype(written));
    if (!ok)
        m_failed = true;
    return ok;
}

bool StreamDecoder::finish() {
    if (m_failed)
        return false;
    if (m_fast && !m_fast->finish())
        return false;
    return m_due == 0 && m_unitLength == 0 && m_highSurrogate == 0;
}

namespace {
inline void put(char16_t *out, std::size_t &written, char32_t cp) {
    if (!out) {
        return;
    }
    if (cp < 0x10000) {
        out[written++] = char16_t(cp);
    } else {
        out[written++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
        out[written++] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
}
} // namespace

bool StreamDecoder::feedUtf8(const unsigned char *data, std::size_t length, char16_t *out,
                             std::size_t &written) {
    std::size_t i = 0;
    while (i < length) {
        const unsigned char c = data[i];
        if (m_due > 0) {
            if (c < m_low || c > m_high)
                return false;
            m_codePoint = (m_codePoint << 6) | (c & 0x3F);
            m_unit[m_unitLength++] = c;
            m_low = 0x80;
            m_high = 0xBF;
            ++i;
            if (--m_due == 0) {
                put(out, written, m_codePoint);
                m_unitLength = 0;
            }
            continue;
        }
        if (c < 0x80) {
            // A run of ASCII.
            std::size_t j = i;
            while (j < length && data[j] < 0x80)
                ++j;
            if (out) {
                for (std::size_t k = i; k < j; ++k)
                    out[written++] = char16_t(data[k]);
            }
            i = j;
            continue;
        }
        // A lead byte fixes the length and the range of the second byte, which
        // rules out overlong forms, surrogates and values beyond U+10FFFF.
        m_low = 0x80;
        m_high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            m_due = 1;
            m_codePoint = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            m_due = 2;
            m_codePoint = c & 0x0F;
            if (c == 0xE0)
                m_low = 0xA0;
            else if (c == 0xED)
                m_high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            m_due = 3;
            m_codePoint = c & 0x07;
            if (c == 0xF0)
                m_low = 0x90;
            else if (c == 0xF4)
                m_high = 0x8F;
        } else {
            return false;
        }
        m_unit[0] = c;
        m_unitLength = 1;
        ++i;
    }
    return true;
}

bool StreamDecoder::feedUtf16(const unsigned char *data, std::size_t length, char16_t *out,
                              std::size_t &written) {
    const bool little = m_encoding == Encoding::Utf16LE;
    std::size_t i = 0;
    while (i < length) {
        m_unit[m_unitLength++] = data[i++];
        if (m_unitLength < 2)
            continue;
        m_unitLength = 0;
        const char16_t u = little ? char16_t(m_unit[0] | (m_unit[1] << 8))
                                  : char16_t((m_unit[0] << 8) | m_unit[1]);
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        const bool low = u >= 0xDC00 && u <= 0xDFFF;
        if (m_highSurrogate) {
            if (!low)
                return false;
            if (out) {
                out[written++] = m_highSurrogate;
                out[written++] = u;
            }
            m_highSurrogate = 0;
        } else if (high) {
            m_highSurrogate = u;
        } else if (low) {
            return false;
        } else if (out) {
            out[written++] = u;
        }
    }
    return true;
}

bool StreamDecoder::feedUtf32(const unsigned char *data, std::size_t length, char16_t *out,
                              std::size_t &written) {
    const bool little = m_encoding == Encoding::Utf32LE;
    for (std::size_t i = 0; i < length; ++i) {
        m_unit[m_unitLength++] = data[i];
        if (m_unitLength < 4)
            continue;
        m_unitLength = 0;
        const char32_t cp = little ? char32_t(m_unit[0]) | char32_t(m_unit[1]) << 8 |
                                         char32_t(m_unit[2]) << 16 | char32_t(m_unit[3]) << 24
                                   : char32_t(m_unit[3]) | char32_t(m_unit[2]) << 8 |
                                         char32_t(m_unit[1]) << 16 | char32_t(m_unit[0]) << 24;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        put(out, written, cp);
    }
    return true;
}

bool isValidUtf8(const unsigned char *data, std::size_t length, VectorUnit unit) {
    StreamDecoder decoder(Encoding::Utf8, unit);
    return decoder.feed(data, length, nullptr) && decoder.finish();
}

// ---------------------------------------------------------------------------

namespace {

// Collects decoded text until the first `keep` clusters are certain. A break
// between two characters depends only on what lies before it and on the one
// character after it, so a break with text after it never moves again.
class ClusterCut {
public:
    explicit ClusterCut(qsizetype keep) : m_keep(keep) {
        if (m_keep <= 0)
            m_done = true;
    }
    bool done() const { return m_done; }
    QString *buffer() { return &m_text; }

    void scan() {
        while (!m_done) {
            const qsizetype available = m_text.size() - m_settled;
            const qsizetype window = std::min(available, kMaxClusterUnits);
            if (window < 2)
                break;
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme,
                                       m_text.constData() + m_settled, window);
            qsizetype last = 0;
            for (qsizetype b = finder.toNextBoundary(); b > 0 && b < window;
                 b = finder.toNextBoundary()) {
                last = b;
                if (++m_count == m_keep) {
                    m_text.truncate(m_settled + b);
                    m_done = true;
                    m_more = true;
                    return;
                }
            }
            if (last == 0) {
                if (available < kMaxClusterUnits)
                    break;
                // One cluster without end in sight: cut it, on a code point edge.
                qsizetype cut = kMaxClusterUnits;
                if (m_text.at(m_settled + cut - 1).isHighSurrogate())
                    --cut;
                m_settled += cut;
                if (++m_count == m_keep) {
                    m_more = m_text.size() > m_settled;
                    m_moreUnknown = !m_more;
                    m_text.truncate(m_settled);
                    m_done = true;
                    return;
                }
                continue;
            }
            m_settled += last;
            if (window == available)
                break;
        }
    }

    TextPrefix result(bool textAfterCut) {
        TextPrefix prefix;
        if (m_keep <= 0) {
            prefix.more = textAfterCut;
            return prefix;
        }
        prefix.text = std::move(m_text);
        prefix.more = m_more || (m_moreUnknown && textAfterCut);
        return prefix;
    }

private:
    qsizetype m_keep;
    QString m_text;
    qsizetype m_settled = 0; // end of the last certain break in m_text
    qsizetype m_count = 0;   // clusters before m_settled
    bool m_done = false;
    bool m_more = false;
    bool m_moreUnknown = false;
};

// read(2) until `length` bytes or the end; -1 on an error.
ssize_t readFully(int fd, unsigned char *buffer, std::size_t length) {
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = ::read(fd, buffer + got, length - got);
        if (n > 0) {
            got += std::size_t(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return ssize_t(got);
}

} // namespace

std::optional<TextPrefix> readTextPrefix(int fd, qsizetype keepCharacters, std::size_t chunkSize) {
    chunkSize = std::max<std::size_t>(chunkSize, 4);
    // Page-aligned: the kernel copies into it markedly faster.
    chunkSize = (chunkSize + 4095) / 4096 * 4096;
    struct FreeBuffer {
        void operator()(unsigned char *p) const { std::free(p); }
    };
    std::unique_ptr<unsigned char[], FreeBuffer> buffer(
        static_cast<unsigned char *>(std::aligned_alloc(4096, chunkSize)));
    if (!buffer)
        return std::nullopt;

    ssize_t got = readFully(fd, buffer.get(), chunkSize);
    if (got < 0)
        return std::nullopt;
    bool atEnd = std::size_t(got) < chunkSize;
    std::size_t length = std::size_t(got);

    const ByteOrderMark mark = detectByteOrderMark(buffer.get(), std::min<std::size_t>(length, 4));
    StreamDecoder decoder(mark.encoding);
    ClusterCut cut(keepCharacters);
    const unsigned char *data = buffer.get() + mark.length;
    length -= mark.length;
    bool textAfterCut = false;

    for (;;) {
        // Decoding into text is far slower than the check alone, so text is
        // made a page at a time, and only until the kept characters are certain.
        while (length > 0 && !cut.done()) {
            const std::size_t piece = std::min<std::size_t>(length, 4096);
            if (!decoder.feed(data, piece, cut.buffer()))
                return std::nullopt;
            cut.scan();
            data += piece;
            length -= piece;
        }
        if (length > 0) {
            textAfterCut = true;
            if (!decoder.feed(data, length, nullptr))
                return std::nullopt;
        }
        if (atEnd)
            break;
        got = readFully(fd, buffer.get(), chunkSize);
        if (got < 0)
            return std::nullopt;
        atEnd = std::size_t(got) < chunkSize;
        data = buffer.get();
        length = std::size_t(got);
    }
    if (!decoder.finish())
        return std::nullopt;
    return cut.result(textAfterCut);
}

} // namespace pellim::text
