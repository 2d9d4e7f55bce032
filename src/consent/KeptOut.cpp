// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/KeptOut.h"

#include "consent/ConsentStore.h"
#include "consent/FolderGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace pellim {

std::vector<QByteArray> KeptOutFolders::all() const {
    std::vector<QByteArray> both = guarded;
    both.insert(both.end(), sealed.begin(), sealed.end());
    return both;
}

KeptOutFolders keptOutFolders() {
    KeptOutFolders keptOut;
    for (const GuardedLocation &location : guardedLocations())
        keptOut.guarded.push_back(location.path);
    const QString store = ConsentStore::defaultPath();
    if (store.isEmpty())
        return keptOut;
    const QString folder = QFileInfo(store).path();
    QDir().mkpath(QFileInfo(folder).path());
    const QByteArray bytes = QFile::encodeName(folder);
    ::mkdir(bytes.constData(), 0700);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        keptOut.sealed.push_back(bytes);
    return keptOut;
}

} // namespace pellim
