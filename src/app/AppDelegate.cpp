// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppDelegate.h"

#include "app/ActivityWindow.h"
#include "app/HelpWindowController.h"
#include "journal/JournalReader.h"

namespace pellim {

AppDelegate::AppDelegate(pid_t guardPid) : m_guardPid(guardPid) {}
AppDelegate::~AppDelegate() = default;

void AppDelegate::openHelp() {
    auto controller = std::make_unique<HelpWindowController>();
    controller->showWindow();
    myHelpWindow.push_back(std::move(controller));
}

void AppDelegate::openActivity() {
    if (!m_activityWindow)
        m_activityWindow = std::make_unique<ActivityWindow>(std::make_unique<SdJournalReader>(
            QStringLiteral("/run/systemd/journal/socket"), 0, m_guardPid));
    m_activityWindow->showAndRaise();
}

void AppDelegate::openFolderAccess() {
    if (m_showFolderAccess)
        m_showFolderAccess();
}

} // namespace pellim
