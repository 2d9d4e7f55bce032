// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/AnswerChanges.h"
#include "consent/ConsentStore.h"
#include "consent/Program.h"
#include "consent/RunningGrants.h"
#include "journal/Log.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class QFileSystemWatcher;

namespace Ui {
class FolderAccessWindow;
}

namespace pellim {

class FolderGuard;
class ProgramAnswersView;

// The person's own view of the stored answers, laid out as a privacy settings
// pane (the form resources/FolderAccess.ui): a row for every program that has
// an answer, with its name and file, each guarded folder with its path and
// answer and each entry of the home it has an answer for, with Allow / Deny /
// Reset beside each and a Reset for the program (ProgramAnswersView); Reset
// All below forgets every program's answers. The guard's own program comes
// first and is always there, then Pellim, always there too, then the others
// by name. Every change goes through the store, under its lock, and is one
// entry on the guard's journal handle; a change that fails is shown here and
// written as an error.
//
// What is in force can differ from what is stored: an item chosen in a file
// dialog opens itself (a whole folder, when the guarded folder itself was
// chosen) until the guard's program quits, and its row says so under the
// folder's path. Only the guard that shows the window knows its choices, so
// only its program's rows show them this way. Every other program running
// under a guard of its own that was granted something in a dialog is listed
// too, answered or not, with those items and a Revoke for each, from what the
// guards publish (RunningGrants); the running guards' folder is watched, so
// the list follows grants, revokes and programs that end. An answers file that cannot be used is
// named in red; one kept beside it, by this window, pellim-consent or the
// guard, is named too.
//
// pellim-consent may change the answers while the window is open. The store is
// replaced by a rename, so the window watches the store's folder (or, until that
// folder exists, the nearest folder above it) and reads the answers again
// whenever it changes, and whenever the window is shown or brought to the front.
//
// Closing the window only hides it.
class FolderAccessWindow : public QWidget {
    Q_OBJECT

public:
    // `guard` holds the dialog choices in force (none shown without one) of
    // `program`, the one the guard showing the window runs (Pellim when it has
    // no id). `kernelGuard` says whether the kernel keeps the folders out of
    // Pellim's reach; without it the window says that the answers are only
    // checked in Pellim's own process.
    explicit FolderAccessWindow(LogSink &journal, const FolderGuard *guard = nullptr,
                                QString storePath = ConsentStore::defaultPath(),
                                bool kernelGuard = true, Program program = {},
                                QWidget *parent = nullptr);
    ~FolderAccessWindow() override;

    // Stores `answer` for `folder` of the program `id` (the guard's own when
    // empty); false (with the reason shown) when it could not.
    bool setAnswer(GuardedFolder folder, ConsentAnswer answer, const QString &id = {});
    bool setEntryAnswer(const QString &id, const QByteArray &entry, ConsentAnswer answer);
    // Forgets every answer of the program `id`.
    bool resetProgram(const QString &id);
    // Asks the running guard `guard` to take back what was chosen as `path`.
    bool revokeChosen(qint64 guard, const QByteArray &path);

public Q_SLOTS:
    // Reads the answers and the folders' paths afresh and shows them.
    void refresh();
    // Forgets every program's answers, so that each is asked again.
    bool resetAll();
    // Stops guarding a folder guarded at an earlier start that the settings no
    // longer name.
    bool release(const QByteArray &path);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void watchStore();
    std::vector<ConsentStore::ProgramAnswers> listed();
    std::vector<std::pair<qint64, ChosenItem>> runningChosen(const QString &id) const;
    void showPrograms(const ConsentStore::Contents &contents);
    AnswerChanges changesFor(ConsentStore &store, const Program &program);
    ProgramAnswersView *viewFor(const QString &id, const QString &name);
    QString chosenNote(const QString &path, ConsentAnswer answer, bool *wholeFolder) const;
    void showProblem(const ConsentStore::Contents &contents);
    void showFailure(const QString &text);
    bool changed(const Result<ConsentStore::Stored> &stored, const QString &failure,
                 const QString &subject = {});
    void showErrorsInRed();
    void keepRoom();
    void showRecorded(const std::vector<ConsentStore::RecordedFolder> &recorded);
    // The program `id` stands for (the guard's own when empty), named as stored.
    Program programOf(const QString &id) const;

    std::unique_ptr<Ui::FolderAccessWindow> m_ui;
    const FolderGuard *m_guard;
    Program m_program;
    ConsentStore m_store;
    LogSink &m_journal;
    std::vector<ProgramAnswersView *> m_views; // as shown, top to bottom
    QFileSystemWatcher *m_watcher = nullptr;
    std::vector<RunningProgram> m_running; // as read at the last refresh
};

} // namespace pellim
