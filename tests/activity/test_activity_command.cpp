#include "app/ActivityWindow.h"
#include "app/AppDelegate.h"
#include "app/Application.h"
#include "support/Harness.h"
#include "support/TestHome.h"

#include <QMenu>
#include <QMenuBar>
#include <QTest>

using namespace pellim;

// The Activity command as the person meets it: the Window menu of the main window.
class TestActivityCommand : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowMenuShowsOneActivityWindow() {
        test::TestHome home;
        test::Harness h;
        AppDelegate delegate;
        connectDelegate(h.window, delegate);
        h.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.window));
        const std::size_t entries = h.log.entries().size();

        QStringList menus;
        QAction *activity = nullptr;
        for (QAction *menuAction : h.window.menuBar()->actions()) {
            menus << menuAction->text().remove('&');
            if (menuAction->text().remove('&') != QLatin1String("Window"))
                continue;
            for (QAction *a : menuAction->menu()->actions()) {
                if (a->text().remove('&') == QLatin1String("Activity"))
                    activity = a;
            }
        }
        QVERIFY2(menus.indexOf("Window") == menus.indexOf("Tests") + 1 &&
                     menus.indexOf("Help") == menus.indexOf("Window") + 1,
                 qPrintable(menus.join(", ")));
        QVERIFY(activity);
        QCOMPARE(activity->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));

        QVERIFY(!delegate.activityWindow() || delegate.activityWindow()->isHidden());
        QApplication::setActiveWindow(&h.window);
        QTest::keySequence(&h.window, QKeySequence(Qt::CTRL | Qt::Key_L));
        ActivityWindow *shown = delegate.activityWindow();
        QVERIFY(shown && shown->isVisible());

        // Closing hides it; the command brings back the same window.
        shown->close();
        QVERIFY(shown->isHidden());
        QVERIFY(h.window.isVisible());
        activity->trigger();
        QCOMPARE(delegate.activityWindow(), shown);
        QVERIFY(shown->isVisible());

        // Showing and closing it is not part of what the program records.
        QCOMPARE(h.log.entries().size(), entries);
    }
};

QTEST_MAIN(TestActivityCommand)
#include "test_activity_command.moc"
