#include "files/ClusterCut.h"
#include "files/StreamDecoder.h"
#include "files/TextReader.h"
#include "guard/FolderProtection.h"

#include <QRandomGenerator>
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

// None, UTF-8, UTF-16LE, UTF-16BE, UTF-32LE, UTF-32BE.
const QByteArray kMarks[] = {{},         "\xEF\xBB\xBF",      "\xFF\xFE",
                             "\xFE\xFF", {"\xFF\xFE\0\0", 4}, {"\0\0\xFE\xFF", 4}};

// `text` in the encoding that `mark` names, without the mark.
QByteArray encoded(const QByteArray &mark, const QString &text) {
    return QStringEncoder(QStringConverter::encodingForData(mark).value_or(QStringConverter::Utf8))
        .encode(text);
}

// Decodes the first `split` bytes into text, then only checks the rest in
// pieces of `piece` bytes, which is where the vector check takes over.
bool decodes(const QByteArray &bytes, qsizetype split, qsizetype piece,
             VectorUnit unit = VectorUnit::Fastest) {
    StreamDecoder decoder(Encoding::Utf8, unit);
    QString text;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    bool ok = decoder.feed(data, std::size_t(split), &text);
    for (qsizetype at = split; ok && at < bytes.size(); at += piece)
        ok = decoder.feed(data + at, std::size_t(std::min(piece, bytes.size() - at)), nullptr);
    return ok && decoder.finish();
}

} // namespace

class TestTextRead : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void byteOrderMarks() {
        const QString text = QString::fromUtf8("h\xC3\xA9\xF0\x9D\x84\x9E\n\0z", 10);
        for (const QByteArray &mark : kMarks) {
            for (const QString &expected : {text, QString()}) {
                const auto read = readBytes(mark + encoded(mark, expected), 1000);
                QVERIFY2(read && !read->more, mark.toHex().constData());
                QCOMPARE(read->text, expected);
            }
        }
        // Not the start of a UTF-32BE mark.
        const auto nul = readBytes({"\0\0a\0", 4}, 9);
        QVERIFY(nul);
        QCOMPARE(nul->text, QString::fromUtf8("\0\0a\0", 4));
    }

    // Each ill-formed sequence fails wherever it stands: alone, first, in the
    // middle of a long text (well past what is kept), or at the end.
    void badSequences() {
        const std::pair<int, const char *> cases[] = {
            // mark, bytes in hex
            {0, "80 FF C341 C1BF E09FBF EDA080 F08FBFBF F4908080 F5808080 C3 E282 F09F98"},
            {2, "00DC 61"},
            {3, "D8000041 D83D"},
            {4, "00001100 610000"},
            {5, "0000D800"}};
        for (const auto &[m, list] : cases) {
            const QByteArray filler = encoded(kMarks[m], QString(70000, QLatin1Char('a')));
            for (const QByteArray &hex : QByteArray(list).split(' ')) {
                const QByteArray bad = QByteArray::fromHex(hex);
                for (const QByteArray &body :
                     {bad, bad + filler, filler + bad + filler, filler + bad})
                    for (const std::size_t chunk : {std::size_t(4096), std::size_t(256 * 1024)})
                        QVERIFY2(!readBytes(kMarks[m] + body, 5, chunk), hex.constData());
            }
        }
    }

    // Each vector check must agree with the scalar decoder on random text with
    // random damage, across block edges and when it takes over mid-sequence.
    void fastCheckAgreesWithDecoder() {
        QRandomGenerator random(12345);
        const char32_t samples[] = {'a',    0x7F,    0x80,     0x7FF, 0x800,  0xFFFD,
                                    0xFFFF, 0x10000, 0x10FFFF, 0xE9,  0x20AC, 0x1F600};
        for (int round = 0; round < 3000; ++round) {
            QList<char32_t> points;
            for (int i = int(random.bounded(200)); i > 0; --i)
                points << (random.bounded(4) == 0 ? samples[random.bounded(int(std::size(samples)))]
                                                  : char32_t('a' + random.bounded(26)));
            QByteArray bytes = QString::fromUcs4(points.constData(), points.size()).toUtf8();
            for (int d = bytes.isEmpty() || round % 3 == 0 ? 0 : 1 + random.bounded(3); d > 0; --d)
                bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
            if (round % 5 == 0)
                bytes.chop(random.bounded(4));
            if (round % 4 == 0) // runs of ASCII long enough to be skipped
                bytes.insert(random.bounded(int(bytes.size()) + 1), QByteArray(400, 'a'));
            const bool expected = decodes(bytes, bytes.size(), 1);
            for (const VectorUnit unit : {VectorUnit::Fastest, VectorUnit::Avx2}) {
                QCOMPARE(isValidUtf8(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                     std::size_t(bytes.size()), unit),
                         expected);
                QCOMPARE(decodes(bytes, random.bounded(int(bytes.size()) + 1),
                                 1 + random.bounded(150), unit),
                         expected);
            }
        }
        // A sequence cut off by a run of ASCII, at every offset against the blocks.
        for (const char *cut : {"\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xE2", "\xF0"}) {
            for (int at = 0; at < 200; ++at) {
                const QByteArray bytes = QByteArray(at, 'a') + cut + QByteArray(600, 'a');
                for (const VectorUnit unit : {VectorUnit::Fastest, VectorUnit::Avx2})
                    QVERIFY(!isValidUtf8(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                         std::size_t(bytes.size()), unit));
            }
        }
    }

    // Also across the edge between two reads, and from UTF-16.
    void keepsWholeClusters() {
        for (const char *c :
             {"e\xCC\x81",
              "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7",
              "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", "\r\n"}) {
            const QString cluster = QString::fromUtf8(c);
            for (const QString &before : {QString(), QString(4095, QLatin1Char('-'))}) {
                const QString text = before + cluster.repeated(10);
                for (const QByteArray &mark : {kMarks[0], kMarks[2]}) {
                    const auto cut = readBytes(mark + encoded(mark, text), before.size() + 3);
                    QVERIFY(cut && cut->more);
                    QCOMPARE(cut->text, before + cluster.repeated(3));
                }
                const auto whole = readBytes(text.toUtf8(), before.size() + 10);
                QVERIFY(whole && !whole->more);
                QCOMPARE(whole->text, text);
            }
        }
    }

    void keepsOnlyABoundedBeginning() {
        const auto read = readBytes(QByteArray(3 * 1024 * 1024, 'a') + "\xC3\xA9", 81);
        QVERIFY(read && read->more);
        QCOMPARE(read->text, QString(81, QLatin1Char('a')));
        const auto none = readBytes("abc", 0);
        QVERIFY(none && none->text.isEmpty() && none->more);
        QVERIFY(!readBytes("ab\xFF", 0));
        // A crafted cluster that never ends is cut at a bound, not held whole.
        const auto endless = readBytes(
            "a" + QByteArray("\xCC\x81").repeated(kMaxClusterUnits + 10) + "b", 1, 256 * 1024);
        QVERIFY(endless && endless->more);
        QCOMPARE(endless->text.size(), kMaxClusterUnits);
    }

    // Only the kept characters are held, each cut short. Fed a unit at a time,
    // a cut that rescanned the open cluster for every piece would take hours
    // here and run into the test's time limit.
    void endlessCluster() {
        const auto read = readBytes("a" + QByteArray("\xCC\x81").repeated(3'000'000), 81, 1 << 18);
        QVERIFY(read && read->more);
        QCOMPARE(read->text.size(), 81 * kMaxClusterUnits);
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
