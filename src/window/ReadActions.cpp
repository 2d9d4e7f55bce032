// SPDX-License-Identifier: GPL-3.0-or-later
// The three reading tests and the two procedures they share: reading and showing
// one text file, and drawing a text file at random from a folder.
#include "files/FileAccess.h"
#include "panels/FileDialogs.h"
#include "window/IndexDraw.h"
#include "window/Preview.h"
#include "window/ViewController.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPointer>

namespace pellim {

namespace {

// A pick draws at most this many entries, whatever each draw yields.
constexpr int kDrawLimit = 100;

// The folder text shown when the folder list names no folder at all.
const QString kNoFolderText = QStringLiteral("~/Documents");

bool hasTextExtension(const DirectoryListing &listing, std::size_t i) {
    const QString extension = listing.pathExtension(i);
    return extension == QLatin1String("txt") || extension == QLatin1String("text");
}

QString consentListingStatus(const QString &folderText) {
    return ViewController::tr("[Couldn't get contents of %1 folder]").arg(folderText);
}

} // namespace

// The two callers have always written these three effects in different orders;
// a person comparing the two logs sees that order, so it is kept.
void ViewController::endPickWithoutText(PickVariant variant, const QString &status,
                                        const QString &errorMessage) {
    fileName->setText(status);
    if (variant == PickVariant::Consent) {
        openedText->setText(QString());
        logError(errorMessage);
    } else {
        logError(errorMessage);
        openedText->setText(QString());
    }
}

bool ViewController::readAndShow(const FileUrl &file, bool reportFailure) {
    const QString pathText = file.encodedPath();
    logInfo(QStringLiteral("trying to read from: ") + pathText);
    const std::optional<TextPrefix> text = services().files.readText(file, kPreviewReadLength);
    if (!text) {
        if (reportFailure) {
            openedText->setText(QString());
            fileName->setText(tr("Couldn't get text for %1").arg(pathText));
            logError(QStringLiteral("couldn't read from: ") + pathText);
        }
        return false;
    }
    openedText->setText(textPreview(*text));
    fileName->setText(pathText);
    logInfo(QStringLiteral("read from: ") + pathText);
    return true;
}

void ViewController::pickTextFile(const FileUrl &folder, PickVariant variant) {
    const bool consent = variant == PickVariant::Consent;
    // Info lines always name the folder plainly; the chosen-folder error lines use
    // the encoded form, like the file paths.
    const QString plainText = folder.path();
    const QString errorText = consent ? plainText : folder.encodedPath();

    logInfo(QStringLiteral("trying to list files in ") + plainText);
    const std::optional<DirectoryListing> listing = services().files.list(folder);
    if (!listing) {
        endPickWithoutText(variant,
                           consent ? consentListingStatus(plainText)
                                   : tr("[Couldn't get contents of folder]"),
                           QStringLiteral("couldn't get contents of ") + errorText);
        return;
    }
    if (listing->empty()) {
        endPickWithoutText(variant, tr("[No files found]"),
                           QStringLiteral("no files found in ") + errorText);
        return;
    }

    logInfo(QStringLiteral("trying to look in ") + plainText + QStringLiteral(" for text files"));
    for (int draw = 0; draw < kDrawLimit; ++draw) {
        const auto i = static_cast<std::size_t>(drawIndex(services().random, listing->size()));
        if (!hasTextExtension(*listing, i))
            continue;
        if (readAndShow(listing->url(i), false))
            return;
    }
    endPickWithoutText(variant, tr("[Couldn't find text file]"),
                       QStringLiteral("couldn't find text file in ") + errorText);
}

void ViewController::doOpenIntent() {
    const OpenDialogOptions options = fileChooserOptions();
    services().dialogs.beginOpen(
        this, options,
        [self = QPointer<ViewController>(this)](int response, std::optional<FileUrl> chosen) {
            if (!self || response != kResponseOK || !chosen || !chosen->isValid())
                return;
            self->readAndShow(*chosen, true);
        });
}

void ViewController::doOpenConsent() {
    const std::optional<FileUrl> folder = selectedProtectedFolder();
    if (folder) {
        pickTextFile(*folder, PickVariant::Consent);
        return;
    }
    // The folder list always names a folder in practice. Should it ever not, there
    // is nothing to list: say so the way a folder that cannot be listed is told,
    // rather than reach into some folder the person did not name.
    logInfo(QStringLiteral("trying to list files in ") + kNoFolderText);
    endPickWithoutText(PickVariant::Consent, consentListingStatus(kNoFolderText),
                       QStringLiteral("couldn't get contents of ") + kNoFolderText);
}

void ViewController::doOpenFolder() {
    const OpenDialogOptions options = folderChooserOptions(OpenPurpose::ReadFromFolder);
    services().dialogs.beginOpen(
        this, options,
        [self = QPointer<ViewController>(this)](int response, std::optional<FileUrl> chosen) {
            if (!self || response != kResponseOK || !chosen || !chosen->isValid())
                return;
            self->pickTextFile(*chosen, PickVariant::ChosenFolder);
        });
}

} // namespace pellim
