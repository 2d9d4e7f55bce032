#include "guard/ConsentStore.h"
#include "guard/FolderGuard.h"
#include "guard/PathWalk.h"
#include "journal/Log.h"
#include "panels/ConsentDialog.h"
#include "support/MemoryLogSink.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

using namespace pellim;

namespace {

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

// Runs the tool as a separate process in the current (test) environment.
Run consent(const QStringList &arguments, const QString &standardOutput = {}) {
    QProcess p;
    if (!standardOutput.isEmpty())
        p.setStandardOutputFile(standardOutput);
    p.start(QStringLiteral(PELLIM_BINARY_DIR "/pellim-consent"), arguments);
    if (!p.waitForFinished(30000))
        p.kill(), p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// The guard's decision on writing `path`, as file access asks it.
bool guardAllowsWrite(FolderGuard &guard, const QString &path) {
    const QByteArray bytes = QFile::encodeName(path);
    const std::optional<Walked> walked = walkPath(bytes);
    return walked && guard.mayAccess(*walked, bytes, FileAccessKind::Write);
}

const QByteArray kAllAllowed = R"({"org.pellim.Pellim": {"documents": "allowed", )"
                               R"("desktop": "allowed", "downloads": "allowed"}})";

QByteArray contentsOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct stat lstatOf(const QString &path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

void writeUserDirs(const test::TestHome &home, const QByteArray &documentsValue) {
    home.makeFile("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + documentsValue +
                                                     "\"\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
}

} // namespace

// Runs without a QApplication, as the tool does.
class PellimConsentTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(PELLIM_BINARY_DIR "/pellim-consent"),
                 "build the pellim-consent target first");
    }

    void roundTrip() {
        test::TestHome home;
        ConsentStore store(ConsentStore::defaultPath());
        Run run = consent({"--help"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.contains("reset all") && run.out.contains(store.filePath()));

        run = consent({"list"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.listed("documents") + run.listed("desktop") + run.listed("downloads"),
                 "not decided  " + home.documents() + "not decided  " + home.desktop() +
                     "not decided  " + home.downloads());

        QCOMPARE(consent({"allow", "DOCUMENTS"}).status, 0);
        QCOMPARE(consent({"deny", "Desktop"}).status, 0);
        QCOMPARE(store.answer(GuardedFolder::Documents), ConsentAnswer::Allowed);
        QCOMPARE(store.answer(GuardedFolder::Desktop), ConsentAnswer::Denied);
        QVERIFY(store.setAnswer(GuardedFolder::Downloads, ConsentAnswer::Allowed));
        run = consent({"list"});
        QVERIFY(run.listed("documents").startsWith("allowed ") &&
                run.listed("desktop").startsWith("denied ") &&
                run.listed("downloads").startsWith("allowed "));

        QCOMPARE(consent({"reset", "documents"}).status, 0);
        QCOMPARE(store.answer(GuardedFolder::Documents), ConsentAnswer::NotDecided);
        QCOMPARE(store.answer(GuardedFolder::Desktop), ConsentAnswer::Denied);
        QCOMPARE(consent({"reset", "All"}).status, 0);
        for (GuardedFolder folder : kGuardedFolders)
            QCOMPARE(store.answer(folder), ConsentAnswer::NotDecided);
    }

    // A usage error: status 2, one line on standard error, nothing stored.
    void badArguments() {
        test::TestHome home;
        for (const QString line :
             {"", "forget documents", "ALLOW documents", "allow", "deny Pictures", "allow all",
              "reset desktop downloads", "list documents"}) {
            const QStringList arguments = line.split(' ', Qt::SkipEmptyParts);
            const Run run = consent(arguments);
            QVERIFY2(run.status == 2 && run.out.isEmpty() && run.err.endsWith('\n') &&
                         run.err.count('\n') == 1,
                     qPrintable(arguments.join(' ') + ": " + run.err));
        }
        QVERIFY(!QFile::exists(ConsentStore::defaultPath()));
    }

    // A store below a regular file cannot be written, whoever runs the tool.
    void unwritableStore() {
        test::TestHome home;
        qputenv("XDG_STATE_HOME", QFile::encodeName(home.makeFile("plain", "x")));
        const Run run = consent({"allow", "documents"});
        QCOMPARE(run.status, 1);
        QVERIFY(run.err.contains(home.root() + "/plain"));
        QVERIFY(run.out.isEmpty());
    }

    // Answers the person cannot have written are not trusted, whatever they say,
    // and never written over: the link's target, the other user's file stay as
    // they are. The tool and the guard both say why.
    void refusedStore_data() {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QString>("reason"); // after the state folder's path
        QTest::newRow("link to a file") << "link"
                                        << "/pellim/folder-access.json is a symbolic link";
        QTest::newRow("another user's file")
            << "file owner"
            << "/pellim/folder-access.json belongs to another user (uid 65534)";
        QTest::newRow("open folder") << "folder mode"
                                     << "/pellim (mode 0777)";
        QTest::newRow("another user's folder") << "folder owner"
                                               << "/pellim belongs to another user (uid 65534)";
    }
    void refusedStore() {
        QFETCH(QString, setUp);
        QFETCH(QString, reason);
        if (setUp.endsWith("owner") && ::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        test::TestHome home;
        const QString stateHome = home.home() + "/.local/state";
        const QString path = ConsentStore::defaultPath();
        const QString folder = QFileInfo(path).absolutePath();
        QString kept = path; // the file whose contents must survive
        if (setUp == "link") {
            kept = home.makeFile("elsewhere.json", kAllAllowed);
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::link(kept, path));
        } else {
            home.makeFile("home/.local/state/pellim/folder-access.json", kAllAllowed);
            const QByteArray owned = QFile::encodeName(setUp == "file owner" ? path : folder);
            if (setUp == "folder owner")
                QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
            if (setUp.endsWith("owner"))
                QCOMPARE(::chown(owned.constData(), 65534, 65534), 0);
            else
                QCOMPARE(::chmod(owned.constData(), 0777), 0);
        }
        const struct stat before = lstatOf(path);

        Run run = consent({"allow", "desktop"});
        QCOMPARE(run.status, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(stateHome + reason), qPrintable(run.err));
        QCOMPARE(contentsOf(kept), kAllAllowed);
        const struct stat after = lstatOf(path);
        QVERIFY(after.st_mode == before.st_mode && after.st_uid == before.st_uid &&
                after.st_ino == before.st_ino);

        run = consent({"list"});
        QCOMPARE(run.status, 0);
        for (const char *key : {"documents", "desktop", "downloads"})
            QVERIFY(run.listed(key).startsWith("not decided "));
        QVERIFY2(run.err.contains("the stored answers are ignored: ") &&
                     run.err.contains(stateHome + reason),
                 qPrintable(run.err));

        MemoryLogSink log;
        DialogConsentPrompter prompter;
        FolderGuard guard(log, prompter);
        QVERIFY(!guardAllowsWrite(guard, home.documents() + "/x.txt"));
        QCOMPARE(log.entries().size(), 1u);
        const QString message = log.entries()[0].message;
        QVERIFY2(message.contains(": not decided (the stored answers are ignored: ") &&
                     message.contains(stateHome + reason) &&
                     message.endsWith("), could not ask: denied"),
                 qPrintable(message));
    }

    // Writers in separate processes, all at once, each with answers of its own:
    // under the lock none is lost.
    void writersKeepEveryAnswer() {
        test::TestHome home;
        const QString path = ConsentStore::defaultPath();
        constexpr int kWriters = 12;
        int gate[2];
        QCOMPARE(::pipe(gate), 0);
        std::vector<pid_t> children;
        for (int i = 0; i < kWriters; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                // Every writer waits at the gate, so that they start together.
                ::close(gate[1]);
                char c;
                while (::read(gate[0], &c, 1) < 0 && errno == EINTR) {
                }
                ConsentStore store(path, QStringLiteral("org.pellim.Writer%1").arg(i));
                bool ok = true;
                for (GuardedFolder folder : kGuardedFolders)
                    ok = store.setAnswer(folder, ConsentAnswer::Denied) && ok;
                ::_exit(ok ? 0 : 1);
            }
            if (pid > 0)
                children.push_back(pid);
        }
        std::vector<std::unique_ptr<QProcess>> tools;
        for (const char *line : {"allow documents", "deny desktop", "allow downloads"}) {
            tools.push_back(std::make_unique<QProcess>());
            tools.back()->start(PELLIM_BINARY_DIR "/pellim-consent", QString(line).split(' '));
        }
        ::close(gate[1]); // opens the gate
        ::close(gate[0]);
        int failed = 0;
        for (const pid_t pid : children) {
            int status = 0;
            if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
                ++failed;
        }
        for (const auto &tool : tools)
            failed += !tool->waitForFinished(30000) || tool->exitCode() != 0;
        QCOMPARE(int(children.size()), kWriters);
        QCOMPARE(failed, 0);

        for (int i = 0; i < kWriters; ++i) {
            const ConsentStore::Contents c =
                ConsentStore(path, QStringLiteral("org.pellim.Writer%1").arg(i)).read();
            for (GuardedFolder folder : kGuardedFolders)
                QVERIFY2(c.answer(folder) == ConsentAnswer::Denied, qPrintable(QString::number(i)));
        }
        const ConsentStore::Contents mine = ConsentStore(path).read();
        QVERIFY(mine.answer(GuardedFolder::Documents) == ConsentAnswer::Allowed &&
                mine.answer(GuardedFolder::Desktop) == ConsentAnswer::Denied &&
                mine.answer(GuardedFolder::Downloads) == ConsentAnswer::Allowed);
    }

    // Output that cannot be written is a failure, not a silent success.
    void fullOutputFails() {
        test::TestHome home;
        const Run run = consent({"list"}, "/dev/full");
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("cannot write to standard output"), qPrintable(run.err));
    }

    // A terminal escape in an argument or in a folder's name is shown, not obeyed.
    void controlCharactersEscaped() {
        test::TestHome home;
        Run run = consent({"allow", "\x1b]0;owned\x07"});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("'\\x1b]0;owned\\x07'"), qPrintable(run.err));

        writeUserDirs(home, "$HOME/\x1b[2JPapers");
        run = consent({"list"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.listed("documents"), "not decided  " + home.home() + "/\\x1b[2JPapers");
        QVERIFY(!run.out.contains('\x1b') && !run.err.contains('\x1b'));
    }

    // Without a home folder there is no place for the answers: the tool says so
    // rather than working on "//.local/state".
    void noHomeIsAnError() {
        test::TestHome home;
        qunsetenv("HOME");
        qunsetenv("XDG_STATE_HOME");
        for (const QStringList &arguments : {QStringList{"list"}, QStringList{"deny", "desktop"}}) {
            const Run run = consent(arguments);
            QCOMPARE(run.status, 1);
            QVERIFY(run.out.isEmpty());
            QVERIFY2(run.err.contains("neither XDG_STATE_HOME nor HOME"), qPrintable(run.err));
        }
    }

    // Only "$HOME/...", "$HOME" and absolute values count, as xdg-user-dirs reads
    // them; anything else falls back to the default rather than to a folder below
    // wherever the program was started.
    void userDirsSettings_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected"); // under the home folder; "" the home itself
        QTest::newRow("relative") << QByteArray("Papers") << "/Documents";
        QTest::newRow("empty") << QByteArray() << "/Documents";
        QTest::newRow("no slash after $HOME") << QByteArray("$HOMEPapers") << "/Documents";
        QTest::newRow("below $HOME") << QByteArray("$HOME/Papers") << "/Papers";
        QTest::newRow("$HOME") << QByteArray("$HOME") << "";
        QTest::newRow("$HOME/") << QByteArray("$HOME/") << "";
    }
    void userDirsSettings() {
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        test::TestHome home;
        home.makeFolder("home/Papers");
        home.makeFolder("home/Papers/Papers"); // where a relative value would lead
        writeUserDirs(home, value);
        QVERIFY(QDir::setCurrent(home.home() + "/Papers"));
        const QString path = userFolderPath(GuardedFolder::Documents);
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
        QCOMPARE(path, home.home() + expected);
        bool guarded = false;
        for (const GuardedLocation &location : guardedLocations())
            guarded = guarded || location.folder == GuardedFolder::Documents;
        QCOMPARE(guarded, !expected.isEmpty());
    }

    // The guard cannot show its prompt here: it denies and stores nothing.
    void guardWithoutGuiDenies() {
        test::TestHome home;
        MemoryLogSink log;
        DialogConsentPrompter prompter;
        FolderGuard guard(log, prompter);
        QVERIFY(!guardAllowsWrite(guard, home.documents() + "/x.txt"));
        QVERIFY(!QFile::exists(ConsentStore::defaultPath()));
        QCOMPARE(log.entries().size(), 1u);
        QVERIFY(log.entries()[0].level == LogLevel::Error &&
                log.entries()[0].message.endsWith("could not ask: denied"));
    }
};

QTEST_GUILESS_MAIN(PellimConsentTest)
#include "test_pellim_consent.moc"
