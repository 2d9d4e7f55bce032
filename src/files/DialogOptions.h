// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace pellim {

// How a file dialog is to be shown, whichever process shows it.
inline constexpr int kResponseOK = 1;
inline constexpr int kResponseCancel = 0;

// A filter a program names for its dialog: a name and its rules, each a
// file-name pattern (kind 0, "*.txt") or a MIME type (kind 1, "text/plain").
// It only thins out the list; whatever the person picks is what they chose.
struct DialogFilter {
    enum Kind : std::uint32_t { Pattern = 0, MimeType = 1 };
    QString name;
    std::vector<std::pair<std::uint32_t, QString>> rules;
    friend bool operator==(const DialogFilter &, const DialogFilter &) = default;
};

// What another program's request brings to a dialog beyond Pellim's own:
// its title (shown after the program's name, never as the guard's words), its
// filters, the folder to start in (the file system's bytes, absolute).
struct ProgramDialog {
    QString program; // the name the program is shown by; empty: Pellim's own dialog
    QString title;
    std::vector<DialogFilter> filters;
    int currentFilter = -1; // index into filters
    QByteArray startFolder;
};

struct SaveDialogOptions {
    bool canCreateDirectories = true;
    // The generic text type: text/plain and what inherits from it. A name typed
    // without an extension gets ".txt".
    bool textTypesOnly = true;
    QString suggestedName;
    ProgramDialog program;
};

// What an Open dialog's choice is for. Its title says so: the dialog is shown by
// another process, the guard, and must say whose it is and what it is for.
enum class OpenPurpose : std::uint8_t { ReadFile, ReadFromFolder, SaveIntoFolder };
inline constexpr std::uint8_t kLastOpenPurpose = std::uint8_t(OpenPurpose::SaveIntoFolder);

struct OpenDialogOptions {
    bool canChooseDirectories = false;
    bool showsHiddenFiles = false;
    bool canChooseFiles = true;
    bool treatsPackagesAsDirectories = false;
    // Only files Qt takes for the generic text type, a typed name included.
    bool textTypesOnly = false;
    QString prompt; // the confirm button's label
    OpenPurpose purpose = OpenPurpose::ReadFile;
    bool multiple = false; // several files (or folders) may be chosen at once
    ProgramDialog program;
};

// One folder, no files, hidden items hidden, confirmed with "Select Folder": the
// dialog of both tests that start from a folder the person chooses.
inline OpenDialogOptions folderChooserOptions(OpenPurpose purpose) {
    OpenDialogOptions options;
    options.canChooseDirectories = true;
    options.showsHiddenFiles = false;
    options.canChooseFiles = false;
    options.treatsPackagesAsDirectories = false;
    options.textTypesOnly = false;
    options.prompt = QCoreApplication::translate("pellim::FileDialogs", "Select Folder");
    options.purpose = purpose;
    return options;
}

// One existing text file, confirmed with "Select File".
inline OpenDialogOptions fileChooserOptions() {
    OpenDialogOptions options;
    options.canChooseDirectories = false;
    options.showsHiddenFiles = false;
    options.canChooseFiles = true;
    options.treatsPackagesAsDirectories = false;
    options.textTypesOnly = true;
    options.prompt = QCoreApplication::translate("pellim::FileDialogs", "Select File");
    options.purpose = OpenPurpose::ReadFile;
    return options;
}

// Every Open dialog Pellim shows, from its purpose alone: a file to read, or a
// folder to read from or save into. The guard builds its dialogs from this, so
// a request cannot bring its own labels.
inline OpenDialogOptions openOptionsFor(OpenPurpose purpose) {
    return purpose == OpenPurpose::ReadFile ? fileChooserOptions() : folderChooserOptions(purpose);
}

// The Save dialog: text, new folders allowed, `name` proposed.
inline SaveDialogOptions saveOptionsFor(const QString &name) {
    SaveDialogOptions options;
    options.canCreateDirectories = true;
    options.textTypesOnly = true;
    options.suggestedName = name;
    return options;
}

} // namespace pellim
