// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace pellim {

// Gives the guard a toolkit that reads nothing of the person's once it connects
// to the display, where a confined Pellim, or an earlier hostile run, could have
// planted it: no modules, plugin paths, style or linker settings from the
// environment; Qt's own platform theme, so no GTK and its settings.ini
// (gtk-modules); and a font configuration of the system's files alone, read
// written to `privateFolder` (which Pellim cannot reach), without the per-user
// includes or a per-user font cache. Call while the process has one thread.
void freshToolkitEnvironment(const QString &privateFolder);

} // namespace pellim
