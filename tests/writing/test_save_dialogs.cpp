// Saving through the Save dialog and into a folder chosen in the Open dialog,
// with Qt's own file dialogs answered as a person would.
#include "WritingSupport.h"
#include "support/Harness.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

using namespace pellim;
using namespace pellim::test;

class TestSaveDialogs : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    RecordingAlert alerts; // none expected here; recorded so a wrong turn cannot block
    std::unique_ptr<Harness> h;
    std::size_t first = 0;

    QStringList entries() const { return programEntries(h->log, first); }
    // Clicks a button and returns the dialog it opened (the newest one).
    QFileDialog *clickForDialog(const char *button) {
        const int before = openFileDialogs(&h->window).size();
        QTest::mouseClick(h->window.findChild<QPushButton *>(button), Qt::LeftButton);
        waitUntil([&] { return openFileDialogs(&h->window).size() > before; });
        return openFileDialogs(&h->window).value(before);
    }
    static QLineEdit *nameField(QFileDialog *d) {
        return d->findChild<QLineEdit *>("fileNameEdit");
    }
    static void saveAs(QFileDialog *d, const QString &folder, const QString &name) {
        d->setDirectory(folder);
        nameField(d)->setText(name);
        static_cast<QDialog *>(d)->accept();
    }
    static void chooseFolder(QFileDialog *d, const QString &folder) {
        d->setDirectory(folder);
        static_cast<QDialog *>(d)->accept();
    }

private Q_SLOTS:
    void init() {
        home = std::make_unique<TestHome>();
        alerts.shown.clear();
        h = std::make_unique<Harness>(nullptr, &alerts);
        h->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h->window));
        h->window.openedText->setText("kept text");
        h->window.fileName->setText("kept name");
        first = h->log.entries().size();
    }
    void cleanup() {
        QCOMPARE(h->window.openedText->text(), QStringLiteral("kept text"));
        QCOMPARE(h->window.fileName->text(), QStringLiteral("kept name"));
        QVERIFY(alerts.shown.empty());
        h.reset();
        home.reset();
    }

    void twoSaveDialogsAtOnceGiveTwoNamesAndTwoFiles() {
        QFileDialog *a = clickForDialog("saveIntentButton");
        QFileDialog *b = clickForDialog("saveIntentButton");
        QVERIFY(a && b);
        const QString nameA = nameField(a)->text(), nameB = nameField(b)->text();
        QVERIFY2(isTestFileName(nameA) && isTestFileName(nameB), qPrintable(nameA + " " + nameB));
        QVERIFY(nameA != nameB);
        QVERIFY(entries().isEmpty()); // nothing happens before the person answers

        const QString out = home->makeFolder("out");
        saveAs(b, out, nameB);
        saveAs(a, out, nameA);
        const QByteArray text = h->window.textOutput.toUtf8();
        QCOMPARE(text.size(), 686);
        QCOMPARE(fileBytes(out + "/" + nameA), text);
        QCOMPARE(fileBytes(out + "/" + nameB), text);
        QCOMPARE(entries(), QStringList({"I trying to write to: " + out + "/" + nameB,
                                         "I wrote to: " + out + "/" + nameB,
                                         "I trying to write to: " + out + "/" + nameA,
                                         "I wrote to: " + out + "/" + nameA}));
    }

    void changedNameWithSpaceAndAccentIsWrittenAndEscaped() {
        const QString folder = home->makeFolder("a b/é");
        QFileDialog *d = clickForDialog("saveIntentButton");
        QVERIFY(d);
        const QString suggested = nameField(d)->text();
        saveAs(d, folder, "ñ x.txt");
        QCOMPARE(fileBytes(folder + "/ñ x.txt"), h->window.textOutput.toUtf8());
        QVERIFY(!QFile::exists(folder + "/" + suggested));
        const QString encoded = home->root() + "/a%20b/%C3%A9/%C3%B1%20x.txt";
        QCOMPARE(entries(),
                 QStringList({"I trying to write to: " + encoded, "I wrote to: " + encoded}));
    }

    void existingFileIsReplaced() {
        // Longer than the test text: none of the old tail may remain.
        const QString path = home->makeFile("out/old.txt", QByteArray(1000, 'x'));
        QFileDialog *d = clickForDialog("saveIntentButton");
        QVERIFY(d);
        auto replaced = answerNextModal<QMessageBox>(
            [](QMessageBox *box) { clickButton(box, QStringLiteral("Yes")); });
        saveAs(d, QFileInfo(path).absolutePath(), "old.txt");
        QVERIFY(*replaced);
        QCOMPARE(fileBytes(path), h->window.textOutput.toUtf8());
        QCOMPARE(entries(), QStringList({"I trying to write to: " + path, "I wrote to: " + path}));
    }

    void cancelLeavesNoTrace() {
        const QString out = home->makeFolder("out");
        const std::size_t all = h->log.entries().size();
        for (const char *button : {"saveIntentButton", "saveToFolderButton"}) {
            QFileDialog *d = clickForDialog(button);
            QVERIFY(d);
            d->setDirectory(out);
            d->reject();
        }
        QTest::qWait(50);
        QCOMPARE(h->log.entries().size(), all);
        QVERIFY(QDir(out).isEmpty());
    }

    void saveToFolderWritesIntoTheChosenFolder() {
        const QString chosen = home->makeFolder("chosen é");
        QFileDialog *d = clickForDialog("saveToFolderButton");
        QVERIFY(d);
        QCOMPARE(d->fileMode(), QFileDialog::Directory);
        QCOMPARE(d->labelText(QFileDialog::Accept), QStringLiteral("Select Folder"));
        chooseFolder(d, chosen);
        const QStringList written = QDir(chosen).entryList(QDir::Files);
        QCOMPARE(written.size(), 1);
        QVERIFY2(isTestFileName(written[0]), qPrintable(written[0]));
        QCOMPARE(fileBytes(chosen + "/" + written[0]), h->window.textOutput.toUtf8());
        const QString encoded = home->root() + "/chosen%20%C3%A9/" + written[0];
        QCOMPARE(entries(),
                 QStringList({"I trying to write to: " + encoded, "I wrote to: " + encoded}));
    }
};

QTEST_MAIN(TestSaveDialogs)
#include "test_save_dialogs.moc"
