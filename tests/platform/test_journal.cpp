#include "controller/ActivityLog.h"
#include "platform/Journal.h"
#include "support/JournalQuery.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>

using pellim::JournalSink;
using pellim::LogEntry;
using pellim::LogHandle;
using pellim::LogLevel;
using pellim::test::JournalQuery;

namespace {

// Everything written to `file` so far.
QByteArray contents(FILE *file) {
    std::fflush(file);
    std::rewind(file);
    QByteArray all;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        all.append(buffer, qsizetype(n));
    return all;
}

struct TempFile {
    FILE *file = std::tmpfile();
    ~TempFile() {
        if (file)
            std::fclose(file);
    }
};

} // namespace

class TestJournal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void realJournalKeepsFieldsAndExactText();
    void fallbackWhenNoDaemon_data();
    void fallbackWhenNoDaemon();
};

void TestJournal::realJournalKeepsFieldsAndExactText() {
    if (!JournalQuery::daemonListening())
        QSKIP("no journal daemon listens (scripts/ensure-journald starts one)");
    JournalQuery query;
    QVERIFY(query.isOpen());

    TempFile fallback;
    JournalSink sink(fallback.file);
    const LogHandle log(sink, QString::fromLatin1(pellim::kAppId), QStringLiteral("general"));
    struct Sent {
        QString message;
        LogLevel level;
        QByteArray priority;
    };
    const std::vector<Sent> sent{
        {QStringLiteral("trying to read from: /tmp/%s %n 100%"), LogLevel::Info, "6"},
        {QStringLiteral("couldn't read from: /home/zoë/Grüße/日本語 😀.txt"), LogLevel::Error, "3"},
        {QStringLiteral("first line\nsecond line"), LogLevel::Info, "6"},
    };
    for (const Sent &s : sent)
        pellim::activityLog(log, s.level, s.message);

    const auto entries = query.waitForEntries(sent.size());
    QCOMPARE(entries.size(), sent.size());
    const std::set<QByteArray> expectedFields{"MESSAGE", "PRIORITY", "SYSLOG_IDENTIFIER",
                                              "SUBSYSTEM", "CATEGORY"};
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto &e = entries[i];
        QCOMPARE(e.message(), QStringLiteral("Pellim: ") + sent[i].message);
        QCOMPARE(e.value("PRIORITY"), sent[i].priority);
        QCOMPARE(e.value("SYSLOG_IDENTIFIER"), QByteArray("pellim"));
        QCOMPARE(e.value("SUBSYSTEM"), QByteArray("org.pellim.Pellim"));
        QCOMPARE(e.value("CATEGORY"), QByteArray("general"));
        // The daemon adds its own trusted fields (they start with '_'); the
        // entry itself carries exactly five, and no source-location fields.
        std::set<QByteArray> own;
        for (const auto &[name, value] : e.fields) {
            if (!name.startsWith('_'))
                own.insert(name);
        }
        QCOMPARE(own, expectedFields);
    }
    QVERIFY2(contents(fallback.file).isEmpty(), "a reachable journal needs no fallback line");
}

void TestJournal::fallbackWhenNoDaemon_data() {
    QTest::addColumn<bool>("staleSocket");
    QTest::newRow("socket file missing") << false;
    QTest::newRow("socket file with nobody behind it") << true;
}

void TestJournal::fallbackWhenNoDaemon() {
    QFETCH(bool, staleSocket);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray socketPath = QFile::encodeName(dir.filePath(QStringLiteral("socket")));
    if (staleSocket) {
        // Bind a datagram socket and close it: the file stays, nobody listens.
        const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketPath.constData(), std::size_t(socketPath.size()));
        QCOMPARE(bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
        close(fd);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("socket"))));
    }

    TempFile fallback;
    JournalSink sink(fallback.file, QFile::decodeName(socketPath));
    QVERIFY(!sink.journalListening());
    // A file name can hold anything: here a line feed followed by what would
    // look like a forged entry, an escape sequence, a backslash and a C1 control.
    const QString name = QStringLiteral("a\nZ error forged\x1b[31m\\x\u0085é😀.txt");
    sink.write(LogEntry{LogLevel::Error, QStringLiteral("org.pellim.Pellim"),
                        QStringLiteral("general"),
                        QStringLiteral("Pellim: couldn't read ") + name});

    const QByteArray out = contents(fallback.file);
    QCOMPARE(out.count('\n'), 1);
    QVERIFY(out.endsWith('\n'));
    QVERIFY(!out.contains('\x1b'));
    const QString line = QString::fromUtf8(out);
    static const QRegularExpression shape(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z "
                       "error org\\.pellim\\.Pellim general (.*)\n$"));
    const auto match = shape.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QCOMPARE(match.captured(1),
             QStringLiteral("Pellim: couldn't read a\\nZ error forged\\x1b[31m\\\\x\\u0085é😀.txt"));
}

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
