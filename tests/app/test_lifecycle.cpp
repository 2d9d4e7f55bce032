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

using pellim::AppDelegate;
using pellim::test::Harness;
using pellim::test::TestHome;

namespace {

constexpr int kNotEnded = 99;

// Runs the application's own event loop, as the program does, with `steps`
// run from inside it. Returns the loop's exit status; kNotEnded when nothing
// ended the application within a generous time.
int runLoop(const std::function<void()> &steps) {
    QTimer::singleShot(0, qApp, steps);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(kNotEnded); });
    guard.start(10000);
    return QApplication::exec();
}

// The main window and the delegate, wired as the application wires them.
struct Shell {
    TestHome home;
    Harness h;
    AppDelegate delegate;
    Shell() {
        pellim::connectDelegate(h.window, delegate);
        h.window.show();
    }
};

QStringList messages(const pellim::MemoryLogSink &log) {
    QStringList all;
    for (const auto &e : log.entries())
        all << e.message;
    return all;
}

} // namespace

class TestLifecycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { pellim::configureApplication(*qApp); }
    void closingTheWindowLogsAndEnds();
    void quitEndsWithoutAnEntry();
    void helpWindowsAccumulateAndNeverEnd();
};

void TestLifecycle::closingTheWindowLogsAndEnds() {
    Shell shell;
    auto &[home, h, delegate] = shell;
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));

    // A help window stays open: it must neither keep the application alive
    // nor see a second close of the main window.
    h.window.helpAction()->trigger();
    const int status = runLoop([&] { h.window.close(); });
    QCOMPARE(status, 0);
    QVERIFY(!h.window.isVisible());
    QCOMPARE(messages(h.log), QStringList({"Pellim: opened", "Pellim: closing"}));
    QCOMPARE(h.log.entries().back().level, pellim::LogLevel::Info);
}

void TestLifecycle::quitEndsWithoutAnEntry() {
    Shell shell;
    auto &[home, h, delegate] = shell;
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));
    h.window.helpAction()->trigger();

    // Ctrl+Q quits from any of the application's windows, here a help window.
    QWidget *help = delegate.helpWindows().front()->window();
    help->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(help));
    const int status = runLoop([&] { QTest::keyClick(help, Qt::Key_Q, Qt::ControlModifier); });
    QCOMPARE(status, 0);
    QCOMPARE(messages(h.log), QStringList({"Pellim: opened"}));
}

void TestLifecycle::helpWindowsAccumulateAndNeverEnd() {
    Shell shell;
    auto &[home, h, delegate] = shell;
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));

    QVERIFY(delegate.helpWindows().empty());
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    QTest::keyClick(&h.window, Qt::Key_F1);
    h.window.helpAction()->trigger();
    QCOMPARE(delegate.helpWindows().size(), std::size_t(2));
    QWidget *first = delegate.helpWindows()[0]->window();
    QWidget *second = delegate.helpWindows()[1]->window();
    QVERIFY(first != second);
    QVERIFY(first->isWindow() && first->isVisible() && second->isVisible());
    QCOMPARE(first->windowTitle(), QStringLiteral("Pellim Help"));
    const QString help = first->findChild<QTextBrowser *>()->toPlainText();
    QVERIFY2(help.contains(QStringLiteral("journalctl -f SYSLOG_IDENTIFIER=pellim")),
             qPrintable(help.left(200)));
    QVERIFY(help.contains(QStringLiteral("Intent")) && help.contains(QStringLiteral("Consent")));

    // Closing both help windows, the last one included, leaves the
    // application running; only the guard timer ends this loop.
    const int status = runLoop([&] {
        first->close();
        second->close();
        QTimer::singleShot(200, qApp, [] { QCoreApplication::exit(7); });
    });
    QCOMPARE(status, 7);
    QVERIFY(!first->isVisible() && !second->isVisible());
    QVERIFY(h.window.isVisible());
    QCOMPARE(delegate.helpWindows().size(), std::size_t(2));

    // A later Help command opens a fresh window and leaves the closed ones be.
    h.window.helpAction()->trigger();
    QCOMPARE(delegate.helpWindows().size(), std::size_t(3));
    QWidget *third = delegate.helpWindows()[2]->window();
    QVERIFY(third != first && third != second);
    QVERIFY(third->isVisible() && !first->isVisible());

    // Help writes nothing to the log.
    QCOMPARE(messages(h.log), QStringList({"Pellim: opened"}));
}

QTEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
