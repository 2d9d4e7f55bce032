// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/AnswerChanges.h"
#include "consent/ConsentStore.h"
#include "journal/Log.h"

#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class QFileSystemWatcher;
class QLabel;
class QPushButton;

namespace Ui {
class FolderAccessWindow;
}

namespace pellim {

class FolderGuard;

// The person's own view of the stored answers: each guarded folder, its path and
// its answer, with Allow / Deny / Reset beside it and Reset All below (the form
// resources/FolderAccess.ui). Every change goes through the store, under its
// lock, and is one entry on the guard's journal handle; a change that fails is
// shown here and written as an error.
//
// What is in force can differ from what is stored: an item chosen in a file
// dialog opens itself (a whole folder, when the guarded folder itself was
// chosen) until Pellim quits, and each row says so under its path. An answers
// file that cannot be used is named in red; one kept beside it, by this window,
// pellim-consent or the guard, is named too.
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
    // `guard` holds the dialog choices in force (none shown without one).
    // `kernelGuard` says whether the kernel keeps the folders out of Pellim's reach;
    // without it the window says that the answers are only checked in Pellim's own
    // process.
    explicit FolderAccessWindow(LogSink &journal, const FolderGuard *guard = nullptr,
                                QString storePath = ConsentStore::defaultPath(),
                                bool kernelGuard = true, QWidget *parent = nullptr);
    ~FolderAccessWindow() override;

    // Stores `answer` for `folder`; false (with the reason shown) when it could not.
    bool setAnswer(GuardedFolder folder, ConsentAnswer answer);

public Q_SLOTS:
    // Reads the answers and the folders' paths afresh and shows them.
    void refresh();
    // Forgets the answers for every folder, so that Pellim asks again.
    bool resetAll();
    // Stops guarding a folder guarded at an earlier start that the settings no
    // longer name.
    bool release(const QByteArray &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Row {
        QLabel *name = nullptr;
        QLabel *path = nullptr;
        QLabel *answer = nullptr;
        QLabel *chosen = nullptr; // what a dialog choice opens until Pellim quits
        QPushButton *allow = nullptr;
        QPushButton *deny = nullptr;
        QPushButton *reset = nullptr;
    };

    void setUpRow(std::size_t index);
    void watchStore();
    void showRow(std::size_t index, ConsentAnswer answer, bool refused, const QString &home);
    QString chosenNote(const QString &path, ConsentAnswer answer, bool *wholeFolder) const;
    void showProblem(const ConsentStore::Contents &contents);
    void showFailure(const QString &text);
    void showErrorsInRed();
    void keepRoom();
    void showRecorded(const std::vector<ConsentStore::RecordedFolder> &recorded);

    std::unique_ptr<Ui::FolderAccessWindow> m_ui;
    const FolderGuard *m_guard;
    ConsentStore m_store;
    AnswerChanges m_changes;
    std::array<Row, kGuardedFolders.size()> m_rows{};
    QFileSystemWatcher *m_watcher = nullptr;
};

} // namespace pellim
