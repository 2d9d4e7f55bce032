// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/AnswerChanges.h"
#include "consent/ConsentStore.h"
#include "journal/Log.h"

#include <QString>
#include <QWidget>

#include <array>

class QFileSystemWatcher;
class QLabel;
class QPushButton;

namespace pellim {

// The person's own view of the stored answers: each guarded folder, its path and
// its answer, with Allow / Deny / Reset beside it and Reset All below. Every
// change goes through the store, under its lock, and is one entry on the guard's
// journal handle; a change that fails is shown here and written as an error.
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
    // `kernelGuard` says whether the kernel keeps the folders out of Pellim's reach;
    // without it the window says that the answers are only checked in Pellim's own
    // process.
    explicit FolderAccessWindow(LogSink &journal, QString storePath = ConsentStore::defaultPath(),
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
        QPushButton *allow = nullptr;
        QPushButton *deny = nullptr;
        QPushButton *reset = nullptr;
    };

    void watchStore();
    void showFailure(const QString &text);
    void showFailureInRed();
    void keepRoom();
    void showRecorded(const std::vector<ConsentStore::RecordedFolder> &recorded);

    ConsentStore m_store;
    AnswerChanges m_changes;
    std::array<Row, kGuardedFolders.size()> m_rows{};
    QLabel *m_problem = nullptr;
    QLabel *m_failure = nullptr;
    QPushButton *m_resetAll = nullptr;
    QFileSystemWatcher *m_watcher = nullptr;
    LogHandle m_log;
    QWidget *m_recorded = nullptr; // folders guarded before, with a Release button each
};

} // namespace pellim
