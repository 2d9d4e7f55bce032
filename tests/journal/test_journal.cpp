#include "journal/JournalSink.h"
#include "support/JournalQuery.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

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

// A datagram socket bound at `path` that stands in for the journal daemon; it
// reads only when the test asks it to.
class FakeDaemon {
public:
    explicit FakeDaemon(const QByteArray &path)
        : m_fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const bool fits = std::size_t(path.size()) < sizeof address.sun_path;
        if (fits)
            std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
        if (!fits || bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
            close();
    }
    ~FakeDaemon() { close(); }
    FakeDaemon(const FakeDaemon &) = delete;
    FakeDaemon &operator=(const FakeDaemon &) = delete;

    bool isBound() const { return m_fd >= 0; }
    // Gone: the socket file stays, nobody is behind it.
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // The next queued entry, read from the passed file when it came as one; none
    // when the queue is empty.
    std::optional<QByteArray> receive() {
        QByteArray data(1 << 16, '\0');
        iovec part{data.data(), std::size_t(data.size())};
        alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        const ssize_t n = recvmsg(m_fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)))
            return std::nullopt;
        data.truncate(n);
        const cmsghdr *header = CMSG_FIRSTHDR(&message);
        if (!header)
            return data;
        int passed = -1;
        std::memcpy(&passed, CMSG_DATA(header), sizeof passed);
        m_passedSeals = fcntl(passed, F_GET_SEALS);
        QFile file;
        if (n || !file.open(passed, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
            ::close(passed);
            return std::nullopt;
        }
        return file.seek(0) ? std::optional(file.readAll()) : std::nullopt;
    }
    // F_GET_SEALS of the file passed with the last entry, -1 without one.
    int passedSeals() const { return m_passedSeals; }

private:
    int m_fd;
    int m_passedSeals = -1;
};

using Fields = std::vector<std::pair<QByteArray, QByteArray>>;

// Reads the journal's native form the way the daemon does: `NAME=value\n`, or
// `NAME\n` + 64-bit little-endian length + value + `\n`.
std::optional<Fields> decodeNative(const QByteArray &entry) {
    Fields fields;
    qsizetype at = 0;
    while (at < entry.size()) {
        const qsizetype end = entry.indexOf('\n', at);
        if (end < 0)
            return std::nullopt;
        const QByteArray line = entry.mid(at, end - at);
        if (const qsizetype eq = line.indexOf('='); eq >= 0) {
            fields.emplace_back(line.left(eq), line.mid(eq + 1));
            at = end + 1;
            continue;
        }
        if (end + 10 > entry.size()) // length, and at least the closing line feed
            return std::nullopt;
        std::uint64_t length = 0;
        for (int i = 7; i >= 0; --i)
            length = (length << 8) | std::uint8_t(entry[end + 1 + i]);
        const qsizetype value = end + 9;
        if (length > std::uint64_t(entry.size() - value - 1) ||
            entry[value + qsizetype(length)] != '\n')
            return std::nullopt;
        fields.emplace_back(line, entry.mid(value, qsizetype(length)));
        at = value + qsizetype(length) + 1;
    }
    return fields;
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void realJournalKeepsFieldsAndExactText() {
        if (!test::JournalQuery::daemonListening())
            QSKIP("no journal daemon listens (scripts/ensure-journald starts one)");
        test::JournalQuery query;
        QVERIFY(query.isOpen());
        const File fallback = tempFile();
        JournalSink sink(fallback.get());
        const LogHandle log(sink, QString::fromLatin1(kAppId), QStringLiteral("general"));
        const QList<std::pair<QString, LogLevel>> sent{
            {QStringLiteral("trying to read from: /tmp/%s %n 100%"), LogLevel::Info},
            {QStringLiteral("couldn't read from: /home/zoë/Grüße/日本語 😀.txt"), LogLevel::Error},
            {QStringLiteral("first line\nsecond line"), LogLevel::Info}};
        for (const auto &[message, level] : sent)
            log.write(level, message);

        const auto entries = query.waitForEntries(std::size_t(sent.size()));
        QCOMPARE(entries.size(), std::size_t(sent.size()));
        for (qsizetype i = 0; i < sent.size(); ++i) {
            // The daemon adds trusted fields (they start with '_'); the entry
            // itself carries exactly these five, and no source location.
            std::map<QByteArray, QByteArray> own;
            for (const auto &[name, value] : entries[std::size_t(i)].fields)
                if (!name.startsWith('_'))
                    own.emplace(name, value);
            const std::map<QByteArray, QByteArray> expected{
                {"MESSAGE", sent[i].first.toUtf8()},
                {"PRIORITY", sent[i].second == LogLevel::Error ? "3" : "6"},
                {"SYSLOG_IDENTIFIER", "pellim"},
                {"SUBSYSTEM", "org.pellim.Pellim"},
                {"CATEGORY", "general"}};
            QVERIFY(own == expected);
        }
        QVERIFY2(contents(fallback.get()).isEmpty(), "a reachable journal needs no fallback line");
    }

    // With no socket file, and with one that nobody is behind.
    void fallbackEscapesOneLine() {
        for (const bool stale : {false, true}) {
            QTemporaryDir dir;
            const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("socket")));
            if (stale) { // bound and closed: the file stays, nobody listens
                FakeDaemon gone(path);
                QVERIFY(gone.isBound());
            }
            const File fallback = tempFile();
            JournalSink sink(fallback.get(), QFile::decodeName(path));
            // A file name can hold anything: a line feed and a forged entry after
            // it, a terminal escape, a backslash, a C1 control.
            sink.write({LogLevel::Error, QStringLiteral("org.pellim.Pellim"),
                        QStringLiteral("general"),
                        QStringLiteral("couldn't read a\nZ error forged\x1b[31m\\x\u0085é😀")});
            static const QRegularExpression shape(
                QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z "
                               "error org\\.pellim\\.Pellim general (.*)\n$"));
            const QString out = QString::fromUtf8(contents(fallback.get()));
            const auto match = shape.match(out);
            QVERIFY2(match.hasMatch(), qPrintable(out));
            QCOMPARE(match.captured(1),
                     QStringLiteral("couldn't read a\\nZ error forged\\x1b[31m\\\\x\\u0085é😀"));
        }
    }

    // Exactly the five fields, and a value with a line feed in the length-prefixed
    // form; an entry larger than a datagram may be arrives whole in a sealed file.
    void nativeEntryOnTheSocket_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("error");
        QTest::newRow("line feed") << QStringLiteral("first line\nsecond ü line") << true;
        // Larger than the send buffer, which is the most a datagram may carry.
        int sendBuffer = 0;
        socklen_t size = sizeof sendBuffer;
        const int probe = socket(AF_UNIX, SOCK_DGRAM, 0);
        getsockopt(probe, SOL_SOCKET, SO_SNDBUF, &sendBuffer, &size);
        close(probe);
        QTest::newRow("larger than a datagram")
            << QStringLiteral("long\n") + QString(sendBuffer + 4096, QLatin1Char('x')) << false;
    }
    void nativeEntryOnTheSocket() {
        QFETCH(QString, message);
        QFETCH(bool, error);
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("socket")));
        FakeDaemon daemon(path);
        QVERIFY(daemon.isBound());
        const File fallback = tempFile();
        JournalSink sink(fallback.get(), QFile::decodeName(path));
        sink.write({error ? LogLevel::Error : LogLevel::Info, QStringLiteral("org.pellim.Pellim"),
                    QStringLiteral("general"), message});

        const auto entry = daemon.receive();
        QVERIFY(entry);
        const auto fields = decodeNative(*entry);
        QVERIFY2(fields, entry->left(200).constData());
        const Fields expected{{"MESSAGE", message.toUtf8()},
                              {"PRIORITY", error ? "3" : "6"},
                              {"SYSLOG_IDENTIFIER", "pellim"},
                              {"SUBSYSTEM", "org.pellim.Pellim"},
                              {"CATEGORY", "general"}};
        QVERIFY(*fields == expected);
        if (daemon.passedSeals() != -1) { // the daemon maps only a file nobody can change
            const int needed = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
            QCOMPARE(daemon.passedSeals() & needed, needed);
        }
        QVERIFY(contents(fallback.get()).isEmpty());
    }

    // A daemon that is alive but not reading (stopped, or swamped): its queue
    // fills after a few entries. Writing must still return at once, and every
    // entry must land either in the queue or on the fallback stream.
    void unreadQueueNeverBlocksNorLoses() {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("socket")));
        FakeDaemon daemon(path);
        QVERIFY(daemon.isBound());
        const File fallback = tempFile();
        JournalSink sink(fallback.get(), QFile::decodeName(path));
        constexpr int count = 2000;

        std::atomic<bool> done{false};
        struct Writer {
            std::thread thread;
            std::atomic<bool> &done;
            FakeDaemon &daemon;
            ~Writer() {
                if (!done) // a blocked send wakes when its peer goes
                    daemon.close();
                thread.join();
            }
        } writer{std::thread([&] {
                     for (int i = 0; i < count; ++i)
                         sink.write({LogLevel::Info, QStringLiteral("org.pellim.Pellim"),
                                     QStringLiteral("general"), QStringLiteral("entry %1").arg(i)});
                     done = true;
                 }),
                 done, daemon};
        // Qt waits twice as long again before it reports a miss, so 30 s take 90.
        QTRY_VERIFY_WITH_TIMEOUT(done, 30000);

        std::multiset<QByteArray> seen;
        int queued = 0;
        while (const auto entry = daemon.receive()) {
            const auto fields = decodeNative(*entry);
            QVERIFY(fields && !fields->empty());
            seen.insert(fields->front().second);
            ++queued;
        }
        const QList<QByteArray> lines = contents(fallback.get()).split('\n');
        for (const QByteArray &line : lines)
            if (!line.isEmpty())
                seen.insert(line.mid(line.lastIndexOf(" entry ") + 1));
        QVERIFY2(queued > 0 && queued < count, QByteArray::number(queued).constData());
        std::multiset<QByteArray> all;
        for (int i = 0; i < count; ++i)
            all.insert("entry " + QByteArray::number(i));
        QVERIFY(seen == all);
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
