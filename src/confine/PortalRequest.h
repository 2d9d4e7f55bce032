// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/DialogOptions.h"
#include "files/FileUrl.h"
#include "sys/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

typedef struct sd_bus_message sd_bus_message;

namespace pellim {

// A program's OpenFile or SaveFile call to the file chooser portal the guard
// serves on its bus, every option checked. The program is not trusted: what
// it names only shapes the dialog (where it starts, what it lists), and
// nothing of it labels the guard's buttons or grants anything.
struct FileChooserRequest {
    bool save = false;
    // The parent the program names: "x11:<hex>" or "wayland:<handle>"; none
    // for "". The guard still checks that the window is the program's.
    std::uint64_t x11Window = 0;
    QByteArray exported;
    QString title;
    QString token; // handle_token; empty where none was given
    QString acceptLabel;
    bool modal = true;
    bool multiple = false;
    bool directory = false;
    std::vector<DialogFilter> filters;
    std::optional<DialogFilter> currentFilter;
    QString currentName;
    QByteArray currentFolder; // absolute, the closing NUL taken off
    QByteArray currentFile;   // absolute, the closing NUL taken off
};

// Bounds no sound request comes near; past them a request is malformed, so a
// program cannot make the guard hold or show more than a dialog needs.
inline constexpr qsizetype kMaxOptions = 64;
inline constexpr qsizetype kMaxFilters = 64;
inline constexpr qsizetype kMaxFilterRules = 64;
inline constexpr qsizetype kMaxText = 256; // a title, a label, a filter's name or pattern
inline constexpr qsizetype kMaxToken = 64;

// Reads OpenFile's or SaveFile's arguments (s parent_window, s title, a{sv}
// options) from `call`. A failure names the first thing that is wrong: a type
// other than the one the option has, a folder that is not an absolute path
// ended by one NUL, a filter past the bounds or of a kind but 0 or 1, a parent
// handle of another form, text that is not printable. Options it does not
// know are passed over; "choices" among them.
Result<FileChooserRequest> readFileChooserRequest(sd_bus_message *call, bool save);

// The dialog the guard shows for `request` from the program shown as
// `program`: its title after the program's name, its filters and folder; the
// confirm button says one of the guard's own labels.
OpenDialogOptions openOptionsOf(const FileChooserRequest &request, const QString &program);
SaveDialogOptions saveOptionsOf(const FileChooserRequest &request, const QString &program);

// A Response's arguments, appended to `signal`: `response` and "uris", with 0
// each choice as a file:// URI with its bytes escaped, and "current_filter"
// where `filter` is an index into `filters`; any other response names no
// choice. Negative: sd-bus's error.
int appendResponse(sd_bus_message *signal, std::uint32_t response,
                   const std::vector<FileUrl> &chosen, int filter,
                   const std::vector<DialogFilter> &filters);

} // namespace pellim
