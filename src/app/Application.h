#pragma once

namespace pellim {

// Builds the application's objects, shows the main window and runs the event
// loop; returns the exit status.
int runApplication(int argc, char **argv);

} // namespace pellim
