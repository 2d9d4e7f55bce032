#pragma once

#include "files/FileAccess.h"
#include "guard/FolderProtection.h"
#include "journal/Log.h"
#include "panels/Alert.h"
#include "panels/FileDialogs.h"
#include "support/Fakes.h"
#include "support/MemoryLogSink.h"
#include "window/RandomSource.h"
#include "window/Services.h"
#include "window/ViewController.h"

#include <memory>

namespace pellim::test {

// A main window wired to test services: entries go to memory, dialogs are Qt's
// widget dialogs, the file system is real. Pass a protection to meet a guard;
// pass an alert or a random source to replace the real ones; pass a sink (the
// real journal, say) to send entries there instead of to `log`.
struct Harness {
    explicit Harness(FolderProtection *protection = nullptr, Alert *alertOverride = nullptr,
                     RandomSource *randomOverride = nullptr, LogSink *logOverride = nullptr)
        : protection(protection ? *protection : unguarded), dialogs(this->protection, true),
          files(this->protection), window(Services{logOverride ? *logOverride : log, dialogs,
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
