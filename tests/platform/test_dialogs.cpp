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
            outcome = {outcome.calls + 1, response, chosen, m_protection.granted.size()};
        };
    }
    // Begins an open dialog for files (text only) or folders and returns it.
    QFileDialog *open(Outcome &outcome, bool folders) {
        OpenDialogOptions o;
        o.canChooseDirectories = folders;
        o.canChooseFiles = o.textTypesOnly = !folders;
        o.prompt = folders ? QStringLiteral("Select Folder") : QStringLiteral("Select File");
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

    void settingsOfEachDialog() {
        Outcome saved, files, folders;
        SaveDialogOptions save;
        save.suggestedName = QStringLiteral("Pellim1.txt");
        m_dialogs.beginSave(m_parent.get(), save, record(saved));
        open(files, false);
        open(folders, true);
        const QList<QFileDialog *> shown = openFileDialogs(m_parent.get());
        QCOMPARE(shown.size(), 3); // several at once, all returned at once
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        for (QFileDialog *d : shown) {
            QVERIFY(!d->isModal() && d->testOption(QFileDialog::DontUseNativeDialog));
            QVERIFY(!d->filter().testFlag(QDir::Hidden));
        }
        QCOMPARE(shown[0]->acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(!shown[0]->testOption(QFileDialog::ReadOnly)); // folders can be created
        QCOMPARE(shown[0]->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text(),
                 save.suggestedName);
        for (QFileDialog *d : {shown[0], shown[1]}) {
            const QString filter = d->nameFilters().join(QLatin1Char(';'));
            QVERIFY2(d->nameFilters().size() == 1 && filter.contains(QLatin1String("*.txt")) &&
                         filter.contains(QLatin1String("*.html")) && !filter.contains("*.png"),
                     qPrintable(filter));
        }
        QCOMPARE(shown[1]->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(shown[1]->labelText(QFileDialog::Accept), QStringLiteral("Select File"));
        QCOMPARE(shown[2]->fileMode(), QFileDialog::Directory);
        QVERIFY(shown[2]->testOption(QFileDialog::ShowDirsOnly));
        QCOMPARE(shown[2]->labelText(QFileDialog::Accept), QStringLiteral("Select Folder"));

        QCOMPARE(saved.calls + files.calls + folders.calls, 0);
        for (QFileDialog *d : shown)
            d->reject();
        QCOMPARE(saved.calls + files.calls + folders.calls, 3);
        QVERIFY(saved.response == kResponseCancel && !saved.chosen);
        QVERIFY(m_protection.granted.isEmpty());
    }

    void chosenFileIsGrantedThenReportedOnce() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("a b.txt"));
        QFile(file).open(QIODevice::WriteOnly);
        Outcome outcome;
        QPointer<QFileDialog> dialog = open(outcome, false);
        QVERIFY(dialog);
        dialog->selectFile(file);
        static_cast<QDialog *>(dialog.data())->accept();
        QVERIFY(outcome.calls == 1 && outcome.response == kResponseOK && outcome.chosen);
        QCOMPARE(*outcome.chosen, FileUrl::fromLocalPath(file, false));
        QCOMPARE(outcome.grantsSeen, 1);
        QCOMPARE(m_protection.granted.value(0), std::make_pair(file, false));
        // A second finish reports nothing more; then the dialog goes.
        if (dialog)
            static_cast<QDialog *>(dialog.data())->done(QDialog::Rejected);
        QCOMPARE(outcome.calls, 1);
        QVERIFY(waitUntil([&] { return dialog.isNull(); }));
    }

    void chosenFolder() {
        QTemporaryDir dir;
        Outcome outcome;
        QFileDialog *dialog = open(outcome, true);
        QVERIFY(dialog);
        QTest::qWait(50); // through the event loop, as a person would meet it
        dialog->setDirectory(dir.path());
        static_cast<QDialog *>(dialog)->accept();
        QVERIFY(waitUntil([&] { return outcome.calls == 1; }));
        QVERIFY(outcome.response == kResponseOK && outcome.chosen);
        QCOMPARE(*outcome.chosen, FileUrl::fromLocalPath(QDir(dir.path()).canonicalPath(), true));
        QCOMPARE(m_protection.granted.value(0).second, true);
    }

    // An OK that carries no single file is a cancel, and grants nothing.
    void okWithoutAFile() {
        QTemporaryDir dir;
        Outcome outcome;
        QFileDialog *dialog = open(outcome, false);
        QVERIFY(dialog);
        dialog->setDirectory(dir.path());
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
        QVERIFY(outcome.calls == 1 && outcome.response == kResponseCancel && !outcome.chosen);
        QVERIFY(m_protection.granted.isEmpty());
    }

    void alertIsModalWithOneOkButton() {
        auto answered = answerNextModal<QMessageBox>([](QMessageBox *box) {
            QStringList seen{box->text(), box->informativeText()};
            for (QAbstractButton *b : box->buttons())
                seen << b->text();
            const auto *info = box->findChild<QLabel *>("qt_msgbox_informativelabel");
            const bool plainCritical =
                info && info->textFormat() == Qt::PlainText && box->icon() == QMessageBox::Critical;
            if (!clickButton(box, QStringLiteral("OK"))) // first: a failed check must not hang
                box->reject();
            QCOMPARE(seen, (QStringList{"Couldn't save file to path", "/tmp/<b>x</b>", "OK"}));
            QVERIFY(plainCritical);
        });
        QtAlert().showCritical(m_parent.get(), QStringLiteral("Couldn't save file to path"),
                               QStringLiteral("/tmp/<b>x</b>"));
        QVERIFY(*answered);
    }

private:
    RecordingProtection m_protection;
    QtFileDialogs m_dialogs{m_protection, true};
    std::unique_ptr<QWidget> m_parent;
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
