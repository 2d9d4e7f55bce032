// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace pellim {

class LogSink;
class FileDialogs;
class Alert;
class FileAccess;
class RandomSource;

// The platform services a controller works through. All are owned elsewhere (the
// application, or a test) and outlive the controller.
struct Services {
    LogSink &log;
    FileDialogs &dialogs;
    Alert &alert;
    FileAccess &files;
    RandomSource &random;
};

} // namespace pellim
