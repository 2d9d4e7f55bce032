// Skeleton: replaced by the application-shell work.
#include "app/Application.h"

#include "controller/ViewController.h"
#include "platform/Alert.h"
#include "platform/FileAccess.h"
#include "platform/FileDialogs.h"
#include "platform/FolderProtection.h"
#include "platform/Journal.h"
#include "platform/RandomSource.h"

#include <QApplication>

namespace pellim {

int runApplication(int argc, char **argv) {
    QApplication app(argc, argv);
    JournalSink journal;
    UnguardedProtection protection;
    QtFileDialogs dialogs(protection);
    QtAlert alert;
    PosixFileAccess files(protection);
    SystemRandomSource random;
    ViewController window(Services{journal, dialogs, alert, files, random});
    window.show();
    return app.exec();
}

} // namespace pellim
