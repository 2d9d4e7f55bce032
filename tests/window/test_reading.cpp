// The reading tests: one file read and shown, and a text file drawn at random
// from a folder by the two tests that start from one.
#include "support/WindowFixture.h"

using namespace pellim;
using namespace pellim::test;

namespace {

constexpr quint64 kHalf = quint64(1) << 63;

QByteArray times(const char *utf8, int n) {
    return QByteArray(utf8).repeated(n);
}

FileUrl folderUrl(const QString &path) {
    return FileUrl::fromLocalPath(path, true);
}

} // namespace

class TestReading : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Up to 80 characters (grapheme clusters) show whole; past that 79 are kept,
    // and line feeds become spaces after the cut.
    void preview_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QByteArray>("shown");
        const QByteArray a78 = times("a", 78), a79 = a78 + "a";
        const char *thumbTone =
            "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"; // two code points, one character
        QTest::newRow("80 shown whole") << a79 + "a" << a79 + "a";
        QTest::newRow("81 cut to 79") << a79 + "aa" << a79;
        QTest::newRow("emoji 79th kept whole") << a78 + thumbTone + "bbb" << a78 + thumbTone;
        QTest::newRow("40 CRLF lines are 80") << times("a\r\n", 40) << times("a\r ", 40);
    }
    void preview() {
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, shown);
        Scene s;
        const QString path = s.home.makeFile("sample.txt", contents);
        QVERIFY(s.h.window.readAndShow(FileUrl::fromLocalPath(path, false), true));
        QCOMPARE(s.h.window.openedText->text(), QString::fromUtf8(shown));
    }

    // Open with a dialog: a file that does not decode, then one that does. The
    // folder's name holds a space, escaped in the field and the entries.
    void openWithDialog() {
        Scene s;
        s.home.makeFile("my texts/bad.txt", "abc\xC3\x28 def");
        s.home.makeFile("my texts/good.txt", "fine\ntext");
        for (const char *name : {"bad.txt", "good.txt"}) {
            QFileDialog *dialog = clickForDialog(s.h, "openIntentButton");
            QVERIFY(dialog);
            accept(dialog, s.home.root() + "/my texts", name);
        }
        const QString b = s.home.root() + "/my%20texts/bad.txt";
        const QString g = s.home.root() + "/my%20texts/good.txt";
        QCOMPARE(s.t.events,
                 QStringList({"info: trying to read from: " + b,
                              "openedText: ", "fileName: Couldn't get text for " + b,
                              "error: couldn't read from: " + b, "info: trying to read from: " + g,
                              "openedText: fine text", "fileName: " + g, "info: read from: " + g}));
    }

    // What a folder holds decides the end (%1 stands for the folder); a pick
    // gives up after 100 draws.
    void folderContents_data() {
        QTest::addColumn<QStringList>("entries"); // a name ending in "/" is a folder
        QTest::addColumn<QString>("last");
        QTest::addColumn<int>("draws");
        QTest::newRow("empty") << QStringList() << "error: no files found in %1" << 0;
        QTest::newRow("a.txt") << QStringList{"a.txt"} << "info: read from: %1/a.txt" << 1;
        QTest::newRow("b.text") << QStringList{"b.text"} << "info: read from: %1/b.text" << 1;
        QTest::newRow("NOTES.TXT")
            << QStringList{"NOTES.TXT"} << "error: couldn't find text file in %1" << 100;
        QTest::newRow("folder x.txt") << QStringList{"x.txt/", "x.txt/in.txt"}
                                      << "error: couldn't find text file in %1" << 100;
    }
    void folderContents() {
        QFETCH(QStringList, entries);
        QFETCH(QString, last);
        QFETCH(int, draws);
        Scene s;
        const QString folder = s.home.makeFolder("box");
        for (const QString &e : entries)
            e.endsWith('/') ? s.home.makeFolder("box/" + e) : s.home.makeFile("box/" + e, "text");
        s.h.window.pickTextFile(folderUrl(folder), ViewController::PickVariant::Consent);
        QCOMPARE(s.t.events.last(), last.arg(folder));
        QCOMPARE(s.random.draws, draws);
    }

    // Open from a chosen folder: a file drawn that does not decode costs a draw and
    // leaves only its first entry; the fields keep their texts until a read works.
    void openFromChosenFolder() {
        Scene s;
        const QString folder = s.home.makeFolder("my texts");
        s.home.makeFile("my texts/bad.txt", "abc\xC3\x28");
        s.home.makeFile("my texts/good.txt", "good text");
        const auto listing = s.h.files.list(folderUrl(folder));
        QVERIFY(listing && listing->size() == 2);
        // With two entries, 0 draws the first and 2^63 the second.
        const bool badFirst = listing->name(0) == QLatin1String("bad.txt");
        s.random.values = {badFirst ? 0 : kHalf, badFirst ? 0 : kHalf, badFirst ? kHalf : 0};
        QFileDialog *dialog = clickForDialog(s.h, "openFolderButton");
        QVERIFY(dialog);
        accept(dialog, folder);
        const QString bad = s.home.root() + "/my%20texts/bad.txt";
        const QString good = s.home.root() + "/my%20texts/good.txt";
        QCOMPARE(
            s.t.events,
            QStringList({"info: trying to list files in " + folder,
                         "info: trying to look in " + folder + " for text files",
                         "info: trying to read from: " + bad, "info: trying to read from: " + bad,
                         "info: trying to read from: " + good, "openedText: good text",
                         "fileName: " + good, "info: read from: " + good}));
        QCOMPARE(s.random.draws, 3);
    }

    // A chosen folder that cannot be listed: named escaped, Text emptied last (the
    // consent test's own order is openConsentDenied's).
    void listingFails() {
        Scene s;
        const QString folder = s.home.root() + "/not there";
        s.h.window.pickTextFile(folderUrl(folder), ViewController::PickVariant::ChosenFolder);
        QCOMPARE(s.t.events,
                 QStringList({"info: trying to list files in " + folder,
                              "fileName: [Couldn't get contents of folder]",
                              "error: couldn't get contents of " + s.home.root() + "/not%20there/",
                              "openedText: "}));
    }

    // Open from the protected folder, denied by the guard: nothing is listed or
    // read; the folder is named plainly and Text emptied after the status.
    void openConsentDenied() {
        Scene s(true);
        s.home.makeFile("home/Documents/note.txt", "text");
        click(s.h, "openConsentButton");
        QCOMPARE(s.prompter.asked, 1);
        const QString docs = s.home.documents();
        QCOMPARE(s.t.events,
                 QStringList({"info: trying to list files in " + docs,
                              "fileName: [Couldn't get contents of " + docs + " folder]",
                              "openedText: ", "error: couldn't get contents of " + docs}));
    }
};

QTEST_MAIN(TestReading)
#include "test_reading.moc"
