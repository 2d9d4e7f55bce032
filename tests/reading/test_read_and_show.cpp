// Reading one text file: the preview, the path, the order of what the window shows
// and logs, and the Open dialog around it.
#include "ReadingFixture.h"
#include "support/TestHome.h"

#include <QTest>

using namespace pellim;
using namespace pellim::test;

namespace {

QByteArray repeat(const char *utf8, int times) {
    QByteArray out;
    for (int i = 0; i < times; ++i)
        out += utf8;
    return out;
}

const char *const kAccented = "e\xCC\x81";                         // e + combining acute
const char *const kThumbTone = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"; // thumbs up + skin tone

} // namespace

class TestReadAndShow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void preview_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("expected");
        const QString a79(79, QLatin1Char('a'));

        QTest::newRow("80 shown whole") << repeat("a", 80) << QString(80, QLatin1Char('a'));
        QTest::newRow("81 cut to 79") << repeat("a", 81) << a79;
        QTest::newRow("1000 cut to 79") << repeat("a", 1000) << a79;
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("two short lines") << QByteArray("one\ntwo\n") << QStringLiteral("one two ");
        QTest::newRow("line feed 80th of a long text is cut")
            << repeat("a", 79) + "\n" + repeat("b", 20) << a79;
        QTest::newRow("line feed 79th of a long text becomes a space")
            << repeat("a", 78) + "\n" + repeat("b", 20) << QString(78, QLatin1Char('a')) + " ";
        // Counting code units or code points instead of characters breaks these.
        QTest::newRow("80 accented letters shown whole")
            << repeat(kAccented, 80) << QString::fromUtf8(repeat(kAccented, 80));
        QTest::newRow("accent as the 79th character kept whole")
            << repeat("a", 78) + kAccented + repeat("b", 5)
            << QString(78, QLatin1Char('a')) + QString::fromUtf8(kAccented);
        QTest::newRow("accent as the 80th character dropped whole")
            << repeat("a", 79) + kAccented + "b" << a79;
        QTest::newRow("emoji with skin tone as the 80th of 80 shown whole")
            << repeat("a", 79) + kThumbTone
            << QString(79, QLatin1Char('a')) + QString::fromUtf8(kThumbTone);
        QTest::newRow("emoji with skin tone as the 79th kept whole")
            << repeat("a", 78) + kThumbTone + repeat("b", 3)
            << QString(78, QLatin1Char('a')) + QString::fromUtf8(kThumbTone);
        QTest::newRow("emoji with skin tone as the 80th of 81 dropped whole")
            << repeat("a", 79) + kThumbTone + "b" << a79;
        // A CRLF pair is one character; its line feed becomes a space, the
        // carriage return stays.
        QTest::newRow("carriage return before line feed")
            << QByteArray("ab\r\ncd\r\n") << QStringLiteral("ab\r cd\r ");
        QTest::newRow("40 CRLF lines are 80 characters")
            << repeat("a\r\n", 40) << QString::fromLatin1(repeat("a\r ", 40));
    }

    // Files live in a folder whose name holds a space: the path shows it escaped
    // in the field and in both entries.
    void preview() {
        QFETCH(QByteArray, contents);
        QFETCH(QString, expected);
        TestHome home;
        Harness h;
        h.window.show();
        const QString path = home.makeFile(QStringLiteral("my texts/sample.txt"), contents);
        Timeline t(h);

        QVERIFY(h.window.readAndShow(FileUrl::fromLocalPath(path, false), true));

        const QString p = encoded(path);
        QVERIFY(p.contains(QLatin1String("my%20texts")));
        QCOMPARE(t.events(),
                 QStringList({"info: trying to read from: " + p, "openedText: " + expected,
                              "fileName: " + p, "info: read from: " + p}));
        QCOMPARE(h.window.openedText->text(), expected);
    }

    void undecodableFileThroughOpenDialogAfterSuccess() {
        TestHome home;
        Harness h;
        h.window.show();
        const QString good = home.makeFile(QStringLiteral("good.txt"), "fine text");
        const QString bad = home.makeFile(QStringLiteral("bad.txt"), "abc\xC3\x28 def");
        Timeline t(h);

        QFileDialog *first = clickForDialog(h, "openIntentButton");
        QVERIFY(first);
        QCOMPARE(first->labelText(QFileDialog::Accept), QStringLiteral("Select File"));
        QCOMPARE(first->fileMode(), QFileDialog::ExistingFile);
        chooseFile(first, good);
        QVERIFY(waitUntil([&] { return t.entries().size() == 2; }));
        QFileDialog *second = clickForDialog(h, "openIntentButton");
        QVERIFY(second);
        chooseFile(second, bad);
        QVERIFY(waitUntil([&] { return t.entries().size() == 4; }));

        QCOMPARE(t.events(),
                 QStringList({"info: trying to read from: " + good, "openedText: fine text",
                              "fileName: " + good, "info: read from: " + good,
                              "info: trying to read from: " + bad,
                              "openedText: ", "fileName: Couldn't get text for " + bad,
                              "error: couldn't read from: " + bad}));
    }

    void lastConfirmedDialogWins() {
        TestHome home;
        Harness h;
        h.window.show();
        const QString a = home.makeFile(QStringLiteral("a.txt"), "first opened");
        const QString b = home.makeFile(QStringLiteral("b.txt"), "second opened");
        QFileDialog *earlier = clickForDialog(h, "openIntentButton");
        QFileDialog *later = clickForDialog(h, "openIntentButton");
        QVERIFY(earlier && later && earlier != later);

        chooseFile(later, b);
        QVERIFY(waitUntil([&] { return h.window.fileName->text() == b; }));
        chooseFile(earlier, a);
        QVERIFY(waitUntil([&] { return h.window.fileName->text() == a; }));
        QCOMPARE(h.window.openedText->text(), QStringLiteral("first opened"));
    }
};

QTEST_MAIN(TestReadAndShow)
#include "test_read_and_show.moc"
