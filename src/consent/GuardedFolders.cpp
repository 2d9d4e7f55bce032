// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/GuardedFolders.h"

namespace pellim {

QString folderKey(GuardedFolder folder) {
    return QString::fromLatin1(infoOf(folder).key);
}

QString folderDisplayName(GuardedFolder folder) {
    return QString::fromLatin1(infoOf(folder).displayName);
}

QString shownFolderName(GuardedFolder folder) {
    return QCoreApplication::translate("pellim::GuardedFolders", infoOf(folder).displayName);
}

std::optional<GuardedFolder> folderFromKey(const QString &word) {
    for (const GuardedFolderInfo &info : kGuardedFolderTable) {
        if (word.compare(QLatin1String(info.key), Qt::CaseInsensitive) == 0)
            return info.folder;
    }
    return std::nullopt;
}

} // namespace pellim
