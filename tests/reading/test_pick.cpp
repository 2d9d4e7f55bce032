// The random pick of a text file in a folder, its two callers, and the draw.
#include "ReadingFixture.h"
#include "platform/ConsentPrompt.h"
#include "platform/ConsentStore.h"
#include "platform/FolderGuard.h"
#include "reading/IndexDraw.h"
#include "support/TestHome.h"

#include <QComboBox>
#include <QMessageBox>
#include <QTest>

#include <limits>

using namespace pellim;
using namespace pellim::test;

namespace {

using Consent =
    std::integral_constant<ViewController::PickVariant, ViewController::PickVariant::Consent>;

constexpr quint64 kHalf = quint64(1) << 63;
constexpr quint64 kMax = std::numeric_limits<quint64>::max();

// The chosen-folder lines write a folder as an encoded folder location.
QString encodedFolder(const QString &path) {
    return encoded(path) + QLatin1Char('/');
}

// Makes `entries` under `folder`: a name ending in "/" is a folder, anything else
// a file holding readable text.
QString makeFolder(const TestHome &home, const QString &folder, const QStringList &entries) {
    const QString path = home.makeFolder(folder);
    for (const QString &e : entries) {
        if (e.endsWith(QLatin1Char('/')))
            home.makeFolder(folder + "/" + e);
        else
            home.makeFile(folder + "/" + e, "readable text");
    }
    return path;
}

// Types `text` into the folder list as a person would, so no item is selected.
void typeFolder(Harness &h, const QString &text) {
    QLineEdit *field = h.window.folderList->lineEdit();
    QVERIFY(field);
    field->selectAll();
    QTest::keyClicks(field, text);
    QCOMPARE(h.window.folderList->currentIndex(), -1);
}

} // namespace

class TestPick : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void folderContents_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("shown"); // the file shown, or the status text
        QTest::addColumn<int>("reads");
        QTest::addColumn<int>("draws");

        QTest::newRow("empty") << QStringList() << "[No files found]" << 0 << 0;
        QTest::newRow("only hidden entries")
            << QStringList{".a.txt", ".hidden/", ".hidden/b.txt"} << "[No files found]" << 0 << 0;
        QTest::newRow("a single a.txt") << QStringList{"a.txt"} << "a.txt" << 1 << 1;
        QTest::newRow("a single b.text") << QStringList{"b.text"} << "b.text" << 1 << 1;
        QTest::newRow("only NOTES.TXT")
            << QStringList{"NOTES.TXT"} << "[Couldn't find text file]" << 0 << 100;
        QTest::newRow("only a subfolder x.txt") << QStringList{"x.txt/", "x.txt/inside.txt"}
                                                << "[Couldn't find text file]" << 100 << 100;
    }

    void folderContents() {
        QFETCH(QStringList, entries);
        QFETCH(QString, shown);
        QFETCH(int, reads);
        QFETCH(int, draws);
        TestHome home;
        SequenceRandomSource random;
        Harness h(nullptr, nullptr, &random);
        const QString folder = makeFolder(home, QStringLiteral("box"), entries);
        Timeline t(h);

        h.window.pickTextFile(FileUrl::fromLocalPath(folder, true),
                              ViewController::PickVariant::Consent);

        const QStringList log = t.entries();
        QCOMPARE(log.first(), "info: trying to list files in " + folder);
        QCOMPARE(random.draws, draws);
        QCOMPARE(t.countStartingWith(QStringLiteral("info: trying to read from: ")), reads);
        QCOMPARE(log.contains("info: trying to look in " + folder + " for text files"),
                 shown != QLatin1String("[No files found]"));
        if (shown.startsWith(QLatin1Char('['))) {
            const QString error = shown == QLatin1String("[No files found]")
                                      ? "error: no files found in " + folder
                                      : "error: couldn't find text file in " + folder;
            QCOMPARE(t.events().mid(t.events().size() - 3),
                     QStringList({"fileName: " + shown, "openedText: ", error}));
        } else {
            const QString file = folder + "/" + shown;
            QCOMPARE(log.last(), "info: read from: " + file);
            QCOMPARE(h.window.fileName->text(), file);
            QCOMPARE(h.window.openedText->text(), QStringLiteral("readable text"));
        }
    }

    // Unreadable text files drawn on the way cost a draw and leave only their
    // first entry; the fields keep their texts until a read succeeds.
    void unreadableDrawsLeaveOnlyTheirAttempt() {
        TestHome home;
        const QString folder = home.makeFolder(QStringLiteral("box"));
        const QString bad = home.makeFile(QStringLiteral("box/bad.txt"), "abc\xC3\x28");
        const QString good = home.makeFile(QStringLiteral("box/good.txt"), "good text");
        Harness probe;
        const auto listing = probe.files.list(FileUrl::fromLocalPath(folder, true));
        QVERIFY(listing && listing->size() == 2);
        // With two entries, 0 draws the first and 2^63 the second.
        const bool badFirst = listing->name(0) == QLatin1String("bad.txt");
        const quint64 toBad = badFirst ? 0 : kHalf, toGood = badFirst ? kHalf : 0;
        SequenceRandomSource random({toBad, toBad, toGood});
        Harness h(nullptr, nullptr, &random);
        Timeline t(h);

        h.window.pickTextFile(FileUrl::fromLocalPath(folder, true),
                              ViewController::PickVariant::ChosenFolder);

        QCOMPARE(
            t.events(),
            QStringList({"info: trying to list files in " + folder,
                         "info: trying to look in " + folder + " for text files",
                         "info: trying to read from: " + bad, "info: trying to read from: " + bad,
                         "info: trying to read from: " + good, "openedText: good text",
                         "fileName: " + good, "info: read from: " + good}));
        QCOMPARE(random.draws, 3);
    }

    // The two callers write the folder differently and end a failure in a
    // different order.
    void listingFailure_data() {
        QTest::addColumn<bool>("consent");
        QTest::newRow("consent") << true;
        QTest::newRow("chosen folder") << false;
    }
    void listingFailure() {
        QFETCH(bool, consent);
        TestHome home;
        Harness h;
        const QString folder = home.root() + "/not there";
        Timeline t(h);

        h.window.pickTextFile(FileUrl::fromLocalPath(folder, true),
                              consent ? ViewController::PickVariant::Consent
                                      : ViewController::PickVariant::ChosenFolder);

        const QString first = "info: trying to list files in " + folder;
        if (consent)
            QCOMPARE(
                t.events(),
                QStringList({first, "fileName: [Couldn't get contents of " + folder + " folder]",
                             "openedText: ", "error: couldn't get contents of " + folder}));
        else
            QCOMPARE(t.events(),
                     QStringList({first, "fileName: [Couldn't get contents of folder]",
                                  "error: couldn't get contents of " + encodedFolder(folder),
                                  "openedText: "}));
    }

    // Should the folder list ever name no folder, the test says it cannot list
    // "~/Documents" and reaches into no folder at all.
    void consentWithoutFolder() {
        TestHome home;
        Harness h;
        h.window.show();
        h.window.theSpecDirs.clear(); // item 0 now pairs with no folder
        Timeline t(h);
        button(h, "openConsentButton")->click();
        QCOMPARE(t.events(),
                 QStringList({"info: trying to list files in ~/Documents",
                              "fileName: [Couldn't get contents of ~/Documents folder]",
                              "openedText: ", "error: couldn't get contents of ~/Documents"}));
    }

    // Through the buttons, with folders whose paths hold a space: the chosen
    // folder's error lines escape it, the consent lines never do; file paths are
    // always escaped.
    void folderWithSpace_data() {
        QTest::addColumn<bool>("consent");
        QTest::newRow("consent") << true;
        QTest::newRow("chosen folder") << false;
    }
    void folderWithSpace() {
        QFETCH(bool, consent);
        TestHome home;
        Harness h;
        h.window.show();
        const QString texts = makeFolder(home, QStringLiteral("my texts"), {"a.txt"});
        const QString empty = makeFolder(home, QStringLiteral("my empty"), {});
        Timeline t(h);

        auto run = [&](const QString &folder) {
            const auto before = t.entries().size();
            if (consent) {
                typeFolder(h, folder + "/");
                button(h, "openConsentButton")->click();
            } else {
                QFileDialog *dialog = clickForDialog(h, "openFolderButton");
                QVERIFY(dialog);
                QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("Select Folder"));
                QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
                chooseFolder(dialog, folder);
            }
            QVERIFY(waitUntil([&] { return t.entries().size() >= before + 2; }));
        };
        run(texts);
        if (QTest::currentTestFailed())
            return;
        run(empty);
        if (QTest::currentTestFailed())
            return;

        const QString file = encoded(texts + "/a.txt");
        const QString emptyText = consent ? empty : encodedFolder(empty);
        QCOMPARE(t.entries(),
                 QStringList({"info: trying to list files in " + texts,
                              "info: trying to look in " + texts + " for text files",
                              "info: trying to read from: " + file, "info: read from: " + file,
                              "info: trying to list files in " + empty,
                              "error: no files found in " + emptyText}));
    }

    // The index is the high half of r * n; only a low half below (2^64 - n) mod n
    // sends it back for another value.
    void drawIndex_data() {
        QTest::addColumn<quint64>("n");
        QTest::addColumn<QList<quint64>>("values");
        QTest::addColumn<quint64>("index");
        QTest::addColumn<int>("used");

        // r * n = 500 * 2^64 + 1000: the low half is not below n.
        QTest::newRow("high half of the product")
            << quint64(1000) << QList<quint64>{kHalf + 1} << quint64(500) << 1;
        // r = 2^63 makes the low half 0, below (2^64 - 1000) mod 1000 = 616.
        QTest::newRow("low half zero, redrawn")
            << quint64(1000) << QList<quint64>{kHalf, kHalf + 1} << quint64(500) << 2;
        QTest::newRow("largest value gives the last index")
            << quint64(10) << QList<quint64>{kMax} << quint64(9) << 1;
        // n = 3: threshold 1. r = 0 leaves low 0 and is redrawn.
        QTest::newRow("rejected then accepted")
            << quint64(3) << QList<quint64>{0, kHalf} << quint64(1) << 2;
        // r = (2^64 + 2) / 3 leaves low 2: below n but not below the threshold.
        QTest::newRow("low below n, kept")
            << quint64(3) << QList<quint64>{6148914691236517206ULL} << quint64(1) << 1;
        // n = 2^63 + 1: threshold 2^63 - 1. r = 2 leaves low 2 (redrawn); the
        // largest r leaves low exactly the threshold (kept).
        QTest::newRow("large n, redrawn once")
            << kHalf + 1 << QList<quint64>{2, 3} << quint64(1) << 2;
        QTest::newRow("large n, low at the threshold kept")
            << kHalf + 1 << QList<quint64>{kMax} << kHalf << 1;
        QTest::newRow("single entry") << quint64(1) << QList<quint64>{0} << quint64(0) << 1;
    }
    void drawIndex() {
        QFETCH(quint64, n);
        QFETCH(QList<quint64>, values);
        QFETCH(quint64, index);
        QFETCH(int, used);
        SequenceRandomSource random(std::deque<std::uint64_t>(values.begin(), values.end()));
        QCOMPARE(quint64(pellim::drawIndex(random, n)), index);
        QCOMPARE(random.draws, used);
    }

    // Documents through the guard: a stored answer decides without asking; with
    // none the prompt asks and its answer decides.
    void consentThroughGuard_data() {
        QTest::addColumn<int>("stored");     // ConsentAnswer
        QTest::addColumn<QString>("button"); // the prompt's answer, "" for none
        QTest::addColumn<bool>("allowed");
        QTest::newRow("stored allow") << int(ConsentAnswer::Allowed) << QString() << true;
        QTest::newRow("stored deny") << int(ConsentAnswer::Denied) << QString() << false;
        QTest::newRow("prompt allowed") << int(ConsentAnswer::NotDecided) << "Allow" << true;
        QTest::newRow("prompt refused") << int(ConsentAnswer::NotDecided) << "Don't Allow" << false;
    }
    void consentThroughGuard() {
        QFETCH(int, stored);
        QFETCH(QString, button);
        QFETCH(bool, allowed);
        TestHome home;
        const QString documents = home.documents();
        home.makeFile(QStringLiteral("home/Documents/note.txt"), "kept in documents");
        const QString store = home.stateHome() + "/pellim/folder-access.json";
        if (stored != int(ConsentAnswer::NotDecided))
            QVERIFY(ConsentStore(store).setAnswer(GuardedFolder::Documents, ConsentAnswer(stored)));
        MemoryLogSink guardLog;
        DialogConsentPrompter prompter;
        FolderGuard guard(guardLog, prompter, store);
        Harness h(&guard);
        h.window.show();
        QCOMPARE(h.window.folderList->currentIndex(), 0);
        Timeline t(h);

        std::shared_ptr<bool> asked;
        if (!button.isEmpty())
            asked = answerNextModal<QMessageBox>(
                [button](QMessageBox *box) { clickButton(box, button); });
        QPushButton *consentButton = pellim::test::button(h, "openConsentButton");
        QVERIFY(consentButton);
        consentButton->click();
        if (asked)
            QVERIFY(*asked);

        const QString first = "info: trying to list files in " + documents;
        const QString file = documents + "/note.txt";
        if (allowed)
            QCOMPARE(
                t.entries(),
                QStringList({first, "info: trying to look in " + documents + " for text files",
                             "info: trying to read from: " + file, "info: read from: " + file}));
        else
            QCOMPARE(
                t.events(),
                QStringList({first, "fileName: [Couldn't get contents of " + documents + " folder]",
                             "openedText: ", "error: couldn't get contents of " + documents}));
        QCOMPARE(ConsentStore(store).answer(GuardedFolder::Documents),
                 allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied);
    }
};

QTEST_MAIN(TestPick)
#include "test_pick.moc"
