// Arbitrary file contents through the strict text read: it accepts exactly what
// Qt's decoders accept and yields the same text, however the bytes are split;
// every vector check of UTF-8 agrees; and the preview is exactly the first
// characters (extended grapheme clusters) of the whole text.
#include "FuzzCheck.h"
#include "files/StreamDecoder.h"
#include "files/TextReader.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>
#include <QtEndian>

#include <sys/mman.h>
#include <unistd.h>

#include <optional>

namespace text = pellim::text;

namespace {

struct Mark {
    QByteArrayView bytes;
    text::Encoding encoding;
    QStringConverter::Encoding qt;
    int unit;
};
const Mark kMarks[] = {
    {QByteArrayView("\xEF\xBB\xBF", 3), text::Encoding::Utf8, QStringConverter::Utf8, 1},
    {QByteArrayView("\xFF\xFE\0\0", 4), text::Encoding::Utf32LE, QStringConverter::Utf32LE, 4},
    {QByteArrayView("\0\0\xFE\xFF", 4), text::Encoding::Utf32BE, QStringConverter::Utf32BE, 4},
    {QByteArrayView("\xFF\xFE", 2), text::Encoding::Utf16LE, QStringConverter::Utf16LE, 2},
    {QByteArrayView("\xFE\xFF", 2), text::Encoding::Utf16BE, QStringConverter::Utf16BE, 2},
    {QByteArrayView(), text::Encoding::Utf8, QStringConverter::Utf8, 1}};

// The text of `bytes` (after its byte-order mark) in Qt's decoding, or nothing
// where it is not well formed. Qt lets through a cut-off UTF-16 or UTF-32 unit,
// an unpaired UTF-16 surrogate and UTF-32 values that are no characters; those
// are checked here.
std::optional<QString> reference(const Mark &mark, QByteArrayView bytes) {
    if (bytes.size() % mark.unit)
        return std::nullopt;
    for (qsizetype i = 0; mark.unit == 4 && i < bytes.size(); i += 4) {
        const char32_t c = mark.qt == QStringConverter::Utf32LE
                               ? qFromLittleEndian<quint32>(bytes.data() + i)
                               : qFromBigEndian<quint32>(bytes.data() + i);
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
            return std::nullopt;
    }
    QStringDecoder decode(mark.qt, QStringConverter::Flag::Stateless |
                                       QStringConverter::Flag::ConvertInitialBom);
    const QString out = decode(bytes);
    return decode.hasError() || !out.isValidUtf16() ? std::nullopt : std::optional(out);
}

// The first `keep` clusters of `whole`, and whether more follow.
pellim::TextPrefix clusters(const QString &whole, qsizetype keep) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, whole);
    qsizetype end = 0;
    for (qsizetype n = 0; n < keep && finder.toNextBoundary() >= 0; ++n)
        end = finder.position();
    return {whole.left(end), end < whole.size()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return 0;
    // Two leading bytes choose the size of the pieces and how many characters to
    // keep; the rest is the file.
    const std::size_t piece = 1 + data[0] % 64;
    const qsizetype keep = data[1] % 100;
    const QByteArrayView file(data + 2, qsizetype(size - 2));
    const Mark &mark = *std::find_if(std::begin(kMarks), std::end(kMarks),
                                     [&](const Mark &m) { return file.startsWith(m.bytes); });
    const QByteArrayView body = file.sliced(mark.bytes.size());
    const auto *bytes = reinterpret_cast<const unsigned char *>(body.data());
    const std::optional<QString> expected = reference(mark, body);

    for (const auto unit :
         {text::VectorUnit::Fastest, text::VectorUnit::Avx2, text::VectorUnit::Scalar}) {
        if (mark.encoding == text::Encoding::Utf8)
            FUZZ_CHECK(text::isValidUtf8(bytes, std::size_t(body.size()), unit) ==
                       expected.has_value());
        // Decoding in pieces, and only checking in pieces, agree with the reference.
        for (const bool decoding : {true, false}) {
            text::StreamDecoder decoder(mark.encoding, unit);
            QString out;
            bool ok = true;
            for (std::size_t at = 0; ok && at < std::size_t(body.size()); at += piece)
                ok = decoder.feed(bytes + at, std::min(piece, std::size_t(body.size()) - at),
                                  decoding ? &out : nullptr);
            FUZZ_CHECK((ok && decoder.finish()) == expected.has_value());
            FUZZ_CHECK(!expected || !decoding || out == *expected);
        }
    }

    const int fd = ::memfd_create("pellim-fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0 && ::write(fd, file.data(), std::size_t(file.size())) == file.size());
    for (const qsizetype k : {keep, qsizetype(1) << 30}) {
        FUZZ_CHECK(::lseek(fd, 0, SEEK_SET) == 0);
        const std::optional<pellim::TextPrefix> read = text::readTextPrefix(fd, k, piece);
        FUZZ_CHECK(read.has_value() == expected.has_value());
        if (read) {
            const pellim::TextPrefix want = clusters(*expected, k);
            FUZZ_CHECK(read->text == want.text && read->more == want.more);
        }
    }
    ::close(fd);
    return 0;
}
