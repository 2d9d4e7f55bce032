// The reading tests: one file read and shown, the random pick of a text file in a
// folder by its two callers, and the draw behind it.
#include "guard/ConsentStore.h"
#include "support/WindowFixture.h"
#include "window/IndexDraw.h"

#include <QComboBox>

#include <limits>

using namespace pellim;
using namespace pellim::test;

namespace {

constexpr quint64 kHalf = quint64(1) << 63;
constexpr quint64 kMax = std::numeric_limits<quint64>::max();
constexpr auto kConsent = ViewController::PickVariant::Consent;
constexpr auto kChosen = ViewController::PickVariant::ChosenFolder;
const char *const kAccented = "e\xCC\x81";                         // e + combining acute
const char *const kThumbTone = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"; // thumbs up + skin tone

QByteArray times(const char *utf8, int n) {
    QByteArray out;
    while (n-- > 0)
        out += utf8;
    return out;
}

QString escaped(QString path) {
    return path.replace(" ", "%20");
}

FileUrl folderUrl(const QString &path) {
    return FileUrl::fromLocalPath(path, true);
}

} // namespace

class TestReading : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void preview_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray a78 = times("a", 78), a79 = a78 + "a";
        QTest::newRow("80 shown whole") << a79 + "a" << a79 + "a";
        QTest::newRow("81 cut to 79") << a79 + "aa" << a79;
        QTest::newRow("1000 cut to 79") << times("a", 1000) << a79;
        QTest::newRow("short lines") << QByteArray("one\ntwo\n") << QByteArray("one two ");
        QTest::newRow("line feed 80th of 100 cut") << a79 + "\n" + times("b", 20) << a79;
        QTest::newRow("line feed 79th of 100 a space") << a78 + "\n" + times("b", 20) << a78 + " ";
        // Counting code units or code points instead of characters fails these.
        QTest::newRow("80 accented") << times(kAccented, 80) << times(kAccented, 80);
        QTest::newRow("accent 79th kept whole") << a78 + kAccented + "bbbbb" << a78 + kAccented;
        QTest::newRow("emoji 80th of 80") << a79 + kThumbTone << a79 + kThumbTone;
        QTest::newRow("emoji 79th kept whole") << a78 + kThumbTone + "bbb" << a78 + kThumbTone;
        // A CRLF pair is one character: its line feed becomes a space, the CR stays.
        QTest::newRow("CRLF") << QByteArray("ab\r\ncd\r\n") << QByteArray("ab\r cd\r ");
        QTest::newRow("40 CRLF lines are 80") << times("a\r\n", 40) << times("a\r ", 40);
    }
    // The folder's name holds a space: the path shows escaped in the field and entries.
    void preview() {
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, expected);
        Scene s;
        const QString path = s.home.makeFile("my texts/sample.txt", contents);
        const QString p = escaped(path);
        QVERIFY(s.h.window.readAndShow(FileUrl::fromLocalPath(path, false), true));
        QCOMPARE(s.t.events, QStringList({"info: trying to read from: " + p,
                                          "openedText: " + QString::fromUtf8(expected),
                                          "fileName: " + p, "info: read from: " + p}));
    }

    // Two Open dialogs confirmed in reverse order: the later answer, an
    // undecodable file after a good one, is what the window ends with.
    void twoOpenDialogsAndAnUndecodableFile() {
        Scene s;
        const QString good = s.home.makeFile("good.txt", "fine text");
        const QString bad = s.home.makeFile("bad.txt", "abc\xC3\x28 def");
        QFileDialog *earlier = clickForDialog(s.h, "openIntentButton");
        QFileDialog *later = clickForDialog(s.h, "openIntentButton");
        QVERIFY(earlier && later);
        QCOMPARE(later->labelText(QFileDialog::Accept), QStringLiteral("Select File"));
        QCOMPARE(later->fileMode(), QFileDialog::ExistingFile);
        accept(later, s.home.root(), "good.txt");
        accept(earlier, s.home.root(), "bad.txt");
        QVERIFY(waitUntil([&] { return s.t.entries().size() == 4; }));
        QCOMPARE(s.t.events,
                 QStringList({"info: trying to read from: " + good, "openedText: fine text",
                              "fileName: " + good, "info: read from: " + good,
                              "info: trying to read from: " + bad,
                              "openedText: ", "fileName: Couldn't get text for " + bad,
                              "error: couldn't read from: " + bad}));
    }

    void folderContents_data() {
        QTest::addColumn<QStringList>("entries"); // a name ending in "/" is a folder
        QTest::addColumn<QString>("shown");       // the file shown, or the status text
        QTest::addColumn<int>("reads");
        QTest::addColumn<int>("draws");
        QTest::newRow("empty") << QStringList() << "[No files found]" << 0 << 0;
        QTest::newRow("hidden only")
            << QStringList{".a.txt", ".hidden/", ".hidden/b.txt"} << "[No files found]" << 0 << 0;
        QTest::newRow("a.txt") << QStringList{"a.txt"} << "a.txt" << 1 << 1;
        QTest::newRow("b.text") << QStringList{"b.text"} << "b.text" << 1 << 1;
        QTest::newRow("NOTES.TXT")
            << QStringList{"NOTES.TXT"} << "[Couldn't find text file]" << 0 << 100;
        QTest::newRow("subfolder x.txt") << QStringList{"x.txt/", "x.txt/inside.txt"}
                                         << "[Couldn't find text file]" << 100 << 100;
    }
    void folderContents() {
        QFETCH(QStringList, entries);
        QFETCH(QString, shown);
        QFETCH(int, reads);
        QFETCH(int, draws);
        Scene s;
        const QString folder = s.home.makeFolder("box");
        for (const QString &e : entries)
            e.endsWith('/') ? s.home.makeFolder("box/" + e) : s.home.makeFile("box/" + e, "text");

        s.h.window.pickTextFile(folderUrl(folder), kConsent);

        const QStringList log = s.t.entries(), events = s.t.events;
        QCOMPARE(s.random.draws, draws);
        QCOMPARE(log.filter(QRegularExpression("^info: trying to read from: ")).size(), reads);
        const bool none = shown == "[No files found]";
        QCOMPARE(log.contains("info: trying to look in " + folder + " for text files"), !none);
        const QString file = folder + "/" + shown;
        const QStringList end =
            shown.startsWith('[')
                ? QStringList{"fileName: " + shown, "openedText: ",
                              (none ? "error: no files found in "
                                    : "error: couldn't find text file in ") +
                                  folder}
                : QStringList{"openedText: text", "fileName: " + file, "info: read from: " + file};
        QCOMPARE(events.mid(events.size() - 3), end);
    }

    // Unreadable text files drawn on the way cost a draw and leave only their
    // first entry; the fields keep their texts until a read succeeds.
    void unreadableDrawsLeaveOnlyTheirAttempt() {
        Scene s;
        const QString folder = s.home.makeFolder("box");
        const QString bad = s.home.makeFile("box/bad.txt", "abc\xC3\x28");
        const QString good = s.home.makeFile("box/good.txt", "good text");
        const auto listing = s.h.files.list(folderUrl(folder));
        QVERIFY(listing && listing->size() == 2);
        // With two entries, 0 draws the first and 2^63 the second.
        const bool badFirst = listing->name(0) == QLatin1String("bad.txt");
        const quint64 toBad = badFirst ? 0 : kHalf, toGood = badFirst ? kHalf : 0;
        s.random = SequenceRandomSource({toBad, toBad, toGood});

        s.h.window.pickTextFile(folderUrl(folder), kChosen);

        QCOMPARE(
            s.t.events,
            QStringList({"info: trying to list files in " + folder,
                         "info: trying to look in " + folder + " for text files",
                         "info: trying to read from: " + bad, "info: trying to read from: " + bad,
                         "info: trying to read from: " + good, "openedText: good text",
                         "fileName: " + good, "info: read from: " + good}));
        QCOMPARE(s.random.draws, 3);
    }

    // The two callers write the folder differently and end a failure in a different
    // order. Should the folder list ever name no folder, the consent test says it
    // cannot list "~/Documents" and reaches into no folder at all.
    void listingFailure() {
        Scene s;
        const QString folder = s.home.root() + "/not there";
        const QString first = "info: trying to list files in " + folder;
        s.h.window.pickTextFile(folderUrl(folder), kConsent);
        s.h.window.openedText->setText("between");
        s.h.window.pickTextFile(folderUrl(folder), kChosen);
        s.h.window.openedText->setText("again");
        s.h.window.theSpecDirs.clear(); // item 0 now pairs with no folder
        click(s.h, "openConsentButton");
        QCOMPARE(s.t.events,
                 QStringList(
                     {first, "fileName: [Couldn't get contents of " + folder + " folder]",
                      "openedText: ", "error: couldn't get contents of " + folder,
                      "openedText: between", first, "fileName: [Couldn't get contents of folder]",
                      "error: couldn't get contents of " + escaped(folder) + "/", "openedText: ",
                      "openedText: again", "info: trying to list files in ~/Documents",
                      "fileName: [Couldn't get contents of ~/Documents folder]",
                      "openedText: ", "error: couldn't get contents of ~/Documents"}));
    }

    // The Open dialog's folder, whose path holds a space: the lines name it
    // plainly and the file escaped.
    void chosenFolderWithSpace() {
        Scene s;
        const QString folder = s.home.makeFolder("my texts");
        const QString file = escaped(s.home.makeFile("my texts/a.txt", "text"));
        QFileDialog *dialog = clickForDialog(s.h, "openFolderButton");
        QVERIFY(dialog);
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("Select Folder"));
        accept(dialog, folder);
        QCOMPARE(s.t.entries(),
                 QStringList({"info: trying to list files in " + folder,
                              "info: trying to look in " + folder + " for text files",
                              "info: trying to read from: " + file, "info: read from: " + file}));
    }

    // The index is the high half of r * n; only a low half below (2^64 - n) mod n
    // sends it back for another value.
    void drawIndex() {
        const struct {
            quint64 n;
            std::deque<std::uint64_t> values;
            quint64 index;
            int used;
        } cases[] = {
            {1000, {kHalf + 1}, 500, 1},        // r * n = 500 * 2^64 + 1000: low not below n
            {1000, {kHalf, kHalf + 1}, 500, 2}, // low 0, below (2^64 - 1000) mod 1000 = 616
            {10, {kMax}, 9, 1},
            {3, {0, kHalf}, 1, 2},               // threshold 1: low 0 is redrawn
            {3, {6148914691236517206ULL}, 1, 1}, // low 2: below n, not below the threshold
            {kHalf + 1, {2, 3}, 1, 2},           // threshold 2^63 - 1: low 2 is redrawn
            {kHalf + 1, {kMax}, kHalf, 1},       // low exactly at the threshold is kept
            {1, {0}, 0, 1},
        };
        for (const auto &c : cases) {
            SequenceRandomSource random(c.values);
            QCOMPARE(quint64(pellim::drawIndex(random, c.n)), c.index);
            QCOMPARE(random.draws, c.used);
        }
    }

    // Documents through the guard: a stored answer decides without asking; with
    // none the prompt asks, and its answer decides and is kept.
    void consentThroughGuard_data() {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("allowed");
        for (bool stored : {true, false})
            for (bool allowed : {true, false})
                QTest::addRow("%s %s", stored ? "stored" : "asked", allowed ? "allow" : "deny")
                    << stored << allowed;
    }
    void consentThroughGuard() {
        QFETCH(bool, stored);
        QFETCH(bool, allowed);
        Scene s(true);
        const QString documents = s.home.documents();
        const QString file = s.home.makeFile("home/Documents/note.txt", "text");
        const auto answer = allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied;
        if (stored)
            QVERIFY(ConsentStore(ConsentStore::defaultPath())
                        .setAnswer(GuardedFolder::Documents, answer));
        s.prompter.answer = allowed ? PromptAnswer::Allow : PromptAnswer::Deny;
        click(s.h, "openConsentButton");
        QCOMPARE(s.prompter.asked, stored ? 0 : 1);
        QCOMPARE(s.t.events.last(), allowed ? "info: read from: " + file
                                            : "error: couldn't get contents of " + documents);
        QCOMPARE(ConsentStore(ConsentStore::defaultPath()).answer(GuardedFolder::Documents),
                 answer);
    }
};

QTEST_MAIN(TestReading)
#include "test_reading.moc"
