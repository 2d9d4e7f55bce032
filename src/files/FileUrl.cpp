// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/FileUrl.h"

#include <QList>

#include <unistd.h>

#include <cerrno>

namespace pellim {

namespace {

// Collapses runs of slashes and drops "." components. ".." is kept on purpose:
// "a/link/.." is the parent of wherever "link" points, which only the file
// system knows, so removing it lexically could name a different folder.
// `absolute` must start with "/". The result has no trailing slash except "/".
QByteArray normalised(const QByteArray &absolute) {
    QByteArray result;
    result.reserve(absolute.size());
    for (const QByteArray &part : absolute.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        result += '/';
        result += part;
    }
    return result.isEmpty() ? QByteArrayLiteral("/") : result;
}

// A last component of "." or ".." can only name a folder.
bool endsInDotComponent(const QByteArray &text) {
    return text == "." || text == ".." || text.endsWith("/.") || text.endsWith("/..");
}

// The working folder as the kernel reports it, as bytes.
QByteArray currentFolder() {
    QByteArray buffer(4096, '\0');
    while (!::getcwd(buffer.data(), std::size_t(buffer.size()))) {
        if (errno != ERANGE)
            return QByteArrayLiteral("/");
        buffer.resize(buffer.size() * 2);
    }
    return QByteArray(buffer.constData());
}

QByteArray absolute(const QByteArray &path) {
    return path.startsWith('/') ? path : currentFolder() + '/' + path;
}

bool isUnreserved(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
    case '/':
        return true;
    default:
        return false;
    }
}

} // namespace

FileUrl FileUrl::fromUserText(const QString &text) {
    if (text.isEmpty())
        return FileUrl(normalised(currentFolder()), true);
    const QByteArray bytes = text.toUtf8();
    const bool isDirectory = bytes.endsWith('/') || endsInDotComponent(bytes);
    return FileUrl(normalised(absolute(bytes)), isDirectory, text.isValidUtf16());
}

FileUrl FileUrl::fromLocalPath(const QString &path, bool isDirectory) {
    FileUrl url = fromLocalBytes(path.toUtf8(), isDirectory);
    url.m_faithful = path.isValidUtf16();
    return url;
}

FileUrl FileUrl::fromLocalBytes(const QByteArray &path, bool isDirectory) {
    if (path.isEmpty())
        return {};
    return FileUrl(normalised(absolute(path)), isDirectory || endsInDotComponent(path));
}

QString FileUrl::path() const {
    return QString::fromUtf8(m_path);
}

QString FileUrl::encodedPath() const {
    if (m_path.isEmpty())
        return {};
    static constexpr char kHex[] = "0123456789ABCDEF";
    QString result;
    result.reserve(m_path.size() + 1);
    for (const char ch : m_path) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            result += QLatin1Char(ch);
        } else {
            result += QLatin1Char('%');
            result += QLatin1Char(kHex[c >> 4]);
            result += QLatin1Char(kHex[c & 0xF]);
        }
    }
    if (m_isDirectory && m_path != "/")
        result += QLatin1Char('/');
    return result;
}

FileUrl FileUrl::appendingPathComponent(const QString &component, bool isDirectory) const {
    FileUrl url = appendingPathComponent(component.toUtf8(), isDirectory);
    url.m_faithful = m_faithful && component.isValidUtf16();
    return url;
}

FileUrl FileUrl::appendingPathComponent(const QByteArray &component, bool isDirectory) const {
    if (!isValid())
        return {};
    if (component.isEmpty())
        return *this;
    const bool folder = isDirectory || component.endsWith('/') || endsInDotComponent(component);
    return FileUrl(normalised(m_path + '/' + component), folder, m_faithful);
}

FileUrl FileUrl::deletingLastPathComponent() const {
    if (!isValid())
        return {};
    if (m_path == "/")
        return FileUrl(m_path, true, m_faithful);
    // The folder holding ".../.." lies one level further up; only the file
    // system can resolve that, so say so with another "..".
    if (m_path.endsWith("/.."))
        return FileUrl(m_path + "/..", true, m_faithful);
    const qsizetype slash = m_path.lastIndexOf('/');
    return FileUrl(slash <= 0 ? QByteArrayLiteral("/") : m_path.left(slash), true, m_faithful);
}

} // namespace pellim
