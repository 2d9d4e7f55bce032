// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QString>

#include <cstdint>

namespace pellim {

// How a file dialog is to be shown, whichever process shows it.
inline constexpr int kResponseOK = 1;
inline constexpr int kResponseCancel = 0;

struct SaveDialogOptions {
    bool canCreateDirectories = true;
    // The generic text type: text/plain and what inherits from it. A name typed
    // without an extension gets ".txt".
    bool textTypesOnly = true;
    QString suggestedName;
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
