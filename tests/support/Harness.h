#pragma once

#include "files/FileAccess.h"
#include "guard/FolderProtection.h"
#include "panels/Alert.h"
#include "panels/FileDialogs.h"
#include "support/MemoryLogSink.h"
#include "window/RandomSource.h"
#include "window/Services.h"
#include "window/ViewController.h"

namespace pellim::test {

// A main window on test services: entries go to `log`, dialogs are Qt's widget
// dialogs, the file system is real. Pass a protection to meet a guard, and an
// alert, a random source or a sink to stand in for the real ones.
struct Harness {
    explicit Harness(FolderProtection *guard = nullptr, Alert *alertOverride = nullptr,
                     RandomSource *randomOverride = nullptr, LogSink *logOverride = nullptr)
        : protection(guard ? *guard : unguarded), dialogs(protection, true), files(protection),
          window(Services{logOverride ? *logOverride : log, dialogs,
                          alertOverride ? *alertOverride : alert, files,
                          randomOverride ? *randomOverride : random}) {}

    MemoryLogSink log;
    UnguardedProtection unguarded;
    FolderProtection &protection;
    QtFileDialogs dialogs;
    QtAlert alert;
    PosixFileAccess files;
    SystemRandomSource random;
    ViewController window;
};

} // namespace pellim::test
