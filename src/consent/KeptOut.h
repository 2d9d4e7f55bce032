// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "paths/KeptOutPaths.h"

namespace pellim {

// What the kernel is to keep from Pellim, worked out before it confines itself:
// - guarded: the folders the settings name now and those recorded at earlier
//   starts; all of them are recorded, so that a later start keeps them too,
//   whatever the settings file then says;
// - sealed: the guard's own state folder, made (mode 0700) if it is missing, so
//   that it is kept out from the start;
// - read-only: the settings file that says where the folders are; its folder is
//   made if missing, so that the file cannot be made in its place either.
KeptOutPaths keptOutFolders();

} // namespace pellim
