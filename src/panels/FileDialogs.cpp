// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/FileDialogs.h"

#include "paths/FolderProtection.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QWindow>

#include <memory>

#include <dirent.h>
#include <sys/stat.h>

namespace pellim {

namespace {

QString translated(const char *text) {
    return QCoreApplication::translate("pellim::FileDialogs", text);
}

// One filter for the generic text type: the file-name patterns of text/plain
// and of every type that builds on it, as the system's MIME database knows them.
// They are well over a hundred, so the dialog shows only the filter's name
// (QFileDialog::HideNameFilterDetails).
QString textNameFilter() {
    QStringList patterns;
    const QList<QMimeType> types = QMimeDatabase().allMimeTypes();
    for (const QMimeType &type : types) {
        if (type.inherits(QStringLiteral("text/plain")))
            patterns += type.globPatterns();
    }
    patterns.removeDuplicates();
    patterns.sort();
    return translated(QT_TRANSLATE_NOOP("pellim::FileDialogs", "Text files (%1)"))
        .arg(patterns.join(QLatin1Char(' ')));
}

void applyHidden(QFileDialog *dialog, bool showHidden) {
    QDir::Filters filter = dialog->filter();
    filter.setFlag(QDir::Hidden, showHidden);
    dialog->setFilter(filter);
}

// The Open dialog. A name filter only thins out the list: a name typed into
// the dialog passes it, whatever it names. With text only, a file that Qt
// does not take for text (by its name and, where that leaves it open, its
// content) is refused as a system dialog refuses it: the dialog stays open.
FileUrl chosenLocation(const QString &chosen, bool isDirectory);

class OpenDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    void setTextOnly(bool textOnly) { m_textOnly = textOnly; }

protected:
    void accept() override {
        const QStringList chosen = selectedFiles();
        if (chosen.size() == 1 && namesUndecodable(chosen.front())) {
            // Qt found no file by the decoded name, and would refuse it; the
            // one entry that reads the same is the one the person chose.
            QDialog::accept();
            return;
        }
        if (m_textOnly && chosen.size() == 1 && !isText(QFileInfo(chosen.front()))) {
            QApplication::beep();
            // A native dialog has left the screen by the time it reports its
            // choice; bring it back for another.
            if (testAttribute(Qt::WA_DontShowOnScreen)) {
                hide();
                show();
            }
            return;
        }
        QFileDialog::accept();
    }

private:
    // Whether `chosen` names, through a name that is not UTF-8, exactly one
    // existing entry that the dialog may take: a folder in a folder dialog, a
    // regular file, of a text type by its name when only text may be chosen.
    bool namesUndecodable(const QString &chosen) const {
        if (!chosen.contains(QChar::ReplacementCharacter) || QFileInfo::exists(chosen))
            return false;
        const bool folder = fileMode() == QFileDialog::Directory;
        const FileUrl url = chosenLocation(chosen, folder);
        struct stat st {};
        if (::stat(url.pathBytes().constData(), &st) != 0)
            return false;
        if (folder)
            return S_ISDIR(st.st_mode);
        return S_ISREG(st.st_mode) &&
               (!m_textOnly || QMimeDatabase()
                                   .mimeTypeForFile(chosen, QMimeDatabase::MatchExtension)
                                   .inherits(QStringLiteral("text/plain")));
    }

    static bool isText(const QFileInfo &file) {
        // A missing file or a folder is left to the dialog itself, which says
        // the one is not there and goes into the other.
        if (!file.exists() || file.isDir())
            return true;
        // A FIFO, socket or device holds no text file, and looking into one,
        // as Qt does when the name says nothing, could wait for ever.
        if (!file.isFile())
            return false;
        return QMimeDatabase().mimeTypeForFile(file).inherits(QStringLiteral("text/plain"));
    }

    bool m_textOnly = false;
};

} // namespace

QString openDialogTitle(OpenPurpose purpose) {
    switch (purpose) {
    case OpenPurpose::ReadFromFolder:
        return translated(
            QT_TRANSLATE_NOOP("pellim::FileDialogs", "Pellim: choose a folder to read from"));
    case OpenPurpose::SaveIntoFolder:
        return translated(
            QT_TRANSLATE_NOOP("pellim::FileDialogs", "Pellim: choose a folder to save into"));
    case OpenPurpose::ReadFile:
        break;
    }
    return translated(
        QT_TRANSLATE_NOOP("pellim::FileDialogs", "Pellim: choose a text file to read"));
}

QString saveDialogTitle() {
    return translated(
        QT_TRANSLATE_NOOP("pellim::FileDialogs", "Pellim: choose where to save the test file"));
}

QtFileDialogs::QtFileDialogs(FolderProtection &protection, bool forceWidgetDialog)
    : m_protection(protection), m_forceWidgetDialog(forceWidgetDialog),
      m_lastFolder(std::make_shared<QByteArray>()) {}

// A program's own start folder where it names one that exists; else, as the
// desktop's own dialogs do, the folder of the last choice, else the home
// folder; never the process's working folder, which means nothing to the person.
QString QtFileDialogs::startFolder(const ProgramDialog &program) const {
    for (const QByteArray *folder :
         {&program.startFolder, static_cast<const QByteArray *>(m_lastFolder.get())}) {
        const QString path = QFile::decodeName(*folder);
        if (!path.isEmpty() && QFileInfo(path).isDir())
            return path;
    }
    return QDir::homePath();
}

DialogChoices singleChoice(DialogCompletion completion) {
    return [completion = std::move(completion)](int response, DialogChoice choice) {
        if (response == kResponseOK && choice.chosen.size() == 1)
            completion(kResponseOK, choice.chosen.front());
        else
            completion(kResponseCancel, std::nullopt);
    };
}

QString programDialogTitle(const ProgramDialog &program, bool save, bool folder) {
    QString what = program.title;
    if (what.isEmpty())
        what = save ? translated(QT_TRANSLATE_NOOP("pellim::FileDialogs", "choose where to save"))
               : folder ? translated(QT_TRANSLATE_NOOP("pellim::FileDialogs", "choose a folder"))
                        : translated(QT_TRANSLATE_NOOP("pellim::FileDialogs", "choose a file"));
    return translated(QT_TRANSLATE_NOOP("pellim::FileDialogs", "%1: %2"))
        .arg(program.program, what);
}

QString dialogTitle(const SaveDialogOptions &options) {
    return options.program.program.isEmpty() ? saveDialogTitle()
                                             : programDialogTitle(options.program, true, false);
}

QString dialogTitle(const OpenDialogOptions &options) {
    return options.program.program.isEmpty()
               ? openDialogTitle(options.purpose)
               : programDialogTitle(options.program, false,
                                    options.canChooseDirectories && !options.canChooseFiles);
}

namespace {

// The entry of `folder` whose name reads as `shown`, when exactly one does.
std::optional<QByteArray> entryShownAs(const QByteArray &folder, const QString &shown) {
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return std::nullopt;
    std::optional<QByteArray> found;
    int matches = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (QString::fromUtf8(entry->d_name) == shown && ++matches == 1)
            found = QByteArray(entry->d_name);
    }
    ::closedir(dir);
    return matches == 1 ? found : std::nullopt;
}

// Qt names files as text, so a name that is not UTF-8 reaches us with a
// replacement character for each byte it could not decode. Where those bytes
// name nothing, the one entry of the folder that reads the same is the one the
// person saw and chose; where several read the same, the name is left as it is
// and the access fails rather than reach a file nobody chose.
FileUrl chosenLocation(const QString &chosen, bool isDirectory) {
    const FileUrl url = FileUrl::fromLocalPath(chosen, isDirectory);
    if (!chosen.contains(QChar::ReplacementCharacter))
        return url;
    QByteArray path;
    const QStringList parts = chosen.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        QByteArray name = part.toUtf8();
        struct stat st {};
        const QByteArray folder = path.isEmpty() ? QByteArrayLiteral("/") : path;
        if (part.contains(QChar::ReplacementCharacter) &&
            ::lstat((path + '/' + name).constData(), &st) != 0) {
            if (const std::optional<QByteArray> entry = entryShownAs(folder, part))
                name = *entry;
        }
        path += '/' + name;
    }
    return FileUrl::fromLocalBytes(path, url.isDirectory());
}

// A program's filter as Qt's dialog takes it: its name and its patterns, a
// MIME type's being those the system's MIME database knows for it.
QString nameFilter(const DialogFilter &filter) {
    QStringList patterns;
    for (const auto &[kind, rule] : filter.rules) {
        if (kind == DialogFilter::Pattern)
            patterns += rule;
        else
            patterns += QMimeDatabase().mimeTypeForName(rule).globPatterns();
    }
    patterns.removeDuplicates();
    return QStringLiteral("%1 (%2)").arg(filter.name, patterns.join(QLatin1Char(' ')));
}

void applyFilters(QFileDialog *dialog, const ProgramDialog &program) {
    QStringList filters;
    for (const DialogFilter &filter : program.filters)
        filters += nameFilter(filter);
    if (filters.isEmpty())
        return;
    dialog->setNameFilters(filters);
    if (program.currentFilter >= 0)
        dialog->selectNameFilter(filters.at(program.currentFilter));
}

// Shows `dialog` without blocking and reports its outcome once; a choice makes
// its folder `lastFolder`: the chosen folder, or the one holding the chosen file
// (which need not be the folder shown, where a path was typed). Each choice is
// granted before anyone hears of it. The dialog is a child of `parent`, so it
// goes when the parent goes: the completion then never runs, as there is
// nobody left to tell.
void run(QFileDialog *dialog, bool chooseFolder, FolderProtection &protection,
         const PlaceOver &placeOver, std::shared_ptr<QByteArray> lastFolder,
         DialogChoices completion, QObject *closeWith) {
    if (closeWith)
        QObject::connect(closeWith, &QObject::destroyed, dialog, &QDialog::reject);
    auto pending = std::make_shared<DialogChoices>(std::move(completion));
    QObject::connect(
        dialog, &QDialog::finished, dialog,
        [dialog, chooseFolder, &protection, pending, lastFolder](int result) {
            if (!*pending)
                return; // already reported
            const DialogChoices done = std::move(*pending);
            *pending = nullptr;
            const QStringList chosen = dialog->selectedFiles();
            DialogChoice choice;
            choice.filter = int(dialog->nameFilters().indexOf(dialog->selectedNameFilter()));
            dialog->deleteLater();
            if (result != QDialog::Accepted || chosen.isEmpty() || chosen.contains(QString())) {
                done(kResponseCancel, {});
                return;
            }
            for (const QString &path : chosen) {
                const FileUrl url = chosenLocation(path, chooseFolder);
                *lastFolder =
                    chooseFolder ? url.pathBytes() : url.deletingLastPathComponent().pathBytes();
                protection.grantChosen(url.pathBytes(), chooseFolder);
                choice.chosen.push_back(url);
            }
            done(kResponseOK, std::move(choice));
        });
    dialog->setWindowModality(Qt::NonModal);
    if (placeOver && !dialog->parentWidget()) {
        placeOver(dialog);
        // Without a parent, nothing else deletes it: a dialog never answered
        // goes with the window it serves.
        if (QWindow *over =
                dialog->windowHandle() ? dialog->windowHandle()->transientParent() : nullptr)
            QObject::connect(over, &QObject::destroyed, dialog, &QObject::deleteLater);
    }
    dialog->show();
}

} // namespace

void ChoosingFileDialogs::beginSave(QWidget *parent, const SaveDialogOptions &options,
                                    DialogCompletion completion) {
    chooseSave(parent, options, singleChoice(std::move(completion)));
}

void ChoosingFileDialogs::beginOpen(QWidget *parent, const OpenDialogOptions &options,
                                    DialogCompletion completion) {
    chooseOpen(parent, options, singleChoice(std::move(completion)));
}

void QtFileDialogs::chooseSave(QWidget *parent, const SaveDialogOptions &options,
                               DialogChoices completion, QObject *closeWith) {
    auto *dialog = new QFileDialog(parent); // owned by `parent`, deleted after completion
    dialog->setOption(QFileDialog::DontUseNativeDialog, m_forceWidgetDialog);
    dialog->setWindowTitle(dialogTitle(options));
    dialog->setDirectory(startFolder(options.program));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // ReadOnly is what takes away the widget dialog's "New Folder".
    dialog->setOption(QFileDialog::ReadOnly, !options.canCreateDirectories);
    if (options.textTypesOnly) {
        dialog->setOption(QFileDialog::HideNameFilterDetails, true);
        dialog->setNameFilter(textNameFilter());
        // A name typed without an extension is saved as text; a name with any
        // extension is saved as typed.
        dialog->setDefaultSuffix(QStringLiteral("txt"));
    }
    applyFilters(dialog, options.program);
    if (!options.suggestedName.isEmpty())
        dialog->selectFile(options.suggestedName);
    run(dialog, false, m_protection, m_placeOver, m_lastFolder, std::move(completion), closeWith);
}

void QtFileDialogs::chooseOpen(QWidget *parent, const OpenDialogOptions &options,
                               DialogChoices completion, QObject *closeWith) {
    auto *dialog = new OpenDialog(parent); // owned by `parent`, deleted after completion
    dialog->setOption(QFileDialog::DontUseNativeDialog, m_forceWidgetDialog);
    dialog->setWindowTitle(dialogTitle(options));
    dialog->setDirectory(startFolder(options.program));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // A file dialog chooses files or folders, not both; folders win only when
    // files cannot be chosen. There are no packages on this system, so
    // treatsPackagesAsDirectories has nothing to act on.
    const bool chooseFolder = options.canChooseDirectories && !options.canChooseFiles;
    if (chooseFolder) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly, true);
    } else {
        dialog->setFileMode(options.multiple ? QFileDialog::ExistingFiles
                                             : QFileDialog::ExistingFile);
    }
    applyHidden(dialog, options.showsHiddenFiles);
    if (options.textTypesOnly && !chooseFolder) {
        dialog->setOption(QFileDialog::HideNameFilterDetails, true);
        dialog->setNameFilter(textNameFilter());
        dialog->setTextOnly(true);
    }
    applyFilters(dialog, options.program);
    if (!options.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, options.prompt);
    run(dialog, chooseFolder, m_protection, m_placeOver, m_lastFolder, std::move(completion),
        closeWith);
}

} // namespace pellim
