// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QApplication;

namespace pellim {

// Sets what the application says about itself, in Pellim and in its guard
// process alike: its name, its desktop entry, its icon, its language, and that
// only the main window's close ends it.
void configureApplication(QApplication &app);

} // namespace pellim
