// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "paths/KeptOutPaths.h"

#include <QString>

namespace pellim {

// What the kernel is to keep from Pellim, worked out before it confines itself:
// - guarded: the folders the settings name now and those recorded at earlier
//   starts; all of them are recorded, so that a later start keeps them too,
//   whatever the settings file then says;
// - sealed: the guard's own state folder, made (mode 0700) if it is missing, so
//   that it is kept out from the start; and the running guards' folder
//   (RunningGrants::folder), made the same way where there is a runtime folder;
// - read-only: readOnlyPaths().
// Recording keeps an answers file that cannot be used beside the new one; `kept`
// (if given) is then where, for the journal, which does not exist yet.
// `forPellim`: Pellim's own folders under the XDG bases are writable; for
// another program they are a place like any other there.
KeptOutPaths keptOutFolders(QString *kept = nullptr, bool forPellim = true);

// What the confined Pellim may read but never change, make, remove or replace:
// the settings file that says where the folders are, what runs later outside
// Pellim (shell start files, autostart, user services, D-Bus activation, keys),
// what the guard process reads once it shows a window (toolkit settings, fonts,
// icons, MIME data), and the program's and Qt's plugin folders where the person
// could write them. One that does not exist may not be made either.
std::vector<QByteArray> readOnlyPaths();

// The XDG config, data, state and cache folders that lie in `home`, as the
// environment names them: each entry of theirs is a place of its own where
// programs keep settings.
std::vector<QByteArray> homeBases(const QByteArray &home);

} // namespace pellim
