#include "guard/ConsentCommand.h"

#include "guard/ConsentStore.h"
#include "guard/FolderGuard.h"

#include <QDir>
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
           "  --help          show this help\n"
           "\n"
           "FOLDER is documents, desktop or downloads, in any letter case.\n"
           "Changes count at once, even while Pellim runs.\n"
           "\n"
           "Exit status: 0 done, 1 the answers could not be stored, 2 a usage error.\n"
           "Answers are stored in "
        << QDir::toNativeSeparators(store.filePath()) << "\n";
}

int usageError(QTextStream &err, const QString &message) {
    err << kProgram << ": " << message << " (see pellim-consent --help)\n";
    return kUsage;
}

int list(const ConsentStore &store, QTextStream &out, QTextStream &err) {
    const ConsentStore::Contents contents = store.read();
    if (contents.state == ConsentStore::FileState::Unreadable ||
        contents.state == ConsentStore::FileState::Damaged) {
        err << kProgram << ": note: " << store.filePath()
            << (contents.state == ConsentStore::FileState::Damaged ? " is damaged"
                                                                   : " cannot be read")
            << "; every folder counts as not decided until the next change\n";
    }
    const QString home = resolvePath(QDir::homePath());
    for (GuardedFolder folder : kGuardedFolders) {
        const QString path = userFolderPath(folder);
        QString where = path;
        if (path.isEmpty())
            where = QStringLiteral("(no such folder)");
        else if (resolvePath(path) == home)
            where += QStringLiteral(" (the home folder itself: not guarded)");
        out << QStringLiteral("%1 %2 %3\n")
                   .arg(folderKey(folder), -10)
                   .arg(answerText(contents.answer(folder)), -12)
                   .arg(where);
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

} // namespace

int runConsentCommand(const QStringList &arguments, ConsentStore &store, QTextStream &out,
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
        return list(store, out, err);
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
    return change(store, folders, answer, out, err);
}

} // namespace pellim
