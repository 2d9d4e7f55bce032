// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/DialogOptions.h"
#include "files/FileUrl.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace pellim {

// What Pellim asks of its guard process, one message each. `window` is the X
// window the guard's windows stay on top of (0: none); under Wayland,
// `exported` is the xdg-foreign handle of Pellim's window, which the guard
// imports as their parent (empty: none). A request names what is
// asked and nothing of how it looks: the guard's dialogs take their titles and
// labels from the guard alone (openOptionsFor, saveOptionsFor), so a confined
// Pellim cannot label a button that accepts "Cancel".
enum class GuardRequestKind : std::uint8_t { MainWindow = 1, Save, Open, FolderAccess };

struct GuardRequest {
    GuardRequestKind kind = GuardRequestKind::MainWindow;
    std::uint32_t id = 0; // a dialog's, echoed in its reply
    std::uint64_t window = 0;
    QByteArray exported;
    // A Save's proposed name: one plain entry of a folder, never a place.
    QString suggestedName;
    // An Open's: a file to read, or a folder to read from or save into.
    OpenPurpose purpose = OpenPurpose::ReadFile;
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

// A dialog's outcome, as the completion gets it.
struct GuardReply {
    std::uint32_t id = 0;
    int response = kResponseCancel;
    std::optional<FileUrl> chosen;
};

// The guard's first message, sent before the program makes any connection:
// the buses it started for it (D-Bus addresses, "unix:path=..."; empty: none):
// a session bus of its own and the filtered accessibility bus, and why one is
// missing, for the journal.
struct GuardBuses {
    QByteArray session;
    QByteArray accessibility;
    QString problem;
};

// Longer than any sound message by far: a request or reply beyond it is refused
// unread, so a hostile peer cannot make the other side hold its bytes.
inline constexpr qsizetype kMaxGuardMessage = 64 * 1024;

// Each decode takes a whole, sound message of its own kind or gives nothing:
// a field missing, a kind unknown, bytes left over or an oversized message are
// refused, a Save's name must be plain, a handle one (isExportedHandle), and a reply's chosen
// location is always an absolute path.
QByteArray encodeRequest(const GuardRequest &request);
std::optional<GuardRequest> decodeRequest(const QByteArray &message);
QByteArray encodeReply(const GuardReply &reply);
std::optional<GuardReply> decodeReply(const QByteArray &message);
QByteArray encodeBuses(const GuardBuses &buses);
std::optional<GuardBuses> decodeBuses(const QByteArray &message);

} // namespace pellim
