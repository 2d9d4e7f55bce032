#include "panels/FileDialogs.h"

#include "guard/FolderProtection.h"

#include <QFileDialog>
#include <QMimeDatabase>

#include <memory>

namespace pellim {

namespace {

// One filter for the generic text type: the file-name patterns of text/plain
// and of every type that builds on it, as the system's MIME database knows them.
QString textNameFilter() {
    QStringList patterns;
    const QList<QMimeType> types = QMimeDatabase().allMimeTypes();
    for (const QMimeType &type : types) {
        if (type.inherits(QStringLiteral("text/plain")))
            patterns += type.globPatterns();
    }
    patterns.removeDuplicates();
    patterns.sort();
    return QStringLiteral("Text (%1)").arg(patterns.join(QLatin1Char(' ')));
}

void applyHidden(QFileDialog *dialog, bool showHidden) {
    QDir::Filters filter = dialog->filter();
    filter.setFlag(QDir::Hidden, showHidden);
    dialog->setFilter(filter);
}

} // namespace

QtFileDialogs::QtFileDialogs(FolderProtection &protection, bool forceWidgetDialog)
    : m_protection(protection), m_forceWidgetDialog(forceWidgetDialog) {}

namespace {

// Shows `dialog` without blocking and reports its outcome once. The dialog is
// a child of `parent`, so it goes when the parent goes: the completion then
// never runs, as there is nobody left to tell.
void run(QFileDialog *dialog, bool chooseFolder, FolderProtection &protection,
         DialogCompletion completion) {
    auto pending = std::make_shared<DialogCompletion>(std::move(completion));
    QObject::connect(dialog, &QDialog::finished, dialog,
                     [dialog, chooseFolder, &protection, pending](int result) {
                         if (!*pending)
                             return; // already reported
                         const DialogCompletion done = std::move(*pending);
                         *pending = nullptr;
                         const QStringList chosen = dialog->selectedFiles();
                         dialog->deleteLater();
                         if (result != QDialog::Accepted || chosen.size() != 1 ||
                             chosen.front().isEmpty()) {
                             done(kResponseCancel, std::nullopt);
                             return;
                         }
                         const FileUrl url = FileUrl::fromLocalPath(chosen.front(), chooseFolder);
                         // The choice grants access before anyone acts on it.
                         protection.grantChosen(url.path(), chooseFolder);
                         done(kResponseOK, url);
                     });
    dialog->setWindowModality(Qt::NonModal);
    dialog->show();
}

} // namespace

void QtFileDialogs::beginSave(QWidget *parent, const SaveDialogOptions &options,
                              DialogCompletion completion) {
    auto *dialog = new QFileDialog(parent); // owned by `parent`, deleted after completion
    dialog->setOption(QFileDialog::DontUseNativeDialog, m_forceWidgetDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // ReadOnly is what takes away the widget dialog's "New Folder".
    dialog->setOption(QFileDialog::ReadOnly, !options.canCreateDirectories);
    if (options.textTypesOnly)
        dialog->setNameFilter(textNameFilter());
    if (!options.suggestedName.isEmpty())
        dialog->selectFile(options.suggestedName);
    run(dialog, false, m_protection, std::move(completion));
}

void QtFileDialogs::beginOpen(QWidget *parent, const OpenDialogOptions &options,
                              DialogCompletion completion) {
    auto *dialog = new QFileDialog(parent); // owned by `parent`, deleted after completion
    dialog->setOption(QFileDialog::DontUseNativeDialog, m_forceWidgetDialog);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // A file dialog chooses files or folders, not both; folders win only when
    // files cannot be chosen. There are no packages on this system, so
    // treatsPackagesAsDirectories has nothing to act on.
    const bool chooseFolder = options.canChooseDirectories && !options.canChooseFiles;
    if (chooseFolder) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly, true);
    } else {
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    applyHidden(dialog, options.showsHiddenFiles);
    if (options.textTypesOnly && !chooseFolder)
        dialog->setNameFilter(textNameFilter());
    if (!options.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, options.prompt);
    run(dialog, chooseFolder, m_protection, std::move(completion));
}

} // namespace pellim
