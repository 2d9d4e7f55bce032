// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/DialogOptions.h"
#include "files/FileUrl.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;
class QWidget;

namespace pellim {

class FolderProtection;

// Called exactly once, on the GUI thread. `chosen` holds the one chosen location
// when response == kResponseOK; an OK without exactly one location arrives as a
// cancel.
using DialogCompletion = std::function<void(int response, std::optional<FileUrl> chosen)>;

// What a dialog of another program's request ended with: every chosen location
// (one unless several were allowed), and the filter shown at the end (an index
// into the request's filters, -1 for none).
struct DialogChoice {
    std::vector<FileUrl> chosen;
    int filter = -1;
};
// Called exactly once, on the GUI thread; kResponseOK always with a choice.
using DialogChoices = std::function<void(int response, DialogChoice choice)>;

// A DialogChoices that hands exactly one choice to `completion`, anything else
// as a cancel.
DialogChoices singleChoice(DialogCompletion completion);

// Keeps a window of the guard's on top of one of Pellim's, which belongs to
// another process: called before the window is first shown.
using PlaceOver = std::function<void(QWidget *window)>;

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // Both show a new dialog modelessly and return at once.
    virtual void beginSave(QWidget *parent, const SaveDialogOptions &options,
                           DialogCompletion completion) = 0;
    virtual void beginOpen(QWidget *parent, const OpenDialogOptions &options,
                           DialogCompletion completion) = 0;
};

// Dialogs that show another program's requests too, which may ask for several
// choices, filters and a folder to start in: Pellim's single choice is one of
// those. The dialog closes, as if cancelled, when `closeWith` (if any) is
// destroyed.
class ChoosingFileDialogs : public FileDialogs {
public:
    void beginSave(QWidget *parent, const SaveDialogOptions &options,
                   DialogCompletion completion) final;
    void beginOpen(QWidget *parent, const OpenDialogOptions &options,
                   DialogCompletion completion) final;
    virtual void chooseSave(QWidget *parent, const SaveDialogOptions &options,
                            DialogChoices choices, QObject *closeWith = nullptr) = 0;
    virtual void chooseOpen(QWidget *parent, const OpenDialogOptions &options,
                            DialogChoices choices, QObject *closeWith = nullptr) = 0;
};

// The dialogs are windows of the guard process, which shows them for Pellim:
// the title says whose they are and what the choice is for, whichever toolkit
// draws them.
QString saveDialogTitle();
QString openDialogTitle(OpenPurpose purpose);
// Another program's dialog: its name, then its own title or, without one,
// what the choice is for in the guard's words.
QString programDialogTitle(const ProgramDialog &program, bool save, bool folder);
// A dialog's title, whoever asked for it.
QString dialogTitle(const SaveDialogOptions &options);
QString dialogTitle(const OpenDialogOptions &options);

// QFileDialog-based dialogs. A chosen item is reported to `protection`. Each
// dialog starts in the folder of the last choice made in one of them, else in
// the home folder.
class QtFileDialogs final : public ChoosingFileDialogs {
public:
    // With `forceWidgetDialog`, Qt's own widget dialog is used even where the
    // desktop offers a native one (tests drive it).
    explicit QtFileDialogs(FolderProtection &protection, bool forceWidgetDialog = false);
    void chooseSave(QWidget *parent, const SaveDialogOptions &options, DialogChoices choices,
                    QObject *closeWith = nullptr) override;
    void chooseOpen(QWidget *parent, const OpenDialogOptions &options, DialogChoices choices,
                    QObject *closeWith = nullptr) override;
    // A dialog without a parent is placed by `placeOver` (the guard shows
    // Pellim's dialogs on top of Pellim's window), or left where it appears.
    void setPlaceOver(PlaceOver placeOver) { m_placeOver = std::move(placeOver); }
    // The folder of the last choice, as the file system's bytes; dialogs of
    // another kind that stand in for these (the portal's) keep it here too, so
    // that each starts where the last choice in any of them was made.
    const QByteArray &lastFolder() const { return *m_lastFolder; }
    void setLastFolder(QByteArray folder) { *m_lastFolder = std::move(folder); }

private:
    QString startFolder(const ProgramDialog &program) const;

    FolderProtection &m_protection;
    bool m_forceWidgetDialog;
    PlaceOver m_placeOver;
    // Shared with the dialogs still open, which may outlive this object.
    std::shared_ptr<QByteArray> m_lastFolder;
};

} // namespace pellim
