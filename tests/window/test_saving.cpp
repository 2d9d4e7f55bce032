// The writing tests: saving through the Save dialog, into a folder chosen in the
// Open dialog, and straight into the folder named in the folder list through the
// folder guard. The window's fields never change: every outcome is its entries and
// alerts.
#include "guard/ConsentStore.h"
#include "support/WindowFixture.h"

#include <QComboBox>
#include <QDir>
#include <QMessageBox>

using namespace pellim;
using namespace pellim::test;

class TestSaving : public QObject {
    Q_OBJECT

    std::unique_ptr<Scene> s;

    static QStringList wrote(const QString &path) {
        return {"info: trying to write to: " + path, "info: wrote to: " + path};
    }
    static QStringList failed(const QString &path) {
        return {"info: trying to write to: " + path, "error: couldn't write to: " + path,
                "alert: Couldn't save file to path | " + path};
    }
    // Clicks the consent Save; returns the path it tried if that is a fresh test
    // file in `folder` (as the messages write it), else nothing.
    QString saveConsent(const QString &folder) {
        click(s->h, "saveConsentButton");
        const QString path = s->t.entries().value(0).section("trying to write to: ", 1);
        return path.startsWith(folder + "/") && isTestFileName(path.mid(folder.size() + 1))
                   ? path
                   : QString();
    }

private Q_SLOTS:
    void init() { s = std::make_unique<Scene>(true); }
    void cleanup() { s.reset(); }

    // Each click has its own name; the second save confirmed replaces a longer file
    // of the same name, leaving nothing of its tail.
    void twoSaveDialogsAtOnceGiveTwoNamesAndTwoFiles() {
        QFileDialog *a = clickForDialog(s->h, "saveIntentButton");
        QFileDialog *b = clickForDialog(s->h, "saveIntentButton");
        QVERIFY(a && b);
        const QString nameA = nameField(a)->text(), nameB = nameField(b)->text();
        QVERIFY2(isTestFileName(nameA) && isTestFileName(nameB) && nameA != nameB,
                 qPrintable(nameA + " " + nameB));
        QVERIFY(s->t.events.isEmpty()); // nothing happens before the person answers

        const QString out = s->home.makeFolder("out");
        s->home.makeFile("out/" + nameA, QByteArray(1000, 'x'));
        accept(b, out, nameB);
        auto replaced =
            answerNextModal<QMessageBox>([](QMessageBox *box) { clickButton(box, "Yes"); });
        accept(a, out, nameA);
        QVERIFY(*replaced);
        const QByteArray text = s->h.window.textOutput.toUtf8();
        QCOMPARE(text.size(), 686);
        QCOMPARE(fileBytes(out + "/" + nameA), text);
        QCOMPARE(fileBytes(out + "/" + nameB), text);
        QCOMPARE(s->t.events, wrote(out + "/" + nameB) + wrote(out + "/" + nameA));
    }

    // The messages escape the path; on disk the name is as typed.
    void changedNameIsWrittenAndEscaped() {
        const QString folder = s->home.makeFolder("a b/é");
        QFileDialog *d = clickForDialog(s->h, "saveIntentButton");
        QVERIFY(d);
        accept(d, folder, "ñ x.txt");
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"ñ x.txt"});
        QCOMPARE(fileBytes(folder + "/ñ x.txt"), s->h.window.textOutput.toUtf8());
        QCOMPARE(s->t.events, wrote(s->home.root() + "/a%20b/%C3%A9/%C3%B1%20x.txt"));
    }

    void saveToFolderWritesIntoTheChosenFolder() {
        const QString chosen = s->home.makeFolder("chosen é");
        QFileDialog *d = clickForDialog(s->h, "saveToFolderButton");
        QVERIFY(d);
        QCOMPARE(d->fileMode(), QFileDialog::Directory);
        QCOMPARE(d->labelText(QFileDialog::Accept), QStringLiteral("Select Folder"));
        accept(d, chosen);
        const QStringList written = QDir(chosen).entryList(QDir::Files);
        QCOMPARE(written.size(), 1);
        QVERIFY2(isTestFileName(written[0]), qPrintable(written[0]));
        QCOMPARE(fileBytes(chosen + "/" + written[0]), s->h.window.textOutput.toUtf8());
        QCOMPARE(s->t.events, wrote(s->home.root() + "/chosen%20%C3%A9/" + written[0]));
    }

    void cancelLeavesNoTrace() {
        const QString out = s->home.makeFolder("out");
        for (const char *button : {"saveIntentButton", "saveToFolderButton"}) {
            QFileDialog *d = clickForDialog(s->h, button);
            QVERIFY(d);
            d->setDirectory(out);
            d->reject();
        }
        QTest::qWait(50);
        QVERIFY(s->t.events.isEmpty());
        QVERIFY(QDir(out).isEmpty());
    }

    void protectedFolder_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("allow");
        for (int item : {0, 1, 2})
            for (bool stored : {true, false})
                for (bool allow : {true, false})
                    QTest::addRow("%d %s %s", item, stored ? "stored" : "asked",
                                  allow ? "allow" : "deny")
                        << item << stored << allow;
    }
    void protectedFolder() {
        QFETCH(int, item);
        QFETCH(bool, stored);
        QFETCH(bool, allow);
        const QString folder =
            QStringList{s->home.documents(), s->home.desktop(), s->home.downloads()}[item];
        if (stored)
            QVERIFY(ConsentStore(ConsentStore::defaultPath())
                        .setAnswer(kGuardedFolders[item],
                                   allow ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        s->prompter.answer = allow ? PromptAnswer::Allow : PromptAnswer::Deny;
        s->h.window.folderList->setCurrentIndex(item);
        const QString path = saveConsent(folder); // no escapes in these paths
        QCOMPARE(s->prompter.asked, stored ? 0 : 1);
        QCOMPARE(s->t.events, allow ? wrote(path) : failed(path));
        QCOMPARE(QDir(folder).isEmpty(), !allow);
        if (allow)
            QCOMPARE(fileBytes(path), s->h.window.textOutput.toUtf8());
    }

    // A typed folder is taken as typed (the folder list's tests say how); one that
    // does not exist fails, escaped in the messages and the alert.
    void typedFolderThatDoesNotExist() {
        typeReplacing(s->h.window.folderList->lineEdit(), s->home.root() + "/no such é/");
        QCOMPARE(s->t.events, failed(saveConsent(s->home.root() + "/no%20such%20%C3%A9")));
        QVERIFY(!QFileInfo::exists(s->home.root() + "/no such é"));
    }

    // The list cannot normally report an item without a folder; should it, the
    // save fails in the open instead of writing somewhere nobody chose.
    void itemWithoutFolderWritesNowhere() {
        s->h.window.folderList->addItem("Elsewhere");
        s->h.window.folderList->setCurrentIndex(3);
        click(s->h, "saveConsentButton");
        const QStringList events = s->t.events;
        QCOMPARE(events.size(), 2);
        QVERIFY(events[0].startsWith("error: couldn't write to: "));
        QVERIFY(events[1].startsWith("alert: Couldn't save file to path | "));
        for (const QString &folder : {s->home.documents(), s->home.desktop(), s->home.downloads()})
            QVERIFY(QDir(folder).isEmpty());
        QVERIFY(QDir().entryList({"Pellim*.txt"}, QDir::Files).isEmpty());
    }
};

QTEST_MAIN(TestSaving)
#include "test_saving.moc"
