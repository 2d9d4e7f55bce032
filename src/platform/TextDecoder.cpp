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
#define PELLIM_HAVE_AVX2_PATH 1
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
// The vector check: for each 32-byte block, every byte is classified together
// with the byte before it through three 16-entry tables (high nibble of the
// previous byte, its low nibble, high nibble of this byte); each table entry is
// a set of error kinds, and a pair is ill-formed when all three agree on one.
// Third and fourth bytes of long sequences are checked by looking two and three
// bytes back. Blocks of plain ASCII skip all of this.
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

alignas(32) constexpr unsigned char kByte1High[32] = {
    kTooLong,
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
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,
    kTooLong,
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

#define PELLIM_LOW_TABLE                                                                           \
    kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,            \
        kCarry | kTooLarge, kCarry | kTooLarge | kTooLarge1000,                                    \
        kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,                    \
        kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,                    \
        kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,                    \
        kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000 | kSurrogate,       \
        kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000
alignas(32) constexpr unsigned char kByte1Low[32] = {PELLIM_LOW_TABLE, PELLIM_LOW_TABLE};
#undef PELLIM_LOW_TABLE

#define PELLIM_HIGH2_TABLE                                                                         \
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,        \
        kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,               \
        kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,                                \
        kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                                \
        kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge, kTooShort, kTooShort,          \
        kTooShort, kTooShort
alignas(32) constexpr unsigned char kByte2High[32] = {PELLIM_HIGH2_TABLE, PELLIM_HIGH2_TABLE};
#undef PELLIM_HIGH2_TABLE

// Bytes that, in the last three places of a block, still wait for continuations.
alignas(32) constexpr unsigned char kIncompleteMax[32] = {
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,      255,      255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0xF0 - 1, 0xE0 - 1, 0xC0 - 1};

bool cpuHasAvx2() {
#ifdef PELLIM_HAVE_AVX2_PATH
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

struct VectorState {
    alignas(32) unsigned char previous[32] = {};
    alignas(32) unsigned char previousIncomplete[32] = {};
    bool error = false;
};

#ifdef PELLIM_HAVE_AVX2_PATH
__attribute__((target("avx2"))) void checkBlocksAvx2(const unsigned char *data, std::size_t blocks,
                                                     VectorState &state) {
    const __m256i tableHigh1 = _mm256_load_si256(reinterpret_cast<const __m256i *>(kByte1High));
    const __m256i tableLow1 = _mm256_load_si256(reinterpret_cast<const __m256i *>(kByte1Low));
    const __m256i tableHigh2 = _mm256_load_si256(reinterpret_cast<const __m256i *>(kByte2High));
    const __m256i incompleteMax =
        _mm256_load_si256(reinterpret_cast<const __m256i *>(kIncompleteMax));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    __m256i previous = _mm256_load_si256(reinterpret_cast<const __m256i *>(state.previous));
    __m256i previousIncomplete =
        _mm256_load_si256(reinterpret_cast<const __m256i *>(state.previousIncomplete));
    __m256i error = _mm256_setzero_si256();

    for (std::size_t b = 0; b < blocks; ++b) {
        // Four blocks of ASCII at a time: only the last of them matters as the
        // "previous" block, and none of them leaves a sequence open.
        if (b + 4 <= blocks) {
            const auto *group = reinterpret_cast<const __m256i *>(data + 32 * b);
            const __m256i last = _mm256_loadu_si256(group + 3);
            const __m256i any = _mm256_or_si256(
                _mm256_or_si256(_mm256_loadu_si256(group), _mm256_loadu_si256(group + 1)),
                _mm256_or_si256(_mm256_loadu_si256(group + 2), last));
            if (_mm256_movemask_epi8(any) == 0) {
                error = _mm256_or_si256(error, previousIncomplete);
                previousIncomplete = _mm256_setzero_si256();
                previous = last;
                b += 3;
                continue;
            }
        }
        const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + 32 * b));
        if (_mm256_movemask_epi8(input) == 0) {
            error = _mm256_or_si256(error, previousIncomplete);
            previousIncomplete = _mm256_setzero_si256();
            previous = input;
            continue;
        }
        // The bytes one, two and three places earlier, across the block edge.
        const __m256i joined = _mm256_permute2x128_si256(previous, input, 0x21);
        const __m256i prev1 = _mm256_alignr_epi8(input, joined, 15);
        const __m256i prev2 = _mm256_alignr_epi8(input, joined, 14);
        const __m256i prev3 = _mm256_alignr_epi8(input, joined, 13);

        const __m256i high1 =
            _mm256_shuffle_epi8(tableHigh1, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble));
        const __m256i low1 = _mm256_shuffle_epi8(tableLow1, _mm256_and_si256(prev1, nibble));
        const __m256i high2 =
            _mm256_shuffle_epi8(tableHigh2, _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble));
        const __m256i special = _mm256_and_si256(_mm256_and_si256(high1, low1), high2);

        const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(char(0xE0 - 0x80)));
        const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(char(0xF0 - 0x80)));
        const __m256i mustContinue =
            _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(char(0x80)));
        error = _mm256_or_si256(error, _mm256_xor_si256(mustContinue, special));

        previousIncomplete = _mm256_subs_epu8(input, incompleteMax);
        previous = input;
    }
    _mm256_store_si256(reinterpret_cast<__m256i *>(state.previous), previous);
    _mm256_store_si256(reinterpret_cast<__m256i *>(state.previousIncomplete), previousIncomplete);
    if (!_mm256_testz_si256(error, error))
        state.error = true;
}
#endif

} // namespace

// Streaming form of the vector check: whole blocks go straight through, the
// rest waits for the next piece; the end is padded with ASCII, which makes a
// sequence cut off at the end an error.
struct StreamDecoder::FastUtf8 {
    VectorState state;
    alignas(32) unsigned char pending[32] = {};
    std::size_t pendingLength = 0;

    void feed(const unsigned char *data, std::size_t length) {
        if (pendingLength > 0) {
            const std::size_t take = std::min(length, 32 - pendingLength);
            std::memcpy(pending + pendingLength, data, take);
            pendingLength += take;
            data += take;
            length -= take;
            if (pendingLength < 32)
                return;
            check(pending, 1);
            pendingLength = 0;
        }
        const std::size_t blocks = length / 32;
        check(data, blocks);
        const std::size_t rest = length - 32 * blocks;
        std::memcpy(pending, data + 32 * blocks, rest);
        pendingLength = rest;
    }
    bool finish() {
        if (pendingLength > 0) {
            std::memset(pending + pendingLength, 0, 32 - pendingLength);
            check(pending, 1);
            pendingLength = 0;
        }
        for (const unsigned char c : state.previousIncomplete)
            if (c)
                state.error = true;
        return !state.error;
    }
    void check(const unsigned char *data, std::size_t blocks) {
#ifdef PELLIM_HAVE_AVX2_PATH
        if (blocks > 0)
            checkBlocksAvx2(data, blocks, state);
#else
        (void)data;
        (void)blocks;
#endif
    }
};

StreamDecoder::StreamDecoder(Encoding encoding) : m_encoding(encoding) {}

StreamDecoder::~StreamDecoder() {
    delete m_fast;
}

bool StreamDecoder::feed(const unsigned char *data, std::size_t length, QString *out) {
    if (m_failed)
        return false;
    if (length == 0)
        return true;
    if (!out && m_encoding == Encoding::Utf8 && cpuHasAvx2()) {
        if (!m_fast) {
            // Hand over a sequence the scalar decoder had begun: replay its
            // bytes. Only its lead and continuation bytes are needed, and they
            // are kept below.
            m_fast = new FastUtf8;
            if (m_unitLength > 0)
                m_fast->feed(m_unit, m_unitLength);
            m_unitLength = 0;
            m_due = 0;
        }
        m_fast->feed(data, length);
        if (m_fast->state.error)
            m_failed = true;
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

bool isValidUtf8(const unsigned char *data, std::size_t length) {
    StreamDecoder decoder(Encoding::Utf8);
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
        if (length > 0) {
            if (!cut.done()) {
                if (!decoder.feed(data, length, cut.buffer()))
                    return std::nullopt;
                cut.scan();
            } else {
                textAfterCut = true;
                if (!decoder.feed(data, length, nullptr))
                    return std::nullopt;
            }
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
