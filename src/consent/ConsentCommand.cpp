// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/ConsentCommand.h"

#include "consent/AnswerChanges.h"
#include "consent/ConsentStore.h"
#include "consent/FolderGuard.h"
#include "consent/KeptOut.h"
#include "consent/Program.h"
#include "consent/RunningGrants.h"
#include "consent/UserFolders.h"
#include "journal/JournalSink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>

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
        parser.addOption(QCommandLineOption(
            QStringLiteral("program"),
            translated(QT_TRANSLATE_NOOP("pellim-consent",
                                         "Act on the answers of PROGRAM, a path or a command "
                                         "name as the shell finds it, instead of Pellim's.")),
            translated(QT_TRANSLATE_NOOP("pellim-consent", "PROGRAM"))));
        // The placeholders' names are words for the reader, as in the
        // commands' list below; the commands and folders themselves are not.
        parser.addPositionalArgument(
            translated(QT_TRANSLATE_NOOP("pellim-consent", "COMMAND")),
            translated(QT_TRANSLATE_NOOP("pellim-consent",
                                         "list, allow, deny, reset, release or revoke")));
        const QString folder = translated(QT_TRANSLATE_NOOP("pellim-consent", "FOLDER"));
        parser.addPositionalArgument(
            folder,
            translated(QT_TRANSLATE_NOOP(
                "pellim-consent", "documents, desktop or downloads; with --program, also the path "
                                  "of a place in the home where it keeps settings")),
            QLatin1Char('[') + folder + QLatin1Char(']'));
    }
};

void printHelp(QTextStream &out, const CommandLine &line, const ConsentStore &store) {
    out << line.parser.helpText() << "\n"
        << translated(QT_TRANSLATE_NOOP(
               "pellim-consent",
               "Commands:\n"
               "  list            show each folder, its path and its stored answer, for\n"
               "                  Pellim and then every other program with an answer,\n"
               "                  and what each running program was granted in a dialog\n"
               "  allow FOLDER    let Pellim reach into FOLDER without asking\n"
               "  deny FOLDER     refuse Pellim access to FOLDER without asking\n"
               "  reset FOLDER    forget the answer, so that Pellim asks again\n"
               "  reset all       forget the answers for every folder\n"
               "  release PATH    stop guarding a folder that was guarded before and that\n"
               "                  the desktop's settings no longer name\n"
               "  reset --program PROGRAM\n"
               "                  forget every answer of PROGRAM\n"
               "  revoke [--program PROGRAM] PATH\n"
               "                  take back what was chosen as PATH in a dialog of the\n"
               "                  running PROGRAM (Pellim without --program)\n"
               "\n"
               "FOLDER is documents, desktop or downloads, in any letter case.\n"
               "With --program, list, allow, deny and reset act on the answers of a program\n"
               "run with pellim-guard instead of Pellim's: PROGRAM is its path or the name\n"
               "the shell finds it by. Besides a folder they take the path of a place in\n"
               "the home where it keeps settings, as the guard asks about it:\n"
               "  pellim-consent deny --program git ~/.gitconfig\n"
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

// The notes on the answers file that come before a listing, on standard error.
void listProblems(const ConsentStore &store, const ConsentStore::Contents &contents,
                  QTextStream &err) {
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
}

// One program's lines: each folder with its answer and path, then each entry
// with its answer. The first column is the word the commands take, the same
// in every language; the answers are the person's words (LC_ALL=C gives the
// English ones), in a column as wide as the longest of them. Another
// program's lines are indented under its name.
void listAnswers(const ConsentStore::ProgramAnswers &program, QTextStream &out) {
    const QByteArray homeBytes = homeFolder();
    const QString home =
        homeBytes.isEmpty() ? QString() : resolvePath(QFile::decodeName(homeBytes));
    int answerWidth = 12;
    for (ConsentAnswer answer :
         {ConsentAnswer::Allowed, ConsentAnswer::Denied, ConsentAnswer::NotDecided})
        answerWidth = std::max(answerWidth, int(shownAnswer(answer).size()) + 1);
    int keyWidth = 10;
    for (const auto &entry : program.entries)
        keyWidth = std::max(keyWidth, int(shownEntry(entry.first).size()) + 1);
    const QString indent = program.isPellim() ? QString() : QStringLiteral("  ");
    const auto line = [&](const QString &key, ConsentAnswer answer, const QString &where) {
        // Put together, not formatted: a name may hold a "%2" of its own.
        QString text = key.leftJustified(keyWidth) + QLatin1Char(' ') +
                       shownAnswer(answer).leftJustified(answerWidth) + QLatin1Char(' ') + where;
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        out << indent << text << "\n";
    };
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
        const GuardedFolder folder = kGuardedFolders[i];
        const QString path = userFolderPath(folder);
        QString where = path;
        if (path.isEmpty())
            where = translated(QT_TRANSLATE_NOOP("pellim-consent", "(no such folder)"));
        else if (!home.isEmpty() && resolvePath(path) == home)
            where = translated(QT_TRANSLATE_NOOP("pellim-consent",
                                                 "%1 (the home folder itself: not guarded)"))
                        .arg(path);
        line(folderKey(folder), program.answers[i], where);
    }
    for (const auto &[entry, answer] : program.entries)
        line(shownEntry(entry), answer, QString());
}

// Folders guarded at an earlier start stay guarded until released.
void listRecorded(const ConsentStore::Contents &contents, QTextStream &out) {
    for (const ConsentStore::RecordedFolder &recorded : contents.recorded) {
        const QString path = QFile::decodeName(recorded.path);
        // With the answer that holds for it, as the folder's own line has.
        if (path != userFolderPath(recorded.folder))
            out << folderKey(recorded.folder).leftJustified(10) << ' '
                << shownAnswer(contents.answer(recorded.folder)).leftJustified(12) << ' '
                << translated(QT_TRANSLATE_NOOP("pellim-consent",
                                                "%1 (guarded before; release it to stop)"))
                       .arg(path)
                << "\n";
    }
}

// What the running guards published, or nothing: no runtime folder says so.
std::vector<RunningProgram> runningPrograms(QTextStream &err) {
    const Result<QByteArray> folder = RunningGrants::folder();
    if (!qgetenv("XDG_RUNTIME_DIR").startsWith('/'))
        err << kProgram << ": "
            << translated(QT_TRANSLATE_NOOP("pellim-consent",
                                            "note: there is no runtime folder (XDG_RUNTIME_DIR): "
                                            "what running programs were granted in a dialog is "
                                            "not shown"))
            << "\n";
    return folder ? RunningGrants(*folder).programs() : std::vector<RunningProgram>();
}

// What the running guards of the program `id` were granted in a dialog.
void listChosen(const QString &id, const std::vector<RunningProgram> &running, QTextStream &out) {
    for (const RunningProgram &program : running)
        if (program.id == id)
            for (const ChosenItem &item : program.chosen)
                out << "  "
                    << translated(QT_TRANSLATE_NOOP("pellim-consent",
                                                    "Chosen in a dialog, open until %1 quits: %2"))
                           .arg(program.name, QFile::decodeName(item.path))
                    << "\n";
}

// "sh (/usr/bin/dash)", above another program's lines.
void listHeading(const ConsentStore::ProgramAnswers &program, QTextStream &out) {
    out << QStringLiteral("%1 (%2)\n").arg(program.name, program.id);
}

// Pellim's answers as they have always been listed, then every other
// program's; with `only`, that program's alone.
int list(const ConsentStore &store, const std::optional<Program> &only, QTextStream &out,
         QTextStream &err) {
    const ConsentStore::Contents contents = store.read();
    listProblems(store, contents, err);
    const std::vector<RunningProgram> running = runningPrograms(err);
    std::vector<ConsentStore::ProgramAnswers> programs = store.programs();
    // A program that runs with something chosen is listed, answered or not.
    for (const RunningProgram &r : running)
        if (!r.chosen.empty() && std::none_of(programs.begin(), programs.end(),
                                              [&](const auto &p) { return p.id == r.id; }))
            programs.push_back({r.id, r.name, {}, {}});
    const auto answersOf = [&](const QString &id, const QString &name) {
        for (const ConsentStore::ProgramAnswers &program : programs)
            if (program.id == id)
                return program;
        return ConsentStore::ProgramAnswers{id, name, {}, {}};
    };
    if (only && !only->isPellim()) {
        const ConsentStore::ProgramAnswers program = answersOf(only->id, only->name);
        listHeading(program, out);
        listAnswers(program, out);
        listChosen(program.id, running, out);
        return kDone;
    }
    // Pellim's from its own reading: a damaged object of its own lists as not decided.
    listAnswers({QString::fromLatin1(kAppId), {}, contents.answers, {}}, out);
    listRecorded(contents, out);
    listChosen(QString::fromLatin1(kAppId), running, out);
    if (only)
        return kDone;
    for (const ConsentStore::ProgramAnswers &program : programs) {
        if (program.isPellim())
            continue;
        out << "\n";
        listHeading(program, out);
        listAnswers(program, out);
        listChosen(program.id, running, out);
    }
    return kDone;
}

// Asks every running guard of `program` that holds `word` chosen in a dialog
// to take it back.
int revoke(const Program &program, const QString &word, QTextStream &out, QTextStream &err) {
    const QByteArray home = homeFolder();
    QString given = word;
    if (!home.isEmpty() && (given == QLatin1String("~") || given.startsWith(QLatin1String("~/"))))
        given = QFile::decodeName(home) + given.mid(1);
    given = QDir::cleanPath(QDir::current().absoluteFilePath(given));
    const QByteArray paths[] = {QFile::encodeName(given), QFile::encodeName(resolvePath(given))};
    const Result<QByteArray> folder = RunningGrants::folder();
    bool any = false;
    for (const RunningProgram &running :
         folder ? RunningGrants(*folder).programs() : std::vector<RunningProgram>()) {
        for (const ChosenItem &item : running.chosen) {
            if (running.id != program.id || (item.path != paths[0] && item.path != paths[1]))
                continue;
            any = true;
            const Outcome revoked =
                RunningGrants(*folder).revoke(running, item.path, RevokedBy::Command);
            if (!revoked) {
                err << kProgram << ": " << revoked.failure().text() << "\n";
                return kNotWritten;
            }
            out << translated(QT_TRANSLATE_NOOP("pellim-consent", "%1: %2: revoked"))
                       .arg(running.name, QFile::decodeName(item.path))
                << "\n";
        }
    }
    if (!any) {
        err << kProgram << ": "
            << translated(QT_TRANSLATE_NOOP("pellim-consent",
                                            "%1 holds nothing chosen in a dialog as %2 now"))
                   .arg(program.name, given)
            << "\n";
        return kNotWritten;
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

// The program --program names, or nothing (Pellim) without the option: one
// stored under that very id; else the file the shell would run by that name,
// as the guard keys it (Pellim's own, installed beside this tool, under
// Pellim's id); else one stored by that name, for a program no longer there.
Result<std::optional<Program>> programNamed(const CommandLine &line, const ConsentStore &store) {
    if (!line.parser.isSet(QStringLiteral("program")))
        return std::optional<Program>();
    const QString word = line.parser.value(QStringLiteral("program"));
    if (word == QLatin1String(kAppId))
        return std::optional<Program>(pellimProgram({}));
    const std::vector<ConsentStore::ProgramAnswers> stored = store.programs();
    for (const ConsentStore::ProgramAnswers &p : stored)
        if (p.id == word)
            return std::optional<Program>(Program{p.id, p.name, QFile::encodeName(p.id)});
    Result<Program> found = resolveProgram(QFile::encodeName(word), qgetenv("PATH"));
    if (found) {
        // Named as when the guard stored its answers, if it did.
        for (const ConsentStore::ProgramAnswers &p : stored)
            if (p.id == found->id)
                found->name = p.name;
        char pellim[PATH_MAX];
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/pellim");
        if (::realpath(QFile::encodeName(beside).constData(), pellim) && found->path == pellim)
            return std::optional<Program>(pellimProgram(found->path));
        return std::optional<Program>(std::move(*found));
    }
    const auto byName = std::find_if(stored.begin(), stored.end(), [&](const auto &p) {
        return !p.isPellim() && p.name == word;
    });
    if (byName != stored.end())
        return std::optional<Program>(
            Program{byName->id, byName->name, QFile::encodeName(byName->id)});
    return Failure{translated(QT_TRANSLATE_NOOP("pellim-consent", "no program '%1': %2"))
                       .arg(word, found.failure().text())};
}

// The entry `word` names, as the guard keys it: absolute ("~" is the home),
// its folder resolved, its own name as given. A failure unless it is a hidden
// entry of the home or an entry of an XDG base folder in the home: nothing
// else is asked about, so an answer for it would never count.
Result<QByteArray> entryNamed(const QString &word) {
    const QByteArray home = homeFolder();
    QString path = word;
    if (!home.isEmpty() && (path == QLatin1String("~") || path.startsWith(QLatin1String("~/"))))
        path = QFile::decodeName(home) + path.mid(1);
    const QByteArray bytes =
        QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
    const qsizetype slash = bytes.lastIndexOf('/');
    const QByteArray name = bytes.mid(slash + 1);
    const auto resolved = [](const QByteArray &folder) {
        char real[PATH_MAX];
        return ::realpath(folder.constData(), real) ? QByteArray(real) : folder;
    };
    const QByteArray folder = resolved(slash > 0 ? bytes.left(slash) : QByteArray("/"));
    bool place = !home.isEmpty() && folder == resolved(home) && name.startsWith('.') &&
                 name != "." && name != "..";
    for (const QByteArray &base : home.isEmpty() ? std::vector<QByteArray>() : homeBases(home))
        place = place || (folder == resolved(base) && !name.isEmpty());
    if (!place)
        return Failure{
            translated(QT_TRANSLATE_NOOP("pellim-consent",
                                         "%1 is not a place where programs keep settings: name a "
                                         "hidden entry of the home (~/.npm) or an entry of "
                                         "~/.config, ~/.local/share, ~/.local/state or ~/.cache "
                                         "(~/.config/git)"))
                .arg(word)};
    return folder + '/' + name;
}

// Whether `entry` is one of the start files, which stay read-only whatever
// the answer.
bool staysReadOnly(const QByteArray &entry) {
    const std::vector<QByteArray> readOnly = readOnlyPaths();
    return std::any_of(readOnly.begin(), readOnly.end(), [&](const QByteArray &path) {
        const Result<QByteArray> named = entryNamed(QFile::decodeName(path));
        return named && *named == entry;
    });
}

// What a change is about: a folder, an entry, or (none of them) all answers.
struct Subject {
    std::optional<GuardedFolder> folder;
    QByteArray entry;
};

int change(ConsentStore &store, LogSink &journal, const std::optional<Program> &program,
           const Subject &subject, ConsentAnswer answer, QTextStream &out, QTextStream &err) {
    const bool other = program && !program->isPellim();
    ConsentStore theirs(store.filePath(), other ? program->id : store.appId(),
                        other ? program->name : QString());
    AnswerChanges changes(theirs, journal, QStringLiteral("with pellim-consent"),
                          other ? program->name : QString());
    const Result<ConsentStore::Stored> stored =
        subject.folder             ? changes.setAnswer(*subject.folder, answer)
        : !subject.entry.isEmpty() ? changes.setEntryAnswer(subject.entry, answer)
                                   : changes.resetProgram();
    if (!stored) {
        err << kProgram << ": " << stored.failure().text() << "\n";
        return kNotWritten;
    }
    noteKept(stored, err);
    const QString prefix = other ? program->name + QStringLiteral(": ") : QString();
    if (subject.folder)
        out << prefix << folderKey(*subject.folder) << ": " << shownAnswer(answer) << "\n";
    else if (!subject.entry.isEmpty())
        out << prefix << shownEntry(subject.entry) << ": " << shownAnswer(answer) << "\n";
    else if (other)
        out << prefix << translated(QT_TRANSLATE_NOOP("pellim-consent", "every answer")) << ": "
            << shownAnswer(answer) << "\n";
    else
        for (GuardedFolder folder : kGuardedFolders)
            out << folderKey(folder) << ": " << shownAnswer(answer) << "\n";
    return kDone;
}

// What allow, deny or reset is about, from the word after it (none: the whole
// program, for reset with --program); a usage error's text when it names nothing.
Result<Subject> subjectNamed(const QStringList &words, ConsentAnswer answer, bool program) {
    const QString command = words.front();
    const bool reset = answer == ConsentAnswer::NotDecided;
    if (words.size() > 2)
        return Failure{translated(QT_TRANSLATE_NOOP("pellim-consent", "too many arguments"))};
    if (words.size() < 2 && !(reset && program))
        return Failure{
            program ? translated(QT_TRANSLATE_NOOP("pellim-consent",
                                                   "%1 needs a folder (documents, desktop or "
                                                   "downloads) or the path of a place in the home"))
                          .arg(command)
                    : translated(
                          QT_TRANSLATE_NOOP("pellim-consent",
                                            "%1 needs a folder: documents, desktop or downloads"))
                          .arg(command)};
    const QString word = words.value(1);
    if (word.isEmpty() || (reset && word.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0))
        return Subject{};
    if (const std::optional<GuardedFolder> folder = folderFromKey(word))
        return Subject{folder, {}};
    const bool path = word.contains(QLatin1Char('/')) || word.startsWith(QLatin1Char('~'));
    if (path && !program)
        return Failure{translated(QT_TRANSLATE_NOOP(
            "pellim-consent", "Pellim's settings in the home are read-only, with no "
                              "answer to change; name another program with --program"))};
    if (path) {
        Result<QByteArray> entry = entryNamed(word);
        if (!entry)
            return entry.failure();
        if (answer == ConsentAnswer::Allowed && staysReadOnly(*entry))
            return Failure{
                translated(QT_TRANSLATE_NOOP("pellim-consent",
                                             "%1 stays read-only whatever the answer: it starts "
                                             "programs or decides what the session does"))
                    .arg(word)};
        return Subject{std::nullopt, *entry};
    }
    return Failure{
        (reset ? translated(QT_TRANSLATE_NOOP(
                     "pellim-consent",
                     "unknown folder '%1': use documents, desktop, downloads or all"))
               : translated(QT_TRANSLATE_NOOP(
                     "pellim-consent", "unknown folder '%1': use documents, desktop or downloads")))
            .arg(word)};
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
    const bool named = line.parser.isSet(QStringLiteral("program"));
    if (command == QLatin1String("release")) {
        if (words.size() != 2)
            return usageError(err, translated(QT_TRANSLATE_NOOP(
                                       "pellim-consent", "release needs the path of one folder")));
        if (named) // the guarded folders are the guard's, not a program's
            return usageError(
                err, translated(QT_TRANSLATE_NOOP("pellim-consent", "release takes no --program")));
        if (store.filePath().isEmpty())
            return noStore(err);
        return release(store, journal, words.at(1), out, err);
    }
    if (command == QLatin1String("revoke")) {
        if (words.size() != 2)
            return usageError(err, translated(QT_TRANSLATE_NOOP(
                                       "pellim-consent", "revoke needs the path of one item")));
        const Result<std::optional<Program>> program = programNamed(line, store);
        if (!program)
            return usageError(err, program.failure().text());
        return revoke(program->value_or(pellimProgram({})), words.at(1), out, err);
    }
    static const QStringList kCommands = {QStringLiteral("list"), QStringLiteral("allow"),
                                          QStringLiteral("deny"), QStringLiteral("reset")};
    const ConsentAnswer answers[] = {ConsentAnswer::NotDecided, ConsentAnswer::Allowed,
                                     ConsentAnswer::Denied, ConsentAnswer::NotDecided};
    const qsizetype index = kCommands.indexOf(command);
    if (index < 0)
        return usageError(
            err,
            translated(QT_TRANSLATE_NOOP("pellim-consent", "unknown command '%1'")).arg(command));
    if (index == 0 && words.size() > 1)
        return usageError(err,
                          translated(QT_TRANSLATE_NOOP("pellim-consent", "list takes no folder")));
    Result<Subject> subject =
        index == 0 ? Result<Subject>(Subject{}) : subjectNamed(words, answers[index], named);
    if (!subject)
        return usageError(err, subject.failure().text());
    if (store.filePath().isEmpty())
        return noStore(err);
    const Result<std::optional<Program>> program = programNamed(line, store);
    if (!program)
        return usageError(err, program.failure().text());
    if (index == 0)
        return list(store, *program, out, err);
    return change(store, journal, *program, *subject, answers[index], out, err);
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
