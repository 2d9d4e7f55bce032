#include "app/ActivityWindow.h"
#include "app/AppDelegate.h"
#include "app/Application.h"
#include "app/HelpWindowController.h"
#include "support/Harness.h"
#include "support/TestHome.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTest>

using pellim::test::Harness;
using pellim::test::TestHome;

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
