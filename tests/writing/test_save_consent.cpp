// Saving straight into the folder named in the folder list, through the folder
// guard: stored answers, the prompt, typed folders, and writes that fail.
#include "WritingSupport.h"
#include "platform/ConsentPrompt.h"
#include "platform/ConsentStore.h"
#include "platform/FolderGuard.h"
#include "support/Harness.h"
#include "support/TestHome.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

using namespace pellim;
using namespace pellim::test;

class TestSaveConsent : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    MemoryLogSink guardLog;
    DialogConsentPrompter prompter;
    std::unique_ptr<FolderGuard> guard;
    std::unique_ptr<Harness> h;
    std::size_t first = 0;

    QStringList entries() const { return programEntries(h->log, first); }
    void clickSave() {
        QTest::mouseClick(h->window.findChild<QPushButton *>("saveConsentButton"), Qt::LeftButton);
    }
    // The target of the one save, checked to be a fresh test file in `folder`
    // (as it appears in messages).
    QString target(const QString &folder) {
        const QString tried = entries().value(0).section("trying to write to: ", 1);
        return tried.startsWith(folder + "/") && isTestFileName(tried.mid(folder.size() + 1))
                   ? tried
                   : QString();
    }
    // A successful save to a path that needs no escapes.
    void verifyWritten(const QString &path) {
        QVERIFY(!path.isEmpty());
        QCOMPARE(entries(), QStringList({"I trying to write to: " + path, "I wrote to: " + path}));
        QCOMPARE(fileBytes(path), h->window.textOutput.toUtf8());
    }
    // A failed save: both entries were there when the alert came up, the alert
    // names the path alone, and nothing follows once it is dismissed.
    void verifyFailed(const BoxAnswerer &boxes, const QString &encoded) {
        QVERIFY(!encoded.isEmpty());
        const QStringList expected = {"I trying to write to: " + encoded,
                                      "E couldn't write to: " + encoded};
        QCOMPARE(entries(), expected);
        QCOMPARE(boxes.alerts.size(), std::size_t(1));
        QCOMPARE(boxes.alerts[0].entriesMeanwhile, expected);
        QCOMPARE(boxes.alerts[0].text, QStringLiteral("Couldn't save file to path"));
        QCOMPARE(boxes.alerts[0].informativeText, encoded);
        QCOMPARE(boxes.alerts[0].buttons, QStringList{"OK"});
        QCOMPARE(boxes.alerts[0].icon, QMessageBox::Critical);
    }

private Q_SLOTS:
    void init() {
        home = std::make_unique<TestHome>();
        guard = std::make_unique<FolderGuard>(guardLog, prompter, ConsentStore::defaultPath());
        h = std::make_unique<Harness>(guard.get());
        h->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h->window));
        h->window.openedText->setText("kept text");
        h->window.fileName->setText("kept name");
        first = h->log.entries().size();
    }
    void cleanup() {
        // A writing test never touches the window's fields.
        QCOMPARE(h->window.openedText->text(), QStringLiteral("kept text"));
        QCOMPARE(h->window.fileName->text(), QStringLiteral("kept name"));
        h.reset();
        guard.reset();
        home.reset();
    }

    void protectedFolder_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("decision");
        for (int item : {0, 1, 2})
            for (const char *decision :
                 {"stored allow", "stored deny", "asked allow", "asked deny"})
                QTest::addRow("%d, %s", item, decision) << item << QString(decision);
    }
    void protectedFolder() {
        QFETCH(int, item);
        QFETCH(QString, decision);
        const QString folder =
            QStringList{home->documents(), home->desktop(), home->downloads()}[item];
        const bool allow = decision.endsWith("allow");
        if (decision.startsWith("stored"))
            QVERIFY(ConsentStore(ConsentStore::defaultPath())
                        .setAnswer(kGuardedFolders[item],
                                   allow ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        h->window.folderList->setCurrentIndex(item);

        BoxAnswerer boxes(h->log, first, allow ? "Allow" : "Don't Allow");
        clickSave();
        QCOMPARE(boxes.prompts, decision.startsWith("asked") ? 1 : 0);
        const QString written = target(folder);
        if (allow) {
            verifyWritten(written);
            QVERIFY(boxes.alerts.empty());
        } else {
            verifyFailed(boxes, written);
            QVERIFY(QDir(folder).isEmpty());
        }
    }

    void typedFolder_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("folder");
        QTest::newRow("with final slash") << "typed/inner/"
                                          << "typed/inner";
        QTest::newRow("without final slash") << "typed/inner"
                                             << "typed";
    }
    void typedFolder() {
        QFETCH(QString, typed);
        QFETCH(QString, folder);
        home->makeFolder("typed/inner");
        typeReplacing(h->window.folderList->lineEdit(), home->root() + "/" + typed);
        BoxAnswerer boxes(h->log, first);
        clickSave();
        const QString written = target(home->root() + "/" + folder);
        verifyWritten(written);
        QVERIFY(boxes.alerts.empty() && boxes.prompts == 0);
    }

    void typedFolderThatDoesNotExistFails() {
        // A space and a non-ASCII letter: escaped in the messages and the alert.
        typeReplacing(h->window.folderList->lineEdit(), home->root() + "/no such é/");
        BoxAnswerer boxes(h->log, first);
        clickSave();
        verifyFailed(boxes, target(home->root() + "/no%20such%20%C3%A9"));
        QVERIFY(!QFileInfo::exists(home->root() + "/no such é"));
    }

    void itemWithoutFolderFailsClearly() {
        // The list cannot normally report such an item; if it ever does, the save
        // fails in the open instead of writing somewhere nobody chose.
        h->window.folderList->addItem("Elsewhere");
        h->window.folderList->setCurrentIndex(3);
        BoxAnswerer boxes(h->log, first);
        clickSave();
        QCOMPARE(entries().size(), 1);
        QVERIFY(entries()[0].startsWith("E "));
        QCOMPARE(boxes.alerts.size(), std::size_t(1));
        QCOMPARE(boxes.alerts[0].text, QStringLiteral("Couldn't save file to path"));
        for (const QString &folder : {home->documents(), home->desktop(), home->downloads()})
            QVERIFY(QDir(folder).isEmpty());
        QVERIFY(QDir().entryList({"Pellim*.txt"}, QDir::Files).isEmpty());
    }
};

QTEST_MAIN(TestSaveConsent)
#include "test_save_consent.moc"
