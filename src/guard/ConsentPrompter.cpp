// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/ConsentPrompter.h"

namespace pellim {

QString accessKindWord(FileAccessKind kind) {
    switch (kind) {
    case FileAccessKind::Write:
        return QStringLiteral("write");
    case FileAccessKind::Read:
        return QStringLiteral("read");
    case FileAccessKind::List:
        return QStringLiteral("list");
    }
    return {};
}

QString promptText(GuardedFolder folder) {
    return QStringLiteral("Pellim wants to access your %1 folder.").arg(folderDisplayName(folder));
}

QString promptInformativeText(const ConsentRequest &request) {
    QString what;
    switch (request.kind) {
    case FileAccessKind::Write:
        what = QStringLiteral("It is trying to write to this file:");
        break;
    case FileAccessKind::Read:
        what = QStringLiteral("It is trying to read this file:");
        break;
    case FileAccessKind::List:
        what = QStringLiteral("It is trying to list this folder:");
        break;
    }
    return QStringLiteral("%1\n%2\n\nYour answer is remembered until you reset it with "
                          "\u201cpellim-consent reset %3\u201d.")
        .arg(what, request.path, folderKey(request.folder));
}

} // namespace pellim
