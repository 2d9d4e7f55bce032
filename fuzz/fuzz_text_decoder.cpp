// Arbitrary file contents through the strict text read: it accepts exactly what
// a plain reference decoder accepts and yields the same text, however the bytes
// are split into chunks, and the preview is exactly the first characters
// (extended grapheme clusters) of the whole text.
#include "FuzzCheck.h"
#include "files/StreamDecoder.h"
#include "files/TextReader.h"

#include <QString>
#include <QTextBoundaryFinder>

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace text = pellim::text;

namespace {

// --- a reference decoder, written for clarity rather than speed ------------------

void append(QString &out, char32_t c) {
    if (c >= 0x10000) {
        out += QChar(char16_t(0xD800 + ((c - 0x10000) >> 10)));
        out += QChar(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
        out += QChar(char16_t(c));
    }
}

bool scalar(char32_t c) {
    return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

std::optional<QString> referenceUtf8(const unsigned char *p, std::size_t n) {
    QString out;
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        int extra;
        char32_t c;
        if (b < 0x80) {
            extra = 0;
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            c = b & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + std::size_t(extra) >= n) // cut off at the end
            return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (c < least[extra] || !scalar(c))
            return std::nullopt;
        append(out, c);
        i += std::size_t(extra) + 1;
    }
    return out;
}

std::optional<QString> referenceUtf16(const unsigned char *p, std::size_t n, bool little) {
    if (n % 2)
        return std::nullopt;
    QString out;
    for (std::size_t i = 0; i < n; i += 2) {
        const char16_t u = little ? char16_t(p[i] | p[i + 1] << 8) : char16_t(p[i] << 8 | p[i + 1]);
        if (u >= 0xDC00 && u <= 0xDFFF)
            return std::nullopt;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 3 >= n)
                return std::nullopt;
            const char16_t v =
                little ? char16_t(p[i + 2] | p[i + 3] << 8) : char16_t(p[i + 2] << 8 | p[i + 3]);
            if (v < 0xDC00 || v > 0xDFFF)
                return std::nullopt;
            out += QChar(u);
            out += QChar(v);
            i += 2;
            continue;
        }
        out += QChar(u);
    }
    return out;
}

std::optional<QString> referenceUtf32(const unsigned char *p, std::size_t n, bool little) {
    if (n % 4)
        return std::nullopt;
    QString out;
    for (std::size_t i = 0; i < n; i += 4) {
        const char32_t c =
            little ? char32_t(p[i] | p[i + 1] << 8 | p[i + 2] << 16 | char32_t(p[i + 3]) << 24)
                   : char32_t(char32_t(p[i]) << 24 | p[i + 1] << 16 | p[i + 2] << 8 | p[i + 3]);
        if (!scalar(c))
            return std::nullopt;
        append(out, c);
    }
    return out;
}

std::optional<QString> reference(const unsigned char *p, std::size_t n) {
    auto starts = [&](std::initializer_list<unsigned char> mark) {
        if (n < mark.size())
            return false;
        std::size_t i = 0;
        for (unsigned char m : mark)
            if (p[i++] != m)
                return false;
        return true;
    };
    if (starts({0xEF, 0xBB, 0xBF}))
        return referenceUtf8(p + 3, n - 3);
    if (starts({0xFF, 0xFE, 0, 0}))
        return referenceUtf32(p + 4, n - 4, true);
    if (starts({0, 0, 0xFE, 0xFF}))
        return referenceUtf32(p + 4, n - 4, false);
    if (starts({0xFF, 0xFE}))
        return referenceUtf16(p + 2, n - 2, true);
    if (starts({0xFE, 0xFF}))
        return referenceUtf16(p + 2, n - 2, false);
    return referenceUtf8(p, n);
}

// The first `keep` clusters of `whole`, and whether more follow.
pellim::TextPrefix clusters(const QString &whole, qsizetype keep) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, whole);
    qsizetype counted = 0;
    qsizetype end = 0;
    while (counted < keep) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        end = next;
        ++counted;
    }
    return {whole.left(end), end < whole.size()};
}

// --------------------------------------------------------------------------------

int memoryFile(const std::uint8_t *data, std::size_t size) {
    const int fd = ::memfd_create("pellim-fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0);
        done += std::size_t(n);
    }
    return fd;
}

std::optional<pellim::TextPrefix> readFrom(int fd, qsizetype keep, std::size_t chunk) {
    FUZZ_CHECK(::lseek(fd, 0, SEEK_SET) == 0);
    return text::readTextPrefix(fd, keep, chunk);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return 0;
    // Two leading bytes choose the chunk size and how many characters to keep;
    // the rest is the file.
    const std::size_t chunk = 1 + data[0] % 64;
    const qsizetype keep = data[1] % 100;
    const unsigned char *bytes = data + 2;
    const std::size_t length = size - 2;

    const std::optional<QString> expected = reference(bytes, length);
    const text::ByteOrderMark mark = text::detectByteOrderMark(bytes, length < 4 ? length : 4);
    if (mark.encoding == text::Encoding::Utf8)
        for (const text::VectorUnit unit :
             {text::VectorUnit::Fastest, text::VectorUnit::Avx2, text::VectorUnit::Scalar})
            FUZZ_CHECK(text::isValidUtf8(bytes + mark.length, length - mark.length, unit) ==
                       expected.has_value());

    const int fd = memoryFile(bytes, length);
    const qsizetype all = qsizetype(1) << 30;
    const std::optional<pellim::TextPrefix> whole = readFrom(fd, all, chunk);
    FUZZ_CHECK(whole.has_value() == expected.has_value());
    if (whole) {
        FUZZ_CHECK(whole->text == *expected);
        FUZZ_CHECK(!whole->more);
        // The same text whatever the size of the pieces read.
        const std::optional<pellim::TextPrefix> big = readFrom(fd, all, 1 << 16);
        FUZZ_CHECK(big && big->text == *expected);

        const pellim::TextPrefix want = clusters(*expected, keep);
        for (const std::size_t c : {chunk, std::size_t(1), std::size_t(1) << 16}) {
            const std::optional<pellim::TextPrefix> preview = readFrom(fd, keep, c);
            FUZZ_CHECK(preview.has_value());
            FUZZ_CHECK(preview->text == want.text);
            FUZZ_CHECK(preview->more == want.more);
        }
    } else {
        // A short preview must not let a bad byte after it pass.
        FUZZ_CHECK(!readFrom(fd, keep, chunk).has_value());
    }
    ::close(fd);
    return 0;
}
