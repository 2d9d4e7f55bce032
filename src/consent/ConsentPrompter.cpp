// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/ConsentPrompter.h"

#include <QCoreApplication>

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

namespace {

QString translated(const char *text) {
    return QCoreApplication::translate("pellim::ConsentPrompter", text);
}

} // namespace

QString answerScopeText() {
    return translated(QT_TRANSLATE_NOOP(
        "pellim::ConsentPrompter",
        "An answer is remembered for the whole folder until it is changed. A file or folder you "
        "choose in a file dialog stays granted until Pellim quits, whatever the answer for its "
        "folder."));
}

QString promptText(GuardedFolder folder) {
    return translated(QT_TRANSLATE_NOOP("pellim::ConsentPrompter",
                                        "Pellim wants to access your %1 folder."))
        .arg(shownFolderName(folder));
}

QString unbrokenAtHyphens(QString text) {
    return text.replace(QLatin1Char('-'), QChar(0x2011));
}

QString promptInformativeText(const ConsentRequest &request) {
    QString what;
    switch (request.kind) {
    case FileAccessKind::Write:
        what = translated(
            QT_TRANSLATE_NOOP("pellim::ConsentPrompter", "It is trying to write to this file:"));
        break;
    case FileAccessKind::Read:
        what = translated(
            QT_TRANSLATE_NOOP("pellim::ConsentPrompter", "It is trying to read this file:"));
        break;
    case FileAccessKind::List:
        what = translated(
            QT_TRANSLATE_NOOP("pellim::ConsentPrompter", "It is trying to list this folder:"));
        break;
    }
    // No-break spaces: the command is typed as one.
    const QString command = unbrokenAtHyphens(QStringLiteral("pellim-consent\u00a0reset\u00a0") +
                                              folderKey(request.folder));
    return translated(QT_TRANSLATE_NOOP("pellim::ConsentPrompter",
                                        "%1\n%2\n\n%3 To change the answer later, use Folder "
                                        "Access or “%4”."))
        .arg(what, unbrokenAtHyphens(request.path), answerScopeText(), command);
}

} // namespace pellim
