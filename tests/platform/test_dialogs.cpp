#include "platform/Alert.h"
#include "platform/FileDialogs.h"
#include "platform/FolderProtection.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QDir>
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
    bool mayAccess(const QString &, FileAccessKind) override { return true; }
    void grantChosen(const QString &path, bool isDirectory) override {
        granted.append({path, isDirectory});
    }
    QList<std::pair<QString, bool>> granted;
};

struct Outcome {
    int calls = 0;
    int response = -1;
    std::optional<FileUrl> chosen;
    qsizetype grantsSeen = -1; // grants recorded when the completion ran
};

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

    DialogCompletion record(Outcome &outcome) {
        return [this, &outcome](int response, std::optional<FileUrl> chosen) {
            ++outcome.calls;
            outcome.response = response;
            outcome.chosen = std::move(chosen);
            outcome.grantsSeen = m_protection.granted.size();
        };
    }
    static OpenDialogOptions openFiles() {
        OpenDialogOptions o;
        o.textTypesOnly = true;
        o.prompt = QStringLiteral("Select File");
        return o;
    }
    static OpenDialogOptions openFolders() {
        OpenDialogOptions o;
        o.canChooseDirectories = true;
        o.canChooseFiles = false;
        o.prompt = QStringLiteral("Select Folder");
        return o;
    }

private Q_SLOTS:
    void init() {
        m_protection.granted.clear();
        m_parent = std::make_unique<QWidget>();
        m_parent->show();
    }
    void cleanup() { m_parent.reset(); }

    void settingsOfEachDialog() {
        Outcome a, b, c;
        SaveDialogOptions save;
        save.suggestedName = QStringLiteral("Pellim1.txt");
        m_dialogs.beginSave(m_parent.get(), save, record(a));
        m_dialogs.beginOpen(m_parent.get(), openFiles(), record(b));
        m_dialogs.beginOpen(m_parent.get(), openFolders(), record(c));
        const QList<QFileDialog *> open = openFileDialogs(m_parent.get());
        QCOMPARE(open.size(), 3); // several at once, all returned at once
        QCOMPARE(a.calls + b.calls + c.calls, 0);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        for (QFileDialog *d : open) {
            QVERIFY(!d->isModal());
            QVERIFY(d->testOption(QFileDialog::DontUseNativeDialog));
            QVERIFY(!d->filter().testFlag(QDir::Hidden));
        }
        QFileDialog *saveDialog = open[0], *filesDialog = open[1], *foldersDialog = open[2];

        QCOMPARE(saveDialog->acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(!saveDialog->testOption(QFileDialog::ReadOnly)); // folders can be created
        QCOMPARE(saveDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text(),
                 QStringLiteral("Pellim1.txt"));
        for (QFileDialog *d : {saveDialog, filesDialog}) {
            QCOMPARE(d->nameFilters().size(), 1);
            const QString filter = d->nameFilters().front();
            QVERIFY2(filter.contains(QLatin1String("*.txt")) &&
                         filter.contains(QLatin1String("*.html")) &&
                         !filter.contains(QLatin1String("*.png")),
                     qPrintable(filter));
        }

        QCOMPARE(filesDialog->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(filesDialog->labelText(QFileDialog::Accept), QStringLiteral("Select File"));
        QCOMPARE(foldersDialog->fileMode(), QFileDialog::Directory);
        QVERIFY(foldersDialog->testOption(QFileDialog::ShowDirsOnly));
        QCOMPARE(foldersDialog->labelText(QFileDialog::Accept), QStringLiteral("Select Folder"));

        for (QFileDialog *d : open)
            d->reject();
        QCOMPARE(a.calls + b.calls + c.calls, 3);
        QVERIFY(a.response == kResponseCancel && !a.chosen);
        QVERIFY(m_protection.granted.isEmpty());
    }

    void chosenFileIsGrantedThenReportedOnce() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("a b.txt"));
        QFile(file).open(QIODevice::WriteOnly);
        Outcome outcome;
        m_dialogs.beginOpen(m_parent.get(), openFiles(), record(outcome));
        QPointer<QFileDialog> dialog = openFileDialogs(m_parent.get()).value(0);
        QVERIFY(dialog);
        dialog->selectFile(file);
        static_cast<QDialog *>(dialog.data())->accept();
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.response, kResponseOK);
        QVERIFY(outcome.chosen && !outcome.chosen->isDirectory());
        QCOMPARE(outcome.chosen->path(), file);
        QCOMPARE(outcome.grantsSeen, 1);
        QCOMPARE(m_protection.granted.value(0), std::make_pair(file, false));
        // Finishing again (a second signal) reports nothing more; then it goes.
        if (dialog)
            static_cast<QDialog *>(dialog.data())->done(QDialog::Rejected);
        QCOMPARE(outcome.calls, 1);
        QVERIFY(waitUntil([&] { return dialog.isNull(); }));
    }

    void chosenFolder() {
        QTemporaryDir dir;
        Outcome outcome;
        m_dialogs.beginOpen(m_parent.get(), openFolders(), record(outcome));
        QFileDialog *dialog = openFileDialogs(m_parent.get()).value(0);
        QVERIFY(dialog);
        QTest::qWait(50); // through the event loop, as a person would meet it
        dialog->setDirectory(dir.path());
        static_cast<QDialog *>(dialog)->accept();
        QVERIFY(waitUntil([&] { return outcome.calls == 1; }));
        QCOMPARE(outcome.response, kResponseOK);
        QVERIFY(outcome.chosen && outcome.chosen->isDirectory());
        QCOMPARE(outcome.chosen->path(), QDir(dir.path()).canonicalPath());
        QCOMPARE(m_protection.granted.value(0).second, true);
    }

    // An OK that carries no single file is a cancel, and grants nothing.
    void okWithoutAFile() {
        QTemporaryDir dir;
        Outcome outcome;
        m_dialogs.beginOpen(m_parent.get(), openFiles(), record(outcome));
        QFileDialog *dialog = openFileDialogs(m_parent.get()).value(0);
        QVERIFY(dialog);
        dialog->setDirectory(dir.path());
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.response, kResponseCancel);
        QVERIFY(!outcome.chosen);
        QVERIFY(m_protection.granted.isEmpty());
    }

    void alertIsModalWithOneOkButton() {
        QtAlert alert;
        QString text, informative;
        QStringList buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::TextFormat informativeFormat = Qt::AutoText;
        auto answered = answerNextModal<QMessageBox>([&](QMessageBox *box) {
            text = box->text();
            informative = box->informativeText();
            icon = box->icon();
            for (QAbstractButton *b : box->buttons())
                buttons << b->text();
            if (auto *label =
                    box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
                informativeFormat = label->textFormat();
            clickButton(box, QStringLiteral("OK"));
        });
        alert.showCritical(m_parent.get(), QStringLiteral("Couldn't save file to path"),
                           QStringLiteral("/tmp/<b>x</b>"));
        QVERIFY(*answered);
        QCOMPARE(text, QStringLiteral("Couldn't save file to path"));
        QCOMPARE(informative, QStringLiteral("/tmp/<b>x</b>"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons, QStringList{QStringLiteral("OK")});
        QCOMPARE(informativeFormat, Qt::PlainText);
    }

private:
    RecordingProtection m_protection;
    QtFileDialogs m_dialogs{m_protection, true};
    std::unique_ptr<QWidget> m_parent;
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
