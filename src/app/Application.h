// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QApplication;
class QString;

namespace pellim {

class AppDelegate;
class ViewController;

// The line at the foot of the main window that says which folder guard is in force.
void showGuardInForce(ViewController &window, const QString &text);

// Connects the menu commands of the main window that the delegate serves.
void connectDelegate(ViewController &window, AppDelegate &delegate);

// Builds the application's objects, shows the main window and runs the event
// loop; returns the exit status.
int runApplication(int argc, char **argv);

} // namespace pellim
