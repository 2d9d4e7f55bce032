// Closing the main window logs "closing" and ends the run, whatever else is open;
// closing a help window or the Activity window ends nothing; Quit (Ctrl+Q), Help
// (F1) and Activity (Ctrl+L) answer in every window, though only the main window
// has the menus that hold them. Quit logs nothing. Help and Activity open beside
// the main window and on screen. The command line of both programs.
#include "app/ActivityWindow.h"
#include "app/AppDelegate.h"
#include "app/Application.h"
#include "app/HelpWindowController.h"
#include "panels/AppIdentity.h"
#include "support/WindowFixture.h"

#include <QAccessible>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStatusBar>
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

    // The offscreen screen (800 x 600) is smaller than both windows: they are
    // made to fit, and neither lands on the main window's corner.
    void besideTheMainWindowAndOnScreen() {
        Shell s;
        const QRect room = s.h.window.screen()->availableGeometry();
        for (QWidget *w : {s.help(0), static_cast<QWidget *>(s.delegate.activityWindow())}) {
            QVERIFY2(room.contains(w->frameGeometry()), qPrintable(w->windowTitle()));
            QVERIFY(w->pos() != s.h.window.pos());
        }
        QVERIFY(room.contains(s.delegate.activityWindow()->clearButton()->mapTo(
            s.delegate.activityWindow(), QPoint(0, 0))));
    }

    // A screen reader hears the whole guard line, not a name standing in for it.
    void guardLineHeardInFull() {
        Shell s;
        showGuardInForce(s.h.window, "Folder guard: enforced by the kernel");
        const auto *line = s.h.window.statusBar()->findChild<QLabel *>("guardInForce");
        QCOMPARE(QAccessible::queryAccessibleInterface(const_cast<QLabel *>(line))
                     ->text(QAccessible::Name),
                 "Folder guard: enforced by the kernel");
    }

    // --help and --version answer at once, with no display to open a window
    // on; anything unknown is a usage error.
    void commandLine_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says"); // on standard output, or error when failing
        QTest::newRow("pellim version") << "pellim --version" << 0 << "pellim " PELLIM_VERSION "\n";
        QTest::newRow("pellim help") << "pellim -h" << 0 << "--version";
        QTest::newRow("pellim unknown option") << "pellim --bogus" << 2 << "Unknown option 'bogus'";
        QTest::newRow("pellim with Qt's options")
            << "pellim -style fusion -reverse --version" << 0 << "pellim " PELLIM_VERSION "\n";
        QTest::newRow("consent version")
            << "pellim-consent --version" << 0 << "pellim-consent " PELLIM_VERSION "\n";
        QTest::newRow("consent help") << "pellim-consent --help" << 0 << "reset all";
        QTest::newRow("consent unknown option")
            << "pellim-consent --frobnicate" << 2 << "Unknown option 'frobnicate'";
        QTest::newRow("guard version")
            << "pellim-guard --version" << 0 << "pellim-guard " PELLIM_VERSION "\n";
        QTest::newRow("guard help") << "pellim-guard --help" << 0 << "run [--name NAME] [--hold-every-call] --";
        QTest::newRow("guard unknown option")
            << "pellim-guard run --frob -- sh" << 2 << "unknown option '--frob'";
        QTest::newRow("guard without a program") << "pellim-guard run --" << 2 << "no program";
        QTest::newRow("guard, a program nowhere on PATH")
            << "pellim-guard run -- no-such-program-here" << 127 << "command not found";
        QTest::newRow("guard, a folder named as the program")
            << "pellim-guard run -- /etc" << 126 << "/etc is not an executable file";
    }
    void commandLine() {
        QFETCH(QString, line);
        QFETCH(int, status);
        QFETCH(QString, says);
        QStringList words = line.split(' ');
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY"), env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", "xcb");
        p.setProcessEnvironment(env);
        p.start(PELLIM_BINARY_DIR "/" + words.takeFirst(), words);
        QVERIFY(p.waitForFinished(20000));
        const QString out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), status);
        QVERIFY2(status ? err.contains(says) : out.contains(says) && err.isEmpty(),
                 qPrintable(out + err));
    }
};

QTEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
