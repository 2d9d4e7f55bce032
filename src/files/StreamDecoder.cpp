// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/StreamDecoder.h"

namespace pellim::text {

StreamDecoder::StreamDecoder(Encoding encoding, VectorUnit vectorUnit)
    : m_encoding(encoding), m_vectorUnit(vectorUnit) {}

StreamDecoder::~StreamDecoder() = default;

bool StreamDecoder::feed(const unsigned char *data, std::size_t length, QString *out) {
    if (m_failed)
        return false;
    if (length == 0)
        return true;
    if (!out && m_encoding == Encoding::Utf8 && !m_fast) {
        if ((m_fast = Utf8BlockChecker::create(m_vectorUnit))) {
            // Hand over a sequence the scalar decoder had begun: replay its
            // bytes. Only its lead and continuation bytes are needed, and they
            // are kept below.
            if (m_unitLength > 0)
                m_fast->feed(m_unit, m_unitLength);
            m_unitLength = 0;
            m_due = 0;
        }
    }
    if (m_fast) {
        m_failed = !m_fast->feed(data, length);
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

} // namespace pellim::text
