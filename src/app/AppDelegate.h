// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <functional>

#include <memory>
#include <vector>

#include <sys/types.h>

namespace pellim {

class ActivityWindow;
class HelpWindowController;

// The application's own commands that belong to no window. It does nothing at
// launch or at exit and writes nothing to the activity log.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // `guardPid`: the guard process whose entries the Activity window shows
    // beside Pellim's own (0: none).
    explicit AppDelegate(pid_t guardPid = 0);
    ~AppDelegate() override;

    // Every help window controller made so far, oldest first.
    const std::vector<std::unique_ptr<HelpWindowController>> &helpWindows() const {
        return myHelpWindow;
    }

    // The Activity window, once the command has first been chosen.
    ActivityWindow *activityWindow() const { return m_activityWindow.get(); }

    // The window the others are placed beside, and the About box's parent.
    void setMainWindow(QWidget *window) { m_mainWindow = window; }

public Q_SLOTS:
    // Opens one more help window beside the main window. Earlier ones stay as
    // they are, open or closed.
    void openHelp();
    // Shows the About box: version, licence and where the answers are kept.
    void openAbout();
    // Shows and raises the one Activity window of this run, made on first use
    // and placed beside the main window; it lists the run's entries from its
    // start whenever it is made.
    void openActivity();
    // Shows Folder Access the way `setFolderAccess` said.
    void openFolderAccess();

public:
    // Folder Access is shown by the guard process, where no code in Pellim can
    // reach it, or, without the kernel guard, in Pellim itself.
    void setFolderAccess(std::function<void()> show) { m_showFolderAccess = std::move(show); }

private:
    // Only grows: a closed help window keeps its controller until the process ends.
    std::vector<std::unique_ptr<HelpWindowController>> myHelpWindow;
    std::unique_ptr<ActivityWindow> m_activityWindow;
    QPointer<QWidget> m_mainWindow;
    QPointer<QMessageBox> m_about; // deletes itself when closed
    pid_t m_guardPid;
    std::function<void()> m_showFolderAccess;
};

} // namespace pellim
