#include "consent/AnswerChanges.h"
#include "consent/ConsentPrompter.h"
#include "consent/FolderGuard.h"
#include "consent/KeptOut.h"
#include "consent/Program.h"
#include "consent/RunningGrants.h"
#include "files/FileAccess.h"
#include "paths/PathWalk.h"
#include "support/MemoryLogSink.h"
#include "support/TestHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <latch>
#include <thread>
#include <tuple>

using namespace pellim;

namespace {

// Gives the answers it was handed, then CannotAsk.
struct FakePrompter final : ConsentPrompter {
    explicit FakePrompter(std::vector<PromptAnswer> a = {}) : answers(std::move(a)) {}
    PromptAnswer ask(const ConsentRequest &) override {
        return ++asked <= int(answers.size()) ? answers[asked - 1] : PromptAnswer::CannotAsk;
    }
    std::vector<PromptAnswer> answers;
    int asked = 0;
};

// Asks `guard` as file access does: about what the path reaches.
bool asks(FolderGuard &guard, const QString &path, FileAccessKind kind = FileAccessKind::Write) {
    const QByteArray bytes = QFile::encodeName(path);
    const std::optional<Walked> walked = walkPath(bytes);
    return walked && guard.mayAccess(*walked, bytes, kind);
}

int modeOf(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

FileIdentity idOf(const QByteArray &path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 ? FileIdentity{st.st_dev, st.st_ino} : FileIdentity{};
}
FileIdentity idOf(int fd) {
    return idOf("/proc/self/fd/" + QByteArray::number(fd));
}

bool writeFile(const QByteArray &path, const QByteArray &bytes) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Short folder names, but deep: spelled out, the path is well past PATH_MAX.
// With `jumps`, a link "j" every kJump levels leads kJump levels down, so a
// short path reaches the bottom. Returns the bottom folder.
const QByteArray kLevel(16, 'd');
constexpr int kDeepLevels = 260, kJump = 26;
UniqueFd digDeep(const QByteArray &top, bool jumps) {
    const QByteArray jump = (kLevel + '/').repeated(kJump).chopped(1);
    UniqueFd at(::open(top.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; level < kDeepLevels && at.isValid(); ++level) {
        if (jumps && level % kJump == 0)
            ::symlinkat(jump.constData(), at.get(), "j");
        ::mkdirat(at.get(), kLevel.constData(), 0755);
        at = UniqueFd(::openat(at.get(), kLevel.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return at;
}

struct Run {
    int status = -1; // -1: did not end by itself
    QString out, err;
    // What `list` shows for `folder`: its answer and path.
    QString listed(const QString &folder) const {
        for (const QString &line : out.split('\n'))
            if (line.startsWith(folder + ' '))
                return line.mid(folder.size()).trimmed();
        return {};
    }
};

// Runs the tool on `line`, split at spaces, in the current (test) environment.
Run consent(const QString &line, const QString &standardOutput = {}) {
    QProcess p;
    if (!standardOutput.isEmpty())
        p.setStandardOutputFile(standardOutput);
    p.start(QStringLiteral(PELLIM_BINARY_DIR "/pellim-consent"),
            line.split(' ', Qt::SkipEmptyParts));
    if (!p.waitForFinished(30000))
        p.kill(), p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

const QByteArray kAllAllowed = R"({"org.pellim.Pellim": {"documents": "allowed", )"
                               R"("desktop": "allowed", "downloads": "allowed"}})";

// Programs beside Pellim's answers: one named only, with no answer; one damaged.
const QByteArray kPrograms = R"("/usr/bin/dash": {"name": "sh", "documents": "denied"},)"
                             R"("/usr/bin/zed": {"name": "zed", "entries": {"/h/.z": "allowed"}},)"
                             R"("/usr/bin/named": {"name": "aa"}, "/opt/bad": "junk")";

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class FolderGuardTest : public QObject {
    Q_OBJECT

    QByteArray at(const QByteArray &name) const { return m_root + '/' + name; }

    QTemporaryDir m_tmp;
    QByteArray m_root = QFile::encodeName(m_tmp.path());
    FileIdentity m_docs;
    UniqueFd m_deepInDocs; // a folder in Documents whose path is longer than PATH_MAX

    std::unique_ptr<test::TestHome> m_home;
    std::unique_ptr<ConsentStore> m_store;
    MemoryLogSink m_log;
    QStringList entries() const {
        QStringList all;
        for (const LogEntry &e : m_log.entries())
            all << e.message;
        return all;
    }

private slots:
    void initTestCase() {
        for (const char *folder : {"Documents", "Documents/sub", "safe", "deep", "empty",
                                   "programs", "programs/bin", "programs/real"})
            QVERIFY(::mkdir(at(folder).constData(), 0755) == 0);
        for (const char *file : {"Documents/file.txt", "safe/file.txt"})
            QVERIFY(writeFile(at(file), "keep"));
        m_docs = idOf(at("Documents"));
        const std::pair<QByteArray, QByteArray> links[] = {
            {at("Documents"), "\xff"}, // not UTF-8: lost by any decode into text
            {"\xff", "L"},
            {"Documents/sub", "intoSub"},
            {"../safe", "Documents/exit"},
            {"loop", "loop"}};
        for (const auto &[target, name] : links)
            QVERIFY(::symlink(target.constData(), at(name).constData()) == 0);

        const UniqueFd bottom = digDeep(at("deep"), true);
        QVERIFY(::symlinkat(at("Documents").constData(), bottom.get(), "docs") == 0);
        m_deepInDocs = digDeep(at("Documents"), false);
        const QByteArray magic = "/proc/self/fd/" + QByteArray::number(m_deepInDocs.get());
        QVERIFY(writeFile(magic + "/file.txt", ""));
        char text[1];
        QVERIFY(::readlink(magic.constData(), text, 1) < 0 && errno == ENAMETOOLONG);
    }
    void cleanupTestCase() {
        // Past PATH_MAX QDir cannot remove the deep folders; rm works by descriptors.
        QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), m_tmp.path()});
    }

    void endsInsideDocumentsOrNot_data() {
        QTest::addColumn<QByteArray>("path"); // under the temporary folder unless absolute
        QTest::addColumn<bool>("inside");
        QTest::newRow("links through a name that is not UTF-8") << QByteArray("L/file.txt") << true;
        QTest::newRow("'..' after a link goes up from its target")
            << QByteArray("intoSub/../file.txt") << true;
        QTest::newRow("longer than PATH_MAX once resolved")
            << "deep/" + QByteArray("j/").repeated(kDeepLevels / kJump) + "docs/file.txt" << true;
        QTest::newRow("magic link whose text is too long to read")
            << "/proc/self/fd/" + QByteArray::number(m_deepInDocs.get()) + "/file.txt" << true;
        QTest::newRow("link in Documents leading out") << QByteArray("L/exit/file.txt") << false;
        QTest::newRow("link loop") << QByteArray("loop/file.txt") << false;
    }
    void endsInsideDocumentsOrNot() {
        QFETCH(QByteArray, path);
        QFETCH(bool, inside);
        path = path.startsWith('/') ? path : at(path);
        int error = 0;
        const std::optional<Walked> walked = walkPath(path, AT_FDCWD, &error);
        if (QByteArray(QTest::currentDataTag()) == "link loop") { // fails as in the kernel
            QVERIFY(!walked && error == ELOOP);
            return;
        }
        QVERIFY2(walked, strerror(error));
        QCOMPARE(within(*walked, m_docs), inside);
        // The kernel, given the same path, reaches the same file.
        const UniqueFd byKernel(::open(path.constData(), O_RDONLY | O_CLOEXEC));
        QVERIFY(walked->exists && walked->identity == idOf(byKernel.get()));
    }

    // A child in its own mount namespace mounts Documents over an empty folder and
    // works in it: its cwd link names the empty folder, yet leads into Documents.
    void magicLinkIntoAnotherMountNamespace() {
        QProcess child; // killed when it goes
        child.start("unshare",
                    {"-Urm", "sh", "-c", R"(mount --bind "$0" "$1" && cd "$1" &&
                                                       echo ok && exec sleep 60)",
                     QFile::decodeName(at("Documents")), QFile::decodeName(at("empty"))});
        if (!child.waitForReadyRead(10000) || child.readAll() != "ok\n")
            QSKIP("no user and mount namespaces here");
        const QByteArray cwd = "/proc/" + QByteArray::number(child.processId()) + "/cwd";
        char text[PATH_MAX] = {};
        QVERIFY(::readlink(cwd.constData(), text, sizeof text - 1) > 0);
        QVERIFY(idOf(QByteArray(text)) != m_docs); // a follower of the text is misled
        const std::optional<Walked> walked = walkPath(cwd + "/file.txt");
        QVERIFY(walked && within(*walked, m_docs));
    }

    // What is opened is what was walked: a file swapped in between (a link flipped
    // in a race is tried through file access) is neither opened nor truncated.
    void openRefusesWhatWasSwappedIn() {
        const QByteArray secret = at("Documents/file.txt"), victim = at("safe/victim.txt");
        int error = 0;
        // Walked as a harmless file, then renamed over by a hard link to Documents.
        QVERIFY(writeFile(victim, ""));
        const std::optional<Walked> existing = walkPath(victim);
        QVERIFY(existing && existing->exists);
        QVERIFY(::link(secret.constData(), at("safe/swap").constData()) == 0);
        QVERIFY(::rename(at("safe/swap").constData(), victim.constData()) == 0);
        QVERIFY(!openWalked(*existing, O_WRONLY | O_TRUNC, 0, &error).isValid());
        QCOMPARE(error, ESTALE);

        // Missing when walked; the same hard link appears before the create.
        const std::optional<Walked> fresh = walkPath(at("safe/new.txt"));
        QVERIFY(fresh && !fresh->exists);
        QVERIFY(::link(secret.constData(), at("safe/new.txt").constData()) == 0);
        QVERIFY(!openWalked(*fresh, O_WRONLY | O_CREAT | O_TRUNC, 0644, &error).isValid());
        QCOMPARE(error, EEXIST);
        QCOMPARE(QFile(QFile::decodeName(secret)).size(), 4);
    }
    // A program is known by the file its command names, found as execvp finds
    // it and resolved, and shown by the name it was started by.
    void programIdentity_data() {
        QTest::addColumn<QByteArray>("command"); // @: the temporary folder
        QTest::addColumn<QString>("name");       // asked for
        QTest::addColumn<QByteArray>("path");    // found; "": a failure
        QTest::addColumn<QString>("shown");      // or the failure's errno name
        const auto row = [](const char *tag, const char *command, const char *name,
                            const char *path, const char *shown) {
            QTest::newRow(tag) << QByteArray(command) << name << QByteArray(path) << shown;
        };
        row("a name on PATH", "tool", "", "@/bin/tool", "tool");
        row("a path with a slash", "@/real/../bin/tool", "", "@/bin/tool", "tool");
        row("a link: where it leads, shown by its own name", "alias", "", "@/real/tool", "alias");
        row("a link, shown by the name asked for", "@/bin/alias", "My Tool", "@/real/tool",
            "My Tool");
        row("a script: its own path", "script.sh", "", "@/bin/script.sh", "script.sh");
        row("one it may not run is passed over", "plain", "", "@/real/plain", "plain");
        row("not found", "missing", "", "", "ENOENT");
        row("not executable", "@/bin/plain", "", "", "EACCES");
        row("a folder", "@/bin/sub", "", "", "EISDIR");
    }
    void programIdentity() {
        QFETCH(QByteArray, command);
        QFETCH(QString, name);
        QFETCH(QByteArray, path);
        QFETCH(QString, shown);
        char real[PATH_MAX];
        const QByteArray root = ::realpath(at("programs").constData(), real);
        for (const char *file : {"bin/tool", "real/tool", "bin/script.sh", "real/plain"})
            if (!QFile::exists(QFile::decodeName(root + '/' + file)))
                QVERIFY(writeFile(root + '/' + file, "#!/bin/sh\n") &&
                        ::chmod((root + '/' + file).constData(), 0755) == 0);
        QVERIFY(writeFile(root + "/bin/plain", "#!/bin/sh\n"));
        ::symlink("../real/tool", (root + "/bin/alias").constData());
        QDir().mkpath(QFile::decodeName(root + "/bin/sub"));

        const Result<Program> found =
            resolveProgram(command.replace('@', root), root + "/bin:" + root + "/real", name);
        if (path.isEmpty()) {
            QVERIFY(!found);
            QCOMPARE(QString(strerrorname_np(found.failure().error)), shown);
            return;
        }
        QVERIFY2(found, found ? "" : qPrintable(found.failure().text()));
        QCOMPARE(found->path, path.replace('@', root));
        QCOMPARE(found->id, QFile::decodeName(found->path));
        QCOMPARE(found->name, shown);
        QVERIFY(!found->isPellim());
    }

    void init() {
        m_home = std::make_unique<test::TestHome>();
        m_store = std::make_unique<ConsentStore>(ConsentStore::defaultPath());
        m_log.clear();
    }
    void cleanup() { m_store.reset(), m_home.reset(); }

    // Every way a decision is made, and its entry. The answer is stored, privately,
    // so a second guard (as after a restart) does not ask again until it is reset.
    // The home chosen in a dialog grants the home, not the guarded folders in it.
    void decisionsAreStoredAndReused_data() {
        QTest::addColumn<ConsentAnswer>("stored");
        QTest::addColumn<PromptAnswer>("answer");
        QTest::addColumn<bool>("homeChosen");
        QTest::newRow("stored: allowed")
            << ConsentAnswer::Allowed << PromptAnswer::CannotAsk << false;
        QTest::newRow("stored: denied")
            << ConsentAnswer::Denied << PromptAnswer::CannotAsk << false;
        QTest::newRow("asked: allowed")
            << ConsentAnswer::NotDecided << PromptAnswer::Allow << false;
        QTest::newRow("asked: denied") << ConsentAnswer::NotDecided << PromptAnswer::Deny << false;
        QTest::newRow("could not ask: denied")
            << ConsentAnswer::NotDecided << PromptAnswer::CannotAsk << false;
        QTest::newRow("stored: denied (home chosen)")
            << ConsentAnswer::Denied << PromptAnswer::CannotAsk << true;
    }
    void decisionsAreStoredAndReused() {
        QFETCH(ConsentAnswer, stored);
        QFETCH(PromptAnswer, answer);
        QFETCH(bool, homeChosen);
        QString how = QString(QTest::currentDataTag()).section(" (", 0, 0);
        const QString path = m_home->desktop() + "/note.txt";
        const bool allowed = how.endsWith(": allowed"), asked = stored == ConsentAnswer::NotDecided;
        const bool remembered = answer != PromptAnswer::CannotAsk || !asked;
        QVERIFY(asked || m_store->setAnswer(GuardedFolder::Desktop, stored));
        FakePrompter prompter({answer});
        FolderGuard first(m_log, prompter);
        if (homeChosen) {
            first.grantChosen(QFile::encodeName(QDir::homePath()), true);
            QVERIFY(asks(first, QDir::homePath() + "/x.txt"));
            how += " (" + QDir::homePath() +
                   " was chosen in a dialog; it holds this folder, which keeps its own answer)";
        }
        QCOMPARE(asks(first, path), allowed);
        QCOMPARE(prompter.asked, asked ? 1 : 0);
        QCOMPARE(entries(), QStringList("Desktop folder, write access to " + path + ": " + how));
        const LogEntry &e = m_log.entries().front();
        QCOMPARE(e.subsystem + ' ' + e.category, "org.pellim.FolderGuard decisions");
        QCOMPARE(e.level, allowed ? LogLevel::Info : LogLevel::Error);
        QCOMPARE(m_store->answer(GuardedFolder::Desktop),
                 !remembered ? ConsentAnswer::NotDecided
                             : (allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        QCOMPARE(m_store->answer(GuardedFolder::Documents), ConsentAnswer::NotDecided);
        if (remembered) // nobody else may read the answers
            QVERIFY(modeOf(m_store->filePath()) == 0600 &&
                    modeOf(QFileInfo(m_store->filePath()).path()) == 0700);
        // The same access again within the second: only an allow from the store
        // folds into a count; a denial, and the first after a question, are written.
        m_log.clear();
        QCOMPARE(asks(first, path), allowed);
        first.writeHeldEntries();
        const QString note = homeChosen ? how.mid(how.indexOf(" (")) : QString();
        const QString again =
            remembered ? (allowed ? "stored: allowed" : "stored: denied") + note : how;
        QCOMPARE(entries(),
                 QStringList(how == "stored: allowed"
                                 ? "\u2026 and 1 more write access in Desktop: " + how
                                 : "Desktop folder, write access to " + path + ": " + again));

        FakePrompter second({PromptAnswer::Allow, PromptAnswer::Allow});
        FolderGuard guard(m_log, second);
        QCOMPARE(asks(guard, path, FileAccessKind::Read), remembered ? allowed : true);
        QVERIFY(ConsentStore(ConsentStore::defaultPath()).resetProgram());
        QVERIFY(asks(guard, path, FileAccessKind::Read));
        QCOMPARE(second.asked, remembered ? 1 : 2);
    }

    // Answers are a program's own, for folders and the home's settings places
    // alike; Pellim's settings places are read-only without a question or an
    // entry. Each entry names the program's path in a field, and another
    // program's begins with its name.
    void decisionsArePerProgram_data() {
        QTest::addColumn<QString>("storedFor"); // whose answer is stored: "npm", "pip", "Pellim"
        QTest::addColumn<ConsentAnswer>("stored");
        QTest::addColumn<QString>("asking");
        QTest::addColumn<QString>("place"); // "Documents", or an entry of the home
        QTest::addColumn<PromptAnswer>("answer");
        QTest::addColumn<QString>("entry"); // @: the home; "": none written
        const auto row = [](const char *tag, const char *storedFor, ConsentAnswer stored,
                            const char *asking, const char *place, PromptAnswer answer,
                            const char *entry) {
            QTest::newRow(tag) << QString(storedFor) << stored << QString(asking) << QString(place)
                               << answer << QString(entry);
        };
        using A = ConsentAnswer;
        using P = PromptAnswer;
        const char *read = "Documents folder, read access to @/Documents/x.txt: ";
        const QByteArray npm = QByteArray("npm: ") + read;
        row("Pellim's entry names no program", "Pellim", A::Allowed, "Pellim", "Documents",
            P::CannotAsk, (QByteArray(read) + "stored: allowed").constData());
        row("a deny for one program is not another's", "pip", A::Denied, "npm", "Documents",
            P::Allow, (npm + "asked: allowed").constData());
        row("an allow for one program opens nothing for another", "pip", A::Allowed, "npm",
            "Documents", P::Deny, (npm + "asked: denied").constData());
        row("Pellim's allow is not another program's", "Pellim", A::Allowed, "npm", "Documents",
            P::CannotAsk, (npm + "could not ask: denied").constData());
        row("entry stored: allowed", "npm", A::Allowed, "npm", ".npm", P::CannotAsk,
            "npm: ~/.npm, change to @/.npm/x: stored: allowed");
        row("entry stored: denied", "npm", A::Denied, "npm", ".npm", P::Allow,
            "npm: ~/.npm, change to @/.npm/x: stored: denied");
        row("entry asked: allowed", "pip", A::Denied, "npm", ".npm", P::Allow,
            "npm: ~/.npm, change to @/.npm/x: asked: allowed");
        row("entry asked: denied", "pip", A::Allowed, "npm", ".config/npm", P::Deny,
            "npm: ~/.config/npm, change to @/.config/npm/x: asked: denied");
        row("entry could not ask: denied", "npm", A::NotDecided, "npm", ".npm", P::CannotAsk,
            "npm: ~/.npm, change to @/.npm/x: could not ask: denied");
        row("Pellim is never asked about an entry", "Pellim", A::Allowed, "Pellim", ".npm",
            P::Allow, "");
    }
    void decisionsArePerProgram() {
        QFETCH(QString, storedFor);
        QFETCH(ConsentAnswer, stored);
        QFETCH(QString, asking);
        QFETCH(QString, place);
        QFETCH(PromptAnswer, answer);
        QFETCH(QString, entry);
        const QString home = m_home->home(), target = home + '/' + place + "/x.txt";
        const auto program = [](const QString &name) {
            return name == "Pellim" ? pellimProgram("/opt/pellim/pellim")
                                    : Program{"/opt/" + name, name, "/opt/" + name.toUtf8()};
        };
        const auto storeOf = [&](const QString &name) {
            return ConsentStore(ConsentStore::defaultPath(), program(name).id, name);
        };
        const QByteArray placePath = QFile::encodeName(home + '/' + place);
        const bool folder = place == "Documents";
        QVERIFY(folder ? storeOf(storedFor).setAnswer(GuardedFolder::Documents, stored)
                       : storeOf(storedFor).setEntryAnswer(placePath, stored));

        FakePrompter prompter({answer});
        FolderGuard guard(m_log, prompter, program(asking));
        const QByteArray path = QFile::encodeName(folder ? target : home + '/' + place + "/x");
        const bool allowed = folder ? asks(guard, target, FileAccessKind::Read)
                                    : guard.mayChangeEntryNow(placePath, path) == true;
        entry.replace('@', home);
        QCOMPARE(entries(), entry.isEmpty() ? QStringList() : QStringList(entry));
        QCOMPARE(allowed, entry.endsWith(": allowed"));
        const bool askedFor = storedFor != asking || stored == ConsentAnswer::NotDecided;
        QCOMPARE(prompter.asked, askedFor && !entry.isEmpty() ? 1 : 0);
        if (entry.isEmpty())
            return;
        QCOMPARE(m_log.entries().front().fields,
                 LogFields({{"PELLIM_PROGRAM", QFile::decodeName(program(asking).path)}}));
        // What was asked is stored for the asking program alone.
        const ConsentAnswer now = folder ? storeOf(asking).answer(GuardedFolder::Documents)
                                         : storeOf(asking).entryAnswer(placePath);
        const bool remembered = entry.contains(": asked: ") || !askedFor;
        QCOMPARE(now, !remembered ? ConsentAnswer::NotDecided
                                  : (allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        if (storedFor != asking)
            QCOMPARE(folder ? storeOf(storedFor).answer(GuardedFolder::Documents)
                            : storeOf(storedFor).entryAnswer(placePath),
                     stored);
    }

    // An open question holds only the calls that need the person: a stored
    // answer goes on meanwhile, another question waits for it to be answered.
    void oneQuestionAtATime() {
        struct Later final : ConsentPrompter {
            PromptAnswer ask(const ConsentRequest &) override { return PromptAnswer::CannotAsk; }
            void begin(const ConsentRequest &request, Answered answered) override {
                asked.push_back(request), answers.push_back(std::move(answered));
            }
            std::vector<ConsentRequest> asked;
            std::vector<Answered> answers;
        } later;
        const QByteArray home = QFile::encodeName(m_home->home()), npm = home + "/.npm",
                         config = home + "/.config/npm", doc = home + "/Documents/x.txt";
        const Program program{"/opt/npm", "npm", "/opt/npm"};
        QVERIFY(ConsentStore(ConsentStore::defaultPath(), program.id)
                    .setEntryAnswer(npm, ConsentAnswer::Allowed));
        FolderGuard guard(m_log, later, program);
        int woken = 0;
        guard.whenAnswered([&] { ++woken; });
        QVERIFY(!guard.mayAccessNow(*walkPath(doc), doc, FileAccessKind::Read));
        QCOMPARE(guard.mayChangeEntryNow(npm, npm + "/x"), true);
        QVERIFY(!guard.mayChangeEntryNow(config, config + "/x"));
        QCOMPARE(later.asked.size(), 1u);
        later.answers[0](PromptAnswer::Allow);
        QCOMPARE(woken, 1);
        QVERIFY(!guard.mayChangeEntryNow(config, config + "/x"));
        QCOMPARE(later.asked.size(), 2u);
        QCOMPARE(later.asked[1].entry, "~/.config/npm");
        QCOMPARE(guard.mayAccessNow(*walkPath(doc), doc, FileAccessKind::Read), true);
        later.answers[1](PromptAnswer::Deny);
        QCOMPARE(guard.mayChangeEntryNow(config, config + "/x"), false);
        QVERIFY(entries().last().endsWith("/.config/npm/x: asked: denied"));
    }

    // Granted until exit: the chosen file (here a new name from a Save dialog) and
    // the chosen folder's subtree, nothing beside them.
    void chosenItemsAreAccessibleUntilExit() {
        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        const QString docs = m_home->documents();
        m_home->makeFolder("home/Documents/Sub/deep");
        m_home->makeFolder("home/Documents/Subway");
        guard.grantChosen(QFile::encodeName(docs + "/chosen.txt"), false);
        guard.grantChosen(QFile::encodeName(docs + "/Sub"), true);
        for (const char *granted : {"/chosen.txt", "/Sub", "/Sub/deep/new.txt"})
            QVERIFY2(asks(guard, docs + granted) &&
                         entries().last().endsWith(": chosen in a dialog"),
                     granted);
        for (const char *other : {"/other.txt", "/Subway/x.txt", ""})
            QVERIFY2(!asks(guard, docs + other), other);
        QCOMPARE(prompter.asked, 3);
    }

    // What a running guard publishes: listed by pellim-consent under its program
    // while it runs, and revoked through its door, after which the program's
    // next call there is asked about again. A file that is not a running
    // guard's own sound one is left out; one whose guard has ended, or whose
    // pid another process took since, is removed too.
    void runningGrants_data() {
        QTest::addColumn<QString>("guard");   // whose file: "this", "ended", "pid reused"
        QTest::addColumn<QByteArray>("text"); // empty: the guard publishes; @: "guard PID START"
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("removed");
        const QByteArray sound = "pellim-grants 1\n@\nprogram %2Fusr%2Fbin%2Fzed zed\n"
                                 "chosen file %2Fx\n";
        QTest::newRow("published") << "this" << QByteArray() << true << false;
        QTest::newRow("its guard has ended") << "ended" << sound << false << true;
        QTest::newRow("its pid reused") << "pid reused" << sound << false << true;
        QTest::newRow("an unknown line") << "this" << sound + "chosen maybe %2Fy\n"
                                         << false << false;
        QTest::newRow("another guard named inside")
            << "this" << QByteArray(sound).replace("@", "guard 1 1") << false << false;
    }
    void runningGrants() {
        QFETCH(QString, guard);
        QFETCH(QByteArray, text);
        QFETCH(bool, listed);
        QFETCH(bool, removed);
        const Result<QByteArray> folder = RunningGrants::folder(true);
        QVERIFY(folder);
        const Result<Program> sh = resolveProgram("sh", qgetenv("PATH"));
        QVERIFY(sh);
        FakePrompter prompter;
        FolderGuard guarded(m_log, prompter, *sh);
        GrantsPublisher published(
            *folder, *sh, [&] { return guarded.chosenItems(); },
            [&](const QByteArray &path, RevokedBy) {
                return guarded.revokeChosen(path, "with pellim-consent");
            });
        guarded.onGrant([&] { QVERIFY(published.publish()); });
        pid_t pid = ::getpid();
        std::uint64_t started = processStarted(pid).value_or(0) + (guard == "pid reused");
        if (guard == "ended") {
            if ((pid = ::fork()) == 0)
                ::_exit(0);
            ::waitpid(pid, nullptr, 0);
        }
        const QByteArray file =
            *folder + '/' + QByteArray::number(pid) + '-' + QByteArray::number(started) + ".grants";
        const QByteArray chosen = QFile::encodeName(m_home->documents() + "/letter.txt");
        if (text.isEmpty())
            guarded.grantChosen(chosen, false);
        else
            QVERIFY(writeFile(file, text.replace('@', "guard " + QByteArray::number(pid) + ' ' +
                                                          QByteArray::number(started))));
        QCOMPARE(RunningGrants(*folder).programs().size(), std::size_t(listed));
        QCOMPARE(!QFile::exists(QFile::decodeName(file)), removed);
        if (!listed)
            return;
        QVERIFY(asks(guarded, QFile::decodeName(chosen)));
        const Run run = consent("list");
        QVERIFY2(
            run.out.contains("sh (" + sh->id + ")\n") &&
                run.out.contains("\n  Chosen in a dialog, open until sh quits: " + chosen + "\n"),
            qPrintable(run.out));
        QCOMPARE(consent("revoke --program sh " + chosen).out, "sh: " + chosen + ": revoked\n");
        QVERIFY(RunningGrants(*folder).programs().at(0).chosen.empty());
        QVERIFY(!asks(guarded, QFile::decodeName(chosen)));
        QVERIFY(entries().contains("sh: " + chosen +
                                   ": chosen in a dialog, no longer open: revoked with "
                                   "pellim-consent"));
        QCOMPARE(consent("revoke --program sh " + chosen).status, 1);
    }

    // Which folder decides, by what the path reaches: Documents is a link to
    // real-docs, Downloads the home itself (so not guarded), Desktop's name not
    // UTF-8. The entry names the path as given and where it resolves to.
    void guardedFolderIsFoundByIdentity_data() {
        QTest::addColumn<QByteArray>("path"); // under the temporary root
        QTest::addColumn<QString>("entry");   // before ": could not ask: denied"; "": none
        QTest::newRow("Documents by its real name")
            << QByteArray("real-docs/x") << "Documents folder, write access to @/real-docs/x";
        QTest::newRow("through the link")
            << QByteArray("home/Documents/x")
            << "Documents folder, write access to @/home/Documents/x (resolves to @/real-docs/x)";
        QTest::newRow("Desktop named in bytes")
            << QByteArray("home/D\xff/x") << "Desktop folder, write access to @/home/D\uFFFD/x";
    }
    void guardedFolderIsFoundByIdentity() {
        QFETCH(QByteArray, path);
        QFETCH(QString, entry);
        QVERIFY(QDir(m_home->documents()).removeRecursively());
        QVERIFY(QFile::link(m_home->makeFolder("real-docs"), m_home->documents()));
        m_home->makeFile("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n"
                                                        "XDG_DOWNLOAD_DIR=\"$HOME/\"\n"
                                                        "XDG_DESKTOP_DIR=\"$HOME/D\xff\"\n");
        const QByteArray root = QFile::encodeName(m_home->root()), desktop = root + "/home/D\xff";
        QCOMPARE(::mkdir(desktop.constData(), 0700), 0);
        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        const std::optional<Walked> walked = walkPath(root + '/' + path);
        QVERIFY(walked);
        QCOMPARE(guard.mayAccess(*walked, root + '/' + path, FileAccessKind::Write),
                 entry.isEmpty());
        entry.replace('@', m_home->root());
        QCOMPARE(entries(),
                 entry.isEmpty() ? QStringList() : QStringList(entry + ": could not ask: denied"));
        ::rmdir(desktop.constData()); // a name QTemporaryDir cannot remove
    }

    // A link flipped between a safe folder and Documents (denied) while the guard
    // decides: whatever it named at the decision, the access reaches that.
    void flippedLinkCannotCarryAnAccessPastTheGuard() {
        QVERIFY(m_store->setAnswer(GuardedFolder::Documents, ConsentAnswer::Denied));
        const QByteArray root = QFile::encodeName(m_home->root());
        const QByteArray targets[2] = {root + "/safe", QFile::encodeName(m_home->documents())};
        const QByteArray flip = root + "/flip", next = root + "/flip.next";
        m_home->makeFile("home/Documents/secret.txt", "secret");
        m_home->makeFile("safe/secret.txt", "safe");
        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        PosixFileAccess files(guard);
        QCOMPARE(::symlink(targets[0].constData(), flip.constData()), 0);
        std::atomic<bool> stop = false;
        std::thread flipper([&] {
            for (int i = 1; !stop; ++i) {
                ::unlink(next.constData());
                ::symlink(targets[i % 2].constData(), next.constData());
                ::rename(next.constData(), flip.constData());
            }
        });
        int reads = 0, leaks = 0;
        for (int i = 0; i < 1000; ++i) {
            const auto text =
                files.readText(FileUrl::fromLocalBytes(flip + "/secret.txt", false), 9);
            reads += text ? 1 : 0;
            leaks += text && text->text != "safe" ? 1 : 0;
            files.writeText(FileUrl::fromLocalBytes(flip + "/w" + QByteArray::number(i), false),
                            "x");
        }
        stop = true;
        flipper.join();
        QCOMPARE(leaks, 0);
        QVERIFY(reads > 0 && !m_log.entries().empty()); // it did flip under the guard
        QCOMPARE(QDir(m_home->documents()).entryList(QDir::Files), QStringList{"secret.txt"});
    }

    // The settings name Documents below the home with a terminal escape in its
    // name (shown, not obeyed), Desktop only by values that must not count (a
    // relative path, "$HOME" run into a name), Downloads as the home itself.
    void roundTrip() {
        test::TestHome home;
        home.makeFile("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\x1b[2JPapers\"\n"
                                                     "XDG_DESKTOP_DIR=\"Papers\"\n"
                                                     "XDG_DESKTOP_DIR=\"$HOMEPapers\"\n"
                                                     "XDG_DOWNLOAD_DIR=\"$HOME\"\n");
        const Run run = consent("list");
        QVERIFY(run.status == 0 && run.err.isEmpty() && !run.out.contains('\x1b'));
        QCOMPARE(run.listed("documents"), "not decided  " + home.home() + "/\\x1b[2JPapers");
        QCOMPARE(run.listed("desktop"), "not decided  " + home.desktop());
        QCOMPARE(run.listed("downloads"),
                 "not decided  " + home.home() + " (the home folder itself: not guarded)");
        for (const char *line :
             {"allow DOCUMENTS", "deny Desktop", "allow downloads", "reset documents"})
            QCOMPARE(consent(line).status, 0);
        const Run set = consent("list");
        QVERIFY2(set.listed("documents").startsWith("not decided ") &&
                     set.listed("desktop").startsWith("denied ") &&
                     set.listed("downloads").startsWith("allowed "),
                 qPrintable(set.out));
        QCOMPARE(consent("reset All").status, 0);
        QCOMPARE(consent("list").out.count("not decided"), 3);
    }

    // 2 for a usage error, 1 when the answers cannot be stored or shown: one line
    // on standard error, escaped, and nothing stored.
    void failures_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error"); // part of the message
        const auto row = [](const char *tag, const char *line, int status, const char *error) {
            QTest::newRow(tag) << QString(line) << status << QString(error);
        };
        row("unknown command", "forget documents", 2, "unknown command 'forget'");
        row("all is only for reset", "allow all", 2, "unknown folder 'all'");
        row("too many folders", "reset desktop downloads", 2, "too many arguments");
        row("escape in an argument", "allow \x1b]0;owned\x07", 2, "'\\x1b]0;owned\\x07'");
        row("an entry for Pellim", "allow ~/.npm", 2, "name another program with --program");
        row("not a settings place", "deny --program sh ~/notes", 2, "is not a place where");
        row("a start file", "allow --program sh ~/.bashrc", 2, "stays read-only whatever");
        row("no such program", "deny --program pellim-none documents", 2,
            "no program 'pellim-none'");
        row("release is not a program's", "release --program sh /x", 2, "takes no --program");
        row("no home", "deny desktop", 1, "neither XDG_STATE_HOME nor HOME");
        row("standard output full", "list", 1, "cannot write to standard output");
    }
    void failures() {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, error);
        test::TestHome home;
        const QString tag = QTest::currentDataTag();
        if (tag.startsWith("no home"))
            qunsetenv("HOME"), qunsetenv("XDG_STATE_HOME");
        const Run run = consent(line, tag.startsWith("standard output") ? "/dev/full" : "");
        QCOMPARE(run.status, status);
        QVERIFY2(run.out.isEmpty() && run.err.contains(error) && run.err.count('\n') == 1 &&
                     run.err.endsWith('\n') && !run.err.contains('\x1b'),
                 qPrintable(run.err));
        QVERIFY(!QFile::exists(ConsentStore::defaultPath()));
    }

    // --program names a program as the shell finds it, so "sh" is the key the
    // guard keeps sh's answers under; Pellim's answers stay as they are.
    void programOption_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("printed");   // a line of its output; @: sh's file
        QTest::addColumn<QStringList>("after"); // every program's answers, as summary() has them
        const QStringList before = {"Pellim: desktop=denied", "git: ~/.gitconfig=allowed",
                                    "sh: documents=denied"};
        const auto row = [](const char *tag, const char *line, const char *printed,
                            QStringList after) {
            QTest::newRow(tag) << QString(line) << QString(printed) << after;
        };
        row("list: every program", "list", "sh (@)", before);
        row("list: one program", "list --program sh", "  documents  denied", before);
        row("a folder", "allow --program sh desktop", "sh: desktop: allowed",
            {before[0], before[1], "sh: documents=denied desktop=allowed"});
        row("an entry by its path", "deny --program git ~/.config/git",
            "git: ~/.config/git: denied",
            {before[0], "git: ~/.config/git=denied ~/.gitconfig=allowed", before[2]});
        row("an entry reset", "reset --program git ~/.gitconfig", "git: ~/.gitconfig: not decided",
            {before[0], before[2]});
        row("a whole program", "reset --program @", "sh: every answer: not decided",
            {before[0], before[1]});
        row("a new program", "deny --program cat downloads", "cat: downloads: denied",
            {before[0], "cat: downloads=denied", before[1], before[2]});
    }
    void programOption() {
        QFETCH(QString, line);
        QFETCH(QString, printed);
        QFETCH(QStringList, after);
        const Result<Program> sh = resolveProgram("sh", qgetenv("PATH"));
        QVERIFY(sh);
        const QString path = ConsentStore::defaultPath();
        QVERIFY(ConsentStore(path).setAnswer(GuardedFolder::Desktop, ConsentAnswer::Denied));
        QVERIFY(ConsentStore(path, sh->id, "sh")
                    .setAnswer(GuardedFolder::Documents, ConsentAnswer::Denied));
        QVERIFY(ConsentStore(path, "/usr/bin/git", "git")
                    .setEntryAnswer(QFile::encodeName(m_home->home() + "/.gitconfig"),
                                    ConsentAnswer::Allowed));
        const Run run = consent(line.replace('@', sh->id));
        QVERIFY2(run.status == 0 && run.err.isEmpty(), qPrintable(run.err));
        const QStringList lines = run.out.split('\n');
        printed.replace('@', sh->id);
        QVERIFY2(std::any_of(lines.begin(), lines.end(),
                             [&](const QString &l) { return l.startsWith(printed); }),
                 qPrintable(run.out));
        QStringList summary;
        for (const ConsentStore::ProgramAnswers &p : m_store->programs()) {
            QString text = p.name + ':';
            for (std::size_t i = 0; i < kGuardedFolders.size(); ++i)
                if (p.answers[i] != ConsentAnswer::NotDecided)
                    text += ' ' + folderKey(kGuardedFolders[i]) + '=' + answerText(p.answers[i]);
            for (const auto &[entry, answer] : p.entries)
                text += ' ' + shownEntry(entry) + '=' + answerText(answer);
            summary << text;
        }
        QCOMPARE(summary, after);
    }

    // Answers the person cannot have written are not trusted, whatever they say,
    // and never written over: the link's target, the other user's file stay as
    // they are. The tool and the guard both say why.
    void refusedStore_data() {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QString>("reason"); // @: the state folder
        const auto row = [](const char *tag, const char *setUp, const char *reason) {
            QTest::newRow(tag) << QString(setUp) << QString(reason);
        };
        row("link to a file", "link", "@/pellim/folder-access.json is a symbolic link");
        row("another user's file", "file owner",
            "@/pellim/folder-access.json belongs to another user (uid 65534)");
        row("open folder", "folder mode", "others can write to the folder @/pellim (mode 0777)");
        row("another user's folder", "folder owner",
            "the folder @/pellim belongs to another user (uid 65534)");
    }
    void refusedStore() {
        QFETCH(QString, setUp);
        QFETCH(QString, reason);
        if (setUp.endsWith("owner") && ::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        test::TestHome home;
        const QString path = ConsentStore::defaultPath(), folder = QFileInfo(path).path();
        reason.replace('@', home.home() + "/.local/state");
        const QString kept =
            setUp == "link"
                ? home.makeFile("elsewhere.json", kAllAllowed)
                : home.makeFile("home/.local/state/pellim/folder-access.json", kAllAllowed);
        const QByteArray file = QFile::encodeName(path), dir = QFile::encodeName(folder);
        QVERIFY(setUp == "link"          ? QDir().mkpath(folder) && QFile::link(kept, path)
                : setUp == "folder mode" ? ::chmod(dir, 0777) == 0
                : setUp == "file owner"
                    ? ::chown(file, 65534, 65534) == 0
                    : ::chown(file, 65534, 65534) == 0 && ::chown(dir, 65534, 65534) == 0);
        const auto state = [&] {
            struct stat st {};
            ::lstat(file, &st);
            return std::tuple(st.st_mode, st.st_uid, st.st_ino);
        };
        const auto before = state();
        const Run run = consent("allow desktop");
        QVERIFY2(run.status == 1 && run.err.contains(reason), qPrintable(run.err));
        QFile stayed(kept);
        QVERIFY(stayed.open(QIODevice::ReadOnly) && stayed.readAll() == kAllAllowed);
        QVERIFY(state() == before);

        // The guard says once, as it starts, why it does not use them, and again
        // in each decision it could not ask about.
        MemoryLogSink log;
        FakePrompter prompter;
        FolderGuard guard(log, prompter);
        const QByteArray target = QFile::encodeName(home.documents() + "/x.txt");
        QVERIFY(!guard.mayAccess(*walkPath(target), target, FileAccessKind::Write));
        QVERIFY(!guard.mayAccess(*walkPath(target), target, FileAccessKind::Write));
        QCOMPARE(log.entries().size(), 3u);
        QCOMPARE(log.entries()[0].message, "Answers file: the stored answers are ignored: " +
                                               reason + "; every folder counts as not decided");
        const QString entry = log.entries()[2].message;
        QVERIFY2(entry.endsWith(": not decided (the stored answers are ignored: " + reason +
                                "), could not ask: denied"),
                 qPrintable(entry));
    }

    // What is guarded is the guard's: a rewritten settings file frees nothing,
    // in this run or at the next start, until the person releases the folder.
    void rewrittenSettingsFreeNothing() {
        test::TestHome t;
        QVERIFY(ConsentStore(ConsentStore::defaultPath())
                    .setAnswer(GuardedFolder::Documents, ConsentAnswer::Denied));
        const QString secret = t.documents() + "/secret.txt", decoy = t.home() + "/Decoy";
        QDir().mkpath(decoy);
        keptOutFolders(); // a start: records the folders it keeps out
        MemoryLogSink log;
        FakePrompter prompter;
        FolderGuard running(log, prompter);
        QVERIFY(writeFile(QFile::encodeName(t.home() + "/.config/user-dirs.dirs"),
                          "XDG_DOCUMENTS_DIR=\"$HOME/Decoy\"\n"));
        QVERIFY(!asks(running, secret));
        QVERIFY(!asks(running, decoy + "/x.txt")); // newly named: guarded as well
        QVERIFY2(log.entries()[0].message.contains("the settings now name " + decoy),
                 qPrintable(log.entries()[0].message));

        FolderGuard next(log, prompter);
        QVERIFY(!asks(next, secret));
        const Run listed = consent("list");
        QVERIFY2(listed.out.contains(t.documents() + " (guarded before"), qPrintable(listed.out));
        QCOMPARE(consent("release " + decoy).status, 1); // named now: stays guarded
        QCOMPARE(consent("release " + t.documents()).status, 0);
        FolderGuard released(log, prompter);
        QVERIFY(asks(released, secret));
        QVERIFY(!asks(released, decoy + "/x.txt"));
    }

    // One file holds every program's answers: a change for one rewrites only its
    // own object, keeps its name, and lists the programs with answers, Pellim first.
    void programsShareOneFile_data() {
        QTest::addColumn<QString>("program");  // its id; "": Pellim
        QTest::addColumn<QString>("change");   // "deny desktop", "allow /x", "reset /x", "reset"
        QTest::addColumn<QByteArray>("after"); // the programs after Pellim's, in the file
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<bool>("keptAside");
        const auto row = [](const char *tag, const char *program, const char *change,
                            const char *after, QStringList listed, bool kept = false) {
            QTest::newRow(tag) << QString(program) << QString(change) << QByteArray(after) << listed
                               << kept;
        };
        const QString pellim = "Pellim org.pellim.Pellim", sh = "sh /usr/bin/dash";
        row("a folder for another program", "/usr/bin/zed", "deny desktop",
            R"("/usr/bin/zed": {"name": "zed", "desktop": "denied", "entries": {"/h/.z": "allowed"}})",
            {pellim, sh, "zed /usr/bin/zed"});
        row("an entry with a space", "/usr/bin/dash", "allow /h/.my app",
            R"("/usr/bin/dash": {"name": "sh", "documents": "denied",)"
            R"( "entries": {"/h/.my%20app": "allowed"}})",
            {pellim, sh, "zed /usr/bin/zed"});
        row("the last entry reset", "/usr/bin/zed", "reset /h/.z", "", {pellim, sh});
        row("a program reset", "/usr/bin/dash", "reset", "", {pellim, "zed /usr/bin/zed"});
        row("Pellim reset: its guarded folders stay", "", "reset", "", {sh, "zed /usr/bin/zed"});
        row("every program reset", "", "reset every", "", {});
        row("a program stored as something else", "/opt/bad", "allow documents",
            R"("/opt/bad": {"name": "bad", "documents": "allowed"})",
            {pellim, "bad /opt/bad", sh, "zed /usr/bin/zed"}, true);
    }
    void programsShareOneFile() {
        QFETCH(QString, program);
        QFETCH(QString, change);
        QFETCH(QByteArray, after);
        QFETCH(QStringList, listed);
        QFETCH(bool, keptAside);
        const QByteArray pellim = R"("org.pellim.Pellim": {"documents": "allowed", )"
                                  R"("guarded": [{"folder": "documents", "path": "/h/D"}]})";
        const QString path = m_home->makeFile("home/.local/state/pellim/folder-access.json",
                                              "{" + pellim + ", " + kPrograms + "}");
        // Named by its file's name, as the guard names it; "sh" without a name,
        // as pellim-consent changes it: the name it had stays.
        const QString name = program.endsWith("/dash") ? QString() : program.section('/', -1);
        ConsentStore store(path, program.isEmpty() ? QString::fromLatin1(kAppId) : program, name);
        const QStringList words = change.split(' ');
        const ConsentAnswer answer = words[0] == "allow"  ? ConsentAnswer::Allowed
                                     : words[0] == "deny" ? ConsentAnswer::Denied
                                                          : ConsentAnswer::NotDecided;
        const QByteArray entry = change.section(' ', 1).toUtf8();
        const Result<ConsentStore::Stored> stored =
            change == "reset"         ? store.resetProgram()
            : change == "reset every" ? store.resetEveryProgram()
            : entry.startsWith('/')   ? store.setEntryAnswer(entry, answer)
                                      : store.setAnswer(*folderFromKey(QString(entry)), answer);
        QVERIFY2(stored, qPrintable(stored ? "" : stored.failure().text()));
        QCOMPARE(!stored->kept.isEmpty(), keptAside);
        if (entry.startsWith('/'))
            QCOMPARE(store.entryAnswer(entry), answer);
        QStringList programs;
        for (const ConsentStore::ProgramAnswers &p : store.programs())
            programs << p.name + ' ' + p.id;
        QCOMPARE(programs, listed);
        const QJsonObject file = QJsonDocument::fromJson(readAll(path)).object();
        QCOMPARE(file.value(kAppId)["guarded"].toArray().size(), 1); // whatever was reset
        if (!after.isEmpty())
            QCOMPARE(file.value(program), QJsonDocument::fromJson("{" + after + "}")[program]);
        else if (!program.isEmpty())
            QVERIFY(!file.contains(program));
    }

    // Writers all at once (separate descriptors lock as separate processes do),
    // each with answers of its own: under the lock none is lost.
    void writersKeepEveryAnswer() {
        test::TestHome home;
        const auto store = [](int i) {
            return ConsentStore(ConsentStore::defaultPath(), QString("org.pellim.Writer%1").arg(i));
        };
        std::atomic<int> failed = 0;
        {
            std::latch gate(12);
            std::vector<std::jthread> writers;
            for (int i = 0; i < 12; ++i)
                writers.emplace_back([&, i] {
                    gate.arrive_and_wait();
                    for (GuardedFolder folder : kGuardedFolders)
                        failed += !store(i).setAnswer(folder, ConsentAnswer::Denied);
                });
        }
        QCOMPARE(failed, 0);
        for (int i = 0; i < 12; ++i)
            for (GuardedFolder folder : kGuardedFolders)
                QVERIFY2(store(i).answer(folder) == ConsentAnswer::Denied,
                         qPrintable(QString::number(i)));
    }
};

QTEST_GUILESS_MAIN(FolderGuardTest)
#include "test_folder_guard.moc"
