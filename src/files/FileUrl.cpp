#include "files/FileUrl.h"

#include <QDir>
#include <QStringList>

namespace pellim {

namespace {

const QString kDot = QStringLiteral(".");
const QString kDotDot = QStringLiteral("..");

// Collapses runs of slashes and drops "." components. ".." is kept on purpose:
// "a/link/.." is the parent of wherever "link" points, which only the file
// system knows, so removing it lexically could name a different folder.
// `absolute` must start with "/". The result has no trailing slash except "/".
QString normalised(const QString &absolute) {
    const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString result;
    result.reserve(absolute.size());
    for (const QString &part : parts) {
        if (part == kDot)
            continue;
        result += QLatin1Char('/');
        result += part;
    }
    return result.isEmpty() ? QStringLiteral("/") : result;
}

// A last component of "." or ".." can only name a folder.
bool endsInDotComponent(const QString &text) {
    return text == kDot || text == kDotDot || text.endsWith(QLatin1String("/.")) ||
           text.endsWith(QLatin1String("/.."));
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
        return FileUrl(normalised(QDir::currentPath()), true);
    const bool isDirectory = text.endsWith(QLatin1Char('/')) || endsInDotComponent(text);
    // QDir::currentPath() is the process's working folder as the kernel reports it.
    const QString absolute =
        text.startsWith(QLatin1Char('/')) ? text : QDir::currentPath() + QLatin1Char('/') + text;
    return FileUrl(normalised(absolute), isDirectory);
}

FileUrl FileUrl::fromLocalPath(const QString &path, bool isDirectory) {
    if (path.isEmpty())
        return {};
    const QString absolute =
        path.startsWith(QLatin1Char('/')) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    return FileUrl(normalised(absolute), isDirectory || endsInDotComponent(path));
}

QString FileUrl::path() const {
    return m_path;
}

QString FileUrl::encodedPath() const {
    if (m_path.isEmpty())
        return {};
    static constexpr char kHex[] = "0123456789ABCDEF";
    const QByteArray bytes = m_path.toUtf8();
    QString result;
    result.reserve(bytes.size() + 1);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            result += QLatin1Char(ch);
        } else {
            result += QLatin1Char('%');
            result += QLatin1Char(kHex[c >> 4]);
            result += QLatin1Char(kHex[c & 0xF]);
        }
    }
    if (m_isDirectory && m_path != QLatin1String("/"))
        result += QLatin1Char('/');
    return result;
}

FileUrl FileUrl::appendingPathComponent(const QString &component, bool isDirectory) const {
    if (!isValid())
        return {};
    if (component.isEmpty())
        return *this;
    const bool folder =
        isDirectory || component.endsWith(QLatin1Char('/')) || endsInDotComponent(component);
    return FileUrl(normalised(m_path + QLatin1Char('/') + component), folder);
}

FileUrl FileUrl::deletingLastPathComponent() const {
    if (!isValid())
        return {};
    if (m_path == QLatin1String("/"))
        return FileUrl(m_path, true);
    // The folder holding ".../.." lies one level further up; only the file
    // system can resolve that, so say so with another "..".
    if (m_path.endsWith(QLatin1String("/..")))
        return FileUrl(m_path + QLatin1String("/.."), true);
    const qsizetype slash = m_path.lastIndexOf(QLatin1Char('/'));
    return FileUrl(slash <= 0 ? QStringLiteral("/") : m_path.left(slash), true);
}

QString FileUrl::lastPathComponent() const {
    if (m_path == QLatin1String("/"))
        return m_path;
    return m_path.mid(m_path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString FileUrl::pathExtension() const {
    const QString last = lastPathComponent();
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : last.mid(dot + 1);
}

} // namespace pellim
