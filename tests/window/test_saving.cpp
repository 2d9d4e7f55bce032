// The writing tests: through the Save dialog, into a folder chosen in the Open
// dialog, and straight into the folder named in the folder list, past the folder
// guard. The window's fields never change: an outcome is its entries and alerts.
#include "guard/ConsentStore.h"
#include "support/WindowFixture.h"

#include <QComboBox>

using namespace pellim;
using namespace pellim::test;

namespace {

QStringList wrote(const QString &path) {
    return {"info: trying to write to: " + path, "info: wrote to: " + path};
}
QStringList failed(const QString &path) {
    return {"info: trying to write to: " + path, "error: couldn't write to: " + path,
            "alert: Couldn't save file to path | " + path};
}

} // namespace

class TestSaving : public QObject {
    Q_OBJECT

    std::unique_ptr<Scene> s;

private Q_SLOTS:
    void init() { s = std::make_unique<Scene>(true); }
    void cleanup() { s.reset(); }

    // Each click suggests a fresh name of its own. A name changed in the dialog
    // is the one written, plain on disk and escaped in the entries; a folder
    // where nothing can be created fails with the alert.
    void saveWithDialog() {
        QFileDialog *a = clickForDialog(s->h, "saveIntentButton");
        QFileDialog *b = clickForDialog(s->h, "saveIntentButton");
        QVERIFY(a && b);
        const QString nameB = nameField(b)->text();
        QVERIFY2(isTestFileName(nameField(a)->text()) && isTestFileName(nameB) &&
                     nameField(a)->text() != nameB,
                 qPrintable(nameField(a)->text() + " " + nameB));
        const QString folder = s->home.makeFolder("a b/%s");
        accept(a, folder, "100% x.txt");
        accept(b, "/proc", nameB);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"100% x.txt"});
        QCOMPARE(fileBytes(folder + "/100% x.txt"), s->h.window.textOutput.toUtf8());
        QCOMPARE(s->t.events,
                 wrote(s->home.root() + "/a%20b/%25s/100%25%20x.txt") + failed("/proc/" + nameB));
    }

    // Two saves into one folder leave two files, each of a fresh name.
    void saveIntoChosenFolder() {
        const QString folder = s->home.makeFolder("chosen");
        for (int i = 0; i < 2; ++i) {
            QFileDialog *d = clickForDialog(s->h, "saveToFolderButton");
            QVERIFY(d);
            accept(d, folder);
        }
        const QString a = s->t.events.value(0).section(": ", -1),
                      b = s->t.events.value(2).section(": ", -1);
        QCOMPARE(s->t.events, wrote(a) + wrote(b));
        QVERIFY2(a != b && a.startsWith(folder + "/") && isTestFileName(a.section('/', -1)) &&
                     isTestFileName(b.section('/', -1)),
                 qPrintable(a + " " + b));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
        QCOMPARE(fileBytes(b), s->h.window.textOutput.toUtf8());
    }

    // Save into the protected folder: the item's folder past the guard, or a typed
    // folder as typed (the folder list's tests say how), which need not exist.
    void saveConsent_data() {
        QTest::addColumn<int>("item"); // -1: a folder typed into the list
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("allow");
        QTest::newRow("Documents, asked: allowed") << 0 << false << true;
        QTest::newRow("Desktop, stored: denied") << 1 << true << false;
        QTest::newRow("Downloads, asked: denied") << 2 << false << false;
        QTest::newRow("typed, missing") << -1 << false << true;
    }
    void saveConsent() {
        QFETCH(int, item);
        QFETCH(bool, stored);
        QFETCH(bool, allow);
        const QString folder = item < 0 ? s->home.root() + "/missing"
                                        : QStringList{s->home.documents(), s->home.desktop(),
                                                      s->home.downloads()}[item];
        if (stored)
            QVERIFY(ConsentStore(ConsentStore::defaultPath())
                        .setAnswer(kGuardedFolders[item],
                                   allow ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        s->prompter.answer = allow ? PromptAnswer::Allow : PromptAnswer::Deny;
        if (item < 0)
            typeReplacing(s->h.window.folderList->lineEdit(), folder + "/");
        else
            s->h.window.folderList->setCurrentIndex(item);
        click(s->h, "saveConsentButton");

        const QString path = folder + "/" + s->t.events.value(0).section('/', -1);
        QVERIFY2(isTestFileName(path.section('/', -1)), qPrintable(s->t.events.value(0)));
        QCOMPARE(s->prompter.asked, stored || item < 0 ? 0 : 1);
        const bool ok = allow && item >= 0;
        QCOMPARE(s->t.events, ok ? wrote(path) : failed(path));
        QCOMPARE(fileBytes(path), ok ? s->h.window.textOutput.toUtf8() : "<unreadable>");
        QVERIFY(item >= 0 || !QFileInfo::exists(folder));
    }
};

QTEST_MAIN(TestSaving)
#include "test_saving.moc"
