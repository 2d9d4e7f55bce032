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
//
// Its buses are named too, the session's as the session gives it and the
// accessibility bus as "none" until useAccessibilityBus: without them, Qt would
// take the accessibility bus from the X root window's AT_SPI_BUS property, and
// libdbus the session bus from an X selection's owner (autolaunch), both of
// which any client of the display, Pellim included, may have written.
void freshToolkitEnvironment(const QString &privateFolder);

// Gives the guard's toolkit the accessibility bus to join (empty: none), before
// its QApplication is made; true when there is one (then announceAccessibility
// once the application exists). Safe beside other threads: the variable exists
// already, and replacing a value does not move the environment.
bool useAccessibilityBus(const QByteArray &address);

} // namespace pellim
