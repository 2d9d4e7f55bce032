// Closing the main window logs "closing" and ends the run, whatever else is open;
// closing a help window or the Activity window ends nothing; Quit (Ctrl+Q), Help
// (F1) and Activity (Ctrl+L) answer in every window, though only the main window
// has the menus that hold them. Quit logs nothing.
#include "app/ActivityWindow.h"
#include "app/AppDelegate.h"
#include "app/Application.h"
#include "app/HelpWindowController.h"
#include "panels/AppIdentity.h"
#include "support/WindowFixture.h"

#include <QMenu>
#include <QTest>
#include <QTimer>

using namespace pellim;

namespace {

// Runs the application's own event loop with `steps` run from inside it and
// returns its exit status; 99 when nothing ended it within 10 s.
int runLoop(const std::function<void()> &steps) {
    QTimer::singleShot(0, qApp, steps);
    QTimer guard; // stops with this loop, so it cannot end a later one
    guard.callOnTimeout(qApp, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    return QApplication::exec();
}

bool press(QWidget *window, QKeyCombination keys) {
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return false;
    QTest::keyClick(window, keys.key(), keys.keyboardModifiers());
    return true;
}

// The main window and the delegate wired as the application wires them, with a
// help window and the Activity window open.
struct Shell {
    test::TestHome home;
    test::Harness h;
    AppDelegate delegate;
    Shell() {
        connectDelegate(h.window, delegate);
        h.window.show();
        h.window.helpAction()->trigger();
        h.window.findChild<QMenu *>("menuWindow")->actions().value(0)->trigger();
    }
    QWidget *help(std::size_t i) const { return delegate.helpWindows().at(i)->window(); }
    QStringList messages() const {
        QStringList all;
        for (const LogEntry &e : h.log.entries())
            all << e.message;
        return all;
    }
};

} // namespace

class TestLifecycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { configureApplication(*qApp); }

    void closingTheMainWindowEnds() {
        Shell s;
        QCOMPARE(runLoop([&] { s.h.window.close(); }), 0);
        QCOMPARE(s.messages(), QStringList({"Pellim: opened", "Pellim: closing"}));
    }

    void otherWindowsCloseAloneAndQuitLogsNothing() {
        Shell s;
        ActivityWindow *activity = s.delegate.activityWindow();
        QVERIFY(press(activity, Qt::Key_F1) && s.delegate.helpWindows().size() == 2);
        QVERIFY(s.help(1)->isVisible());
        QCOMPARE(runLoop([&] {
                     s.help(0)->close();
                     activity->close();
                     QTimer::singleShot(200, qApp, [] { QCoreApplication::exit(7); });
                 }),
                 7);
        // Activity brings back the one Activity window.
        QVERIFY(press(s.help(1), Qt::CTRL | Qt::Key_L));
        QVERIFY(s.delegate.activityWindow() == activity && activity->isVisible());
        QCOMPARE(runLoop([&] { press(s.help(1), Qt::CTRL | Qt::Key_Q); }), 0);
        QCOMPARE(s.messages(), QStringList{"Pellim: opened"});
    }
};

QTEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
