// Saving straight into the folder named in the folder list, through the folder
// guard: stored answers, the prompt, typed folders, and writes that fail.
#include "WritingSupport.h"
#include "platform/ConsentPrompt.h"
#include "platform/ConsentStore.h"
#include "platform/FolderGuard.h"
#include "support/Harness.h"
#include "support/TestHome.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>

using namespace pellim;
using namespace pellim::test;

namespace {

QStringList testFilesIn(const QString &folder) {
    return QDir(folder).entryList({QStringLiteral("Pellim*.txt")}, QDir::Files);
}

// The target named in the first entry, "trying to write to: P".
QString triedPath(const QStringList &entries) {
    const QString prefix = QStringLiteral("I trying to write to: ");
    return !entries.isEmpty() && entries[0].startsWith(prefix) ? entries[0].mid(prefix.size())
                                                               : QString();
}

} // namespace

class TestSaveConsent : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    std::unique_ptr<MemoryLogSink> guardLog;
    std::unique_ptr<DialogConsentPrompter> prompter;
    std::unique_ptr<FolderGuard> guard;
    std::unique_ptr<Harness> h;
    std::size_t firstEntry = 0;

    QStringList entries() const { return programEntries(h->log, firstEntry); }
    void clickSave() {
        auto *b = h->window.findChild<QAbstractButton *>(QStringLiteral("saveConsentButton"));
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void typeFolder(const QString &text) {
        QLineEdit *field = h->window.folderList->lineEdit();
        QVERIFY(field);
        typeReplacing(field, text);
        QCOMPARE(h->window.folderList->currentText(), text);
    }
    // One save that fails: the two entries were there when the alert came up,
    // the alert names the path alone, and nothing follows once it is dismissed.
    void verifyFailedSave(const BoxAnswerer &boxes, const QString &encoded) {
        const QStringList expected = {"I trying to write to: " + encoded,
                                      "E couldn't write to: " + encoded};
        QCOMPARE(entries(), expected);
        const auto alerts = boxes.alerts();
        QCOMPARE(alerts.size(), std::size_t(1));
        QCOMPARE(alerts[0].entriesMeanwhile, expected);
        QCOMPARE(alerts[0].text, QStringLiteral("Couldn't save file to path"));
        QCOMPARE(alerts[0].informativeText, encoded);
        QCOMPARE(alerts[0].buttons, QStringList{"OK"});
        QCOMPARE(alerts[0].icon, QMessageBox::Critical);
    }

private Q_SLOTS:
    void init() {
        home = std::make_unique<TestHome>();
        guardLog = std::make_unique<MemoryLogSink>();
        prompter = std::make_unique<DialogConsentPrompter>();
        guard = std::make_unique<FolderGuard>(*guardLog, *prompter, ConsentStore::defaultPath());
        h = std::make_unique<Harness>(guard.get());
        h->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h->window));
        h->window.openedText->setText("kept text");
        h->window.fileName->setText("kept name");
        firstEntry = h->log.entries().size();
    }
    void cleanup() {
        QCOMPARE(h->window.openedText->text(), QStringLiteral("kept text"));
        QCOMPARE(h->window.fileName->text(), QStringLiteral("kept name"));
        h.reset();
        guard.reset();
        prompter.reset();
        guardLog.reset();
        home.reset();
    }

    void protectedFolder_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("decision");
        for (int item = 0; item < 3; ++item) {
            const char *names[] = {"Documents", "Desktop", "Downloads"};
            for (const char *decision :
                 {"stored allow", "stored deny", "asked allow", "asked deny"})
                QTest::addRow("%s, %s", names[item], decision) << item << QString(decision);
        }
    }
    void protectedFolder() {
        QFETCH(int, item);
        QFETCH(QString, decision);
        const QString folder =
            QStringList{home->documents(), home->desktop(), home->downloads()}[item];
        const bool allowed = decision.endsWith("allow");
        if (decision.startsWith("stored")) {
            ConsentStore store(ConsentStore::defaultPath());
            QVERIFY(store.setAnswer(kGuardedFolders[item],
                                    allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        }
        h->window.folderList->setCurrentIndex(item);

        BoxAnswerer boxes(h->log, firstEntry, allowed ? "Allow" : "Don't Allow");
        clickSave();
        QCOMPARE(boxes.prompts(), decision.startsWith("asked") ? 1 : 0);

        const QString target = triedPath(entries());
        QVERIFY2(target.startsWith(folder + "/"), qPrintable(target));
        QVERIFY(isTestFileName(target.mid(folder.size() + 1)));
        if (allowed) {
            QCOMPARE(entries(),
                     QStringList({"I trying to write to: " + target, "I wrote to: " + target}));
            QCOMPARE(boxes.alerts().size(), std::size_t(0));
            QCOMPARE(fileBytes(target), h->window.textOutput.toUtf8());
        } else {
            verifyFailedSave(boxes, target);
            QVERIFY(testFilesIn(folder).isEmpty());
        }
    }

    void typedFolder_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expectedFolder");
        QTest::newRow("with final slash") << "typed/inner/"
                                          << "typed/inner";
        QTest::newRow("without final slash") << "typed/inner"
                                             << "typed";
    }
    void typedFolder() {
        QFETCH(QString, typed);
        QFETCH(QString, expectedFolder);
        home->makeFolder("typed/inner");
        typeFolder(home->root() + "/" + typed);
        BoxAnswerer boxes(h->log, firstEntry);
        clickSave();
        const QString folder = home->root() + "/" + expectedFolder;
        const QStringList written = testFilesIn(folder);
        QCOMPARE(written.size(), 1);
        QCOMPARE(entries(), QStringList({"I trying to write to: " + folder + "/" + written[0],
                                         "I wrote to: " + folder + "/" + written[0]}));
        QCOMPARE(boxes.seen.size(), std::size_t(0));
    }

    void typedFolderThatDoesNotExistFails() {
        // A space and a non-ASCII letter: escaped in the messages and the alert.
        typeFolder(home->root() + "/no such é/");
        BoxAnswerer boxes(h->log, firstEntry);
        clickSave();
        const QString target = triedPath(entries());
        const QString folderPart = home->root() + "/no%20such%20%C3%A9/";
        QVERIFY2(target.startsWith(folderPart), qPrintable(target));
        QVERIFY(isTestFileName(target.mid(folderPart.size())));
        verifyFailedSave(boxes, target);
        QVERIFY(!QFileInfo::exists(home->root() + "/no such é"));
    }

    void twoSavesGiveTwoNames() {
        ConsentStore(ConsentStore::defaultPath())
            .setAnswer(GuardedFolder::Documents, ConsentAnswer::Allowed);
        clickSave();
        clickSave();
        const QStringList written = testFilesIn(home->documents());
        QCOMPARE(written.size(), 2);
        for (const QString &name : written)
            QCOMPARE(QFileInfo(home->documents() + "/" + name).size(), 686);
    }

    void itemWithoutFolderFailsClearly() {
        // The list cannot normally report such an item; if it ever does, the save
        // fails in the open instead of writing somewhere nobody chose.
        h->window.folderList->addItem("Elsewhere");
        h->window.folderList->setCurrentIndex(3);
        QVERIFY(!h->window.selectedProtectedFolder());
        BoxAnswerer boxes(h->log, firstEntry);
        clickSave();
        QCOMPARE(entries().size(), 1);
        QVERIFY(entries()[0].startsWith("E "));
        QCOMPARE(boxes.alerts().size(), std::size_t(1));
        QCOMPARE(boxes.alerts()[0].text, QStringLiteral("Couldn't save file to path"));
        for (const QString &folder :
             {home->documents(), home->desktop(), home->downloads(), QDir::currentPath()})
            QVERIFY(testFilesIn(folder).isEmpty());
    }
};

QTEST_MAIN(TestSaveConsent)
#include "test_save_consent.moc"
