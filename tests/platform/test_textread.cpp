#include "platform/TextDecoder.h"

#include <QRandomGenerator>
#include <QTest>

#include <sys/mman.h>
#include <unistd.h>

using namespace pellim;
using namespace pellim::text;

namespace {

// An in-memory file holding `bytes`, read back through readTextPrefix.
std::optional<TextPrefix> readBytes(const QByteArray &bytes, qsizetype keep,
                                    std::size_t chunk = 256 * 1024) {
    const int fd = memfd_create("pellim-text", MFD_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    lseek(fd, 0, SEEK_SET);
    auto result = readTextPrefix(fd, keep, chunk);
    close(fd);
    return result;
}

QByteArray utf16(const QString &s, bool little) {
    QByteArray out;
    for (const QChar c : s) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out += little ? QByteArray{&lo, 1} + QByteArray{&hi, 1}
                      : QByteArray{&hi, 1} + QByteArray{&lo, 1};
    }
    return out;
}

QByteArray utf32(const QString &s, bool little) {
    QByteArray out;
    for (const char32_t cp : s.toUcs4()) {
        char b[4] = {char(cp >> 24), char(cp >> 16), char(cp >> 8), char(cp)};
        if (little)
            std::reverse(b, b + 4);
        out.append(b, 4);
    }
    return out;
}

// Decodes with the scalar decoder (asking for text forces it).
bool scalarValid(const QByteArray &bytes) {
    StreamDecoder decoder(Encoding::Utf8);
    QString ignored;
    return decoder.feed(reinterpret_cast<const unsigned char *>(bytes.constData()),
                        std::size_t(bytes.size()), &ignored) &&
           decoder.finish();
}

const std::size_t kChunks[] = {1, 2, 3, 5, 7, 33, 256 * 1024};

} // namespace

class TestTextRead : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void byteOrderMarks_data() {
        const QString text = QString::fromUtf8("h\xC3\xA9\xF0\x9D\x84\x9E\n\0z", 10);
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << text.toUtf8() << text;
        QTest::newRow("utf-8, dropped") << "\xEF\xBB\xBF" + text.toUtf8() << text;
        QTest::newRow("utf-16le") << "\xFF\xFE" + utf16(text, true) << text;
        QTest::newRow("utf-16be") << "\xFE\xFF" + utf16(text, false) << text;
        QTest::newRow("utf-32le") << QByteArray("\xFF\xFE\0\0", 4) + utf32(text, true) << text;
        QTest::newRow("utf-32be") << QByteArray("\0\0\xFE\xFF", 4) + utf32(text, false) << text;
        QTest::newRow("empty file") << QByteArray() << QString();
        QTest::newRow("only a mark") << QByteArray("\xFE\xFF") << QString();
        QTest::newRow("NUL bytes") << QByteArray("\0\0a\0", 4) << QString::fromUtf8("\0\0a\0", 4);
    }
    void byteOrderMarks() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        for (const std::size_t chunk : kChunks) {
            const auto read = readBytes(bytes, 1000, chunk);
            QVERIFY2(read, qPrintable(QString::number(chunk)));
            QCOMPARE(read->text, expected);
            QVERIFY(!read->more);
        }
    }

    // Each ill-formed sequence fails wherever it stands: first, in the middle of
    // a long text (well past what is kept), or in the last bytes.
    void badSequences_data() {
        QTest::addColumn<QByteArray>("mark");
        QTest::addColumn<QByteArray>("bad");
        const QByteArray none;
        QTest::newRow("stray continuation") << none << QByteArray("\x80");
        QTest::newRow("invalid byte FF") << none << QByteArray("\xFF");
        QTest::newRow("lead then ASCII") << none
                                         << QByteArray("\xC3"
                                                       "A");
        QTest::newRow("overlong 2") << none << QByteArray("\xC1\xBF");
        QTest::newRow("overlong 3") << none << QByteArray("\xE0\x9F\xBF");
        QTest::newRow("overlong 4") << none << QByteArray("\xF0\x8F\xBF\xBF");
        QTest::newRow("surrogate") << none << QByteArray("\xED\xA0\x80");
        QTest::newRow("beyond U+10FFFF") << none << QByteArray("\xF4\x90\x80\x80");
        QTest::newRow("lead F5") << none << QByteArray("\xF5\x80\x80\x80");
        QTest::newRow("utf-16 lone low") << QByteArray("\xFF\xFE") << QByteArray("\x00\xDC", 2);
        QTest::newRow("utf-16 high then letter")
            << QByteArray("\xFE\xFF") << QByteArray("\xD8\x00\x00\x41", 4);
        QTest::newRow("utf-32 surrogate")
            << QByteArray("\0\0\xFE\xFF", 4) << QByteArray("\0\0\xD8\x00", 4);
        QTest::newRow("utf-32 too large")
            << QByteArray("\xFF\xFE\0\0", 4) << QByteArray("\0\0\x11\0", 4);
    }
    void badSequences() {
        QFETCH(QByteArray, mark);
        QFETCH(QByteArray, bad);
        const bool wide16 = mark.size() == 2, wide32 = mark.size() == 4;
        auto encode = [&](const QString &s) {
            return wide32   ? utf32(s, mark[0] == '\xFF')
                   : wide16 ? utf16(s, mark[0] == '\xFF')
                            : s.toUtf8();
        };
        const QString filler = QString(70000, QLatin1Char('a'));
        const QList<QByteArray> files = {mark + bad + encode(filler),
                                         mark + encode(filler) + bad + encode(filler),
                                         mark + encode(filler) + bad};
        for (const QByteArray &file : files)
            for (const std::size_t chunk :
                 {std::size_t(7), std::size_t(4096), 256 * std::size_t(1024)})
                QVERIFY2(!readBytes(file, 5, chunk), qPrintable(QString::number(chunk)));
    }

    void cutOffAtTheEnd() {
        const QList<QByteArray> utf8 = {"ab\xC3", "ab\xE2\x82", "ab\xF0\x9F\x98"};
        const QList<QByteArray> wide = {QByteArray("\xFF\xFE"
                                                   "a\0b",
                                                   5),
                                        QByteArray("\xFE\xFF\xD8\x3D", 4),
                                        QByteArray("\xFF\xFE\0\0"
                                                   "a\0\0",
                                                   7)};
        for (const std::size_t chunk : kChunks) {
            for (const QByteArray &file : utf8) {
                QVERIFY(!readBytes(file, 3, chunk));
                QVERIFY(!readBytes(QByteArray(100, 'x') + file, 3, chunk));
            }
            for (const QByteArray &file : wide)
                QVERIFY(!readBytes(file, 3, chunk));
        }
    }

    // The vector check and the scalar decoder must agree on every input; random
    // text with random damage crosses block edges in every way.
    void fastCheckAgreesWithDecoder() {
        QRandomGenerator random(12345);
        const char32_t samples[] = {'a',    0x7F,    0x80,     0x7FF, 0x800,  0xFFFD,
                                    0xFFFF, 0x10000, 0x10FFFF, 0xE9,  0x20AC, 0x1F600};
        for (int round = 0; round < 3000; ++round) {
            QString s;
            const int n = int(random.bounded(200));
            for (int i = 0; i < n; ++i) {
                const char32_t cp = random.bounded(4) == 0
                                        ? samples[random.bounded(int(std::size(samples)))]
                                        : char32_t('a' + random.bounded(26));
                s += QString::fromUcs4(&cp, 1);
            }
            QByteArray bytes = s.toUtf8();
            if (!bytes.isEmpty() && round % 3 != 0) {
                const int damage = 1 + int(random.bounded(3));
                for (int d = 0; d < damage; ++d)
                    bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
            }
            if (round % 5 == 0 && !bytes.isEmpty())
                bytes.chop(1 + random.bounded(int(std::min<qsizetype>(3, bytes.size()))));
            const bool expected = scalarValid(bytes);
            QCOMPARE(isValidUtf8(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                 std::size_t(bytes.size())),
                     expected);
            // And through the read, where the check takes over after the kept part.
            for (const std::size_t chunk : {std::size_t(3), std::size_t(40)})
                QCOMPARE(readBytes(bytes, 1, chunk).has_value(), expected);
        }
    }

    void keepsWholeClusters_data() {
        QTest::addColumn<QString>("cluster");
        QTest::newRow("combining accent") << QString::fromUtf8("e\xCC\x81");
        QTest::newRow("skin tone") << QString::fromUtf8("\xF0\x9F\x91\x8B\xF0\x9F\x8F\xBD");
        QTest::newRow("family") << QString::fromUtf8(
            "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7");
        QTest::newRow("flag") << QString::fromUtf8("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7");
        QTest::newRow("CR LF") << QStringLiteral("\r\n");
    }
    void keepsWholeClusters() {
        QFETCH(QString, cluster);
        const QString text = cluster.repeated(10);
        for (const std::size_t chunk : kChunks) {
            const auto cut = readBytes(text.toUtf8(), 3, chunk);
            QVERIFY(cut);
            QCOMPARE(cut->text, cluster.repeated(3));
            QVERIFY(cut->more);
            const auto whole = readBytes(text.toUtf8(), 10, chunk);
            QVERIFY(whole);
            QCOMPARE(whole->text, text);
            QVERIFY(!whole->more);
            const auto utf16Cut = readBytes("\xFF\xFE" + utf16(text, true), 3, chunk);
            QVERIFY(utf16Cut);
            QCOMPARE(utf16Cut->text, cluster.repeated(3));
        }
    }

    void keepsOnlyTheBeginning() {
        const QByteArray big = QByteArray(3 * 1024 * 1024, 'a') + "\xC3\xA9";
        const auto read = readBytes(big, 81);
        QVERIFY(read);
        QCOMPARE(read->text, QString(81, QLatin1Char('a')));
        QVERIFY(read->more);
        // The bad byte far past the kept part still fails the whole read.
        QVERIFY(!readBytes(big + "\xC3", 81));
        const auto none = readBytes("abc", 0);
        QVERIFY(none && none->text.isEmpty() && none->more);
        QVERIFY(!readBytes("ab\xFF", 0));
    }

    // A crafted cluster that never ends is cut at a bound rather than held whole.
    void endlessClusterIsBounded() {
        const QByteArray bytes = "a" + QByteArray("\xCC\x81").repeated(kMaxClusterUnits + 10) + "b";
        const auto read = readBytes(bytes, 1);
        QVERIFY(read);
        QCOMPARE(read->text.size(), kMaxClusterUnits);
        QVERIFY(read->more);
    }
};

QTEST_GUILESS_MAIN(TestTextRead)
#include "test_textread.moc"
