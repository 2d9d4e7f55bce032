// The Activity window: the run's entries read back from the journal, live, in
// order; what it says when it cannot read them; rows as a person reads and copies them.
#include "app/ActivityWindow.h"
#include "consent/ConsentStore.h"
#include "journal/JournalSink.h"
#include "panels/ConsentDialog.h"
#include "support/WindowFixture.h"

#include <QClipboard>
#include <QComboBox>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableView>

#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pellim;
using namespace pellim::test;

namespace {

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

// Sends each entry to the real journal and keeps the row the window should show.
struct TeeSink final : LogSink {
    void write(const LogEntry &entry) override {
        journal.write(entry);
        const bool mine = entry.subsystem == QLatin1String(kAppId);
        QString message = entry.message;
        message.remove(QRegularExpression(mine ? "^Pellim: " : "^Folder guard: "));
        shown << QStringList{entry.level == LogLevel::Error ? "Error" : "Info",
                             mine ? "Pellim" : "Folder guard", message}
                     .join('|');
    }
    JournalSink journal;
    QStringList shown;
};

JournalRecord record(int priority, const char *subsystem, const char *message,
                     std::int64_t usec = 0) {
    return {usec, priority, subsystem, "general", message};
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
    // A real run's own and guard entries come back from the journal in order: to a
    // window opened later, and to it while hidden and after Clear.
    void showsTheRunsEntriesFromTheJournal() {
        if (!JournalSink().journalListening())
            QSKIP("no journal daemon listens (scripts/ensure-journald starts one)");
        TestHome home;
        home.makeFile("home/Documents/note.txt", "A short note.\n");
        ConsentStore store(ConsentStore::defaultPath());
        QVERIFY(store.setAnswer(GuardedFolder::Documents, ConsentAnswer::Allowed));
        QVERIFY(store.setAnswer(GuardedFolder::Desktop, ConsentAnswer::Denied));
        TeeSink sink;
        DialogConsentPrompter prompter; // never asked: every folder used has an answer
        FolderGuard guard(sink, prompter);
        Timeline alerts;
        Harness h(&guard, &alerts, nullptr, &sink);
        h.window.show();          // "opened"
        h.window.doSaveConsent(); // Documents, allowed
        h.window.doOpenConsent(); // Documents, allowed: lists and reads note.txt
        h.window.folderList->setCurrentIndex(1);
        h.window.doOpenConsent(); // Desktop, denied
        QVERIFY(sink.shown.filter("Folder guard|").size() >= 3);
        const auto showsAll = [&](const ActivityWindow &window) {
            return QTest::qWaitFor([&] { return tail(window, sink.shown.size()) == sink.shown; },
                                   10000);
        };

        // The guard process writes its own entries; they show beside Pellim's.
        const LogEntry fromGuard{LogLevel::Info, QStringLiteral("org.pellim.FolderGuard"),
                                 QStringLiteral("decisions"), QStringLiteral("from the guard")};
        const pid_t guardProcess = ::fork();
        if (guardProcess == 0) {
            JournalSink(stderr).write(fromGuard);
            ::_exit(0);
        }
        QCOMPARE(::waitpid(guardProcess, nullptr, 0), guardProcess);
        sink.shown << "Info|Folder guard|from the guard";
        ActivityWindow activity(std::make_unique<SdJournalReader>(
            QStringLiteral("/run/systemd/journal/socket"), 0, guardProcess));
        activity.showAndRaise();
        QCOMPARE(activity.notice(), QString());
        QVERIFY2(showsAll(activity), qPrintable(tail(activity, sink.shown.size()).join('\n')));

        activity.close();
        h.window.gen_log.write(LogLevel::Error, QStringLiteral("Pellim: while hidden"));
        QTest::qWait(200);
        activity.showAndRaise();
        QVERIFY(showsAll(activity));
        // Clear empties the view, not the journal; later entries still come.
        QTest::mouseClick(activity.clearButton(), Qt::LeftButton);
        QCOMPARE(activity.model()->rowCount(), 0);
        h.window.hide();
        h.window.show(); // "opened" again
        QVERIFY(QTest::qWaitFor(
            [&] {
                return tail(activity, 2) == QStringList{"", sink.shown.back()};
            },
            10000));
    }

    void cannotReadTheJournal() {
        {
            QTemporaryDir dir; // nothing answers at this socket
            ActivityWindow activity(std::make_unique<SdJournalReader>(dir.filePath("socket")));
            activity.showAndRaise();
            QVERIFY2(activity.notice().contains("no journal service is running"),
                     qPrintable(activity.notice()));
        }
        auto reader = std::make_unique<FakeReader>();
        FakeReader *fake = reader.get();
        fake->failure = JournalReadError{JournalReadError::Reason::NoPermission, EACCES};
        ActivityWindow activity(std::move(reader));
        activity.showAndRaise();
        QVERIFY(activity.notice().contains("systemd-journal group"));
        // Choosing the command again tries again; once it reads, the notice goes.
        fake->failure.reset();
        fake->pending = {record(6, kAppId, "Pellim: opened")};
        activity.showAndRaise();
        QCOMPARE(activity.notice(), QString());
        QCOMPARE(activity.model()->rowCount(), 1);
    }

    // A tab or line feed in a file name cannot split a row or shift its columns;
    // errors stand out; rows copy as tab-separated lines.
    void rowsLookAndCopy() {
        qputenv("TZ", "XYZ-05:30"); // times show in local time, whatever the machine's zone
        tzset();
        auto reader = std::make_unique<FakeReader>();
        const QDateTime at(QDate(2024, 3, 5), QTime(14, 7, 9, 42));
        const std::int64_t usec = at.toMSecsSinceEpoch() * 1000 + 999;
        reader->pending = {record(6, kAppId, "Pellim: read from: /a%20b", usec),
                           record(3, "org.pellim.FolderGuard",
                                  "Desktop folder, list access to /x\ty\nz: stored: denied", usec)};
        ActivityWindow activity(std::move(reader));
        activity.showAndRaise();
        const QStringList rows{"2024-03-05 14:07:09.042|Info|Pellim|read from: /a%20b",
                               "2024-03-05 14:07:09.042|Error|Folder guard|"
                               "Desktop folder, list access to /x\\ty\\nz: stored: denied"};
        QCOMPARE(tail(activity, 3, 0), QStringList({""}) + rows);
        QVERIFY(activity.model()->index(1, 1).data(Qt::DecorationRole).isValid());
        QVERIFY(!activity.model()->index(0, 1).data(Qt::DecorationRole).isValid());

        QApplication::setActiveWindow(&activity);
        activity.table()->setFocus();
        activity.table()->selectAll();
        QApplication::clipboard()->clear();
        QTest::keySequence(activity.table(), QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), rows.join('\n').replace('|', '\t') + '\n');
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
            fake->push(std::vector(50, record(6, kAppId, "Pellim: opened")));
            QVERIFY(QTest::qWaitFor([&] { return activity.model()->rowCount() == rows; }));
            QApplication::processEvents();
            QCOMPARE(bar->value(), scrolledTo >= 0 ? scrolledTo : bar->maximum());
        }
    }
};

QTEST_MAIN(TestActivityWindow)
#include "test_activity_window.moc"
