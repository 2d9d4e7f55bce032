// SPDX-License-Identifier: GPL-3.0-or-later
#include "portal/PortalResponse.h"

namespace pellim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<QByteArray> localPathOfUri(const QString &uri) {
    // A D-Bus string is UTF-8; an unescaped non-ASCII character stands for its
    // UTF-8 bytes, as in an IRI.
    const QByteArray text = uri.toUtf8();
    static constexpr char kScheme[] = "file://";
    constexpr qsizetype kSchemeLength = sizeof kScheme - 1;
    if (text.size() <= kSchemeLength || qstrnicmp(text.constData(), kScheme, kSchemeLength) != 0)
        return std::nullopt;
    const qsizetype pathStart = text.indexOf('/', kSchemeLength);
    if (pathStart < 0)
        return std::nullopt;
    const QByteArray host = text.mid(kSchemeLength, pathStart - kSchemeLength);
    if (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    QByteArray path;
    path.reserve(text.size() - pathStart);
    for (qsizetype i = pathStart; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '?' || c == '#' || c == '\0')
            return std::nullopt;
        if (c != '%') {
            path += c;
            continue;
        }
        const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        path += char(high * 16 + low);
        i += 2;
    }
    return path;
}

PortalAnswer readPortalResponse(std::uint32_t response, const QStringList &uris, bool multiple) {
    switch (response) {
    case 0:
        break;
    case 1:
        return {PortalOutcome::Cancelled, {}, {}};
    case 2:
        return {PortalOutcome::Closed, {}, {}};
    default:
        return {PortalOutcome::Ended, {}, {}};
    }
    // More than was asked for, or one that is no local file, grants nothing.
    if (uris.isEmpty() || (uris.size() != 1 && !multiple))
        return {PortalOutcome::NoLocalFile, {}, {}};
    PortalAnswer answer{PortalOutcome::Chosen, {}, {}};
    for (const QString &uri : uris) {
        std::optional<QByteArray> path = localPathOfUri(uri);
        if (!path)
            return {PortalOutcome::NoLocalFile, {}, {}};
        answer.paths.push_back(std::move(*path));
    }
    answer.path = answer.paths.front();
    return answer;
}

QString portalRequestPath(const QString &uniqueName, const QString &token) {
    QString sender = uniqueName.startsWith(QLatin1Char(':')) ? uniqueName.mid(1) : uniqueName;
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') +
           token;
}

} // namespace pellim
