#include "app/ActivityWindow.h"
#include "app/AppDelegate.h"
#include "app/Application.h"
#include "guard/ConsentStore.h"
#include "guard/FolderGuard.h"
#include "journal/JournalSink.h"
#include "panels/ConsentDialog.h"
#include "support/Harness.h"
#include "support/Modal.h"
#include "support/TestHome.h"

#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <unistd.h>

using namespace pellim;
using pellim::test::waitUntil;

namespace {

constexpr int kWaitMs = 10000; // entries reach readers asynchronously

// Hands out the records pushed to it, waking the window through a pipe.
class FakeReader final : public JournalReader {
public:
    FakeReader() { QVERIFY(::pipe2(m_pipe, O_NONBLOCK | O_CLOEXEC) == 0); }
    ~FakeReader() override { ::close(m_pipe[0]), ::close(m_pipe[1]); }
    std::optional<JournalReadError> open() override { return failure; }
    int wakeFd() const override { return m_pipe[0]; }
    short wakeEvents() const override { return POLLIN; }
    std::vector<JournalRecord> readNew() override {
        char drain[64];
        while (::read(m_pipe[0], drain, sizeof drain) > 0) {
        }
        return std::exchange(pending, {});
    }
    void push(const std::vector<JournalRecord> &records) {
        pending.insert(pending.end(), records.begin(), records.end());
        QVERIFY(::write(m_pipe[1], "x", 1) == 1);
    }
    std::optional<JournalReadError> failure;
    std::vector<JournalRecord> pending; // read at once when the window opens the reader

private:
    int m_pipe[2] = {-1, -1};
};

// Sends each entry to the real journal and keeps what the window should show of it.
struct TeeSink final : LogSink {
    void write(const LogEntry &entry) override {
        journal.write(entry);
        shown << QStringList{entry.level == LogLevel::Error ? "Error" : "Info",
                             entry.subsystem == QLatin1String(kAppId) ? "Pellim" : "Folder guard",
                             entry.message}
                     .join('|');
    }
    JournalSink journal;
    QStringList shown;
};

JournalRecord record(int priority, const char *subsystem, const QString &message,
                     std::int64_t usec = 0) {
    return {usec, priority, QString::fromLatin1(subsystem), QStringLiteral("general"), message};
}

// The last `n` rows, cells from column `from` on joined by '|'; "" for each row missing.
QStringList tail(const ActivityWindow &window, qsizetype n, int from = 1) {
    const QAbstractItemModel *m = window.model();
    QStringList rows;
    for (int r = m->rowCount() - int(n); r < m->rowCount(); ++r) {
        QStringList cells;
        for (int c = from; r >= 0 && c < m->columnCount(); ++c)
            cells << m->index(r, c).data().toString();
        rows << cells.join('|');
    }
    return rows;
}

} // namespace

class TestActivityWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A real run's program and guard entries come back from the journal in order:
    // to a window opened later, while it is hidden, after Clear, and to a fresh reader.
    void showsTheRunsEntriesFromTheJournal() {
        if (!JournalSink().journalListening())
            QSKIP("no journal daemon listens (scripts/ensure-journald starts one)");
        test::TestHome home;
        home.makeFile(QStringLiteral("home/Documents/note.txt"), "A short note.\n");
        ConsentStore store(ConsentStore::defaultPath());
        QVERIFY(store.setAnswer(GuardedFolder::Documents, ConsentAnswer::Allowed));
        QVERIFY(store.setAnswer(GuardedFolder::Desktop, ConsentAnswer::Denied));
        TeeSink sink;
        DialogConsentPrompter prompter; // never asked: every folder used has an answer
        FolderGuard guard(sink, prompter);
        test::RecordingAlert alert;
        test::Harness h(&guard, &alert, nullptr, &sink);
        h.window.show();          // "opened"
        h.window.doSaveConsent(); // Documents, allowed
        h.window.doOpenConsent(); // Documents, allowed: lists and reads note.txt
        h.window.folderList->setCurrentIndex(1);
        h.window.doOpenConsent(); // Desktop, denied
        QVERIFY(sink.shown.filter("Folder guard|").size() >= 3);
        QVERIFY(sink.shown.filter("Error|").size() >= 2);
        const auto showsAll = [&](const ActivityWindow &window) {
            return waitUntil([&] { return tail(window, sink.shown.size()) == sink.shown; },
                             kWaitMs);
        };

        ActivityWindow activity(std::make_unique<SdJournalReader>());
        activity.showAndRaise();
        QCOMPARE(activity.notice(), QString());
        QVERIFY2(showsAll(activity), qPrintable(tail(activity, sink.shown.size()).join('\n')));
        // Times are local, to the millisecond.
        const QDateTime when =
            QDateTime::fromString(activity.model()->index(0, 0).data().toString(),
                                  QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        QVERIFY(when.isValid() && qAbs(when.secsTo(QDateTime::currentDateTime())) < 600);

        activity.close();
        h.window.gen_log.write(LogLevel::Error, QStringLiteral("Pellim: while hidden, 100%"));
        QTest::qWait(200);
        activity.showAndRaise();
        QVERIFY(showsAll(activity));
        // Clear empties the view, not the journal.
        QTest::mouseClick(activity.clearButton(), Qt::LeftButton);
        QCOMPARE(activity.model()->rowCount(), 0);
        h.window.hide();
        h.window.show(); // "opened" again
        const QStringList onlyLast{"", sink.shown.back()};
        QVERIFY(waitUntil([&] { return tail(activity, 2) == onlyLast; }, kWaitMs));
        ActivityWindow fresh(std::make_unique<SdJournalReader>());
        QVERIFY(showsAll(fresh));
    }

    void cannotReadTheJournal() {
        {
            QTemporaryDir dir; // nothing answers at this socket
            ActivityWindow activity(std::make_unique<SdJournalReader>(dir.filePath("socket")));
            activity.showAndRaise();
            const QString notice = activity.notice();
            QVERIFY2(notice.contains("no journal service is running") &&
                         notice.contains("start it") && notice.contains("standard error"),
                     qPrintable(notice));
            QCOMPARE(activity.model()->rowCount(), 0);
        }
        // No permission: the way in is named, and entries are not said to go to
        // standard error, because the journal still records them.
        auto reader = std::make_unique<FakeReader>();
        FakeReader *fake = reader.get();
        fake->failure = JournalReadError{JournalReadError::Reason::NoPermission, EACCES};
        ActivityWindow activity(std::move(reader));
        activity.showAndRaise();
        QVERIFY(activity.notice().contains("systemd-journal group"));
        QVERIFY(!activity.notice().contains("standard error"));
        // Choosing the command again tries again; once it reads, the notice goes.
        fake->failure.reset();
        fake->pending = {record(6, kAppId, QStringLiteral("Pellim: opened"))};
        activity.showAndRaise();
        QCOMPARE(activity.notice(), QString());
        QCOMPARE(activity.model()->rowCount(), 1);
    }

    void rowsLookAndCopy() {
        auto reader = std::make_unique<FakeReader>();
        const QDateTime at(QDate(2024, 3, 5), QTime(14, 7, 9, 42));
        const std::int64_t usec = at.toMSecsSinceEpoch() * 1000 + 999;
        reader->pending = {
            record(6, kAppId, QStringLiteral("Pellim: read from: /a%20b"), usec),
            record(3, "org.pellim.FolderGuard",
                   QStringLiteral("Desktop folder, list access to /x\ty\nz: stored: denied"),
                   usec)};
        ActivityWindow activity(std::move(reader));
        activity.showAndRaise();
        // A tab or line feed in a file name cannot split a row or shift its columns.
        const QStringList rows{"2024-03-05 14:07:09.042|Info|Pellim|Pellim: read from: /a%20b",
                               "2024-03-05 14:07:09.042|Error|Folder guard|"
                               "Desktop folder, list access to /x\\ty\\nz: stored: denied"};
        QCOMPARE(tail(activity, 3, 0), QStringList({""}) + rows);
        const QAbstractItemModel *m = activity.model();
        // Errors stand out by an icon as well as a colour; info rows carry neither.
        QVERIFY(!m->index(1, 1).data(Qt::DecorationRole).value<QIcon>().isNull());
        QVERIFY(m->index(1, 3).data(Qt::ForegroundRole).isValid());
        QVERIFY(!m->index(0, 1).data(Qt::DecorationRole).isValid());
        QVERIFY(!m->index(0, 3).data(Qt::ForegroundRole).isValid());

        QTableView *table = activity.table();
        QVERIFY(!table->accessibleName().isEmpty());
        QApplication::setActiveWindow(&activity);
        table->setFocus();
        table->selectAll();
        QApplication::clipboard()->clear();
        QTest::keySequence(table, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), rows.join('\n').replace('|', '\t') + '\n');
        // Tab leaves the table for the Clear button instead of walking its cells.
        QTest::keyClick(table, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), activity.clearButton());
    }

    // The view follows the newest entry, unless the person has scrolled up to read.
    void followsTheNewestUnlessScrolledUp() {
        auto reader = std::make_unique<FakeReader>();
        FakeReader *fake = reader.get();
        ActivityWindow activity(std::move(reader));
        activity.resize(700, 250);
        activity.showAndRaise();
        QScrollBar *bar = activity.table()->verticalScrollBar();
        for (const int scrolledTo : {-1, 10, -1}) {
            if (scrolledTo >= 0 || bar->maximum() > 0)
                bar->setValue(scrolledTo >= 0 ? scrolledTo : bar->maximum());
            const int rows = activity.model()->rowCount() + 50;
            fake->push(std::vector(50, record(6, kAppId, QStringLiteral("Pellim: opened"))));
            QVERIFY(waitUntil([&] { return activity.model()->rowCount() == rows; }));
            QApplication::processEvents();
            QVERIFY(bar->maximum() > 0);
            QCOMPARE(bar->value(), scrolledTo >= 0 ? scrolledTo : bar->maximum());
        }
    }

    void closingOnlyHides() {
        ActivityWindow activity(std::make_unique<FakeReader>());
        activity.showAndRaise();
        // Closing the only window: the application would quit with 0 if this
        // window counted; it must still be running to exit with 7.
        QTimer::singleShot(0, &activity, [&] {
            activity.close();
            QTimer::singleShot(300, qApp, [] { QCoreApplication::exit(7); });
        });
        QCOMPARE(QApplication::exec(), 7);
        QVERIFY(activity.isHidden());
    }

    // Window > Activity (Ctrl+L), between Tests and Help, shows the one Activity
    // window of the run, and logs nothing.
    void windowMenuShowsOneActivityWindow() {
        test::TestHome home;
        test::Harness h;
        AppDelegate delegate;
        connectDelegate(h.window, delegate);
        h.window.show();
        QStringList menus;
        for (QAction *menu : h.window.menuBar()->actions())
            menus << menu->text().remove('&');
        QCOMPARE(menus.mid(menus.indexOf("Tests"), 3), QStringList({"Tests", "Window", "Help"}));
        const auto *window = h.window.menuBar()->findChild<QMenu *>("menuWindow");
        QCOMPARE(window->actions().value(0)->text().remove('&'), "Activity");

        QVERIFY(QTest::qWaitForWindowActive(&h.window));
        QTest::keySequence(&h.window, QKeySequence(Qt::CTRL | Qt::Key_L));
        ActivityWindow *shown = delegate.activityWindow();
        QVERIFY(shown && shown->isVisible());
        shown->close();
        QVERIFY(shown->isHidden() && h.window.isVisible());
        window->actions().value(0)->trigger();
        QCOMPARE(delegate.activityWindow(), shown);
        QVERIFY(shown->isVisible());
        QCOMPARE(h.log.entries().size(), std::size_t(1)); // only "opened"
    }

    // The reader starts where this process started (so that an earlier process
    // with the same identifier does not show up): moments ago, on this boot's clock.
    void processStartTime() {
        const auto own = processStartMonotonicUsec(getpid());
        const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
        QVERIFY(own && std::int64_t(*own) <= now && now - std::int64_t(*own) < 60'000'000);
        QVERIFY(!processStartMonotonicUsec(std::numeric_limits<pid_t>::max()));
    }
};

QTEST_MAIN(TestActivityWindow)
#include "test_activity_window.moc"
