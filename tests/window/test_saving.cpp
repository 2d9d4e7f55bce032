// The writing tests: through the Save dialog, and straight into the folder named
// in the folder list, past the folder guard (a save into a chosen folder is the
// end-to-end suite's). The window's fields never change: an outcome is its
// entries and alerts. And the folder list the consent tests use: an item gives
// its folder, typed text a path exactly as typed, and the list keeps to that
// while the person types.
#include "guard/ConsentStore.h"
#include "support/WindowFixture.h"

#include <QAbstractItemView>
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
    QComboBox *list = nullptr;

    QString selected() const {
        const auto url = s->h.window.selectedProtectedFolder();
        return url ? url->path() + (url->isDirectory() ? "/" : "") : "<none>";
    }
    // As a person picks: open the list and click the item.
    void pick(int index) {
        list->showPopup();
        QAbstractItemView *view = list->view();
        QVERIFY(QTest::qWaitFor([&] { return view->isVisible(); }));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(list->model()->index(index, 0)).center());
        QVERIFY(QTest::qWaitFor([&] { return !view->isVisible(); }));
        QCOMPARE(list->currentIndex(), index);
    }

private Q_SLOTS:
    void init() {
        s = std::make_unique<Scene>(true);
        QVERIFY(QTest::qWaitForWindowExposed(&s->h.window));
        list = s->h.window.folderList;
    }
    void cleanup() { s.reset(); }

    void typedTextIsAPathAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        const QString cwd = QDir::currentPath();
        QTest::newRow("no final slash") << "/nowhere/Tests"
                                        << "/nowhere/";
        QTest::newRow("spaces kept") << " /nowhere/ a /" << cwd + "/ /nowhere/ a /";
        QTest::newRow("an item's name") << "Downloads" << cwd + "/";
    }
    void typedTextIsAPathAsTyped() {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        pick(2);
        typeReplacing(list->lineEdit(), typed);
        QCOMPARE(selected(), expected);
        // Enter neither adds the text nor matches it to an item of that name.
        QTest::keyClick(list->lineEdit(), Qt::Key_Return);
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(list->currentText(), typed);
        QCOMPARE(selected(), expected);
    }

    void pickingAnItemAgain() {
        QCOMPARE(selected(), s->home.documents() + "/");
        pick(2);
        QCOMPARE(selected(), s->home.downloads() + "/");
        // Typing onto the shown item edits its text; picking that item again, or
        // moving to one with an arrow key, gives the item's folder.
        QTest::keyClick(list->lineEdit(), Qt::Key_End);
        QTest::keyClicks(list->lineEdit(), "/sub/");
        QCOMPARE(selected(), QDir::currentPath() + "/Downloads/sub/");
        pick(2);
        QCOMPARE(selected(), s->home.downloads() + "/");
        typeReplacing(list->lineEdit(), "/x/");
        QTest::keyClick(list->lineEdit(), Qt::Key_Down);
        QVERIFY(list->currentIndex() >= 0);
        QCOMPARE(selected(), s->h.window.theSpecDirs[list->currentIndex()].path() + "/");
    }

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
