#include "app/ActivityWindow.h"
#include "app/AppDelegate.h"
#include "app/Application.h"
#include "app/HelpWindowController.h"
#include "support/Harness.h"
#include "support/TestHome.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>

#include <functional>

using pellim::test::Harness;
using pellim::test::TestHome;

namespace {

// What the window shows, and the messages and levels it has logged.
QStringList shown(const Harness &h) {
    QStringList all{h.window.windowTitle(), h.window.openedText->text(), h.window.fileName->text(),
                    h.window.folderList->currentText()};
    for (int i = 0; i < h.window.folderList->count(); ++i)
        all << h.window.folderList->itemText(i);
    for (const auto &e : h.log.entries())
        all << QStringLiteral("%1 %2 %3 %4")
                   .arg(e.subsystem, e.category, e.message)
                   .arg(int(e.level == pellim::LogLevel::Info));
    return all;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyAppearanceStartsAfresh() {
        TestHome home;
        Harness h;
        QVERIFY(h.log.entries().empty()); // nothing before the window appears
        h.window.show();
        const QString opened = QStringLiteral("org.pellim.Pellim general Pellim: opened 1");
        QStringList fresh{"Pellim",    "[empty]", "[no filename]", "Documents",
                          "Documents", "Desktop", "Downloads",     opened};
        QCOMPARE(shown(h), fresh);
        // A position in the list is a position in the folder table.
        const QStringList folders{home.documents(), home.desktop(), home.downloads()};
        QCOMPARE(h.window.theSpecDirs.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(h.window.theSpecDirs[i].path(), folders[i]);

        h.window.openedText->setText(QStringLiteral("some text"));
        h.window.fileName->setText(QStringLiteral("/somewhere/file.txt"));
        h.window.folderList->setEditText(QStringLiteral("/typed/path"));
        h.window.hide();
        h.window.show();
        QCOMPARE(shown(h), fresh << opened);

        // A restore from minimised arrives as a spontaneous show event: not a new
        // appearance. sendEvent() would clear the flag, so deliver it directly.
        h.window.fileName->setText(QStringLiteral("/kept/file.txt"));
        QShowEvent restored;
        QSpontaneKeyEvent::setSpontaneous(&restored);
        static_cast<QObject *>(&h.window)->event(&restored);
        fresh[2] = QStringLiteral("/kept/file.txt");
        QCOMPARE(shown(h), fresh);
    }

    void wiringAndAccess() {
        TestHome home;
        Harness h;
        // Each button and menu command runs its test exactly once per click.
        for (const QString test : {"SaveIntent", "SaveToFolder", "SaveConsent", "OpenIntent",
                                   "OpenConsent", "OpenFolder"}) {
            QObject *button =
                h.window.findChild<QPushButton *>(test.at(0).toLower() + test.mid(1) + "Button");
            QObject *action = h.window.findChild<QAction *>("action" + test);
            const QByteArray slot = "1do" + test.toLatin1() + "()"; // as SLOT() spells it
            QVERIFY2(button && action, qPrintable(test));
            for (auto [sender, signal] :
                 {std::pair{button, SIGNAL(clicked())}, std::pair{action, SIGNAL(triggered())}}) {
                QVERIFY2(QObject::disconnect(sender, signal, &h.window, slot.constData()),
                         qPrintable(test));
                QVERIFY2(!QObject::disconnect(sender, signal, &h.window, slot.constData()),
                         qPrintable(test));
            }
        }

        h.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.window));
        QStringList buddies;
        for (QLabel *label : h.window.findChildren<QLabel *>())
            if (label->buddy())
                buddies << label->text().remove('&') + label->buddy()->objectName();
        buddies.sort();
        QCOMPARE(buddies,
                 QStringList({"File:fileName", "Protected folder:folderList", "Text:openedText"}));

        // Tab walks the controls in the order they are seen; each has a name
        // assistive technology can tell apart.
        QStringList order;
        QWidget *w = h.window.folderList;
        do {
            // An editable combo box's own line edit is part of the combo box.
            QWidget *control = qobject_cast<QComboBox *>(w->parentWidget()) ? w->parentWidget() : w;
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&h.window) &&
                !order.contains(control->objectName())) {
                order << control->objectName();
                QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(order.back()));
            }
            w = w->nextInFocusChain();
        } while (w != h.window.folderList);
        QCOMPARE(order, QStringList({"folderList", "saveIntentButton", "saveToFolderButton",
                                     "saveConsentButton", "openIntentButton", "openConsentButton",
                                     "openFolderButton", "openedText", "fileName"}));

        // What is typed into the folder list is never added to it.
        h.window.folderList->lineEdit()->selectAll();
        QTest::keyClicks(h.window.folderList->lineEdit(), QStringLiteral("/tmp"));
        QTest::keyClick(h.window.folderList->lineEdit(), Qt::Key_Return);
        QCOMPARE(h.window.folderList->count(), 3);

        // An 80-character preview, or a reading test's path, is readable whole at the
        // default size: with the cursor at the start, the far edge shows the end.
        for (QLineEdit *field : {h.window.openedText, h.window.fileName}) {
            for (const QString text : {"We walked home in the rain, talking about maps, kites and "
                                       "why Mondays feel long.",
                                       "/home/alexandra/Documents/"
                                       "Pellim1B4E28BA-2FA1-11D2-883F-0016D3CCA427.txt"}) {
                field->setText(text);
                field->setCursorPosition(0);
                const QPoint farEdge(field->contentsRect().right() - 1, field->height() / 2);
                QVERIFY2(field->cursorPositionAt(farEdge) == text.size(), qPrintable(text));
            }
        }
        // What every test file holds: one line of 686 printable ASCII characters.
        QVERIFY(QRegularExpression("^[ -~]{686}$").match(h.window.textOutput).hasMatch());
    }

    // Help (F1) and Activity (Ctrl+L) answer in every Pellim window, though only
    // the main window has the menus that hold them.
    void helpAndActivityFromEveryWindow() {
        TestHome home;
        Harness h;
        pellim::AppDelegate delegate;
        pellim::connectDelegate(h.window, delegate);
        const auto *windowMenu = h.window.findChild<QMenu *>(QStringLiteral("menuWindow"));
        QVERIFY(windowMenu && !windowMenu->actions().isEmpty());
        QSignalSpy activityRuns(windowMenu->actions().first(), &QAction::triggered);
        h.window.show();
        h.window.helpAction()->trigger();
        const auto &helps = delegate.helpWindows();

        const auto press = [](QWidget *from, QKeyCombination keys) {
            from->activateWindow();
            if (!QTest::qWaitForWindowActive(from))
                return false;
            QTest::keyClick(from, keys.key(), keys.keyboardModifiers());
            return true;
        };
        // The Activity window is the one the first round opens.
        const std::pair<const char *, std::function<QWidget *()>> sources[] = {
            {"help window", [&] { return helps.front()->window(); }},
            {"Activity window", [&]() -> QWidget * { return delegate.activityWindow(); }}};
        for (const auto &[from, window] : sources) {
            QWidget *source = window();
            QVERIFY2(source, from);
            const qsizetype helpsBefore = qsizetype(helps.size());
            QVERIFY2(press(source, Qt::Key_F1), from);
            QVERIFY2(qsizetype(helps.size()) == helpsBefore + 1, from);
            QVERIFY2(helps.back()->window()->isVisible(), from);

            const qsizetype activityBefore = activityRuns.size();
            QVERIFY2(press(source, Qt::CTRL | Qt::Key_L), from);
            QVERIFY2(activityRuns.size() == activityBefore + 1, from);
            QVERIFY2(delegate.activityWindow() && delegate.activityWindow()->isVisible(), from);
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
