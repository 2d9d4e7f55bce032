// Locations made from arbitrary typed text: the path stays absolute and
// normalised, the encoded path decodes back to exactly its bytes, typing the
// plain path again names the same location, and the parent and an appended
// component stay above and below it.
#include "FuzzCheck.h"
#include "files/FileUrl.h"

#include <QRegularExpression>

using pellim::FileUrl;

namespace {

void checkLocation(const FileUrl &url) {
    static const QRegularExpression encodedForm(
        QStringLiteral("^(?:[A-Za-z0-9\\-._~!$&'()*+,;=:@/]|%[0-9A-F]{2})*$"));
    const QByteArray &path = url.pathBytes();
    FUZZ_CHECK(url.isValid() && path.startsWith('/') && !path.contains("//"));
    FUZZ_CHECK(path == "/" || !path.endsWith('/'));
    FUZZ_CHECK(!path.contains("/./") && !path.endsWith("/."));
    const QString encoded = url.encodedPath();
    FUZZ_CHECK(encodedForm.match(encoded).hasMatch());
    const bool slash = url.isDirectory() && path != "/";
    FUZZ_CHECK(QByteArray::fromPercentEncoding(encoded.toLatin1()) == path + (slash ? "/" : ""));
    FUZZ_CHECK(FileUrl::fromUserText(url.path() + (slash ? "/" : "")) == url);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // The typed text, then optionally a NUL and a component to append.
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = bytes.indexOf('\0');
    const QString text = QString::fromUtf8(bytes.left(nul < 0 ? bytes.size() : nul));
    const FileUrl url = FileUrl::fromUserText(text);
    checkLocation(url);
    FUZZ_CHECK(url.isDirectory() || !(text.isEmpty() || text.endsWith('/')));

    const FileUrl parent = url.deletingLastPathComponent();
    checkLocation(parent);
    FUZZ_CHECK(parent.isDirectory());
    FUZZ_CHECK(url.pathBytes().endsWith("/..") || url.pathBytes().startsWith(parent.pathBytes()));

    const QString component = nul < 0 ? QString() : QString::fromUtf8(bytes.mid(nul + 1));
    if (!component.isEmpty() && !component.contains(QChar(0))) {
        const FileUrl child = url.appendingPathComponent(component);
        checkLocation(child);
        const QByteArray base = url.pathBytes() == "/" ? "/" : url.pathBytes() + "/";
        FUZZ_CHECK(child.pathBytes() == url.pathBytes() || child.pathBytes().startsWith(base));
    }
    return 0;
}
