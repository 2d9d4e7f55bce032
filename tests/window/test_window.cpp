// The main window's tests, each on a shown, guarded window in a temporary home.
// Writing: through the Save dialog, and straight into the folder named in the
// folder list, past the folder guard (a save into a chosen folder is the
// end-to-end suite's); the fields never change, an outcome is its entries and
// alerts. The folder list: an item gives its folder, typed text a path exactly
// as typed, and the list keeps to that while the person types. Reading: one
// file read and shown, and a text file drawn at random from a folder. And the
// panels the window opens: the consent prompt and the file dialogs.
#include "consent/ConsentStore.h"
#include "panels/ConsentDialog.h"
#include "support/WindowFixture.h"

#include <cstdio>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QMessageBox>
#include <QPointer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

using namespace pellim;
using namespace pellim::test;

namespace {

QStringList wrote(const QString &path) {
    return {"info: trying to write to: " + path, "info: wrote to: " + path};
}
QStringList failed(const QString &path) {
    return {"info: trying to write to: " + path, "error: couldn't write to: " + path,
            "alert: Couldn't save file to path | " + path};
}

constexpr quint64 kHalf = quint64(1) << 63;

QByteArray times(const char *utf8, int n) {
    return QByteArray(utf8).repeated(n);
}

FileUrl folderUrl(const QString &path) {
    return FileUrl::fromLocalPath(path, true);
}

struct RecordingProtection final : FolderProtection {
    bool mayAccess(const Walked &, const QByteArray &, FileAccessKind) override { return true; }
    void grantChosen(const QByteArray &path, bool folder) override {
        granted << QFile::decodeName(path) + (folder ? "/" : "");
    }
    QStringList granted; // a folder's ends in "/"
};

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

    RecordingProtection m_protection;
    QtFileDialogs m_dialogs{m_protection, true};
    std::unique_ptr<Scene> s;
    QComboBox *list = nullptr;

    QString selected() const {
        const auto url = s->h.window.selectedProtectedFolder();
        return url ? url->path() + (url->isDirectory() ? "/" : "") : "<none>";
    }
    // As a person picks: open the list and click the item.
    void pick(int index) {
        list->showPopup();
        QAbstractItemView *view = list->view();
        QVERIFY(QTest::qWaitFor([&] { return view->isVisible(); }));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(list->model()->index(index, 0)).center());
        QVERIFY(QTest::qWaitFor([&] { return !view->isVisible(); }));
        QCOMPARE(list->currentIndex(), index);
    }

private Q_SLOTS:
    void init() {
        s = std::make_unique<Scene>(true);
        QVERIFY(QTest::qWaitForWindowExposed(&s->h.window));
        list = s->h.window.folderList;
    }
    void cleanup() { s.reset(); }

    void typedTextIsAPathAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        const QString cwd = QDir::currentPath();
        QTest::newRow("no final slash") << "/nowhere/Tests"
                                        << "/nowhere/";
        QTest::newRow("spaces kept") << " /nowhere/ a /" << cwd + "/ /nowhere/ a /";
        QTest::newRow("an item's name") << "Downloads" << cwd + "/";
    }
    void typedTextIsAPathAsTyped() {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        pick(2);
        typeReplacing(list->lineEdit(), typed);
        QCOMPARE(selected(), expected);
        // Enter neither adds the text nor matches it to an item of that name.
        QTest::keyClick(list->lineEdit(), Qt::Key_Return);
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(list->currentText(), typed);
        QCOMPARE(selected(), expected);
    }

    void pickingAnItemAgain() {
        QCOMPARE(selected(), s->home.documents() + "/");
        pick(2);
        QCOMPARE(selected(), s->home.downloads() + "/");
        // Typing onto the shown item edits its text; picking that item again, or
        // moving to one with an arrow key, gives the item's folder.
        QTest::keyClick(list->lineEdit(), Qt::Key_End);
        QTest::keyClicks(list->lineEdit(), "/sub/");
        QCOMPARE(selected(), QDir::currentPath() + "/Downloads/sub/");
        pick(2);
        QCOMPARE(selected(), s->home.downloads() + "/");
        typeReplacing(list->lineEdit(), "/x/");
        QTest::keyClick(list->lineEdit(), Qt::Key_Down);
        QVERIFY(list->currentIndex() >= 0);
        QCOMPARE(selected(), s->h.window.theSpecDirs[list->currentIndex()].path() + "/");
    }

    // Each click suggests a fresh name of its own. A name changed in the dialog
    // is the one written, plain on disk and escaped in the entries; a folder
    // where nothing can be created fails with the alert.
    void saveWithDialog() {
        QFileDialog *a = clickForDialog(s->h, "saveIntentButton");
        QFileDialog *b = clickForDialog(s->h, "saveIntentButton");
        QVERIFY(a && b);
        const QString nameB = nameField(b)->text();
        QVERIFY2(isTestFileName(nameField(a)->text()) && isTestFileName(nameB) &&
                     nameField(a)->text() != nameB,
                 qPrintable(nameField(a)->text() + " " + nameB));
        const QString folder = s->home.makeFolder("a b/%s");
        accept(a, folder, "100% x.txt");
        accept(b, "/proc", nameB);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"100% x.txt"});
        QCOMPARE(fileBytes(folder + "/100% x.txt"), s->h.window.textOutput.toUtf8());
        QCOMPARE(s->t.events,
                 wrote(s->home.root() + "/a%20b/%25s/100%25%20x.txt") + failed("/proc/" + nameB));
    }

    // The dialogs are the guard's windows: each title says it is Pellim's and
    // what the choice is for. The first opens in the home folder, the next in
    // the folder of the last choice, also where its path was typed in another
    // folder; the text filter shows by its name alone.
    void dialogsSayWhatForAndStartWhereLastChosen() {
        QFileDialog *folder = clickForDialog(s->h, "saveToFolderButton");
        QVERIFY(folder);
        QCOMPARE(folder->windowTitle(), "Pellim: choose a folder to save into");
        QCOMPARE(folder->directory().absolutePath(), s->home.home());
        accept(folder, s->home.home(), s->home.downloads());
        QFileDialog *file = clickForDialog(s->h, "openIntentButton");
        QVERIFY(file);
        QCOMPARE(file->windowTitle(), "Pellim: choose a text file to read");
        QCOMPARE(file->directory().absolutePath(), s->home.downloads());
        QVERIFY2(file->testOption(QFileDialog::HideNameFilterDetails) &&
                     file->nameFilters().value(0).startsWith("Text files (") &&
                     file->nameFilters().value(0).contains(" *.txt "),
                 qPrintable(file->nameFilters().value(0).left(60)));
        file->reject();
    }

    // Save into the protected folder: the item's folder past the guard, or a typed
    // folder as typed (the folder list's tests say how), which need not exist.
    void saveConsent_data() {
        QTest::addColumn<int>("item"); // -1: a folder typed into the list
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("allow");
        QTest::newRow("Documents, asked: allowed") << 0 << false << true;
        QTest::newRow("Desktop, stored: denied") << 1 << true << false;
        QTest::newRow("Downloads, asked: denied") << 2 << false << false;
        QTest::newRow("typed, missing") << -1 << false << true;
    }
    void saveConsent() {
        QFETCH(int, item);
        QFETCH(bool, stored);
        QFETCH(bool, allow);
        const QString folder = item < 0 ? s->home.root() + "/missing"
                                        : QStringList{s->home.documents(), s->home.desktop(),
                                                      s->home.downloads()}[item];
        if (stored)
            QVERIFY(ConsentStore(ConsentStore::defaultPath())
                        .setAnswer(kGuardedFolders[item],
                                   allow ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        s->prompter.answer = allow ? PromptAnswer::Allow : PromptAnswer::Deny;
        if (item < 0)
            typeReplacing(s->h.window.folderList->lineEdit(), folder + "/");
        else
            s->h.window.folderList->setCurrentIndex(item);
        click(s->h, "saveConsentButton");

        const QString path = folder + "/" + s->t.events.value(0).section('/', -1);
        QVERIFY2(isTestFileName(path.section('/', -1)), qPrintable(s->t.events.value(0)));
        QCOMPARE(s->prompter.asked, stored || item < 0 ? 0 : 1);
        const bool ok = allow && item >= 0;
        QCOMPARE(s->t.events, ok ? wrote(path) : failed(path));
        QCOMPARE(fileBytes(path), ok ? s->h.window.textOutput.toUtf8() : "<unreadable>");
        QVERIFY(item >= 0 || !QFileInfo::exists(folder));
    }

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
        const QString path = s->home.makeFile("sample.txt", contents);
        QVERIFY(s->h.window.readAndShow(FileUrl::fromLocalPath(path, false), true));
        QCOMPARE(s->h.window.openedText->text(), QString::fromUtf8(shown));
    }

    // Open with a dialog: a file that does not decode, then one that does. The
    // folder's name holds a space, escaped in the field and the entries.
    void openWithDialog() {
        s->home.makeFile("my texts/bad.txt", "abc\xC3\x28 def");
        s->home.makeFile("my texts/good.txt", "fine\ntext");
        for (const char *name : {"bad.txt", "good.txt"}) {
            QFileDialog *dialog = clickForDialog(s->h, "openIntentButton");
            QVERIFY(dialog);
            accept(dialog, s->home.root() + "/my texts", name);
        }
        const QString b = s->home.root() + "/my%20texts/bad.txt";
        const QString g = s->home.root() + "/my%20texts/good.txt";
        QCOMPARE(s->t.events,
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
        const QString folder = s->home.makeFolder("box");
        for (const QString &e : entries)
            e.endsWith('/') ? s->home.makeFolder("box/" + e) : s->home.makeFile("box/" + e, "text");
        s->h.window.pickTextFile(folderUrl(folder), ViewController::PickVariant::Consent);
        QCOMPARE(s->t.events.last(), last.arg(folder));
        QCOMPARE(s->random.draws, draws);
    }

    // Open from a chosen folder: a file drawn that does not decode costs a draw and
    // leaves only its first entry; the fields keep their texts until a read works.
    void openFromChosenFolder() {
        const QString folder = s->home.makeFolder("my texts");
        s->home.makeFile("my texts/bad.txt", "abc\xC3\x28");
        s->home.makeFile("my texts/good.txt", "good text");
        const auto listing = s->h.files.list(folderUrl(folder));
        QVERIFY(listing && listing->size() == 2);
        // With two entries, 0 draws the first and 2^63 the second.
        const bool badFirst = listing->name(0) == QLatin1String("bad.txt");
        s->random.values = {badFirst ? 0 : kHalf, badFirst ? 0 : kHalf, badFirst ? kHalf : 0};
        QFileDialog *dialog = clickForDialog(s->h, "openFolderButton");
        QVERIFY(dialog);
        accept(dialog, folder);
        const QString bad = s->home.root() + "/my%20texts/bad.txt";
        const QString good = s->home.root() + "/my%20texts/good.txt";
        QCOMPARE(
            s->t.events,
            QStringList({"info: trying to list files in " + folder,
                         "info: trying to look in " + folder + " for text files",
                         "info: trying to read from: " + bad, "info: trying to read from: " + bad,
                         "info: trying to read from: " + good, "openedText: good text",
                         "fileName: " + good, "info: read from: " + good}));
        QCOMPARE(s->random.draws, 3);
    }

    // A chosen folder that cannot be listed: named escaped, Text emptied last (the
    // consent test's own order is openConsentDenied's).
    void listingFails() {
        const QString folder = s->home.root() + "/not there";
        s->h.window.pickTextFile(folderUrl(folder), ViewController::PickVariant::ChosenFolder);
        QCOMPARE(s->t.events,
                 QStringList({"info: trying to list files in " + folder,
                              "fileName: [Couldn't get contents of folder]",
                              "error: couldn't get contents of " + s->home.root() + "/not%20there/",
                              "openedText: "}));
    }

    // Open from the protected folder, denied by the guard: nothing is listed or
    // read; the folder is named plainly and Text emptied after the status.
    void openConsentDenied() {
        s->home.makeFile("home/Documents/note.txt", "text");
        click(s->h, "openConsentButton");
        QCOMPARE(s->prompter.asked, 1);
        const QString docs = s->home.documents();
        QCOMPARE(s->t.events,
                 QStringList({"info: trying to list files in " + docs,
                              "fileName: [Couldn't get contents of " + docs + " folder]",
                              "openedText: ", "error: couldn't get contents of " + docs}));
    }

    // The consent prompt: only a click on Allow allows. The default button,
    // Escape and closing the box all refuse.
    void promptRefusesUnlessAllowed_data() {
        QTest::addColumn<QString>("how");
        for (const char *how : {"Allow", "Return", "Escape", "close"})
            QTest::newRow(how) << QString(how);
    }
    void promptRefusesUnlessAllowed() {
        QFETCH(QString, how);
        bool answered = false; // from the box's own event loop
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!(answered = box))
                return;
            if (how == "close")
                box->close();
            for (QAbstractButton *b : box->buttons())
                if (how == "Allow" && b->text().remove('&') == how)
                    b->click();
            if (how.startsWith("Re") || how.startsWith("Es"))
                QTest::keyClick(box, how == "Return" ? Qt::Key_Return : Qt::Key_Escape);
        });
        DialogConsentPrompter prompter;
        const PromptAnswer answer =
            prompter.ask(ConsentRequest{GuardedFolder::Desktop, FileAccessKind::Read, "/d/x"});
        QVERIFY(answered);
        QCOMPARE(answer, how == "Allow" ? PromptAnswer::Allow : PromptAnswer::Deny);
    }

    // A Save dialog for text gives a bare name the text extension and keeps any
    // other. The Open dialog for text takes a typed name only when Qt takes the
    // file for text, by its name or, without a telling name, by its content; the
    // name filter alone would let any typed name through. A folder is granted as
    // one, with its subtree. A choice is granted before it is reported, and
    // reported once; no dialog blocks the window.
    void typedName_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("bytes"); // of the file there, if any
        QTest::addColumn<QString>("chosen");   // "": refused, the dialog stays; "/": the folder
        const auto row = [](const char *tag, const char *kind, const char *typed,
                            const QByteArray &bytes, const char *chosen) {
            QTest::newRow(tag) << QString(kind) << QString(typed) << bytes << QString(chosen);
        };
        const QByteArray text("A line of text.\n"), none;
        row("save: bare", "save", "notes", none, "notes.txt");
        row("save: other extension", "save", "notes.md", none, "notes.md");
        row("open: text by name", "file", "plain.txt", text, "plain.txt");
        row("open: text by content", "file", "notes", text, "notes");
        row("open: image", "file", "picture.png", {"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16}, "");
        row("open: zeros", "file", "zeros.bin", QByteArray(64, '\0'), "");
        row("folder", "folder", "", none, "/");
        // U+FFFD stands for the byte FF on disk: Qt shows such a name so, and
        // the choice must reach the file with that byte.
        row("open: name not UTF-8", "file", "b\uFFFD.txt", text, "b\uFFFD.txt");
    }
    void typedName() {
        QFETCH(QString, kind);
        QFETCH(QString, typed);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, chosen);
        QTemporaryDir dir;
        const auto onDisk = [](QByteArray path) { return path.replace("\uFFFD", "\xff"); };
        FILE *raw =
            bytes.isEmpty() ? nullptr : std::fopen(onDisk(dir.filePath(typed).toUtf8()), "w");
        QVERIFY(bytes.isEmpty() || (raw && std::fwrite(bytes.data(), 1, bytes.size(), raw)));
        if (raw)
            std::fclose(raw);
        // QTemporaryDir cannot remove a name that is not UTF-8: by its bytes, here.
        const auto removeRaw =
            qScopeGuard([&] { std::remove(onDisk(dir.filePath(typed).toUtf8()).constData()); });
        QWidget parent;
        parent.show();
        struct {
            int calls = 0, response = -1;
            std::optional<FileUrl> chosen;
            qsizetype grantsSeen = -1; // grants recorded when the completion ran
        } outcome;
        const DialogCompletion done = [&](int response, std::optional<FileUrl> url) {
            outcome = {outcome.calls + 1, response, url, m_protection.granted.size()};
        };
        OpenDialogOptions open;
        open.canChooseDirectories = kind == "folder";
        open.canChooseFiles = open.textTypesOnly = kind != "folder";
        m_protection.granted.clear();
        if (kind == "save")
            m_dialogs.beginSave(&parent, SaveDialogOptions{}, done);
        else
            m_dialogs.beginOpen(&parent, open, done);
        QPointer<QFileDialog> dialog = parent.findChild<QFileDialog *>();
        QVERIFY(dialog && !dialog->isModal() && !QApplication::activeModalWidget());
        dialog->setDirectory(dir.path());
        auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
        if (typed.contains(QChar::ReplacementCharacter)) // no key types it
            edit->setText(typed);
        else
            QTest::keyClicks(edit, typed);
        auto *asDialog = static_cast<QDialog *>(dialog); // accept() is protected in QFileDialog
        asDialog->accept();

        if (chosen.isEmpty()) {
            QVERIFY(outcome.calls == 0 && dialog && dialog->isVisible());
        } else {
            QVERIFY(QTest::qWaitFor([&] { return outcome.calls == 1; }));
            const bool folder = chosen == "/";
            const QString path = QDir(dir.path()).canonicalPath() + (folder ? "" : "/" + chosen);
            QVERIFY(outcome.response == kResponseOK && outcome.chosen &&
                    *outcome.chosen == FileUrl::fromLocalBytes(onDisk(path.toUtf8()), folder));
            QCOMPARE(m_protection.granted, QStringList(path + (folder ? "/" : "")));
            QCOMPARE(outcome.grantsSeen, 1);
        }
        if (dialog) // a second finish reports nothing more (a first one, a cancel)
            asDialog->done(QDialog::Rejected);
        QVERIFY(QTest::qWaitFor([&] { return dialog.isNull(); })); // and the dialog goes
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(m_protection.granted.size(), chosen.isEmpty() ? 0 : 1);
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
