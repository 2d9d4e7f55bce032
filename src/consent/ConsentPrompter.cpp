// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/ConsentPrompter.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <algorithm>

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

QString unbrokenAtHyphens(QString text) {
    return text.replace(QLatin1Char('-'), QChar(0x2011));
}

namespace {

// `text` as one word of a shell command line: quoted where it holds anything
// but letters, digits and / . _ + - ~.
QString shellWord(const QString &text) {
    const bool plain = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c.isLetterOrNumber() && c.unicode() < 0x80) || QStringLiteral("/._+-~").contains(c);
    });
    if (plain)
        return text;
    QString quoted = text;
    return QLatin1Char('\'') + quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

// The command that changes the answer, typed as one: no-break spaces, hyphens
// a line never breaks at, and a word joiner after each slash of the program's
// path.
QString resetCommand(const ConsentRequest &request) {
    QStringList words{QStringLiteral("pellim-consent"), QStringLiteral("reset")};
    if (!request.program.isPellim())
        words << QStringLiteral("--program")
              << shellWord(QFile::decodeName(request.program.path))
                     .replace(QLatin1Char('/'), QStringLiteral("/\u2060"));
    words << (request.entry.isEmpty() ? folderKey(request.folder) : shellWord(request.entry));
    return unbrokenAtHyphens(words.join(QChar(0x00a0)));
}

QString programFolderText(const ConsentRequest &request) {
    const char *text = nullptr;
    switch (request.kind) {
    case FileAccessKind::Write:
        text = QT_TRANSLATE_NOOP("pellim::ConsentPrompter",
                                 "“%1” (%2) wants to change files in your %3 folder.");
        break;
    case FileAccessKind::Read:
        text = QT_TRANSLATE_NOOP("pellim::ConsentPrompter",
                                 "“%1” (%2) wants to read files in your %3 folder.");
        break;
    case FileAccessKind::List:
        text = QT_TRANSLATE_NOOP("pellim::ConsentPrompter",
                                 "“%1” (%2) wants to see which files are in your %3 folder.");
        break;
    }
    return translated(text).arg(request.program.name,
                                unbrokenAtHyphens(QFile::decodeName(request.program.path)),
                                shownFolderName(request.folder));
}

} // namespace

QString promptText(const ConsentRequest &request) {
    if (!request.entry.isEmpty())
        return translated(QT_TRANSLATE_NOOP("pellim::ConsentPrompter",
                                            "“%1” (%2) wants to change %3, where programs keep "
                                            "settings and code that can run later."))
            .arg(request.program.name, unbrokenAtHyphens(QFile::decodeName(request.program.path)),
                 unbrokenAtHyphens(request.entry));
    if (!request.program.isPellim())
        return programFolderText(request);
    return translated(QT_TRANSLATE_NOOP("pellim::ConsentPrompter",
                                        "Pellim wants to access your %1 folder."))
        .arg(shownFolderName(request.folder));
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
    // Neither a file dialog's choice nor a folder's answer counts for an entry,
    // and another program has no dialogs of Pellim's.
    QString scope = answerScopeText();
    if (!request.entry.isEmpty()) {
        what = translated(QT_TRANSLATE_NOOP("pellim::ConsentPrompter", "It is trying to change:"));
        scope = translated(QT_TRANSLATE_NOOP("pellim::ConsentPrompter",
                                             "An answer is remembered for this program and %1 "
                                             "until it is changed."))
                    .arg(unbrokenAtHyphens(request.entry));
    } else if (!request.program.isPellim()) {
        scope = translated(QT_TRANSLATE_NOOP(
            "pellim::ConsentPrompter",
            "An answer is remembered for this program and the whole folder until it is changed."));
    }
    return translated(QT_TRANSLATE_NOOP("pellim::ConsentPrompter",
                                        "%1\n%2\n\n%3 To change the answer later, use Folder "
                                        "Access or “%4”."))
        .arg(what, unbrokenAtHyphens(request.path), scope, resetCommand(request));
}

} // namespace pellim
