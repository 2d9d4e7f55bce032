// The folder list's choice: an item gives its folder, typed text gives a path as
// typed, and the list behaves while the person types.
#include "support/Harness.h"
#include "support/Modal.h"
#include "support/TestHome.h"
#include "writing/WritingSupport.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>

using namespace pellim;
using namespace pellim::test;

namespace {

// Picks item `index` the way a person does: opens the list and clicks the item.
void pickItem(QComboBox *list, int index) {
    list->showPopup();
    QAbstractItemView *view = list->view();
    QVERIFY(waitUntil([&] { return view->isVisible(); }));
    const QRect rect = view->visualRect(list->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QVERIFY(waitUntil([&] { return !view->isVisible(); }));
}

// Replaces the field's text by typing, key by key.
void typeText(QComboBox *list, const QString &text) {
    QLineEdit *field = list->lineEdit();
    QVERIFY(field);
    typeReplacing(field, text);
}

QString folderPath(const std::optional<FileUrl> &url) {
    return url ? url->path() + (url->isDirectory() ? "/" : "") : QStringLiteral("<none>");
}

} // namespace

class TestFolderSelection : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> home;
    std::unique_ptr<Harness> h;
    QComboBox *list = nullptr;

private Q_SLOTS:
    void init() {
        home = std::make_unique<TestHome>();
        h = std::make_unique<Harness>();
        h->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h->window));
        list = h->window.folderList;
        QVERIFY(list);
        QCOMPARE(list->count(), 3);
    }
    void cleanup() {
        h.reset();
        home.reset();
    }

    void itemsGiveTheirFolders() {
        QCOMPARE(list->currentIndex(), 0);
        QCOMPARE(folderPath(h->window.selectedProtectedFolder()), home->documents() + "/");
        pickItem(list, 2);
        QCOMPARE(folderPath(h->window.selectedProtectedFolder()), home->downloads() + "/");
        pickItem(list, 1);
        QCOMPARE(folderPath(h->window.selectedProtectedFolder()), home->desktop() + "/");
    }

    void typedTextIsAPathAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        const QString cwd = QDir::currentPath();
        const QString r = QStringLiteral("/nowhere/Data");
        QTest::newRow("folder with final slash") << r + "/Tests/" << r + "/Tests/";
        QTest::newRow("without final slash") << r + "/Tests" << r + "/";
        QTest::newRow("a file") << r + "/Tests/notes.txt" << r + "/Tests/";
        QTest::newRow("spaces kept") << r + "/ a b /" << r + "/ a b /";
        QTest::newRow("trailing space names a file") << r + "/x/ " << r + "/x/";
        QTest::newRow("tilde not expanded") << "~/Notes/" << cwd + "/~/Notes/";
        QTest::newRow("an item's name is a relative path") << "Downloads" << cwd + "/";
        QTest::newRow("non-ASCII") << r + "/Été/" << r + "/Été/";
    }
    void typedTextIsAPathAsTyped() {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        pickItem(list, 2);
        typeText(list, typed);
        QCOMPARE(list->currentText(), typed);
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(folderPath(h->window.selectedProtectedFolder()), expected);

        // Enter neither adds the text nor matches it to an item.
        QTest::keyClick(list->lineEdit(), Qt::Key_Return);
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(list->currentText(), typed);
        QCOMPARE(folderPath(h->window.selectedProtectedFolder()), expected);
    }

    void firstKeystrokeKeepsTheItemText() {
        // Typing onto a shown item edits that text; the change to "no item" must
        // not swallow it.
        pickItem(list, 1);
        QLineEdit *field = list->lineEdit();
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClicks(field, "/sub/");
        QCOMPARE(list->currentText(), QStringLiteral("Desktop/sub/"));
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(folderPath(h->window.selectedProtectedFolder()),
                 QDir::currentPath() + "/Desktop/sub/");
    }

    void pickingAgainGivesTheItem() {
        typeText(list, "/elsewhere/");
        QCOMPARE(list->currentIndex(), -1);
        // The item that was selected before the typing.
        pickItem(list, 0);
        QCOMPARE(list->currentIndex(), 0);
        QCOMPARE(list->currentText(), QStringLiteral("Documents"));
        QCOMPARE(folderPath(h->window.selectedProtectedFolder()), home->documents() + "/");

        // Typing an item's exact name and leaving the field is not a pick either;
        // an arrow key afterwards is.
        typeText(list, "Desktop");
        QTest::keyClick(list->lineEdit(), Qt::Key_Return);
        QCOMPARE(list->currentIndex(), -1);
        QTest::keyClick(list->lineEdit(), Qt::Key_Down);
        QVERIFY(list->currentIndex() >= 0);
        QCOMPARE(folderPath(h->window.selectedProtectedFolder()),
                 folderPath(h->window.theSpecDirs[list->currentIndex()]));
        QCOMPARE(list->count(), 3);
    }
};

QTEST_MAIN(TestFolderSelection)
#include "test_folder_selection.moc"
