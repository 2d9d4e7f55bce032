// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppDelegate.h"

#include "app/ActivityWindow.h"
#include "app/HelpWindowController.h"
#include "app/WindowPlacement.h"
#include "consent/ConsentPrompter.h"
#include "consent/ConsentStore.h"
#include "journal/JournalReader.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

namespace pellim {

namespace {

// How far each open help window moves the next one down and to the right.
constexpr int kHelpCascade = 28;

} // namespace

AppDelegate::AppDelegate(pid_t guardPid) : m_guardPid(guardPid) {}
AppDelegate::~AppDelegate() = default;

void AppDelegate::openHelp() {
    int open = 0;
    for (const auto &help : myHelpWindow)
        open += help->window()->isVisible() ? 1 : 0;
    auto controller = std::make_unique<HelpWindowController>();
    placeNear(controller->window(), m_mainWindow, open * kHelpCascade);
    controller->showWindow();
    myHelpWindow.push_back(std::move(controller));
}

void AppDelegate::openAbout() {
    if (!m_about) {
        const QString store = ConsentStore::defaultPath();
        const QString where =
            store.isEmpty()
                ? tr("nowhere: neither XDG_STATE_HOME nor HOME is set to an absolute path")
                : unbrokenAtHyphens(store.toHtmlEscaped());
        m_about = new QMessageBox(m_mainWindow);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        m_about->setWindowTitle(tr("About Pellim"));
        m_about->setIconPixmap(QApplication::windowIcon().pixmap(64));
        m_about->setTextFormat(Qt::RichText);
        m_about->setText(tr("<h3>Pellim %1</h3>"
                            "<p>Watch how the system guards your own folders.</p>")
                             .arg(QStringLiteral(PELLIM_VERSION)));
        m_about->setInformativeText(
            tr("<p>Your answers to the folder guard are kept in<br><tt>%1</tt><br>"
               "where Pellim itself cannot reach them. Change them in Window › Folder Access… "
               "or with <tt>%3</tt>.</p>"
               "<p>Pellim is free software under the GNU General Public License, version 3 or "
               "later. Built with Qt %2.</p>")
                .arg(where, QString::fromLatin1(qVersion()),
                     unbrokenAtHyphens(QStringLiteral("pellim-consent"))));
        m_about->setStandardButtons(QMessageBox::Close);
    }
    // Not modal: the tests and the other windows stay usable behind it.
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void AppDelegate::openActivity() {
    if (!m_activityWindow) {
        m_activityWindow = std::make_unique<ActivityWindow>(std::make_unique<SdJournalReader>(
            QStringLiteral("/run/systemd/journal/socket"), 0, m_guardPid));
        placeNear(m_activityWindow.get(), m_mainWindow);
    }
    m_activityWindow->showAndRaise();
}

void AppDelegate::openFolderAccess() {
    if (m_showFolderAccess)
        m_showFolderAccess();
}

} // namespace pellim
