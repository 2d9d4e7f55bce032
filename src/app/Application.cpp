// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Application.h"

#include "app/AppDelegate.h"
#include "files/FileAccess.h"
#include "guard/FolderGuard.h"
#include "guard/FolderProtection.h"
#include "journal/JournalSink.h"
#include "journal/Log.h"
#include "panels/Alert.h"
#include "panels/ConsentDialog.h"
#include "panels/FileDialogs.h"
#include "window/RandomSource.h"
#include "window/ViewController.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>

#include <memory>

namespace pellim {

void configureApplication(QApplication &app) {
    QApplication::setApplicationName(QStringLiteral("Pellim"));
    QApplication::setApplicationVersion(QStringLiteral(PELLIM_VERSION));
    QApplication::setDesktopFileName(QString::fromLatin1(kAppId));
    // The PNG, not the SVG: Qt's SVG image plugin is not among the run-time packages.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.pellim.Pellim.png")));
    // The main window decides when the application ends (closing it logs
    // "closing" first); a help window left open must not keep it alive, nor
    // may closing the last help window end it.
    app.setQuitOnLastWindowClosed(false);
}

void connectDelegate(ViewController &window, AppDelegate &delegate) {
    QObject::connect(window.helpAction(), &QAction::triggered, &delegate, &AppDelegate::openHelp);

    // The Window menu lists the windows the delegate keeps beside the main one.
    auto *windows = new QMenu(QObject::tr("&Window"), window.menuBar());
    windows->setObjectName(QStringLiteral("menuWindow"));
    QAction *activity = windows->addAction(QObject::tr("&Activity"));
    activity->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    // Like Quit and Help, from every Pellim window: the Activity and help
    // windows have no menu bar of their own.
    activity->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(activity, &QAction::triggered, &delegate, &AppDelegate::openActivity);
    const auto *help = window.findChild<QMenu *>(QStringLiteral("menuHelp"));
    window.menuBar()->insertMenu(help ? help->menuAction() : nullptr, windows);
}

int runApplication(int argc, char **argv) {
    QApplication app(argc, argv);
    configureApplication(app);

    // Declared in the order they depend on one another; they are destroyed in
    // reverse, so the window goes first and the journal last, all before `app`.
    const auto journal = std::make_unique<JournalSink>();
    // Folder protection: the one place where it is chosen. Linux does not guard
    // the person's folders, so Pellim brings its own guard; its decisions go to
    // the same journal as the program's entries, under a subsystem of their own.
    const auto prompter = std::make_unique<DialogConsentPrompter>();
    const std::unique_ptr<FolderProtection> protection =
        std::make_unique<FolderGuard>(*journal, *prompter);
    const auto dialogs = std::make_unique<QtFileDialogs>(*protection);
    const auto alert = std::make_unique<QtAlert>();
    const auto files = std::make_unique<PosixFileAccess>(*protection);
    const auto random = std::make_unique<SystemRandomSource>();
    const auto delegate = std::make_unique<AppDelegate>();
    const auto window =
        std::make_unique<ViewController>(Services{*journal, *dialogs, *alert, *files, *random});
    connectDelegate(*window, *delegate);

    window->show();
    return QApplication::exec();
}

} // namespace pellim
