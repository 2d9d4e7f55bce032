// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Application.h"

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/ExitDeadline.h"
#include "confine/Confinement.h"
#include "confine/GuardLink.h"
#include "consent/FolderGuard.h"
#include "consent/KeptOut.h"
#include "display/Display.h"
#include "files/FileAccess.h"
#include "journal/JournalSink.h"
#include "journal/Log.h"
#include "panels/Alert.h"
#include "panels/AppIdentity.h"
#include "panels/ConsentDialog.h"
#include "panels/FileDialogs.h"
#include "panels/FolderAccessWindow.h"
#include "panels/GuardWindow.h"
#include "paths/FolderProtection.h"
#include "portal/GuardPortalDialogs.h"
#include "sys/EarlyDisplay.h"
#include "window/RandomSource.h"
#include "window/ViewController.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProcessEnvironment>
#include <QResizeEvent>
#include <QStatusBar>
#include <QWindow>

#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

namespace pellim {

namespace {

// The guard line at the window's foot: on one line where the window is wide
// enough, else wrapped over as many as it needs, never cut off. A status bar
// takes its items' least height, and a wrapping label's is one line, or that
// of some narrower width the layout tries: here it is the height of the lines
// at the width the label has.
class FootLine final : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override {
        return {QLabel::minimumSizeHint().width(), linesHeight()};
    }
    QSize sizeHint() const override { return {QLabel::sizeHint().width(), linesHeight()}; }
    // Not a height the window's layout works out for some other width.
    bool hasHeightForWidth() const override { return false; }

private:
    // One line until the label is laid out; the lines it wraps into then.
    int linesHeight() const {
        return isVisible() ? heightForWidth(width()) : QLabel::minimumSizeHint().height();
    }

protected:
    void resizeEvent(QResizeEvent *event) override {
        QLabel::resizeEvent(event);
        if (heightForWidth(event->size().width()) != heightForWidth(event->oldSize().width()))
            updateGeometry();
    }
    void showEvent(QShowEvent *event) override {
        QLabel::showEvent(event);
        updateGeometry();
    }
};

} // namespace

void showGuardInForce(ViewController &window, const QString &text) {
    auto *line = new FootLine(text, window.statusBar());
    line->setObjectName(QStringLiteral("guardInForce"));
    line->setTextFormat(Qt::PlainText);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    line->setWordWrap(true);
    // No accessible name of its own: a screen reader reads a label's name in
    // place of its text, and here the text is what must be heard.
    // Lined up with the form above it.
    if (const QLayout *form = window.centralWidget() ? window.centralWidget()->layout() : nullptr)
        line->setIndent(form->contentsMargins().left());
    window.statusBar()->addPermanentWidget(line, 1);
    window.statusBar()->setSizeGripEnabled(false);
}

void connectDelegate(ViewController &window, AppDelegate &delegate) {
    delegate.setMainWindow(&window);
    QObject::connect(window.helpAction(), &QAction::triggered, &delegate, &AppDelegate::openHelp);
    QObject::connect(window.aboutAction(), &QAction::triggered, &delegate, &AppDelegate::openAbout);

    // The Window menu lists the windows the delegate keeps beside the main one.
    auto *windows = new QMenu(AppDelegate::tr("&Window"), window.menuBar());
    windows->setObjectName(QStringLiteral("menuWindow"));
    QAction *activity = windows->addAction(AppDelegate::tr("&Activity"));
    activity->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    // Like Quit and Help, from every Pellim window: the Activity and help
    // windows have no menu bar of their own.
    activity->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(activity, &QAction::triggered, &delegate, &AppDelegate::openActivity);
    QAction *folderAccess = windows->addAction(AppDelegate::tr("&Folder Access…"));
    folderAccess->setObjectName(QStringLiteral("actionFolderAccess"));
    QObject::connect(folderAccess, &QAction::triggered, &delegate, &AppDelegate::openFolderAccess);
    const auto *help = window.findChild<QMenu *>(QStringLiteral("menuHelp"));
    window.menuBar()->insertMenu(help ? help->menuAction() : nullptr, windows);
}

namespace {

// What Pellim's end may take once the event loop has returned: its windows and
// the toolkit go in a moment even on a busy machine; past this the end is stuck.
constexpr std::chrono::seconds kTeardownLimit{5};

QString translated(const char *text) {
    return QCoreApplication::translate("pellim::Application", text);
}

// The line that says which guard is in force goes to the journal in English and
// into the window in the person's language.
const char *const kEnforcedByKernel =
    QT_TRANSLATE_NOOP("pellim::Application", "Folder guard: enforced by the kernel");
const char *const kChecksInPellim =
    QT_TRANSLATE_NOOP("pellim::Application", "Folder guard: checks in Pellim only (%1)");

// What the display lets other programs do to the prompts, after the guard line.
// Under X11 that is more than the prompts: any client, Pellim included, can
// press keys anywhere (XTEST), write the root window's properties and take
// selections such as XSETTINGS, whose Gtk/Modules every GTK 3 program loads.
const char *const kOnX11 =
    QT_TRANSLATE_NOOP("pellim::Application", "display X11: any program on this display can answer "
                                             "the prompts and make other programs load its code");
const char *const kOnWaylandWithInput =
    QT_TRANSLATE_NOOP("pellim::Application",
                      "display Wayland, whose compositor offers every program %1: any program on "
                      "this display can answer the prompts");
const char *const kOnWayland =
    QT_TRANSLATE_NOOP("pellim::Application",
                      "display Wayland: only the person at the keyboard can answer the prompts");

// The display's part of the guard line: the journal's words, or the window's.
QString displayPart(const DisplayFacts &facts, QString (*words)(const char *)) {
    switch (facts.kind) {
    case DisplayFacts::Kind::X11:
        return words(kOnX11);
    case DisplayFacts::Kind::Wayland:
        return facts.inputForOthers.isEmpty()
                   ? words(kOnWayland)
                   : words(kOnWaylandWithInput)
                         .arg(facts.inputForOthers.join(QStringLiteral(", ")));
    case DisplayFacts::Kind::Other:
        break;
    }
    return {};
}

QString english(const char *text) {
    return QString::fromLatin1(text);
}

// How a process ended, for the person: "", " (exit status 3)", " (killed by signal 9)".
QString howItEnded(pid_t pid) {
    int status = 0;
    // The channel closes as the guard ends; it is reaped a moment later.
    for (int tries = 0; tries < 50; ++tries) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid && WIFSIGNALED(status))
            return QStringLiteral(" (killed by signal %1)").arg(WTERMSIG(status));
        if (done == pid && WIFEXITED(status))
            return WEXITSTATUS(status)
                       ? QStringLiteral(" (exit status %1)").arg(WEXITSTATUS(status))
                       : QString();
        if (done != 0)
            return {};
        ::usleep(10000);
    }
    return {};
}

// Confined, Pellim's buses are the proxies its guard started: the session's
// own would start or call any service, outside the confinement, for it. With
// no proxy there is no bus at all: an empty address makes libdbus give up
// without looking for the session's.
GuardBuses takeGuardBuses(const QByteArray &hello) {
    GuardBuses buses;
    if (const std::optional<GuardBuses> sent = decodeBuses(hello))
        buses = *sent;
    else
        buses.problem = QStringLiteral("the guard named no buses");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", buses.session.constData(), 1);
    // Qt takes an accessibility bus it is given as the one to register on.
    if (buses.accessibility.isEmpty())
        ::unsetenv("AT_SPI_BUS_ADDRESS");
    else
        ::setenv("AT_SPI_BUS_ADDRESS", buses.accessibility.constData(), 1);
    return buses;
}

// Runs `then` once, right after `window` is first exposed (and so painted):
// registering with the accessibility bus takes a few dozen round trips, which
// the first paint need not wait for.
class AfterFirstExposure final : public QObject {
public:
    AfterFirstExposure(QWindow *window, std::function<void()> then)
        : QObject(window), m_then(std::move(then)) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_then();
                    deleteLater();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::function<void()> m_then;
};

} // namespace

int runApplication(int argc, char **argv) {
    if (const std::optional<int> answered = answerCommandLine(argc, argv))
        return *answered;

    // First, while Pellim has no thread but this one: Pellim runs under its
    // guard (pellim-guard run), which confined it before it started and holds
    // its calls into the kept-out folders until it has decided. Not yet under
    // it, Pellim becomes that command here, unless the kernel cannot confine.
    std::variant<KernelGuard, NoKernelGuard> kernel = joinKernelGuard(argc, argv);
    // Under Wayland the guard connected Pellim to the display before it
    // confined it (or Pellim does so now), so that no connect to a display is
    // needed once confined.
    const EarlyDisplay display = connectDisplayEarly();
    QString keptAtStart; // an answers file that could not be used, for the journal
    std::optional<GuardBuses> buses;
    if (const auto *confined = std::get_if<KernelGuard>(&kernel))
        buses = takeGuardBuses(confined->hello);
    else
        keptOutFolders(&keptAtStart); // the folders guarded now are recorded for later starts

    // The guard's end of things outlives Qt: Qt's last words to the display and
    // the buses (sendmsg, held) still need the guard to answer them.
    UniqueFd guardUntilTheEnd;
    ExitDeadline teardown(kTeardownLimit); // outlives `app`, whose end it bounds
    QApplication app(argc, argv);
    configureApplication(app);

    // Declared in the order they depend on one another; they are destroyed in
    // reverse, so the window goes first and the journal last, all before `app`.
    const auto journal = std::make_unique<JournalSink>();
    const LogHandle guardLog(*journal, QString::fromLatin1(kGuardSubsystem),
                             QStringLiteral("decisions"));
    if (!keptAtStart.isEmpty())
        guardLog.write(LogLevel::Error, keptEntry(ConsentStore::defaultPath(), keptAtStart,
                                                  QStringLiteral("when Pellim started")));
    const auto alert = std::make_unique<QtAlert>();
    // Folder protection: the one place where it is chosen. Confined, the kernel
    // holds every call into a guarded folder and the guard process decides, so
    // Pellim's own checks let everything through; otherwise Pellim checks in
    // its own process, with its decisions in the same journal.
    std::unique_ptr<ConsentPrompter> prompter;
    std::unique_ptr<FolderProtection> protection;
    FolderGuard *folderGuard = nullptr; // the protection, where Pellim checks in its own process
    std::unique_ptr<GuardChannel> channel;
    std::unique_ptr<FileDialogs> dialogs;
    QString inForce; // for the journal
    QString shownInForce;
    pid_t guardPid = 0;
    if (auto *confined = std::get_if<KernelGuard>(&kernel)) {
        protection = std::make_unique<UnguardedProtection>();
        channel = std::make_unique<GuardChannel>(std::move(confined->channel));
        // Asked of the guard's file chooser portal on Pellim's own bus.
        dialogs =
            std::make_unique<GuardPortalDialogs>(buses ? buses->session : QByteArray(), guardLog);
        guardPid = confined->guardPid;
        inForce = QString::fromLatin1(kEnforcedByKernel);
        shownInForce = translated(kEnforcedByKernel);
        // The shortfall's words are the journal's too, so they stay as they are.
        if (const std::optional<QString> shortfall = confinementShortfall()) {
            inForce += QStringLiteral(" (%1)").arg(*shortfall);
            shownInForce += QStringLiteral(" (%1)").arg(*shortfall);
        }
    } else {
        const NoKernelGuard &none = std::get<NoKernelGuard>(kernel);
        if (!none.featureMissing) {
            guardLog.write(LogLevel::Error,
                           QStringLiteral("Folder guard: cannot start: ") + none.reason);
            alert->showCritical(
                nullptr,
                translated(
                    QT_TRANSLATE_NOOP("pellim::Application", "The folder guard could not start.")),
                translated(QT_TRANSLATE_NOOP("pellim::Application",
                                             "%1. Pellim cannot reach files without it."))
                    .arg(none.reason));
            return 1;
        }
        prompter = std::make_unique<DialogConsentPrompter>();
        auto guard = std::make_unique<FolderGuard>(*journal, *prompter);
        folderGuard = guard.get();
        protection = std::move(guard);
        dialogs = std::make_unique<QtFileDialogs>(*protection);
        inForce = QString::fromLatin1(kChecksInPellim).arg(none.reason);
        shownInForce = translated(kChecksInPellim).arg(none.reason);
    }
    // Which display, and whether a program other than the person can answer
    // what the guard asks on it.
    const DisplayFacts facts = displayFacts();
    if (const QString part = displayPart(facts, english); !part.isEmpty()) {
        inForce += QStringLiteral("; ") + part;
        shownInForce += QStringLiteral("; ") + displayPart(facts, translated);
    }
    guardLog.write(LogLevel::Info, inForce);
    if (buses && !buses->problem.isEmpty())
        guardLog.write(LogLevel::Error,
                       QStringLiteral("Folder guard: Pellim has no session bus: ") +
                           buses->problem);
    if (facts.kind == DisplayFacts::Kind::Wayland)
        guardLog.write(LogLevel::Info,
                       QStringLiteral("Display: Wayland (%1%2); the compositor offers: %3")
                           .arg(QString::fromLocal8Bit(display.waylandSocket),
                                display.preconnectedWayland()
                                    ? QStringLiteral(", connected before confinement")
                                    : QString(),
                                facts.globals.join(QStringLiteral(", "))));

    const auto files = std::make_unique<PosixFileAccess>(*protection);
    const auto random = std::make_unique<SystemRandomSource>();
    const auto delegate = std::make_unique<AppDelegate>(guardPid);
    std::unique_ptr<FolderAccessWindow> folderAccess; // without the kernel guard, made on first use
    const auto window =
        std::make_unique<ViewController>(Services{*journal, *dialogs, *alert, *files, *random});
    connectDelegate(*window, *delegate);
    showGuardInForce(*window, shownInForce);

    if (channel) {
        delegate->setFolderAccess([&] {
            GuardRequest request;
            request.kind = GuardRequestKind::FolderAccess;
            nameParent(request, window.get());
            if (const Outcome sent = channel->send(encodeRequest(request)); !sent)
                guardLog.write(LogLevel::Error,
                               QStringLiteral("Folder guard: cannot ask for Folder Access: ") +
                                   sent.failure().text());
        });
    } else {
        delegate->setFolderAccess([&] {
            if (!folderAccess) {
                folderAccess = std::make_unique<FolderAccessWindow>(
                    *journal, folderGuard, ConsentStore::defaultPath(), false);
                if (folderGuard)
                    folderGuard->onGrant([w = QPointer(folderAccess.get())] {
                        if (w)
                            QMetaObject::invokeMethod(w, &FolderAccessWindow::refresh,
                                                      Qt::QueuedConnection);
                    });
            }
            folderAccess->show();
            folderAccess->raise();
            folderAccess->activateWindow();
        });
    }

    window->show();
    if (buses && !buses->accessibility.isEmpty())
        new AfterFirstExposure(window->windowHandle(), announceAccessibility); // the window owns it
    if (channel) {
        GuardRequest hello;
        nameParent(hello, window.get());
        // Without it the guard's windows stand on their own; the guard's end,
        // should that be why, is reported below.
        if (const Outcome sent = channel->send(encodeRequest(hello)); !sent)
            guardLog.write(LogLevel::Error,
                           QStringLiteral("Folder guard: cannot name Pellim's window to it: ") +
                               sent.failure().text());
        // Confined, Pellim cannot reach a file without its guard.
        QObject::connect(channel.get(), &GuardChannel::closed, window.get(), [&] {
            guardLog.write(LogLevel::Error,
                           QStringLiteral("Folder guard stopped%1; Pellim cannot reach files "
                                          "without it and quits")
                               .arg(howItEnded(guardPid)));
            alert->showCritical(
                window.get(),
                translated(QT_TRANSLATE_NOOP("pellim::Application", "The folder guard stopped.")),
                translated(QT_TRANSLATE_NOOP("pellim::Application",
                                             "Pellim cannot reach files without its guard, so it "
                                             "quits now.")));
            QCoreApplication::exit(1);
        });
    }
    const int status = QApplication::exec();
    if (channel)
        guardUntilTheEnd = channel->takeDescriptor();
    teardown.arm(status);
    return status;
}

} // namespace pellim
