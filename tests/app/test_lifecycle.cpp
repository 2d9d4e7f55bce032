#include "app/AppDelegate.h"
#include "app/Application.h"
#include "app/HelpWindowController.h"
#include "support/Harness.h"
#include "support/TestHome.h"

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <functional>

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

// The main window and the delegate, wired as the application wires them, with
// one help window open.
struct Shell {
    pellim::test::TestHome home;
    pellim::test::Harness h;
    pellim::AppDelegate delegate;
    Shell() {
        pellim::connectDelegate(h.window, delegate);
        h.window.show();
        h.window.helpAction()->trigger();
    }
    QWidget *help(std::size_t i) const { return delegate.helpWindows().at(i)->window(); }
    QString messages() const {
        QStringList all;
        for (const auto &e : h.log.entries())
            all << e.message + (e.level == pellim::LogLevel::Info ? "" : " (error)");
        return all.join(", ");
    }
};

} // namespace

class TestLifecycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { pellim::configureApplication(*qApp); }

    // Closing the main window logs "closing" and ends the application, even with
    // a help window open.
    void closingTheWindowLogsAndEnds() {
        Shell s;
        QCOMPARE(runLoop([&] { s.h.window.close(); }), 0);
        QVERIFY(!s.h.window.isVisible());
        QCOMPARE(s.messages(), "Pellim: opened, Pellim: closing");
    }

    // Help windows accumulate, and closing them never ends the application; help
    // and Quit (Ctrl+Q, from any window) log nothing.
    void helpWindowsAndQuit() {
        Shell s;
        s.h.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.h.window));
        QTest::keyClick(&s.h.window, Qt::Key_F1);
        QCOMPARE(s.delegate.helpWindows().size(), std::size_t(2));
        QVERIFY(s.help(0) != s.help(1) && s.help(0)->isVisible() && s.help(1)->isVisible());
        QCOMPARE(s.help(0)->windowTitle(), QStringLiteral("Pellim Help"));
        const QString text = s.help(0)->findChild<QTextBrowser *>()->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("journalctl -f SYSLOG_IDENTIFIER=pellim")),
                 qPrintable(text.left(200)));
        QCOMPARE(runLoop([&] {
                     s.help(0)->close();
                     s.help(1)->close();
                     QTimer::singleShot(200, qApp, [] { QCoreApplication::exit(7); });
                 }),
                 7);
        QVERIFY(!s.help(0)->isVisible() && !s.help(1)->isVisible() && s.h.window.isVisible());

        // A later Help command opens a fresh window and leaves the closed ones be.
        s.h.window.helpAction()->trigger();
        QVERIFY(s.help(2)->isVisible() && !s.help(0)->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(s.help(2)));
        QCOMPARE(runLoop([&] { QTest::keyClick(s.help(2), Qt::Key_Q, Qt::ControlModifier); }), 0);
        QCOMPARE(s.messages(), "Pellim: opened");
    }
};

QTEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
