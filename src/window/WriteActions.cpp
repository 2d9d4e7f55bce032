// SPDX-License-Identifier: GPL-3.0-or-later
// The three writing tests and the one write procedure they share. The visible
// outcome of a writing test is its log lines and, on failure, an alert; the
// window's text fields are never touched.
#include "files/FileAccess.h"
#include "panels/Alert.h"
#include "panels/FileDialogs.h"
#include "window/TestFile.h"
#include "window/ViewController.h"

#include <QPointer>

namespace pellim {

void ViewController::writeTestFile(const FileUrl &target) {
    const QString path = target.encodedPath();
    logInfo(QStringLiteral("trying to write to: ") + path);
    if (services().files.writeText(target, textOutput)) {
        logInfo(QStringLiteral("wrote to: ") + path);
        return;
    }
    // Why the write failed is deliberately not reported: the step that failed is
    // the whole story, in the log and in the alert alike.
    logError(QStringLiteral("couldn't write to: ") + path);
    showWriteFailureAlert(path);
}

void ViewController::showWriteFailureAlert(const QString &encodedPath) {
    services().alert.showCritical(this, tr("Couldn't save file to path"), encodedPath);
}

void ViewController::doSaveIntent() {
    // The name comes first so that every click, even one that ends in a cancel,
    // has its own.
    const QString name = makeTestFileName();
    const SaveDialogOptions options = saveOptionsFor(name);
    QPointer<ViewController> self(this);
    services().dialogs.beginSave(this, options,
                                 [self](int response, std::optional<FileUrl> chosen) {
                                     if (!self || response != kResponseOK || !chosen)
                                         return;
                                     // The location exactly as confirmed: a name changed
                                     // in the dialog is the one written.
                                     self->writeTestFile(*chosen);
                                 });
}

void ViewController::doSaveToFolder() {
    const QString name = makeTestFileName();
    const OpenDialogOptions options = folderChooserOptions(OpenPurpose::SaveIntoFolder);
    QPointer<ViewController> self(this);
    services().dialogs.beginOpen(this, options,
                                 [self, name](int response, std::optional<FileUrl> chosen) {
                                     if (!self || response != kResponseOK || !chosen)
                                         return;
                                     self->writeTestFile(chosen->appendingPathComponent(name));
                                 });
}

void ViewController::doSaveConsent() {
    const QString name = makeTestFileName();
    const std::optional<FileUrl> folder = selectedProtectedFolder();
    if (!folder) {
        // The folder list cannot normally report a position without a folder;
        // should it ever, the test ends as any failed save does rather than
        // writing somewhere nobody chose.
        logError(QStringLiteral("couldn't write to: no folder selected for ") + name);
        services().alert.showCritical(this, tr("Couldn't save file to path"),
                                      tr("No folder is selected in the folder list."));
        return;
    }
    writeTestFile(folder->appendingPathComponent(name));
}

} // namespace pellim
