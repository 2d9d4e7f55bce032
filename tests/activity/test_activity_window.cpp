#include "app/ActivityWindow.h"
#include "controller/ActivityLog.h"
#include "platform/ConsentPrompt.h"
#include "platform/ConsentStore.h"
#include "platform/FolderGuard.h"
#include "platform/Journal.h"
#include "platform/JournalReader.h"
#include "support/Fakes.h"
#include "support/Harness.h"
#include "support/Modal.h"
#include "support/TestHome.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace pellim;
using pellim::test::waitUntil;

namespace {

constexpr int kWaitMs = 10000; // entries reach readers asynchronously

// Hands out records it was given, waking the window through a pipe the way the
// journal wakes it through its descriptor.
class FakeReader final : public JournalReader {
public:
    FakeReader() { QVERIFY(::pipe2(m_pipe, O_NONBLOCK | O_CLOEXEC) == 0); }
    ~FakeReader() override {
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }
    std::optional<JournalReadError> open() override { return failure; }
    int wakeFd() const override { return m_pipe[0]; }
    short wakeEvents() const override { return POLLIN; }
    std::vector<JournalRecord> readNew() override {
        char drain[64];
        while (::read(m_pipe[0], drain, sizeof drain) > 0) {
        }
        return std::exchange(m_pending, {});
    }
    void push(std::vector<JournalRecord> records) {
        m_pending.insert(m_pending.end(), records.begin(), records.end());
        QVERIFY(::write(m_pipe[1], "x", 1) == 1);
    }

    std::optional<JournalReadError> failure;

private:
    int m_pipe[2] = {-1, -1};
    std::vector<JournalRecord> m_pending;
};

// Sends each entry to the real journal and keeps a copy, so a test knows what the
// window should read back without restating any message text.
class TeeSink final : public LogSink {
public:
    void write(const LogEntry &entry) override {
        journal.write(entry);
        memory.write(entry);
    }
    JournalSink journal;
    MemoryLogSink memory;
};

JournalRecord record(int priority, const QString &subsystem, const QString &message,
                     std::int64_t usec = 0) {
    return JournalRecord{usec, priority, subsystem, QStringLiteral("general"), message};
}

QStringList row(const QAbstractItemModel *m, int r) {
    QStringList cells;
    for (int c = 0; c < m->columnCount(); ++c)
        cells << m->index(r, c).data().toString();
    return cells;
}

// Level, source and message of rows [from, end).
QStringList shownEntries(const QAbstractItemModel *m, int from) {
    QStringList out;
    for (int r = from; r < m->rowCount(); ++r)
        out << row(m, r).mid(1).join(QLatin1Char('|'));
    return out;
}

QStringList expectedEntries(const MemoryLogSink &sink) {
    QStringList out;
    for (const LogEntry &e : sink.entries()) {
        const QString source = e.subsystem == QLatin1String(kAppId)
                                   ? QStringLiteral("Pellim")
                                   : QStringLiteral("Folder guard");
        out << QStringList{e.level == LogLevel::Error ? "Error" : "Info", source, e.message}.join(
            '|');
    }
    return out;
}

bool hasMessage(const QAbstractItemModel *m, const QString &message) {
    for (int r = 0; r < m->rowCount(); ++r) {
        if (m->index(r, 3).data().toString() == message)
            return true;
    }
    return false;
}

} // namespace

class TestActivityWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showsTheRunsEntriesFromTheJournalInOrder();
    void keepsEntriesWrittenWhileHiddenAndAfterClear();
    void cannotReadTheJournal();
    void rowsLookAndCopy();
    void followsTheNewestUnlessScrolledUp();
    void closingOnlyHides();
    void processStartTime();
};

void TestActivityWindow::showsTheRunsEntriesFromTheJournalInOrder() {
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

    ActivityWindow activity(std::make_unique<SdJournalReader>());
    activity.showAndRaise();
    QCOMPARE(activity.notice(), QString());
    const QAbstractItemModel *m = activity.model();
    QTest::qWait(300); // whatever this process logged before settles first
    const int before = m->rowCount();

    h.window.show();          // "opened"
    h.window.doSaveConsent(); // Documents, allowed
    h.window.doOpenConsent(); // Documents, allowed: lists and reads note.txt
    h.window.folderList->setCurrentIndex(1);
    h.window.doOpenConsent(); // Desktop, denied
    QVERIFY(alert.shown.empty());

    const QStringList expected = expectedEntries(sink.memory);
    QVERIFY(expected.filter(QStringLiteral("Folder guard")).size() >= 3);
    QVERIFY(expected.filter(QStringLiteral("Error|")).size() >= 2);
    QVERIFY2(waitUntil([&] { return m->rowCount() >= before + int(expected.size()); }, kWaitMs),
             qPrintable(
                 QStringLiteral("%1 of %2 rows").arg(m->rowCount() - before).arg(expected.size())));
    QCOMPARE(shownEntries(m, before), expected);

    // Times are local, to the millisecond.
    const QString first = m->index(before, 0).data().toString();
    const QDateTime when = QDateTime::fromString(first, QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    QVERIFY2(when.isValid() && qAbs(when.secsTo(QDateTime::currentDateTime())) < 600,
             qPrintable(first));
}

void TestActivityWindow::keepsEntriesWrittenWhileHiddenAndAfterClear() {
    if (!JournalSink().journalListening())
        QSKIP("no journal daemon listens (scripts/ensure-journald starts one)");
    JournalSink sink;
    const LogHandle log(sink, QString::fromLatin1(kAppId), QStringLiteral("general"));
    const QString tag = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString early = QStringLiteral("Pellim: before the window, 100% ") + tag;
    log.write(LogLevel::Info, early);

    // Opened later, the window still starts at the beginning of the run.
    ActivityWindow activity(std::make_unique<SdJournalReader>());
    const QAbstractItemModel *m = activity.model();
    activity.showAndRaise();
    QVERIFY(waitUntil([&] { return hasMessage(m, early); }, kWaitMs));

    activity.close();
    QVERIFY(activity.isHidden());
    const QString hidden = QStringLiteral("Pellim: while hidden ") + tag;
    log.write(LogLevel::Error, hidden);
    QTest::qWait(200);
    activity.showAndRaise();
    QVERIFY(waitUntil([&] { return hasMessage(m, hidden); }, kWaitMs));

    // Clear empties the view, not the journal: later entries still come, and a
    // fresh reader still finds the earlier ones.
    QTest::mouseClick(activity.clearButton(), Qt::LeftButton);
    QCOMPARE(m->rowCount(), 0);
    const QString after = QStringLiteral("Pellim: after clear ") + tag;
    log.write(LogLevel::Info, after);
    QVERIFY(waitUntil([&] { return hasMessage(m, after); }, kWaitMs));
    QVERIFY(!hasMessage(m, early));
    QCOMPARE(m->rowCount(), 1);

    ActivityWindow fresh(std::make_unique<SdJournalReader>());
    QVERIFY(waitUntil(
        [&] { return hasMessage(fresh.model(), early) && hasMessage(fresh.model(), after); },
        kWaitMs));
}

void TestActivityWindow::cannotReadTheJournal() {
    // Nothing answers at the socket path.
    {
        QTemporaryDir dir;
        ActivityWindow activity(std::make_unique<SdJournalReader>(dir.filePath("socket")));
        activity.showAndRaise();
        const QString notice = activity.notice();
        QVERIFY2(notice.contains(QStringLiteral("no journal service is running")) &&
                     notice.contains(QStringLiteral("start it")) &&
                     notice.contains(QStringLiteral("standard error")),
                 qPrintable(notice));
        QCOMPARE(activity.model()->rowCount(), 0);
    }

    // No permission: the way in is named, and the entries are not said to go
    // to standard error, because the journal still records them.
    auto reader = std::make_unique<FakeReader>();
    FakeReader *fake = reader.get();
    fake->failure = JournalReadError{JournalReadError::Reason::NoPermission, EACCES};
    ActivityWindow activity(std::move(reader));
    activity.showAndRaise();
    QVERIFY(activity.notice().contains(QStringLiteral("systemd-journal group")));
    QVERIFY(!activity.notice().contains(QStringLiteral("standard error")));

    // Choosing the command again tries again; once it reads, the notice goes.
    fake->failure.reset();
    fake->push({record(6, QString::fromLatin1(kAppId), QStringLiteral("Pellim: opened"))});
    activity.showAndRaise();
    QCOMPARE(activity.notice(), QString());
    QVERIFY(waitUntil([&] { return activity.model()->rowCount() == 1; }));
}

void TestActivityWindow::rowsLookAndCopy() {
    auto reader = std::make_unique<FakeReader>();
    FakeReader *fake = reader.get();
    ActivityWindow activity(std::move(reader));
    activity.resize(900, 300);
    activity.showAndRaise();

    const QDateTime at(QDate(2024, 3, 5), QTime(14, 7, 9, 42));
    const std::int64_t usec = at.toMSecsSinceEpoch() * 1000 + 999;
    fake->push(
        {record(6, QString::fromLatin1(kAppId), QStringLiteral("Pellim: read from: /a%20b"), usec),
         record(3, QStringLiteral("org.pellim.FolderGuard"),
                QStringLiteral("Desktop folder, list access to /x\ty\nz: stored: denied"), usec)});
    const QAbstractItemModel *m = activity.model();
    QVERIFY(waitUntil([&] { return m->rowCount() == 2; }));

    QCOMPARE(row(m, 0), (QStringList{"2024-03-05 14:07:09.042", "Info", "Pellim",
                                     "Pellim: read from: /a%20b"}));
    // A tab or line feed in a file name cannot split a row or shift its columns.
    QCOMPARE(row(m, 1), (QStringList{"2024-03-05 14:07:09.042", "Error", "Folder guard",
                                     "Desktop folder, list access to /x\\ty\\nz: stored: denied"}));
    // Errors stand out by an icon as well as a colour; info rows carry neither.
    QVERIFY(!m->index(1, 1).data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(m->index(1, 3).data(Qt::ForegroundRole).isValid());
    QVERIFY(!m->index(0, 1).data(Qt::DecorationRole).isValid());
    QVERIFY(!m->index(0, 3).data(Qt::ForegroundRole).isValid());

    QTableView *table = activity.table();
    QVERIFY(!table->accessibleName().isEmpty());
    table->setFocus();
    table->selectAll();
    QApplication::clipboard()->clear();
    QTest::keySequence(table, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(),
             row(m, 0).join('\t') + '\n' + row(m, 1).join('\t') + '\n');

    // Tab leaves the table for the Clear button instead of walking its cells.
    QApplication::setActiveWindow(&activity);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), activity.clearButton());
}

void TestActivityWindow::followsTheNewestUnlessScrolledUp() {
    auto reader = std::make_unique<FakeReader>();
    FakeReader *fake = reader.get();
    ActivityWindow activity(std::move(reader));
    activity.resize(700, 250);
    activity.showAndRaise();
    const QAbstractItemModel *m = activity.model();
    QScrollBar *bar = activity.table()->verticalScrollBar();

    auto pushMany = [&](int n) {
        const int target = m->rowCount() + n;
        std::vector<JournalRecord> batch;
        for (int i = 0; i < n; ++i)
            batch.push_back(
                record(6, QString::fromLatin1(kAppId), QStringLiteral("Pellim: %1").arg(i)));
        fake->push(std::move(batch));
        QVERIFY(waitUntil([&] { return m->rowCount() == target; }));
        QApplication::processEvents();
    };

    pushMany(100);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(10); // the person scrolls up to read
    pushMany(50);
    QCOMPARE(bar->value(), 10);

    bar->setValue(bar->maximum()); // and back down: following again
    pushMany(50);
    QCOMPARE(bar->value(), bar->maximum());
}

void TestActivityWindow::closingOnlyHides() {
    ActivityWindow activity(std::make_unique<FakeReader>());
    activity.showAndRaise();
    // Closing the only window from inside the event loop: the application would
    // quit with 0 if this window counted; it must still be running to exit with 7.
    QTimer::singleShot(0, &activity, [&] {
        activity.close();
        QTimer::singleShot(300, qApp, [] { QCoreApplication::exit(7); });
    });
    QCOMPARE(QApplication::exec(), 7);
    QVERIFY(activity.isHidden());
}

void TestActivityWindow::processStartTime() {
    // The reader starts at the moment the process started, so a process that
    // earlier had the same identifier does not show up. A child started now
    // must be placed between the two clock readings around its start.
    auto monotonicUsec = [] {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u;
    };
    const std::uint64_t tick = 1000000u / std::uint64_t(sysconf(_SC_CLK_TCK));
    const auto own = processStartMonotonicUsec(getpid());
    QVERIFY(own);
    QProcess child;
    const std::uint64_t before = monotonicUsec();
    child.start(QStringLiteral("sleep"), {QStringLiteral("5")});
    QVERIFY(child.waitForStarted());
    const auto start = processStartMonotonicUsec(pid_t(child.processId()));
    const std::uint64_t after = monotonicUsec();
    child.kill();
    child.waitForFinished();
    QVERIFY(start);
    QVERIFY2(*start + 2 * tick >= before && *start <= after,
             qPrintable(QStringLiteral("%1 not in [%2, %3]").arg(*start).arg(before).arg(after)));
    QVERIFY(*own <= *start);
    QVERIFY(!processStartMonotonicUsec(pid_t(child.processId())));
}

QTEST_MAIN(TestActivityWindow)
#include "test_activity_window.moc"
