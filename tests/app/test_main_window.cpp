#include "app/ActivityWindow.h"
#include "app/AppDelegate.h"
#include "app/Application.h"
#include "app/HelpWindowController.h"
#include "support/Harness.h"
#include "support/TestHome.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>

using pellim::test::Harness;
using pellim::test::TestHome;

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each appearance starts afresh and says so; a restore from minimised, a
    // spontaneous show event, is no new appearance and keeps what is shown.
    void everyAppearanceStartsAfresh() {
        TestHome home;
        Harness h;
        const auto shown = [&] {
            QStringList all{h.window.openedText->text(), h.window.fileName->text(),
                            h.window.folderList->currentText()};
            for (const auto &e : h.log.entries())
                all << e.message;
            return all;
        };
        QVERIFY(h.log.entries().empty()); // nothing before the window appears
        h.window.show();
        QStringList fresh{"[empty]", "[no filename]", "Documents", "Pellim: opened"};
        QCOMPARE(shown(), fresh);
        h.window.openedText->setText("some text");
        h.window.folderList->setEditText("/typed/path");
        h.window.hide();
        h.window.show();
        QCOMPARE(shown(), fresh << "Pellim: opened");
        h.window.fileName->setText("/kept/file.txt");
        QShowEvent restored; // sendEvent() would clear the flag, so deliver it directly
        QSpontaneKeyEvent::setSpontaneous(&restored);
        static_cast<QObject *>(&h.window)->event(&restored);
        QCOMPARE(shown().value(1), "/kept/file.txt");
    }

    // Each button and menu command runs its test exactly once per click.
    void everyCommandIsWiredOnce() {
        TestHome home;
        Harness h;
        for (const QString test : {"SaveIntent", "SaveToFolder", "SaveConsent", "OpenIntent",
                                   "OpenConsent", "OpenFolder"}) {
            QObject *button =
                h.window.findChild<QPushButton *>(test.at(0).toLower() + test.mid(1) + "Button");
            QObject *action = h.window.findChild<QAction *>("action" + test);
            const QByteArray slot = "1do" + test.toLatin1() + "()"; // as SLOT() spells it
            QVERIFY2(button && action, qPrintable(test));
            for (auto [sender, signal] :
                 {std::pair{button, SIGNAL(clicked())}, std::pair{action, SIGNAL(triggered())}}) {
                QVERIFY2(QObject::disconnect(sender, signal, &h.window, slot.constData()) &&
                             !QObject::disconnect(sender, signal, &h.window, slot.constData()),
                         qPrintable(test));
            }
        }
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
        for (const char *from : {"help window", "Activity window"}) {
            QWidget *source = from[0] == 'h' ? helps.front()->window() : delegate.activityWindow();
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
