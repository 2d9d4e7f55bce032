#include "guard/FolderGuard.h"
#include "panels/ConsentDialog.h"
#include "support/MemoryLogSink.h"
#include "support/TestHome.h"

#include <QProcess>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <latch>
#include <thread>
#include <tuple>

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

} // namespace

// Runs without a QApplication, as the tool does.
class PellimConsentTest : public QObject {
    Q_OBJECT

private slots:
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

        // The guard, which cannot ask without a screen, says why it did not use them.
        MemoryLogSink log;
        DialogConsentPrompter prompter;
        FolderGuard guard(log, prompter);
        const QByteArray target = QFile::encodeName(home.documents() + "/x.txt");
        QVERIFY(!guard.mayAccess(*walkPath(target), target, FileAccessKind::Write));
        QCOMPARE(log.entries().size(), 1u);
        const QString entry = log.entries()[0].message;
        QVERIFY2(entry.endsWith(": not decided (the stored answers are ignored: " + reason +
                                "), could not ask: denied"),
                 qPrintable(entry));
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

QTEST_GUILESS_MAIN(PellimConsentTest)
#include "test_pellim_consent.moc"
