// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/KeptOut.h"

#include "consent/ConsentStore.h"
#include "consent/FolderGuard.h"
#include "consent/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace pellim {

KeptOutPaths keptOutFolders() {
    KeptOutPaths keptOut;
    const QString storePath = ConsentStore::defaultPath();
    if (!storePath.isEmpty()) {
        const QString folder = QFileInfo(storePath).path();
        QDir().mkpath(QFileInfo(folder).path());
        const QByteArray bytes = QFile::encodeName(folder);
        ::mkdir(bytes.constData(), 0700);
        struct stat st {};
        if (::lstat(bytes.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            keptOut.sealed.push_back(bytes);
    }
    ConsentStore store(storePath);
    const GuardedSet set(store);
    std::vector<ConsentStore::RecordedFolder> record;
    for (const GuardedLocation &location : set.locations()) {
        keptOut.guarded.push_back(location.path);
        record.push_back({location.folder, location.path, location.identity});
    }
    // Not recorded (no state folder, a refused answers file): the settings still
    // decide this start, and the store's own problem is reported where it is read.
    store.record(record);
    if (const QByteArray settings = userDirsFile(); !settings.isEmpty()) {
        QDir().mkpath(QFile::decodeName(settings.left(settings.lastIndexOf('/'))));
        keptOut.readOnly.push_back(settings);
    }
    return keptOut;
}

} // namespace pellim
