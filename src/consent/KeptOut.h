// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <vector>

namespace pellim {

// What the kernel keeps from Pellim: the guarded folders, and the guard's own
// state folder, which keptOutFolders makes if it is missing, so that it is kept
// out from the start.
struct KeptOutFolders {
    std::vector<QByteArray> guarded;
    std::vector<QByteArray> sealed;
    std::vector<QByteArray> all() const;
};
KeptOutFolders keptOutFolders();

} // namespace pellim
