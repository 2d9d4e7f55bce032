// Which folder the consent tests use: an item gives its folder, typed text a path
// exactly as typed, and the list keeps to that while the person types.
#include "support/WindowFixture.h"

#include <QAbstractItemView>
#include <QComboBox>

using namespace pellim::test;

class TestFolderSelection : public QObject {
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
        s = std::make_unique<Scene>();
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
};

QTEST_MAIN(TestFolderSelection)
#include "test_folder_selection.moc"
