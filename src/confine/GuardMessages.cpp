// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/GuardMessages.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

namespace pellim {

namespace {

constexpr quint8 kReplyTag = 0x80;
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
    out << quint8(r.kind) << quint32(r.id) << quint64(r.window) << r.exported;
    if (r.kind == GuardRequestKind::Save)
        out << r.suggestedName;
    else if (r.kind == GuardRequestKind::Open)
        out << quint8(r.purpose);
    return message;
}

std::optional<GuardRequest> decodeRequest(const QByteArray &message) {
    if (message.size() > kMaxGuardMessage)
        return std::nullopt;
    QDataStream in(message);
    quint8 kind = 0;
    quint32 id = 0;
    quint64 window = 0;
    QByteArray exported;
    in >> kind >> id >> window >> exported;
    if (!isExportedHandle(exported))
        return std::nullopt;
    GuardRequest r;
    r.kind = GuardRequestKind(kind);
    r.id = id;
    r.window = window;
    r.exported = exported;
    switch (r.kind) {
    case GuardRequestKind::Save:
        in >> r.suggestedName;
        if (!isPlainName(r.suggestedName))
            return std::nullopt;
        break;
    case GuardRequestKind::Open: {
        quint8 purpose = 0;
        in >> purpose;
        // A purpose the guard has no dialog for is not a request of ours.
        if (purpose > kLastOpenPurpose)
            return std::nullopt;
        r.purpose = OpenPurpose(purpose);
        break;
    }
    case GuardRequestKind::MainWindow:
    case GuardRequestKind::FolderAccess:
        break;
    default:
        return std::nullopt;
    }
    return wholeAndSound(in) ? std::optional(r) : std::nullopt;
}

QByteArray encodeReply(const GuardReply &r) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << kReplyTag << quint32(r.id) << qint32(r.response) << r.chosen.has_value();
    if (r.chosen)
        out << r.chosen->pathBytes() << r.chosen->isDirectory();
    return message;
}

std::optional<GuardReply> decodeReply(const QByteArray &message) {
    if (message.size() > kMaxGuardMessage)
        return std::nullopt;
    QDataStream in(message);
    quint8 tag = 0;
    quint32 id = 0;
    qint32 response = 0;
    bool chosen = false;
    in >> tag >> id >> response >> chosen;
    GuardReply r{id, response, std::nullopt};
    if (chosen) {
        QByteArray path;
        bool isDirectory = false;
        in >> path >> isDirectory;
        // Only an absolute path reaches a completion, as from Pellim's own dialogs.
        if (!path.startsWith('/'))
            return std::nullopt;
        r.chosen = FileUrl::fromLocalBytes(path, isDirectory);
    }
    if (tag != kReplyTag || !wholeAndSound(in))
        return std::nullopt;
    // The completion's rule: an OK carries one location, a cancel none.
    if ((response == kResponseOK) != chosen)
        return std::nullopt;
    return r;
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
