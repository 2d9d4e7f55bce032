// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QString>

#include <array>
#include <optional>

namespace pellim {

// The person's folders that the guard watches over.
enum class GuardedFolder { Documents, Desktop, Downloads };

// Everything the program says of one guarded folder, in one row.
struct GuardedFolderInfo {
    GuardedFolder folder;
    const char *key;         // in the answers file and on pellim-consent's command line
    const char *displayName; // in journal entries; shownFolderName translates it
    const char *setting;     // its line in user-dirs.dirs
    const char *defaultName; // below the home folder when user-dirs.dirs names none
};

inline constexpr std::array<GuardedFolderInfo, 3> kGuardedFolderTable = {{
    {GuardedFolder::Documents, "documents",
     QT_TRANSLATE_NOOP("pellim::GuardedFolders", "Documents"), "XDG_DOCUMENTS_DIR", "Documents"},
    {GuardedFolder::Desktop, "desktop", QT_TRANSLATE_NOOP("pellim::GuardedFolders", "Desktop"),
     "XDG_DESKTOP_DIR", "Desktop"},
    {GuardedFolder::Downloads, "downloads",
     QT_TRANSLATE_NOOP("pellim::GuardedFolders", "Downloads"), "XDG_DOWNLOAD_DIR", "Downloads"},
}};

inline constexpr std::array<GuardedFolder, kGuardedFolderTable.size()> kGuardedFolders = {
    GuardedFolder::Documents, GuardedFolder::Desktop, GuardedFolder::Downloads};

// The row of `folder`; the table is in the enum's order.
constexpr const GuardedFolderInfo &infoOf(GuardedFolder folder) {
    return kGuardedFolderTable[static_cast<std::size_t>(folder)];
}
static_assert(infoOf(GuardedFolder::Documents).folder == GuardedFolder::Documents &&
              infoOf(GuardedFolder::Desktop).folder == GuardedFolder::Desktop &&
              infoOf(GuardedFolder::Downloads).folder == GuardedFolder::Downloads);

// "documents", "desktop", "downloads": the key in the store and the word on the command line.
QString folderKey(GuardedFolder folder);
// "Documents", "Desktop", "Downloads": the name in journal entries, the same in
// every language, since it is what a person searches the journal for.
QString folderDisplayName(GuardedFolder folder);
// The same name as the person's language has it, for windows and dialogs.
QString shownFolderName(GuardedFolder folder);
// The folder a word names, in any letter case; nothing for any other word.
std::optional<GuardedFolder> folderFromKey(const QString &word);

} // namespace pellim
