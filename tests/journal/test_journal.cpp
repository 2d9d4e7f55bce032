#include "journal/JournalSink.h"
#include "support/JournalQuery.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

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
                const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
                QCOMPARE(bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
                close(fd);
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
};

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"
