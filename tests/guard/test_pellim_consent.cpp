#include "platform/ConsentStore.h"
#include "support/TestHome.h"

#include <QFile>
#include <QProcess>
#include <QTest>

using namespace pellim;

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// Runs the tool as a separate process in the current (test) environment.
Run consent(const QStringList &arguments) {
    QProcess process;
    process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    process.start(QStringLiteral(PELLIM_BINARY_DIR "/pellim-consent"), arguments);
    Run run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The answer `list` shows for `folder`, read from its line.
QString listed(const Run &run, const QString &folder) {
    for (const QString &line : run.out.split('\n')) {
        if (line.startsWith(folder + ' '))
            return line.mid(folder.size()).trimmed();
    }
    return {};
}

} // namespace

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

        Run run = consent({"list"});
        QCOMPARE(run.status, 0);
        QCOMPARE(listed(run, "documents"), "not decided  " + home.documents());
        QCOMPARE(listed(run, "desktop"), "not decided  " + home.desktop());
        QCOMPARE(listed(run, "downloads"), "not decided  " + home.downloads());

        QCOMPARE(consent({"allow", "DOCUMENTS"}).status, 0);
        QCOMPARE(consent({"deny", "Desktop"}).status, 0);
        QCOMPARE(store.answer(GuardedFolder::Documents), ConsentAnswer::Allowed);
        QCOMPARE(store.answer(GuardedFolder::Desktop), ConsentAnswer::Denied);

        // What the guard stores, the tool shows.
        QVERIFY(store.setAnswer(GuardedFolder::Downloads, ConsentAnswer::Allowed));
        run = consent({"list"});
        QVERIFY(listed(run, "documents").startsWith("allowed "));
        QVERIFY(listed(run, "desktop").startsWith("denied "));
        QVERIFY(listed(run, "downloads").startsWith("allowed "));

        QCOMPARE(consent({"reset", "documents"}).status, 0);
        QCOMPARE(store.answer(GuardedFolder::Documents), ConsentAnswer::NotDecided);
        QCOMPARE(store.answer(GuardedFolder::Desktop), ConsentAnswer::Denied);
        QCOMPARE(consent({"reset", "All"}).status, 0);
        for (GuardedFolder folder : kGuardedFolders)
            QCOMPARE(store.answer(folder), ConsentAnswer::NotDecided);
    }

    void badArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("unknown command") << QStringList{"forget", "documents"};
        QTest::newRow("command in capitals") << QStringList{"ALLOW", "documents"};
        QTest::newRow("missing folder") << QStringList{"allow"};
        QTest::newRow("unknown folder") << QStringList{"deny", "Pictures"};
        QTest::newRow("all outside reset") << QStringList{"allow", "all"};
        QTest::newRow("too many") << QStringList{"reset", "desktop", "downloads"};
        QTest::newRow("list with a folder") << QStringList{"list", "documents"};
    }
    void badArguments() {
        QFETCH(QStringList, arguments);
        test::TestHome home;
        const Run run = consent(arguments);
        QCOMPARE(run.status, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY(run.err.endsWith('\n'));
        QCOMPARE(run.err.count('\n'), 1);
        QVERIFY(!QFile::exists(ConsentStore::defaultPath()));
    }

    void help() {
        test::TestHome home;
        const Run run = consent({"--help"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.contains("reset all"));
        QVERIFY(run.out.contains(ConsentStore::defaultPath()));
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
};

QTEST_GUILESS_MAIN(PellimConsentTest)
#include "test_pellim_consent.moc"
