#include "files/FileUrl.h"
#include "guard/FolderProtection.h"
#include "panels/ConsentDialog.h"
#include "panels/FileDialogs.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace pellim;

namespace {

struct RecordingProtection final : FolderProtection {
    bool mayAccess(const Walked &, const QByteArray &, FileAccessKind) override { return true; }
    void grantChosen(const QByteArray &path, bool folder) override {
        granted << QFile::decodeName(path) + (folder ? "/" : "");
    }
    QStringList granted; // a folder's ends in "/"
};

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

    RecordingProtection m_protection;
    QtFileDialogs m_dialogs{m_protection, true};

private Q_SLOTS:
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
    }
    void typedName() {
        QFETCH(QString, kind);
        QFETCH(QString, typed);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, chosen);
        QTemporaryDir dir;
        QFile file(dir.filePath(typed));
        QVERIFY(bytes.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(bytes)));
        file.close();
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
        QTest::keyClicks(dialog->findChild<QLineEdit *>("fileNameEdit"), typed);
        auto *asDialog = static_cast<QDialog *>(dialog); // accept() is protected in QFileDialog
        asDialog->accept();

        if (chosen.isEmpty()) {
            QVERIFY(outcome.calls == 0 && dialog && dialog->isVisible());
        } else {
            QVERIFY(QTest::qWaitFor([&] { return outcome.calls == 1; }));
            const bool folder = chosen == "/";
            const QString path = QDir(dir.path()).canonicalPath() + (folder ? "" : "/" + chosen);
            QVERIFY(outcome.response == kResponseOK && outcome.chosen &&
                    *outcome.chosen == FileUrl::fromLocalPath(path, folder));
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

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
