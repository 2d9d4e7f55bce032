// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/Utf8Check.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PELLIM_HAVE_VECTOR_PATHS 1
#endif

namespace pellim::text {

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
struct Utf8BlockChecker::Stream {
    explicit Stream(BlockCheck check) : check(check) {}

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

Utf8BlockChecker::Utf8BlockChecker(std::unique_ptr<Stream> stream) : m_stream(std::move(stream)) {}

Utf8BlockChecker::~Utf8BlockChecker() = default;

std::unique_ptr<Utf8BlockChecker> Utf8BlockChecker::create(VectorUnit limit) {
    const BlockCheck check = blockCheck(limit);
    if (!check)
        return nullptr;
    return std::unique_ptr<Utf8BlockChecker>(new Utf8BlockChecker(std::make_unique<Stream>(check)));
}

bool Utf8BlockChecker::feed(const unsigned char *data, std::size_t length) {
    m_stream->feed(data, length);
    return !m_stream->error;
}

bool Utf8BlockChecker::finish() {
    return m_stream->finish();
}

} // namespace pellim::text
