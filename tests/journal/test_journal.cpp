#include "journal/EntryFolding.h"
#include "journal/JournalSink.h"
#include "support/JournalQuery.h"
#include "support/MemoryLogSink.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <thread>

using namespace pellim;

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE *)>;

File tempFile() {
    return File(std::tmpfile(), &std::fclose);
}

QByteArray contents(FILE *file) {
    QFile f;
    return f.open(file, QIODevice::ReadOnly) && f.seek(0) ? f.readAll() : "<unreadable>";
}

LogEntry entry(const QString &message, LogLevel level = LogLevel::Info) {
    return {level, QStringLiteral("org.pellim.Pellim"), QStringLiteral("general"), message};
}

// A datagram socket bound at `path` that stands in for the journal daemon; it
// reads only when the test asks it to.
int bindDaemon(const QString &path) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    return ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 ? fd : -1;
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Events at a time in ms: "a@0" a foldable entry of kind a ("a*5000@0" that
    // many), "w@0" one written at once, "end@0" a look between calls; the
    // object ends after the last, as the guard does. A count is "a +N".
    void repeatedEntriesFold_data() {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("the first in full, the rest of its second counted")
            << "a@0 a@10 a@999" << QStringList{"a@0", "a +2"};
        QTest::newRow("one alone leaves no count") << "a@0" << QStringList{"a@0"};
        QTest::newRow("a count with thousands") << "a*5000@0" << QStringList{"a*5000@0", "a +4,999"};
        QTest::newRow("a new second begins in full, after the last one's count")
            << "a@0 a@500 a@1000 a@1500" << QStringList{"a@0", "a +1", "a@1000", "a +1"};
        QTest::newRow("kinds fold apart")
            << "a@0 b@0 a@0 b@0 a@0" << QStringList{"a@0", "b@0", "a +2", "b +1"};
        QTest::newRow("an entry never folded comes after the counts ended before it")
            << "a@0 a@1 w@2 w@1200" << QStringList{"a@0", "w@2", "a +1", "w@1200"};
        QTest::newRow("a count is written between calls once its second ends")
            << "a@0 a@1 end@999 w@999 end@1000 w@1001"
            << QStringList{"a@0", "w@999", "a +1", "w@1001"};
    }
    void repeatedEntriesFold() {
        QFETCH(QString, events);
        QFETCH(QStringList, written);
        MemoryLogSink sink;
        EntryFolding::Clock::time_point now{};
        {
            EntryFolding folding(LogHandle(sink, "s", "c"), [&] { return now; });
            for (const QString &event : events.split(' ')) {
                const QString what = event.section('@', 0, 0).section('*', 0, 0);
                const int times = qMax(1, event.section('@', 0, 0).section('*', 1).toInt());
                now = EntryFolding::Clock::time_point{} +
                      std::chrono::milliseconds(event.section('@', 1).toInt());
                for (int i = 0; i < times; ++i) {
                    if (what == "end")
                        (void)folding.writeEnded();
                    else if (what == "w")
                        folding.write(LogLevel::Info, event);
                    else
                        folding.writeFoldable(what, event, [what](std::uint64_t more) {
                            return what + " +" + countText(more);
                        });
                }
            }
        }
        QStringList messages;
        for (const LogEntry &e : sink.entries())
            messages << e.message;
        QCOMPARE(messages, written);
    }

    // The daemon takes every entry in the native form as sent: a format-like text,
    // any script, a line feed (which needs the length-prefixed form), an entry
    // larger than a datagram may be (which must go as a file passed along), and
    // an extra field, without those whose names the journal would not take or
    // that would forge a trusted field or a second message.
    void realJournalKeepsFieldsAndExactText() {
        if (!test::JournalQuery::daemonListening())
            QSKIP("no journal daemon listens (scripts/ensure-journald starts one)");
        test::JournalQuery query;
        QVERIFY(query.isOpen());
        const File fallback = tempFile();
        JournalSink sink(fallback.get());
        QList<LogEntry> sent{
            entry("trying to read from: /tmp/%s %n 100%"),
            entry("couldn't read from: /home/zoë/Grüße/日本語 😀.txt", LogLevel::Error),
            entry("first line\nsecond line"), entry("long\n" + QString(1 << 20, 'x')),
            entry("with a field")};
        LogEntry &extra = sent.last();
        for (const char *name : {"PELLIM_PROGRAM", "_PID", "lower", "9LIVES", "MESSAGE", ""})
            extra.fields.emplace_back(name, "/usr/bin/n\npm");
        extra.fields.emplace_back(QByteArray(65, 'L'), "x");
        for (const LogEntry &e : sent)
            sink.write(e);

        const auto entries = query.waitForEntries(std::size_t(sent.size()));
        QCOMPARE(entries.size(), std::size_t(sent.size()));
        for (qsizetype i = 0; i < sent.size(); ++i) {
            // The daemon adds trusted fields (they start with '_'); the entry
            // itself carries exactly these five, and no source location.
            std::map<QByteArray, QByteArray> own;
            for (const auto &[name, value] : entries[std::size_t(i)].fields)
                if (!name.startsWith('_'))
                    own.emplace(name, value);
            // A reader gets at least the first 64 KiB of a field by default.
            const QByteArray message = sent[i].message.toUtf8();
            QVERIFY(message.startsWith(own["MESSAGE"]) &&
                    own["MESSAGE"].size() >= qMin(message.size(), 65536));
            own["MESSAGE"] = message;
            std::map<QByteArray, QByteArray> expected{
                {"MESSAGE", message},
                {"PRIORITY", sent[i].level == LogLevel::Error ? "3" : "6"},
                {"SYSLOG_IDENTIFIER", "pellim"},
                {"SUBSYSTEM", "org.pellim.Pellim"},
                {"CATEGORY", "general"}};
            if (!sent[i].fields.empty())
                expected.emplace("PELLIM_PROGRAM", "/usr/bin/n\npm");
            QVERIFY(own == expected);
        }
        QVERIFY2(contents(fallback.get()).isEmpty(), "a reachable journal needs no fallback line");
    }

    // A daemon that is alive but not reading (stopped, or swamped): its queue
    // fills after a few entries. Writing must still return at once, and every
    // entry must land either in the queue or on the fallback stream.
    void unreadQueueNeverBlocksNorLoses() {
        const QTemporaryDir dir;
        const int daemon = bindDaemon(dir.filePath("socket"));
        QVERIFY(daemon >= 0);
        const File fallback = tempFile();
        JournalSink sink(fallback.get(), dir.filePath("socket"));
        constexpr int count = 2000;
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (int i = 0; i < count; ++i)
                sink.write(entry(QStringLiteral("entry %1").arg(i)));
            done = true;
        });
        const bool returned = QTest::qWaitFor([&] { return done.load(); }, 30000);
        if (!returned)
            ::close(daemon); // a blocked send wakes when its peer goes
        writer.join();
        QVERIFY(returned);

        std::set<QByteArray> seen;
        int queued = 0, lines = 0;
        static const QRegularExpression message("(?:^|\n)MESSAGE=(entry \\d+)\n");
        QByteArray datagram(1 << 16, '\0');
        for (ssize_t n; (n = ::recv(daemon, datagram.data(), 1 << 16, MSG_DONTWAIT)) >= 0; ++queued)
            seen.insert(message.match(QString::fromUtf8(datagram.left(n))).captured(1).toUtf8());
        ::close(daemon);
        for (const QByteArray &line : contents(fallback.get()).split('\n'))
            if (!line.isEmpty())
                ++lines, seen.insert(line.mid(line.lastIndexOf(" entry ") + 1));
        QVERIFY2(queued > 0 && queued < count, QByteArray::number(queued).constData());
        for (int i = 0; i < count; ++i)
            QVERIFY(seen.erase("entry " + QByteArray::number(i)) == 1);
        QVERIFY(queued + lines == count && seen.empty());
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
