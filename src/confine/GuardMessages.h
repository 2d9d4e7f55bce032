// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace pellim {

// What Pellim tells its guard process, one message each: which window is its
// main window, and that the person asked for Folder Access. `window` is the X
// window the guard's windows stay on top of (0: none); under Wayland,
// `exported` is the xdg-foreign handle of Pellim's window, which the guard
// imports as their parent (empty: none). Pellim's file dialogs are not asked
// for here: Pellim asks the guard's file chooser portal, as any program does.
enum class GuardRequestKind : std::uint8_t { MainWindow = 1, FolderAccess };

struct GuardRequest {
    GuardRequestKind kind = GuardRequestKind::MainWindow;
    std::uint64_t window = 0;
    QByteArray exported;
};

// Longer than any handle a compositor makes: xdg-foreign's are short printable
// strings.
inline constexpr qsizetype kMaxExportedHandle = 256;

// Whether `handle` could be an xdg-foreign handle: printable ASCII without
// spaces, at most kMaxExportedHandle bytes (empty: none).
bool isExportedHandle(const QByteArray &handle);

// Whether `name` is one plain entry of a folder: not empty, not "." or "..",
// without '/' or NUL, and at most NAME_MAX bytes.
bool isPlainName(const QString &name);

// The guard's first message, sent before the program makes any connection:
// the buses it started for it (D-Bus addresses, "unix:path=..."; empty: none):
// a session bus of its own and the filtered accessibility bus, and why one is
// missing, for the journal.
struct GuardBuses {
    QByteArray session;
    QByteArray accessibility;
    QString problem;
};

// Longer than any sound message by far: a message beyond it is refused unread,
// so a hostile peer cannot make the other side hold its bytes.
inline constexpr qsizetype kMaxGuardMessage = 64 * 1024;

// Each decode takes a whole, sound message of its own kind or gives nothing:
// a field missing, a kind unknown, bytes left over or an oversized message are
// refused, and a handle must be one (isExportedHandle).
QByteArray encodeRequest(const GuardRequest &request);
std::optional<GuardRequest> decodeRequest(const QByteArray &message);
QByteArray encodeBuses(const GuardBuses &buses);
std::optional<GuardBuses> decodeBuses(const QByteArray &message);

} // namespace pellim
