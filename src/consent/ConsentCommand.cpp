// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/ConsentCommand.h"

#include "consent/AnswerChanges.h"
#include "consent/ConsentStore.h"
#include "consent/FolderGuard.h"
#include "consent/UserFolders.h"
#include "journal/JournalSink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <algorithm>

namespace pellim {

namespace {

constexpr int kDone = 0;
constexpr int kNotWritten = 1;
constexpr int kUsage = 2;

const QString kProgram = QStringLiteral("pellim-consent");

QString translated(const char *text) {
    return QCoreApplication::translate("pellim-consent", text);
}

// The options and arguments, for parsing and for --help; Qt writes the usage
// line and the lists of options and arguments.
struct CommandLine {
    QCommandLineParser parser;
    CommandLine() {
        parser.setApplicationDescription(translated(QT_TRANSLATE_NOOP(
            "pellim-consent", "Shows and changes Pellim's stored answers to its folder access "
                              "prompts.")));
        // Not addHelpOption(): its --help-all would offer Qt's own options, and
        // this tool takes none. The description is Qt's, so Qt's translations
        // carry it.
        parser.addOption(
            QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                               QCoreApplication::translate(
                                   "QCommandLineParser", "Displays help on commandline options.")));
        parser.addVersionOption();
        // The placeholders' names are words for the reader, as in the
        // commands' list below; the commands and folders themselves are not.
        parser.addPositionalArgument(
            translated(QT_TRANSLATE_NOOP("pellim-consent", "COMMAND")),
            translated(QT_TRANSLATE_NOOP("pellim-consent", "list, allow, deny, reset or release")));
        const QString folder = translated(QT_TRANSLATE_NOOP("pellim-consent", "FOLDER"));
        parser.addPositionalArgument(
            folder,
            translated(QT_TRANSLATE_NOOP("pellim-consent", "documents, desktop or downloads")),
            QLatin1Char('[') + folder + QLatin1Char(']'));
    }
};

void printHelp(QTextStream &out, const CommandLine &line, const ConsentStore &store) {
    out << line.parser.helpText() << "\n"
        << translated(QT_TRANSLATE_NOOP(
               "pellim-consent",
               "Commands:\n"
               "  list            show each folder, its path and its stored answer\n"
               "  allow FOLDER    let Pellim reach into FOLDER without asking\n"
               "  deny FOLDER     refuse Pellim access to FOLDER without asking\n"
               "  reset FOLDER    forget the answer, so that Pellim asks again\n"
               "  reset all       forget the answers for every folder\n"
               "  release PATH    stop guarding a folder that was guarded before and that\n"
               "                  the desktop's settings no longer name\n"
               "\n"
               "FOLDER is documents, desktop or downloads, in any letter case.\n"
               "Changes count at once, even while Pellim runs. Each change is an entry in\n"
               "the journal, as in Folder Access: journalctl SUBSYSTEM=org.pellim.FolderGuard\n"
               "\n"
               "Exit status: 0 done, 1 the answers could not be stored or shown, 2 a usage "
               "error.\n"));
    if (store.filePath().isEmpty())
        out << translated(QT_TRANSLATE_NOOP(
            "pellim-consent",
            "Answers are stored in $XDG_STATE_HOME/pellim (default ~/.local/state/pellim),\n"
            "but neither XDG_STATE_HOME nor HOME is set to an absolute path.\n"));
    else
        out << translated(QT_TRANSLATE_NOOP("pellim-consent", "Answers are stored in %1\n"))
                   .arg(store.filePath());
}

// Every command but --help needs to know where the answers are.
int noStore(QTextStream &err) {
    err << kProgram << ": "
        << translated(QT_TRANSLATE_NOOP("pellim-consent",
                                        "cannot tell where the answers are stored: neither "
                                        "XDG_STATE_HOME nor HOME is set to an absolute path"))
        << "\n";
    return kNotWritten;
}

// Where a change kept the answers file it could not use, for the person to copy
// answers back from.
void noteKept(const Result<ConsentStore::Stored> &stored, QTextStream &err) {
    if (stored && !stored->kept.isEmpty())
        err << kProgram << ": "
            << translated(QT_TRANSLATE_NOOP("pellim-consent",
                                            "note: the answers file could not be used; it "
                                            "was kept as %1"))
                   .arg(stored->kept)
            << "\n";
}

int usageError(QTextStream &err, const QString &message) {
    err << kProgram << ": " << message << " "
        << translated(QT_TRANSLATE_NOOP("pellim-consent", "(see pellim-consent --help)")) << "\n";
    return kUsage;
}

// An answer in the person's language; the journal and the answers file keep
// answerText()'s English words.
QString shownAnswer(ConsentAnswer answer) {
    switch (answer) {
    case ConsentAnswer::Allowed:
        return translated(QT_TRANSLATE_NOOP("pellim-consent", "allowed"));
    case ConsentAnswer::Denied:
        return translated(QT_TRANSLATE_NOOP("pellim-consent", "denied"));
    case ConsentAnswer::NotDecided:
        break;
    }
    return translated(QT_TRANSLATE_NOOP("pellim-consent", "not decided"));
}

int list(const ConsentStore &store, QTextStream &out, QTextStream &err) {
    const ConsentStore::Contents contents = store.read();
    if (!contents.problem.isEmpty()) {
        err << kProgram << ": "
            << (contents.state == ConsentStore::FileState::Refused
                    ? translated(QT_TRANSLATE_NOOP(
                          "pellim-consent", "note: the stored answers are ignored: %1; every "
                                            "folder counts as not decided, and no answer can be "
                                            "stored"))
                    : translated(QT_TRANSLATE_NOOP(
                          "pellim-consent", "note: the stored answers are ignored: %1; every "
                                            "folder counts as not decided until the next "
                                            "change")))
                   .arg(contents.problem)
            << "\n";
    }
    for (const QString &kept : store.keptFiles())
        err << kProgram << ": "
            << translated(QT_TRANSLATE_NOOP("pellim-consent",
                                            "note: %1 holds earlier answers that could not be "
                                            "used; Pellim does not read it"))
                   .arg(kept)
            << "\n";
    const QByteArray homeBytes = homeFolder();
    const QString home =
        homeBytes.isEmpty() ? QString() : resolvePath(QFile::decodeName(homeBytes));
    // The first column is the word the commands take, the same in every
    // language; the answers are the person's words (LC_ALL=C gives the
    // English ones), in a column as wide as the longest of them.
    int answerWidth = 12;
    for (ConsentAnswer answer :
         {ConsentAnswer::Allowed, ConsentAnswer::Denied, ConsentAnswer::NotDecided})
        answerWidth = std::max(answerWidth, int(shownAnswer(answer).size()) + 1);
    const auto line = [&](GuardedFolder folder, const QString &where) {
        out << QStringLiteral("%1 %2 %3\n")
                   .arg(folderKey(folder), -10)
                   .arg(shownAnswer(contents.answer(folder)), -answerWidth)
                   .arg(where);
    };
    for (GuardedFolder folder : kGuardedFolders) {
        const QString path = userFolderPath(folder);
        QString where = path;
        if (path.isEmpty())
            where = translated(QT_TRANSLATE_NOOP("pellim-consent", "(no such folder)"));
        else if (!home.isEmpty() && resolvePath(path) == home)
            where = translated(QT_TRANSLATE_NOOP("pellim-consent",
                                                 "%1 (the home folder itself: not guarded)"))
                        .arg(path);
        line(folder, where);
    }
    // Folders guarded at an earlier start stay guarded until released.
    for (const ConsentStore::RecordedFolder &recorded : contents.recorded) {
        const QString path = QFile::decodeName(recorded.path);
        if (path != userFolderPath(recorded.folder))
            line(recorded.folder,
                 translated(
                     QT_TRANSLATE_NOOP("pellim-consent", "%1 (guarded before; release it to stop)"))
                     .arg(path));
    }
    return kDone;
}

int release(ConsentStore &store, LogSink &journal, const QString &word, QTextStream &out,
            QTextStream &err) {
    const QByteArray path = QFile::encodeName(word);
    for (GuardedFolder folder : kGuardedFolders)
        if (userFolderLocation(folder) == path) {
            err << kProgram << ": "
                << translated(QT_TRANSLATE_NOOP("pellim-consent",
                                                "%1 is the folder the desktop's settings name "
                                                "now: it stays guarded"))
                       .arg(word)
                << "\n";
            return kNotWritten;
        }
    const Result<ConsentStore::Stored> released =
        AnswerChanges(store, journal, QStringLiteral("with pellim-consent")).release(path, word);
    if (!released) {
        err << kProgram << ": " << released.failure().text() << "\n";
        return kNotWritten;
    }
    noteKept(released, err);
    out << translated(QT_TRANSLATE_NOOP("pellim-consent", "%1: released")).arg(word) << "\n";
    return kDone;
}

int change(ConsentStore &store, LogSink &journal, const QList<GuardedFolder> &folders,
           ConsentAnswer answer, QTextStream &out, QTextStream &err) {
    AnswerChanges changes(store, journal, QStringLiteral("with pellim-consent"));
    const Result<ConsentStore::Stored> stored =
        folders.size() == qsizetype(kGuardedFolders.size()) && answer == ConsentAnswer::NotDecided
            ? changes.resetAll()
            : changes.setAnswer(folders.front(), answer);
    if (!stored) {
        err << kProgram << ": " << stored.failure().text() << "\n";
        return kNotWritten;
    }
    noteKept(stored, err);
    for (GuardedFolder folder : folders)
        out << folderKey(folder) << ": " << shownAnswer(answer) << "\n";
    return kDone;
}

int runCommand(const QStringList &arguments, ConsentStore &store, LogSink &journal,
               QTextStream &out, QTextStream &err) {
    CommandLine line;
    const bool parsed = line.parser.parse(arguments);
    if (line.parser.isSet(QStringLiteral("help")) ||
        line.parser.positionalArguments().value(0) == QLatin1String("help")) {
        printHelp(out, line, store);
        return kDone;
    }
    if (line.parser.isSet(QStringLiteral("version"))) {
        out << kProgram << " " << QStringLiteral(PELLIM_VERSION) << "\n";
        return kDone;
    }
    if (!parsed)
        return usageError(err, line.parser.errorText());
    const QStringList words = line.parser.positionalArguments();
    if (words.isEmpty())
        return usageError(err, translated(QT_TRANSLATE_NOOP("pellim-consent", "no command given")));
    const QString command = words.front();
    if (command == QLatin1String("list")) {
        if (words.size() > 1)
            return usageError(
                err, translated(QT_TRANSLATE_NOOP("pellim-consent", "list takes no folder")));
        if (store.filePath().isEmpty())
            return noStore(err);
        return list(store, out, err);
    }

    if (command == QLatin1String("release")) {
        if (words.size() != 2)
            return usageError(err, translated(QT_TRANSLATE_NOOP(
                                       "pellim-consent", "release needs the path of one folder")));
        if (store.filePath().isEmpty())
            return noStore(err);
        return release(store, journal, words.at(1), out, err);
    }

    ConsentAnswer answer;
    if (command == QLatin1String("allow"))
        answer = ConsentAnswer::Allowed;
    else if (command == QLatin1String("deny"))
        answer = ConsentAnswer::Denied;
    else if (command == QLatin1String("reset"))
        answer = ConsentAnswer::NotDecided;
    else
        return usageError(
            err,
            translated(QT_TRANSLATE_NOOP("pellim-consent", "unknown command '%1'")).arg(command));

    if (words.size() < 2)
        return usageError(
            err, translated(QT_TRANSLATE_NOOP("pellim-consent",
                                              "%1 needs a folder: documents, desktop or downloads"))
                     .arg(command));
    if (words.size() > 2)
        return usageError(err,
                          translated(QT_TRANSLATE_NOOP("pellim-consent", "too many arguments")));
    const QString word = words.at(1);
    QList<GuardedFolder> folders;
    if (answer == ConsentAnswer::NotDecided &&
        word.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        folders = QList<GuardedFolder>(kGuardedFolders.begin(), kGuardedFolders.end());
    } else if (const auto folder = folderFromKey(word)) {
        folders.append(*folder);
    } else {
        return usageError(
            err, (answer == ConsentAnswer::NotDecided
                      ? translated(QT_TRANSLATE_NOOP(
                            "pellim-consent",
                            "unknown folder '%1': use documents, desktop, downloads or all"))
                      : translated(QT_TRANSLATE_NOOP(
                            "pellim-consent",
                            "unknown folder '%1': use documents, desktop or downloads")))
                     .arg(word));
    }
    if (store.filePath().isEmpty())
        return noStore(err);
    return change(store, journal, folders, answer, out, err);
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

int runConsentCommand(const QStringList &arguments, ConsentStore &store, LogSink &journal,
                      QTextStream &out, QTextStream &err) {
    QString outText;
    QString errText;
    int status;
    {
        QTextStream outBuffer(&outText);
        QTextStream errBuffer(&errText);
        status = runCommand(arguments, store, journal, outBuffer, errBuffer);
    }
    writeEscaped(errText, err);
    writeEscaped(outText, out);
    return status;
}

} // namespace pellim
