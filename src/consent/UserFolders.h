// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/GuardedFolders.h"

#include <QByteArray>

#include <array>

namespace pellim {

// The person's home folder: $HOME when it is an absolute path, empty otherwise.
// Nothing else stands in for it: a folder guessed from elsewhere could be one the
// person never meant.
QByteArray homeFolder();

// Where the desktop keeps `folder`, as the file system spells it: a path need not
// be UTF-8, so it stays bytes.
//
// Read from $XDG_CONFIG_HOME/user-dirs.dirs ($HOME/.config when XDG_CONFIG_HOME is
// unset, empty or relative), from lines such as
//     XDG_DOCUMENTS_DIR="$HOME/Documents"
// with XDG_DESKTOP_DIR and XDG_DOWNLOAD_DIR for the other two; the last valid
// line wins. A value is valid when it is "$HOME", "$HOME/..." or an absolute
// "/..." path; anything else (relative, empty, unquoted) is ignored, and so is a
// missing or unreadable file. Without a valid value the folder is $HOME/Documents,
// $HOME/Desktop or $HOME/Downloads.
//
// "$HOME" or "$HOME/" gives the home folder itself, which the guard leaves alone
// (see guardedLocations). Empty when the folder cannot be known: no home folder
// and no absolute setting.
QByteArray userFolderLocation(GuardedFolder folder);

// Where user-dirs.dirs is: $XDG_CONFIG_HOME, else $HOME/.config. Empty when
// neither is an absolute path.
QByteArray userDirsFile();

// All of them from one reading of user-dirs.dirs, indexed like kGuardedFolders.
std::array<QByteArray, kGuardedFolders.size()> userFolderLocations();

} // namespace pellim
