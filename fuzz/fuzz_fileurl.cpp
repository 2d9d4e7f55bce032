// Locations made from arbitrary typed text: the plain path stays normalised and
// the encoded path decodes back to exactly the plain path's UTF-8 bytes.
#include "FuzzCheck.h"
#include "files/FileUrl.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

using pellim::FileUrl;

namespace {

bool isUnreserved(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArrayView("-._~!$&'()*+,;=:@/").contains(char(c));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower case is not allowed either
}

// Decodes the encoded path, checking that nothing outside the unreserved set
// appears unescaped and that every escape is well formed.
QByteArray decodeStrictly(const QString &encoded) {
    QByteArray out;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char16_t u = encoded[i].unicode();
        FUZZ_CHECK(u < 0x80);
        const char c = char(u);
        if (c != '%') {
            FUZZ_CHECK(isUnreserved(static_cast<unsigned char>(c)));
            out += c;
            continue;
        }
        FUZZ_CHECK(i + 2 < encoded.size());
        const int high = hexValue(char(encoded[i + 1].unicode()));
        const int low = hexValue(char(encoded[i + 2].unicode()));
        FUZZ_CHECK(high >= 0 && low >= 0);
        const auto byte = static_cast<unsigned char>(high * 16 + low);
        // An unreserved byte is never escaped.
        FUZZ_CHECK(!isUnreserved(byte));
        out += char(byte);
        i += 2;
    }
    return out;
}

void checkLocation(const FileUrl &url) {
    FUZZ_CHECK(url.isValid());
    const QString path = url.path();
    FUZZ_CHECK(path.startsWith(QLatin1Char('/')));
    FUZZ_CHECK(!path.contains(QLatin1String("//")));
    FUZZ_CHECK(path == QLatin1String("/") || !path.endsWith(QLatin1Char('/')));
    FUZZ_CHECK(!path.contains(QLatin1String("/./")) && !path.endsWith(QLatin1String("/.")));

    QByteArray expected = path.toUtf8();
    if (url.isDirectory() && path != QLatin1String("/"))
        expected += '/';
    FUZZ_CHECK(decodeStrictly(url.encodedPath()) == expected);

    const QString extension = url.pathExtension();
    FUZZ_CHECK(!extension.contains(QLatin1Char('/')));
    if (!extension.isEmpty())
        FUZZ_CHECK(url.lastPathComponent().endsWith(QLatin1Char('.') + extension));

    // Typing the plain path back (with its slash for a folder) names the same location.
    const QString retyped =
        url.isDirectory() && path != QLatin1String("/") ? path + QLatin1Char('/') : path;
    FUZZ_CHECK(FileUrl::fromUserText(retyped) == url);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // The input is the typed text, optionally followed by a NUL and a path
    // component to append.
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = bytes.indexOf('\0');
    const QString text = QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
    const QString component = nul < 0 ? QString() : QString::fromUtf8(bytes.mid(nul + 1));

    const FileUrl url = FileUrl::fromUserText(text);
    checkLocation(url);
    if (text.isEmpty() || text.endsWith(QLatin1Char('/')))
        FUZZ_CHECK(url.isDirectory());

    const FileUrl parent = url.deletingLastPathComponent();
    checkLocation(parent);
    FUZZ_CHECK(parent.isDirectory());
    if (!url.path().endsWith(QLatin1String("/..")))
        FUZZ_CHECK(url.path().startsWith(parent.path()));

    if (!component.isEmpty()) {
        const FileUrl child = url.appendingPathComponent(component);
        checkLocation(child);
        const QString base =
            url.path() == QLatin1String("/") ? url.path() : url.path() + QLatin1Char('/');
        FUZZ_CHECK(child.path() == url.path() || child.path().startsWith(base));
    }
    return 0;
}
