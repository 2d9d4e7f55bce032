#include "guard/FolderProtection.h"
#include "panels/Alert.h"
#include "panels/FileDialogs.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

using namespace pellim;
using namespace pellim::test;

namespace {

class RecordingProtection final : public FolderProtection {
public:
    bool mayAccess(const Walked &, const QByteArray &, FileAccessKind) override { return true; }
    void grantChosen(const QByteArray &path, bool folder) override {
        granted.append({QFile::decodeName(path), folder});
    }
    QList<std::pair<QString, bool>> granted;
};

struct Outcome {
    int calls = 0;
    int response = -1;
    std::optional<FileUrl> chosen;
    qsizetype grantsSeen = -1; // grants recorded when the completion ran
};

// accept() and done() are protected in QFileDialog, public in QDialog.
QDialog *asDialog(QFileDialog *d) {
    return d;
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

    DialogCompletion record(Outcome &outcome) {
        return [this, &outcome](int response, std::optional<FileUrl> chosen) {
            outcome = {outcome.calls + 1, response, chosen, m_protection.granted.size()};
        };
    }
    // Begins an open dialog for text files or for folders and returns it.
    QFileDialog *open(Outcome &outcome, bool folders) {
        OpenDialogOptions o;
        o.canChooseDirectories = folders;
        o.canChooseFiles = o.textTypesOnly = !folders;
        o.prompt = folders ? "Select Folder" : "Select File";
        m_dialogs.beginOpen(m_parent.get(), o, record(outcome));
        const QList<QFileDialog *> shown = openFileDialogs(m_parent.get());
        return shown.isEmpty() ? nullptr : shown.last();
    }

private Q_SLOTS:
    void init() {
        m_protection.granted.clear();
        m_parent = std::make_unique<QWidget>();
        m_parent->show();
    }
    void cleanup() { m_parent.reset(); }

    // Also: an OK that carries no file is a cancel.
    void settingsOfEachDialogAndCancel() {
        Outcome saved, files, folders;
        SaveDialogOptions save;
        save.suggestedName = "Pellim1.txt";
        m_dialogs.beginSave(m_parent.get(), save, record(saved));
        open(files, false);
        open(folders, true);
        const QList<QFileDialog *> d = openFileDialogs(m_parent.get());
        QCOMPARE(d.size(), 3); // several at once, all returned at once
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        for (QFileDialog *dialog : d)
            QVERIFY(!dialog->isModal() && !dialog->filter().testFlag(QDir::Hidden));
        QCOMPARE(d[0]->acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(!d[0]->testOption(QFileDialog::ReadOnly)); // folders can be created
        QCOMPARE(d[0]->findChild<QLineEdit *>("fileNameEdit")->text(), save.suggestedName);
        for (QFileDialog *dialog : {d[0], d[1]}) {
            const QString filter = dialog->nameFilters().join(';');
            QVERIFY2(dialog->nameFilters().size() == 1 && filter.contains("*.txt") &&
                         filter.contains("*.html") && !filter.contains("*.png"),
                     qPrintable(filter));
        }
        QCOMPARE(d[1]->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(d[1]->labelText(QFileDialog::Accept), "Select File");
        QCOMPARE(d[2]->fileMode(), QFileDialog::Directory);
        QVERIFY(d[2]->testOption(QFileDialog::ShowDirsOnly));
        QCOMPARE(d[2]->labelText(QFileDialog::Accept), "Select Folder");

        QCOMPARE(saved.calls + files.calls + folders.calls, 0);
        QTemporaryDir empty;
        d[1]->setDirectory(empty.path());
        asDialog(d[1])->done(QDialog::Accepted);
        d[0]->reject();
        d[2]->reject();
        QCOMPARE(saved.calls + files.calls + folders.calls, 3);
        QVERIFY(files.response == kResponseCancel && !files.chosen && !saved.chosen);
        QVERIFY(m_protection.granted.isEmpty());
    }

    void chosenFileIsGrantedThenReportedOnce() {
        QTemporaryDir dir;
        const QString file = dir.filePath("a b.txt");
        QFile(file).open(QIODevice::WriteOnly);
        Outcome outcome;
        QPointer<QFileDialog> dialog = open(outcome, false);
        QVERIFY(dialog);
        dialog->selectFile(file);
        asDialog(dialog)->accept();
        QVERIFY(outcome.calls == 1 && outcome.response == kResponseOK && outcome.chosen);
        QCOMPARE(*outcome.chosen, FileUrl::fromLocalPath(file, false));
        QCOMPARE(outcome.grantsSeen, 1);
        QCOMPARE(m_protection.granted.value(0), std::make_pair(file, false));
        if (dialog) // a second finish reports nothing more; then the dialog goes
            asDialog(dialog)->done(QDialog::Rejected);
        QCOMPARE(outcome.calls, 1);
        QVERIFY(waitUntil([&] { return dialog.isNull(); }));
    }

    // A Save dialog for text gives a bare name the text extension and keeps any
    // other.
    void saveTypedName_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("bare") << "notes"
                              << "notes.txt";
        QTest::newRow("other extension") << "notes.md"
                                         << "notes.md";
    }
    void saveTypedName() {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QTemporaryDir dir;
        Outcome outcome;
        m_dialogs.beginSave(m_parent.get(), SaveDialogOptions{}, record(outcome));
        QFileDialog *dialog = openFileDialogs(m_parent.get()).value(0);
        QVERIFY(dialog);
        dialog->setDirectory(dir.path());
        auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
        QVERIFY(name);
        name->clear();
        QTest::keyClicks(name, typed);
        asDialog(dialog)->accept();
        QVERIFY(outcome.calls == 1 && outcome.response == kResponseOK && outcome.chosen);
        QCOMPARE(outcome.chosen->path(), dir.filePath(saved));
    }

    // The Open dialog for text takes a typed name only when Qt takes the file
    // for text, by its name or, without a telling name, by its content; the
    // name filter alone would let any typed name through.
    void openTypedNameTextOnly_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("taken");
        const QByteArray text("A line of text.\n");
        QTest::newRow("text by name") << "plain.txt" << text << true;
        QTest::newRow("text by content") << "notes" << text << true;
        QTest::newRow("image") << "picture.png" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16)
                               << false;
        QTest::newRow("zeros") << "zeros.bin" << QByteArray(64, '\0') << false;
    }
    void openTypedNameTextOnly() {
        QFETCH(QString, typed);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, taken);
        QTemporaryDir dir;
        QFile file(dir.filePath(typed));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        Outcome outcome;
        QPointer<QFileDialog> dialog = open(outcome, false);
        QVERIFY(dialog);
        dialog->setDirectory(dir.path());
        auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
        QVERIFY(name);
        QTest::keyClicks(name, typed);
        asDialog(dialog)->accept();
        if (taken) {
            QVERIFY(outcome.calls == 1 && outcome.response == kResponseOK && outcome.chosen);
            QCOMPARE(outcome.chosen->path(), file.fileName());
        } else {
            QCOMPARE(outcome.calls, 0);
            QVERIFY(dialog && dialog->isVisible());
            QVERIFY(m_protection.granted.isEmpty());
        }
    }

    void chosenFolder() {
        QTemporaryDir dir;
        Outcome outcome;
        QFileDialog *dialog = open(outcome, true);
        QVERIFY(dialog);
        QTest::qWait(50); // through the event loop, as a person would meet it
        dialog->setDirectory(dir.path());
        asDialog(dialog)->accept();
        QVERIFY(waitUntil([&] { return outcome.calls == 1; }));
        QVERIFY(outcome.response == kResponseOK && outcome.chosen);
        QCOMPARE(*outcome.chosen, FileUrl::fromLocalPath(QDir(dir.path()).canonicalPath(), true));
        QCOMPARE(m_protection.granted.value(0).second, true);
    }

    void alertIsModalWithOneOkButton() {
        auto answered = answerNextModal<QMessageBox>([](QMessageBox *box) {
            QStringList seen{box->text(), box->informativeText()};
            for (QAbstractButton *b : box->buttons())
                seen << b->text();
            const auto *info = box->findChild<QLabel *>("qt_msgbox_informativelabel");
            const bool plainCritical =
                info && info->textFormat() == Qt::PlainText && box->icon() == QMessageBox::Critical;
            if (!clickButton(box, "OK")) // first: a failed check must not leave it open
                box->reject();
            QCOMPARE(seen, (QStringList{"Couldn't save file to path", "/tmp/<b>x</b>", "OK"}));
            QVERIFY(plainCritical);
        });
        QtAlert().showCritical(m_parent.get(), "Couldn't save file to path", "/tmp/<b>x</b>");
        QVERIFY(*answered);
    }

private:
    RecordingProtection m_protection;
    QtFileDialogs m_dialogs{m_protection, true};
    std::unique_ptr<QWidget> m_parent;
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
