// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/GuardMessages.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

namespace pellim {

namespace {

constexpr quint8 kBusesTag = 0x81;

// A message read to its end and no further; anything else is not ours.
bool wholeAndSound(const QDataStream &in) {
    return in.status() == QDataStream::Ok && in.atEnd();
}

} // namespace

bool isPlainName(const QString &name) {
    constexpr qsizetype kMaxName = 255; // NAME_MAX
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) &&
           name.toUtf8().size() <= kMaxName;
}

bool isExportedHandle(const QByteArray &handle) {
    return handle.size() <= kMaxExportedHandle &&
           std::all_of(handle.begin(), handle.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

QByteArray encodeRequest(const GuardRequest &r) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << quint8(r.kind) << quint64(r.window) << r.exported;
    return message;
}

std::optional<GuardRequest> decodeRequest(const QByteArray &message) {
    if (message.size() > kMaxGuardMessage)
        return std::nullopt;
    QDataStream in(message);
    quint8 kind = 0;
    quint64 window = 0;
    GuardRequest r;
    in >> kind >> window >> r.exported;
    r.kind = GuardRequestKind(kind);
    r.window = window;
    if (!isExportedHandle(r.exported) ||
        (r.kind != GuardRequestKind::MainWindow && r.kind != GuardRequestKind::FolderAccess))
        return std::nullopt;
    return wholeAndSound(in) ? std::optional(r) : std::nullopt;
}

QByteArray encodeBuses(const GuardBuses &b) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << kBusesTag << b.session << b.accessibility << b.problem;
    return message;
}

std::optional<GuardBuses> decodeBuses(const QByteArray &message) {
    if (message.size() > kMaxGuardMessage)
        return std::nullopt;
    QDataStream in(message);
    quint8 tag = 0;
    GuardBuses b;
    in >> tag >> b.session >> b.accessibility >> b.problem;
    // A bus is a local socket's address; nothing else is handed to libdbus.
    const auto sound = [](const QByteArray &address) {
        return address.isEmpty() || (address.startsWith("unix:path=/") && !address.contains(','));
    };
    if (tag != kBusesTag || !wholeAndSound(in) || !sound(b.session) || !sound(b.accessibility))
        return std::nullopt;
    return b;
}

} // namespace pellim
