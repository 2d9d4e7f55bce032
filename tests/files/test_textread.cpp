#include "files/ClusterCut.h"
#include "files/StreamDecoder.h"
#include "files/TextReader.h"
#include "paths/FolderProtection.h"

#include <QStringEncoder>
#include <QTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace pellim::text;

namespace {

// Reads `bytes` back from an in-memory file; the read rounds `chunk` up to whole
// pages. With a `reportedSize`, as a regular file that reported that size.
std::optional<pellim::TextPrefix> readBytes(const QByteArray &bytes, qsizetype keep,
                                            std::size_t chunk = 4096,
                                            std::optional<std::int64_t> reportedSize = {}) {
    const int fd = memfd_create("pellim-text", MFD_CLOEXEC);
    if (fd < 0 || write(fd, bytes.constData(), std::size_t(bytes.size())) != bytes.size())
        qFatal("cannot fill an in-memory file");
    lseek(fd, 0, SEEK_SET);
    auto result =
        reportedSize ? readRegularFile(fd, *reportedSize, keep) : readTextPrefix(fd, keep, chunk);
    close(fd);
    return result;
}

// `text` in the encoding that `mark` names, without the mark.
QByteArray encoded(const QByteArray &mark, const QString &text) {
    return QStringEncoder(QStringConverter::encodingForData(mark).value_or(QStringConverter::Utf8))
        .encode(text);
}

} // namespace

class TestTextRead : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Text in each encoding, as its mark names it, decodes exactly; each
    // ill-formed sequence fails wherever it stands: alone, first, in the middle
    // of a long text (well past what is kept), or at the end.
    void strictDecoding_data() {
        QTest::addColumn<QByteArray>("mark");
        QTest::addColumn<QByteArray>("bad"); // in hex
        QTest::newRow("none") << QByteArray()
                              << QByteArray("80 FF C341 C1BF E09FBF EDA080 F08FBFBF F4908080 "
                                            "F5808080 C3 E282 F09F98");
        QTest::newRow("UTF-8") << QByteArray("\xEF\xBB\xBF") << QByteArray("80 C3");
        QTest::newRow("UTF-16LE") << QByteArray("\xFF\xFE") << QByteArray("00DC 61");
        QTest::newRow("UTF-16BE") << QByteArray("\xFE\xFF") << QByteArray("D8000041 D83D");
        QTest::newRow("UTF-32LE") << QByteArray("\xFF\xFE\0\0", 4) << QByteArray("00001100 610000");
        QTest::newRow("UTF-32BE") << QByteArray("\0\0\xFE\xFF", 4) << QByteArray("0000D800");
    }
    void strictDecoding() {
        QFETCH(QByteArray, mark);
        QFETCH(QByteArray, bad);
        const QString text = QString::fromUtf8("h\xC3\xA9\xF0\x9D\x84\x9E\n\0z", 10);
        for (const QString &expected : {text, QString()}) {
            const auto read = readBytes(mark + encoded(mark, expected), 1000);
            QVERIFY(read && !read->more && read->text == expected);
        }
        const QByteArray filler = encoded(mark, QString(70000, QLatin1Char('a')));
        for (const QByteArray &hex : bad.split(' ')) {
            const QByteArray bytes = QByteArray::fromHex(hex);
            for (const QByteArray &body :
                 {bytes, bytes + filler, filler + bytes + filler, filler + bytes})
                for (const std::size_t chunk : {std::size_t(4096), std::size_t(256 * 1024)})
                    QVERIFY2(!readBytes(mark + body, 5, chunk), hex.constData());
        }
        const auto nul = readBytes({"\0\0a\0", 4}, 9); // not the start of a UTF-32BE mark
        QVERIFY(nul && nul->text == QString::fromUtf8("\0\0a\0", 4));
    }

    // Past the kept text the vector check takes over, in blocks of 64 bytes fed in
    // pieces of any size, ASCII runs skipped four blocks at a time. Every sequence,
    // well-formed or not, is judged alike wherever it falls against blocks, pieces
    // the takeover (before it, or inside it) and the end.
    void vectorCheckAtEveryOffset() {
        const std::pair<bool, const char *> cases[] = {
            {true, "C3A9"},      {true, "E282AC"},  {true, "F09F9880"}, {true, "F48FBFBF"},
            {true, "EFBFBF"},    {false, "80"},     {false, "FF"},      {false, "C341"},
            {false, "C1BF"},     {false, "E09FBF"}, {false, "EDA080"},  {false, "F08FBFBF"},
            {false, "F4908080"}, {false, "C3"},     {false, "E282"},    {false, "F09F98"}};
        for (const auto &[valid, hex] : cases) {
            for (int at = 0; at < 300; ++at) {
                const QByteArray bytes = QByteArray(at, 'a') + QByteArray::fromHex(hex) +
                                         QByteArray(at % 3 ? 300 : 0, 'a');
                const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
                for (const VectorUnit unit : {VectorUnit::Fastest, VectorUnit::Avx2}) {
                    QVERIFY2(isValidUtf8(data, std::size_t(bytes.size()), unit) == valid, hex);
                    for (const qsizetype split : {qsizetype(3), qsizetype(at + 1)}) {
                        StreamDecoder decoder(Encoding::Utf8, unit);
                        QString text;
                        const qsizetype piece = 1 + at % 67;
                        bool ok = decoder.feed(data, std::size_t(split), &text);
                        // Each piece in a buffer of its own, after bytes it must not read.
                        for (qsizetype i = split; ok && i < bytes.size(); i += piece) {
                            const QByteArray own = QByteArray(3, '\xF0') + bytes.mid(i, piece);
                            ok = decoder.feed(reinterpret_cast<const unsigned char *>(own.data()) +
                                                  3,
                                              std::size_t(own.size() - 3), nullptr);
                        }
                        QVERIFY2((ok && decoder.finish()) == valid, hex);
                    }
                }
            }
        }
    }

    // Only a bounded beginning is held, even of a cluster crafted never to end:
    // each kept character is cut at a bound. Fed a unit at a time, a cut that
    // rescanned the open cluster for every piece would take hours here and run
    // into the test's time limit.
    void keepsOnlyABoundedBeginning() {
        const auto read = readBytes(QByteArray(3 * 1024 * 1024, 'a') + "\xC3\xA9", 81);
        QVERIFY(read && read->more && read->text == QString(81, QLatin1Char('a')));
        QVERIFY(!readBytes("ab\xFF", 0));
        const auto endless =
            readBytes("a" + QByteArray("\xCC\x81").repeated(3'000'000), 81, 1 << 18);
        QVERIFY(endless && endless->more);
        QCOMPARE(endless->text.size(), 81 * kMaxClusterUnits);
        ClusterCut cut(2);
        cut.buffer()->append(QLatin1Char('a'));
        for (int i = 0; i < 1 << 22 && !cut.done(); ++i) {
            cut.buffer()->append(QChar(0x301));
            cut.scan();
        }
        QCOMPARE(cut.result(true).text.size(), 2 * kMaxClusterUnits);
    }

    // A file that reports no size, or a size it outgrows, is read only a bounded
    // way past it: /proc/self/pagemap alone yields zeros for hundreds of GiB.
    void readsOnlyToABoundPastTheReportedSize() {
        const QByteArray past(qsizetype(kReadBeyondReportedSize) + 1, 'a');
        QVERIFY(!readBytes(past, 1, 0, 0));
        QVERIFY(readBytes(past, 1, 0, 1));
        pellim::UnguardedProtection unguarded;
        pellim::PosixFileAccess files(unguarded);
        const QString pagemap = QStringLiteral("/proc/%1/pagemap").arg(getpid());
        QVERIFY(!files.readText(pellim::FileUrl::fromLocalPath(pagemap, false), 1));
        const int status = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
        const auto small = readRegularFile(status, 0, 5);
        close(status);
        QVERIFY(small && small->text == QLatin1String("Name:"));
    }
};

QTEST_GUILESS_MAIN(TestTextRead)
#include "test_textread.moc"
