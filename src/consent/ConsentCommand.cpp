// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/ConsentCommand.h"

#include "consent/ConsentStore.h"
#include "consent/FolderGuard.h"
#include "consent/UserFolders.h"
#include "journal/JournalSink.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

namespace pellim {

namespace {

constexpr int kDone = 0;
constexpr int kNotWritten = 1;
constexpr int kUsage = 2;

const QString kProgram = QStringLiteral("pellim-consent");

void printHelp(QTextStream &out, const ConsentStore &store) {
    out << "Usage: pellim-consent COMMAND [FOLDER]\n"
           "\n"
           "Shows and changes Pellim's stored answers to its folder access prompts.\n"
           "\n"
           "Commands:\n"
           "  list            show each folder, its path and its stored answer\n"
           "  allow FOLDER    let Pellim reach into FOLDER without asking\n"
           "  deny FOLDER     refuse Pellim access to FOLDER without asking\n"
           "  reset FOLDER    forget the answer, so that Pellim asks again\n"
           "  reset all       forget the answers for every folder\n"
           "  release PATH    stop guarding a folder that was guarded before and that the\n"
           "                  desktop's settings no longer name\n"
           "  --help          show this help\n"
           "\n"
           "FOLDER is documents, desktop or downloads, in any letter case.\n"
           "Changes count at once, even while Pellim runs.\n"
           "\n"
           "Exit status: 0 done, 1 the answers could not be stored or shown, 2 a usage error.\n";
    if (store.filePath().isEmpty())
        out << "Answers are stored in $XDG_STATE_HOME/pellim (default ~/.local/state/pellim),\n"
               "but neither XDG_STATE_HOME nor HOME is set to an absolute path.\n";
    else
        out << "Answers are stored in " << store.filePath() << "\n";
}

// Every command but --help needs to know where the answers are.
int noStore(QTextStream &err) {
    err << kProgram
        << ": cannot tell where the answers are stored: neither XDG_STATE_HOME nor HOME is set "
           "to an absolute path\n";
    return kNotWritten;
}

int usageError(QTextStream &err, const QString &message) {
    err << kProgram << ": " << message << " (see pellim-consent --help)\n";
    return kUsage;
}

int list(const ConsentStore &store, QTextStream &out, QTextStream &err) {
    const ConsentStore::Contents contents = store.read();
    if (!contents.problem.isEmpty()) {
        err << kProgram << ": note: the stored answers are ignored: " << contents.problem
            << (contents.state == ConsentStore::FileState::Refused
                    ? "; every folder counts as not decided, and no answer can be stored"
                    : "; every folder counts as not decided until the next change")
            << "\n";
    }
    const QByteArray homeBytes = homeFolder();
    const QString home =
        homeBytes.isEmpty() ? QString() : resolvePath(QFile::decodeName(homeBytes));
    for (GuardedFolder folder : kGuardedFolders) {
        const QString path = userFolderPath(folder);
        QString where = path;
        if (path.isEmpty())
            where = QStringLiteral("(no such folder)");
        else if (!home.isEmpty() && resolvePath(path) == home)
            where += QStringLiteral(" (the home folder itself: not guarded)");
        out << QStringLiteral("%1 %2 %3\n")
                   .arg(folderKey(folder), -10)
                   .arg(answerText(contents.answer(folder)), -12)
                   .arg(where);
    }
    // Folders guarded at an earlier start stay guarded until released.
    for (const ConsentStore::RecordedFolder &recorded : contents.recorded) {
        const QString path = QFile::decodeName(recorded.path);
        if (path != userFolderPath(recorded.folder))
            out << QStringLiteral("%1 %2 %3 (guarded before; release it to stop)\n")
                       .arg(folderKey(recorded.folder), -10)
                       .arg(answerText(contents.answer(recorded.folder)), -12)
                       .arg(path);
    }
    return kDone;
}

int change(ConsentStore &store, const QList<GuardedFolder> &folders, ConsentAnswer answer,
           QTextStream &out, QTextStream &err) {
    QString error;
    const bool ok =
        folders.size() == qsizetype(kGuardedFolders.size()) && answer == ConsentAnswer::NotDecided
            ? store.resetAll(&error)
            : store.setAnswer(folders.front(), answer, &error);
    if (!ok) {
        err << kProgram << ": " << error << "\n";
        return kNotWritten;
    }
    for (GuardedFolder folder : folders)
        out << folderKey(folder) << ": " << answerText(answer) << "\n";
    return kDone;
}

int runCommand(const QStringList &arguments, ConsentStore &store, QTextStream &out,
               QTextStream &err) {
    if (arguments.isEmpty())
        return usageError(err, QStringLiteral("no command given"));
    const QString command = arguments.front();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        printHelp(out, store);
        return kDone;
    }
    if (command == QLatin1String("list")) {
        if (arguments.size() > 1)
            return usageError(err, QStringLiteral("list takes no folder"));
        if (store.filePath().isEmpty())
            return noStore(err);
        return list(store, out, err);
    }

    if (command == QLatin1String("release")) {
        if (arguments.size() != 2)
            return usageError(err, QStringLiteral("release needs the path of one folder"));
        if (store.filePath().isEmpty())
            return noStore(err);
        const QByteArray path = QFile::encodeName(arguments.at(1));
        for (GuardedFolder folder : kGuardedFolders)
            if (userFolderLocation(folder) == path) {
                err << kProgram << ": " << arguments.at(1) << " is the "
                    << folderDisplayName(folder)
                    << " folder the desktop's settings name now: it stays guarded\n";
                return kNotWritten;
            }
        QString error;
        if (!store.release(path, &error)) {
            err << kProgram << ": " << error << "\n";
            return kNotWritten;
        }
        out << arguments.at(1) << ": released\n";
        return kDone;
    }

    ConsentAnswer answer;
    if (command == QLatin1String("allow"))
        answer = ConsentAnswer::Allowed;
    else if (command == QLatin1String("deny"))
        answer = ConsentAnswer::Denied;
    else if (command == QLatin1String("reset"))
        answer = ConsentAnswer::NotDecided;
    else
        return usageError(err, QStringLiteral("unknown command '%1'").arg(command));

    if (arguments.size() < 2)
        return usageError(
            err, QStringLiteral("%1 needs a folder: documents, desktop or downloads").arg(command));
    if (arguments.size() > 2)
        return usageError(err, QStringLiteral("too many arguments"));
    const QString word = arguments.at(1);
    QList<GuardedFolder> folders;
    if (answer == ConsentAnswer::NotDecided &&
        word.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        folders = QList<GuardedFolder>(kGuardedFolders.begin(), kGuardedFolders.end());
    } else if (const auto folder = folderFromKey(word)) {
        folders.append(*folder);
    } else {
        return usageError(
            err, QStringLiteral("unknown folder '%1': use documents, desktop or downloads%2")
                     .arg(word, answer == ConsentAnswer::NotDecided ? QStringLiteral(" or all")
                                                                    : QString()));
    }
    if (store.filePath().isEmpty())
        return noStore(err);
    return change(store, folders, answer, out, err);
}

// Whatever the tool prints may hold text from its arguments, a path or the
// settings file: a control character there must not reach the terminal as one.
void writeEscaped(const QString &text, QTextStream &to) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            to << '\n';
        to << escapeControlCharacters(lines[i], true);
    }
}

} // namespace

int runConsentCommand(const QStringList &arguments, ConsentStore &store, QTextStream &out,
                      QTextStream &err) {
    QString outText;
    QString errText;
    int status;
    {
        QTextStream outBuffer(&outText);
        QTextStream errBuffer(&errText);
        status = runCommand(arguments, store, outBuffer, errBuffer);
    }
    writeEscaped(errText, err);
    writeEscaped(outText, out);
    return status;
}

} // namespace pellim
