#include "guard/ConsentStore.h"
#include "guard/FolderGuard.h"
#include "journal/Log.h"
#include "panels/ConsentDialog.h"
#include "support/MemoryLogSink.h"
#include "support/TestHome.h"

#include <QFile>
#include <QProcess>
#include <QTest>

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
Run consent(const QStringList &arguments) {
    QProcess p;
    p.start(QStringLiteral(PELLIM_BINARY_DIR "/pellim-consent"), arguments);
    if (!p.waitForFinished(30000))
        p.kill(), p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
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

    // The guard cannot show its prompt here: it denies and stores nothing.
    void guardWithoutGuiDenies() {
        test::TestHome home;
        MemoryLogSink log;
        DialogConsentPrompter prompter;
        FolderGuard guard(log, prompter);
        QVERIFY(!guard.mayAccess(home.documents() + "/x.txt", FileAccessKind::Write));
        QVERIFY(!QFile::exists(ConsentStore::defaultPath()));
        QCOMPARE(log.entries().size(), 1u);
        QVERIFY(log.entries()[0].level == LogLevel::Error &&
                log.entries()[0].message.endsWith("could not ask: denied"));
    }
};

QTEST_GUILESS_MAIN(PellimConsentTest)
#include "test_pellim_consent.moc"
