// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardProcess.h"

#include "confine/GuardLink.h"
#include "confine/GuardMessages.h"
#include "confine/ProcessDoors.h"
#include "confine/SocketDoors.h"
#include "confine/Supervisor.h"
#include "consent/ConsentStore.h"
#include "consent/FolderGuard.h"
#include "consent/RunningGrants.h"
#include "display/Display.h"
#include "guard/BusProxies.h"
#include "guard/FileChooserService.h"
#include "guard/PrivateBus.h"
#include "guard/SyntheticInput.h"
#include "guard/ToolkitEnvironment.h"
#include "guard/WindowOwner.h"
#include "guard/WindowSlots.h"
#include "journal/JournalSink.h"
#include "journal/Log.h"
#include "panels/Alert.h"
#include "panels/AppIdentity.h"
#include "panels/ConsentDialog.h"
#include "panels/FileDialogs.h"
#include "panels/FolderAccessWindow.h"
#include "portal/PortalFileDialogs.h"
#include "sys/Descriptor.h"
#include "sys/EarlyDisplay.h"

#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProcessEnvironment>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace pellim {

namespace {

// The guards' windows on screen at once, every guard's together, past which a
// request is refused: each of Pellim's clicks may have its own dialog, but a
// flood of requests must not bury the screen nor take the guard's memory with
// it, and ten programs under guards of their own must not do it either.
constexpr int kMaxWindows = 8;

// Calls `changed` soon after one of the application's windows is shown or
// hidden, once for a burst.
class WindowWatch final : public QObject {
public:
    explicit WindowWatch(std::function<void()> changed) : m_changed(std::move(changed)) {}
    bool eventFilter(QObject *watched, QEvent *event) override {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Show || type == QEvent::Hide) && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->isWindow() && !m_pending) {
            m_pending = true;
            QTimer::singleShot(0, this, [this] {
                m_pending = false;
                m_changed();
            });
        }
        return false;
    }

private:
    std::function<void()> m_changed;
    bool m_pending = false;
};

// The title a window of the guard's had before standAlone marked it.
constexpr char kOwnTitle[] = "pellimOwnTitle";

// A window of the guard's that cannot be kept on top of Pellim's says in its
// title whose it is, and stands in the middle of the screen, where the person
// looks (a Wayland compositor places it as it sees fit).
void standAlone(QWidget *window) {
    if (!window->property(kOwnTitle).isValid())
        window->setProperty(kOwnTitle, window->windowTitle());
    window->setWindowTitle(
        QCoreApplication::translate("pellim::GuardProcess", "Pellim's folder guard: %1")
            .arg(window->property(kOwnTitle).toString()));
    if (const QScreen *screen = window->screen()) {
        const QSize size = window->sizeHint().expandedTo(window->minimumSize());
        window->move(screen->availableGeometry().center() -
                     QPoint(size.width() / 2, size.height() / 2));
    }
}

void ownTitle(QWidget *window) {
    if (const QVariant title = window->property(kOwnTitle); title.isValid())
        window->setWindowTitle(title.toString());
}

// Questions from the thread that answers held calls to the GUI thread, which
// shows them: that thread never touches a widget, and never waits for one.
class QuestionQueue final : public ConsentPrompter {
public:
    struct Asked {
        ConsentRequest request;
        Answered answered;
    };

    QuestionQueue() : m_ready(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_error(errno) {}
    // Readable while questions wait to be shown; invalid if it could not be
    // made (`error` says why).
    int ready() const { return m_ready.get(); }
    int error() const { return m_error; }

    // The guard never waits for the person.
    PromptAnswer ask(const ConsentRequest &) override { return PromptAnswer::CannotAsk; }
    void begin(const ConsentRequest &request, Answered answered) override {
        {
            const std::lock_guard lock(m_mutex);
            m_asked.push_back(Asked{request, std::move(answered)});
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_ready.get(), &one, sizeof one);
    }
    // On the GUI thread: the questions to show now.
    std::vector<Asked> take() {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_ready.get(), &count, sizeof count);
        const std::lock_guard lock(m_mutex);
        return std::exchange(m_asked, {});
    }

private:
    UniqueFd m_ready;
    int m_error;
    std::mutex m_mutex;
    std::vector<Asked> m_asked;
};

// Every entry the guard writes names the program it answers for.
LogFields programField(const Program &program) {
    return {{QByteArrayLiteral("PELLIM_PROGRAM"), QFile::decodeName(program.path)}};
}

class GuardProcess {
public:
    // `first`: the program's first process. `privateChannel`: the channel is
    // Pellim's, who names its window and asks for Folder Access on it and whose
    // end ends with it; otherwise it ends once the program runs. `reportTo`: where
    // the first process's stops and end are told (-1: nobody).
    GuardProcess(UniqueFd channel, int &argc, char **argv, Program program, pid_t first,
                 bool privateChannel, int reportTo = -1)
        : m_channelFd(std::move(channel)), m_first(first), m_private(privateChannel),
          m_reportTo(reportTo), m_argc(argc), m_argv(argv), m_program(std::move(program)),
          m_log(m_journal, QString::fromLatin1(kGuardSubsystem), QStringLiteral("decisions"),
                programField(m_program)),
          m_guard(m_journal, m_questions, m_program) {}

    // `waylandPreconnected`: the program needs no display socket (EarlyDisplay).
    // `busFolder`: where its bus proxies go (BusProxies::makeFolder).
    int run(const KeptOutPaths &keptOut, bool waylandPreconnected, const QByteArray &busFolder);

    // Cannot start: says why in the journal (and, for Pellim, in an alert),
    // and ends with the program's status.
    [[noreturn]] void cannotStart(const QString &why);
    LogHandle &log() { return m_log; }
    void setBusProblem(const QString &problem) { m_busProblem = problem; }
    void setBus(Result<std::unique_ptr<PrivateBus>> bus) {
        m_bus = std::move(bus);
        m_busStarted = true;
    }
    void setWaylandReachable(bool reachable) { m_waylandReachable = reachable; }
    // The program's opens are left to Landlock: moves of what its rules
    // cover are watched (Supervisor::watchMovesIn).
    void setOpensLeftToLandlock(bool left) { m_opensLeft = left; }
    int channel() const { return m_channelFd.get(); }

private:
    void watchFirst();
    bool displayReachable();
    void cannotStartShown(const QString &why);
    void reportEnd();
    void showable();
    QWindow *foreign(std::uint64_t window);
    PlaceOver placeOver(std::uint64_t window, const QByteArray &exported);
    QString portalParent(std::uint64_t window, const QByteArray &exported);
    void forgetUnusedForeign();
    bool roomFor(const QString &what);
    int shownHere() const;
    void holdSlots();
    void shareGrants(const KeptOutPaths &keptOut);
    void publishGrants();
    Result<std::unique_ptr<FileChooserService>> startBuses(const QProcessEnvironment &environment,
                                                           const QByteArray &busFolder);
    std::vector<AllowedSocket> busSockets();
    void startChooser(Result<std::unique_ptr<FileChooserService>> chooser, GuardBuses &buses);
    std::function<void()> showChooser(const FileChooserRequest &request,
                                      FileChooserService::Answer answer);
    struct ShownChooser {
        SaveDialogOptions save;
        OpenDialogOptions open;
        QString what; // for the entry when there is no room for it
    };
    ShownChooser shownFor(const FileChooserRequest &request) const;
    void superviseCalls();
    void watchMoves();
    void showQuestions();
    void serve(const QByteArray &message);
    [[noreturn]] void finish(int status);

    UniqueFd m_channelFd; // until the channel gets its notifier
    pid_t m_first;        // the program's first process: the only one whose windows it stays on
    bool m_private;
    int m_reportTo;
    int &m_argc;
    char **m_argv;
    Program m_program;
    QString m_busProblem; // why the program has no bus folder
    bool m_opensLeft = false;
    std::optional<bool> m_reachable;
    bool m_waylandReachable = false; // a Wayland compositor took a connection at the start
    JournalSink m_journal;
    LogHandle m_log;
    std::unique_ptr<BusProxies> m_proxies;
    Result<std::unique_ptr<PrivateBus>> m_bus = Failure{};
    bool m_busStarted = false; // before the guard was made (setBus)
    std::unique_ptr<FileChooserService> m_chooser;
    QuestionQueue m_questions;
    FolderGuard m_guard;
    std::unique_ptr<Supervisor> m_supervisor;
    // In the running guards' folder: what the program was granted, and the
    // window slots every guard shares; none where that folder is not there.
    std::unique_ptr<GrantsPublisher> m_published;
    std::unique_ptr<WindowSlots> m_slots;
    QString m_unshared; // why not, said once at the first grant
    std::atomic<bool> m_unsharedSaid = false;
    std::optional<Supervisor::Map> m_map;
    QString m_mapError; // why there is no m_map, once mapped
    // Declared after what they use, so they go first.
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<SyntheticInputFilter> m_inputFilter;
    std::unique_ptr<WindowWatch> m_windowWatch;
    std::unique_ptr<ForeignParents> m_foreignParents; // Wayland, with xdg-foreign
    std::unique_ptr<QtFileDialogs> m_qtDialogs;
    // The desktop's chooser where a portal answers, else m_qtDialogs.
    std::unique_ptr<PortalFileDialogs> m_dialogs;
    std::unique_ptr<FolderAccessWindow> m_folderAccess;
    std::unique_ptr<GuardChannel> m_channel;
    std::unique_ptr<QSocketNotifier> m_asked;
    DialogConsentPrompter m_prompter;
    std::map<std::uint64_t, std::unique_ptr<QWindow>> m_foreign;
    std::uint64_t m_mainWindow = 0;
    QByteArray m_mainExported;
    std::atomic<bool> m_finishing = false;
    // The first process's end, told once: by the thread that waits for it,
    // before the process ends.
    std::mutex m_reportMutex;
    std::condition_variable m_reported;
    bool m_ended = false;
};

int GuardProcess::run(const KeptOutPaths &keptOut, bool waylandPreconnected,
                      const QByteArray &busFolder) {
    // The program's buses start first of all: the daemon and the proxy come up
    // while the program confines itself, and its first connection need not wait.
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    Result<std::unique_ptr<FileChooserService>> chooser = startBuses(environment, busFolder);
    // The guard's own map of the folders, while the daemon starts and the
    // program confines itself, each on a CPU of its own.
    m_map = Supervisor::mapFolders(keptOut, &m_mapError, m_opensLeft);
    if (m_reportTo >= 0)
        std::thread(&GuardProcess::watchFirst, this).detach();
    int error = 0;
    const std::optional<QByteArray> offer = receiveMessage(m_channelFd.get());
    // Nothing but the end: the program could not confine itself (Pellim, forked
    // from, then guards alone).
    if (!offer && errno == 0 && m_reportTo < 0)
        return 0;
    if (offer && offer->startsWith(kCannotConfineMessage))
        cannotStart(QString::fromUtf8(offer->mid(qsizetype(std::strlen(kCannotConfineMessage)))));
    UniqueFd listener = offer ? listenerOffered(*offer, m_first, &error) : UniqueFd();
    if (!listener.isValid()) {
        const QString why = offer || errno ? errnoText(offer ? error : errno)
                                           : QStringLiteral("it ended before it offered one");
        cannotStart(QStringLiteral("cannot take the program's listener: ") + why);
    }
    if (m_questions.ready() < 0) {
        m_log.write(LogLevel::Error, QStringLiteral("Folder guard: cannot start: ") +
                                         errnoText(m_questions.error()));
        return 1;
    }
    // The addresses, with the word that the program may close its own copy of
    // the listener. It waits for it, with nothing else in its queue.
    GuardBuses buses = m_proxies->buses();
    if (buses.problem.isEmpty())
        buses.problem = m_busProblem;
    startChooser(std::move(chooser), buses);
    if (!sendMessage(m_channelFd.get(), encodeBuses(buses)))
        cannotStart(QStringLiteral("cannot tell the program it took the listener: ") +
                    errnoText(errno));
    QString why = m_mapError;
    if (why.isEmpty())
        m_supervisor = Supervisor::create(
            std::move(listener), m_guard, keptOut, &why,
            sessionSockets(environment, busSockets(), waylandPreconnected), std::move(m_map));
    if (!m_supervisor) {
        m_log.write(LogLevel::Error, QStringLiteral("Folder guard: cannot start: ") + why);
        return 1;
    }
    m_supervisor->setFirstProcess(m_first);
    watchMoves();
    shareGrants(keptOut);
    m_supervisor->sockets().onRefused([this](const QString &address) {
        m_log.write(LogLevel::Error, QStringLiteral("Folder guard: refused %1 a connection to %2")
                                         .arg(m_program.name, address));
    });
    // Pellim's end of the channel is Pellim's as long as it runs; another
    // program's was closed as it started.
    if (m_private)
        m_supervisor->endWith(m_channelFd.get());
    else
        m_channelFd.reset();
    // Held calls are answered on a thread of their own from now on, which
    // nothing shown, no display and no bus can hold up. It ends the process.
    std::thread(&GuardProcess::superviseCalls, this).detach();
    // No display until something is to be shown.
    while (!m_app) {
        // A negative descriptor is left out: another program has no channel,
        // and a program without a bus no file chooser.
        pollfd ready[3] = {{m_channelFd.get(), POLLIN, 0},
                           {m_questions.ready(), POLLIN, 0},
                           m_chooser ? m_chooser->pollFd() : pollfd{-1, 0, 0}};
        if (::poll(ready, 3, m_chooser ? m_chooser->timeoutMs() : -1) < 0) {
            if (errno == EINTR)
                continue;
            m_log.write(LogLevel::Error, QStringLiteral("Folder guard: cannot wait for Pellim: ") +
                                             errnoText(errno));
            finish(1);
        }
        if (ready[1].revents)
            showQuestions();
        if (m_chooser && !m_app)
            m_chooser->process();
        if (m_app || !ready[0].revents)
            continue;
        const std::optional<QByteArray> message = receiveMessage(m_channelFd.get());
        if (!message)
            finish(0); // Pellim is gone
        serve(*message);
    }
    finish(m_app->exec());
}

// A Landlock rule goes with its entry: one the person moves into a guarded
// folder while the program runs would be open to it there, unasked. Nothing
// can take the rule back, so the program is ended, and says so; run again,
// it is confined as the folders lie then. Where the moves cannot be watched,
// nothing but that is lost, and the journal says it.
void GuardProcess::watchMoves() {
    if (!m_opensLeft)
        return;
    const bool watched = m_supervisor->watchMovesIn([this](const QByteArray &now) {
        const QString why =
            QStringLiteral("stopped %1: %2 was moved into a guarded folder, where %1 could have "
                           "reached it without asking")
                .arg(m_program.name, QFile::decodeName(now));
        m_log.write(LogLevel::Error, QStringLiteral("Folder guard: ") + why);
        std::fprintf(stderr, "pellim-guard: %s\n", qPrintable(why));
        endProgram(m_first);
    });
    if (!watched)
        m_log.write(LogLevel::Error,
                    QStringLiteral("Folder guard: cannot watch what %1 may reach for moves into "
                                   "the guarded folders: %2")
                        .arg(m_program.name, errnoText(errno)));
}

void GuardProcess::superviseCalls() {
    int error = 0;
    Supervisor::Result result = Supervisor::Result::Answered;
    while (result == Supervisor::Result::Answered)
        result = m_supervisor->handleOne(&error);
    if (result == Supervisor::Result::Failed)
        m_log.write(LogLevel::Error, QStringLiteral("Folder guard: cannot read %1's calls: %2")
                                         .arg(m_program.name, errnoText(error)));
    finish(result == Supervisor::Result::Gone ? 0 : 1);
}

// Whether `pid` is stopped now ("T" in its stat line).
bool stillStopped(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype after = line.lastIndexOf(") ");
    return after > 0 && line.mid(after + 2, 1) == "T";
}

// The first process's stops and its end, as the command that waits tells them
// on: a job stops with its program, and ends with its status.
void GuardProcess::watchFirst() {
    const auto tell = [this](char kind, int value) {
        const struct {
            char kind;
            std::int32_t value;
        } report{kind, value};
        [[maybe_unused]] const ssize_t written = ::write(m_reportTo, &report, sizeof report);
    };
    tell('p', m_first);
    int status = 0;
    for (;;) {
        const pid_t got = ::waitpid(m_first, &status, WUNTRACED);
        if (got < 0 && errno == EINTR)
            continue;
        // A stop the whole job took (Ctrl+Z) is heard only once the job goes
        // on again, when the program runs already: only a stop it is still in
        // is told.
        if (got == m_first && WIFSTOPPED(status)) {
            if (stillStopped(m_first))
                tell('s', WSTOPSIG(status));
            continue;
        }
        break;
    }
    tell('x', status);
    const std::lock_guard lock(m_reportMutex);
    m_ended = true;
    m_reported.notify_all();
}

// Every confined process is gone, the first one with them: its end is told
// before the guard ends, or the command would not know how it ended.
void GuardProcess::reportEnd() {
    if (m_reportTo < 0)
        return;
    std::unique_lock lock(m_reportMutex);
    m_reported.wait_for(lock, std::chrono::seconds(5), [this] { return m_ended; });
}

void GuardProcess::cannotStart(const QString &why) {
    m_log.write(LogLevel::Error, QStringLiteral("Folder guard: cannot start: ") + why);
    if (!m_program.isPellim())
        std::fprintf(stderr, "pellim-guard: cannot guard %s: %s; nothing was run\n",
                     qPrintable(m_program.name), qPrintable(why));
    else
        cannotStartShown(why);
    finish(125); // once the program's first process has exited with 125
}

// Pellim is gone (or its calls cannot be read): the process ends at once, from
// whichever thread saw it first, whatever the other waits on (a dialog, a bus,
// the display). Only the counts of folded decisions are left to write; other
// entries went out as they were made, an answer is written whole or not at
// all, and the bus proxy and the program's bus daemon end with this process
// (the proxy's --fd, the daemon's PR_SET_PDEATHSIG); their folder is removed
// at the next start, as after a guard killed with its program.
void GuardProcess::finish(int status) {
    if (m_finishing.exchange(true)) {
        for (;;)
            ::pause(); // the other thread is ending the process
    }
    m_guard.writeHeldEntries();
    if (m_published)
        m_published->withdraw();
    reportEnd();
    ::_exit(status);
}

// The questions the supervising thread asked since the last look, each shown
// without waiting; its answer goes back to the guard, which wakes that thread.
void GuardProcess::showQuestions() {
    for (QuestionQueue::Asked &asked : m_questions.take()) {
        // A program run from a text console, or over ssh, has nobody at a
        // display to ask: its question is a refusal.
        if (!m_app && !displayReachable()) {
            m_log.write(LogLevel::Error,
                        QStringLiteral("Folder guard: no display to ask the person on"));
            asked.answered(PromptAnswer::CannotAsk);
            continue;
        }
        showable();
        m_prompter.show(asked.request, placeOver(m_mainWindow, m_mainExported),
                        std::move(asked.answered));
    }
}

// Whether Qt will find a display to show a window on: made without one, a
// QApplication ends the process. Asked once, before the first window.
bool GuardProcess::displayReachable() {
    if (m_reachable)
        return *m_reachable;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    bool reachable = false;
    if (platform.startsWith("wayland")) {
        reachable = m_waylandReachable;
    } else if (platform.isEmpty() || platform.startsWith("xcb")) {
        xcb_connection_t *x = ::xcb_connect(nullptr, nullptr);
        reachable = x && !::xcb_connection_has_error(x);
        if (x)
            ::xcb_disconnect(x);
    } else {
        reachable = true; // a platform of its own (offscreen, for the tests) needs no display
    }
    m_reachable = reachable;
    return reachable;
}

// The display, the event loop and the dialogs, made when first needed.
void GuardProcess::showable() {
    if (m_app)
        return;
    // The session's accessibility bus, asked of the session bus: Qt would
    // otherwise take the one the X root window names, which Pellim may write.
    const bool accessible =
        useAccessibilityBus(m_proxies ? m_proxies->accessibilityBus() : QByteArray());
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    if (accessible)
        announceAccessibility();
    configureApplication(*m_app);
    m_windowWatch = std::make_unique<WindowWatch>([this] { holdSlots(); });
    m_app->installEventFilter(m_windowWatch.get());
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        m_inputFilter = std::make_unique<SyntheticInputFilter>(m_log);
        m_app->installNativeEventFilter(m_inputFilter.get());
    }
    if (displayFacts().kind == DisplayFacts::Kind::Wayland) {
        m_foreignParents = ForeignParents::create();
        if (!m_foreignParents)
            m_log.write(LogLevel::Info,
                        QStringLiteral("Folder guard: the compositor offers no xdg-foreign; the "
                                       "guard's windows are shown on their own"));
    }
    m_qtDialogs = std::make_unique<QtFileDialogs>(m_guard);
    m_dialogs = std::make_unique<PortalFileDialogs>(m_guard, *m_qtDialogs, m_log);
    // Only Pellim asks for anything on a channel; another program's ended as
    // it started.
    if (m_channelFd.isValid()) {
        m_channel = std::make_unique<GuardChannel>(std::move(m_channelFd));
        QObject::connect(m_channel.get(), &GuardChannel::received, m_channel.get(),
                         [this](const QByteArray &message) { serve(message); });
        QObject::connect(m_channel.get(), &GuardChannel::closed, m_channel.get(),
                         [this] { finish(0); });
    }
    if (m_chooser)
        m_chooser->serveFromEventLoop();
    m_asked = std::make_unique<QSocketNotifier>(m_questions.ready(), QSocketNotifier::Read);
    QObject::connect(m_asked.get(), &QSocketNotifier::activated, m_asked.get(),
                     [this] { showQuestions(); });
}

QWindow *GuardProcess::foreign(std::uint64_t window) {
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    if (const auto known = m_foreign.find(window); known != m_foreign.end())
        return known->second.get();
    // Only Pellim's own windows: another program's would lend the guard's
    // dialog its place and its look.
    // Pellim's connection to the display was made by this process (Pellim's
    // connects are made here), so the server names this process as its client;
    // this process's own connection is the one that is not Pellim's.
    const auto *x11 = m_app->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *display = x11 ? x11->connection() : nullptr;
    const bool pellims =
        windowOfProcess(display, window, m_first) ||
        (windowOfProcess(display, window, ::getpid()) && !windowOfConnection(display, window));
    if (!pellims) {
        m_log.write(LogLevel::Error,
                    QStringLiteral("Folder guard: window 0x%1 is not %2's; "
                                   "shown on its own")
                        .arg(window, 0, 16)
                        .arg(m_program.isPellim() ? QStringLiteral("Pellim") : m_program.name));
        return nullptr;
    }
    forgetUnusedForeign();
    std::unique_ptr<QWindow> &made = m_foreign[window];
    made.reset(QWindow::fromWinId(WId(window)));
    return made.get();
}

PlaceOver GuardProcess::placeOver(std::uint64_t window, const QByteArray &exported) {
    return [this, window, exported](QWidget *shown) {
        shown->winId();
        if (QWindow *over = foreign(window)) {
            ownTitle(shown);
            shown->windowHandle()->setTransientParent(over);
        } else if (m_foreignParents && !exported.isEmpty()) {
            ownTitle(shown);
            m_foreignParents->setParent(shown->windowHandle(), exported);
        } else {
            standAlone(shown);
        }
    };
}

// Pellim's window as the portal names a parent: an X window the guard found to
// be Pellim's, or the handle of its exported Wayland surface; "" for none.
QString GuardProcess::portalParent(std::uint64_t window, const QByteArray &exported) {
    if (foreign(window))
        return QStringLiteral("x11:%1").arg(window, 0, 16);
    if (displayFacts().kind == DisplayFacts::Kind::Wayland && !exported.isEmpty())
        return QStringLiteral("wayland:") + QString::fromLatin1(exported);
    return {};
}

// Every request may name another window to stay on top of; those no window of
// the guard's stays on top of any more are let go, so that they stay few.
void GuardProcess::forgetUnusedForeign() {
    std::set<const QWindow *> used;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (const QWindow *window : windows)
        used.insert(window->transientParent());
    std::erase_if(m_foreign, [&](const auto &entry) {
        return entry.first != m_mainWindow && !used.contains(entry.second.get());
    });
}

// This guard's windows on screen. A dialog the portal shows, or is yet to
// show, counts as one.
int GuardProcess::shownHere() const {
    int shown = m_dialogs ? m_dialogs->waiting() : 0;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows) {
        const Qt::WindowType type = window->windowType();
        shown += window->isVisible() && (type == Qt::Window || type == Qt::Dialog);
    }
    return shown;
}

// One slot for each window on screen, no more: a closed window's goes back
// for another guard's.
void GuardProcess::holdSlots() {
    if (m_slots)
        m_slots->hold(shownHere());
}

// Whether one more of the guards' windows may be shown, counting every guard's
// where they share slots; if not, why is an entry. A window let through holds
// its slot from now on.
bool GuardProcess::roomFor(const QString &what) {
    const int here = shownHere();
    int shown = here;
    if (m_slots) {
        if (m_slots->hold(here + 1) > here)
            return true;
        shown = std::max(here, m_slots->taken());
    } else if (here < kMaxWindows) {
        return true;
    }
    m_log.write(LogLevel::Error, QStringLiteral("Folder guard: refused to show %1: %2 of its "
                                                "windows are on screen already")
                                     .arg(what)
                                     .arg(shown));
    return false;
}

// What the program is granted in a dialog is published for Folder Access and
// pellim-consent, and the windows on screen are counted with every other
// guard's, in the running guards' folder, but only where that folder was kept
// out of the program's reach at its start.
void GuardProcess::shareGrants(const KeptOutPaths &keptOut) {
    m_guard.onGrant([this] { publishGrants(); });
    const Result<QByteArray> folder = RunningGrants::folder();
    if (!folder) {
        m_unshared = folder.failure().text();
        return;
    }
    if (std::find(keptOut.sealed.begin(), keptOut.sealed.end(), *folder) == keptOut.sealed.end()) {
        m_unshared = QFile::decodeName(*folder) + QStringLiteral(" was not kept out of its reach");
        return;
    }
    m_published = std::make_unique<GrantsPublisher>(
        *folder, m_program, [this] { return m_guard.chosenItems(); },
        [this](const QByteArray &path, RevokedBy by) {
            return m_guard.revokeChosen(path, by == RevokedBy::FolderAccess
                                                  ? QStringLiteral("in Folder Access")
                                                  : QStringLiteral("with pellim-consent"));
        });
    m_slots = std::make_unique<WindowSlots>(*folder, kMaxWindows);
}

// On the thread that granted or revoked.
void GuardProcess::publishGrants() {
    if (!m_published) {
        if (!m_unsharedSaid.exchange(true))
            m_log.write(LogLevel::Error,
                        QStringLiteral("Folder guard: what %1 is granted in a dialog is not shown "
                                       "outside this guard, and only this guard's windows count "
                                       "toward the limit: %2")
                            .arg(m_program.name, m_unshared));
        return;
    }
    if (const Outcome published = m_published->publish(); !published)
        m_log.write(LogLevel::Error,
                    QStringLiteral("Folder guard: cannot show what %1 is granted in a dialog: %2")
                        .arg(m_program.name, published.failure().text()));
}

// The program's own bus with the guard's file chooser on it (not waiting for
// the name yet), and the accessibility bus's proxy.
Result<std::unique_ptr<FileChooserService>>
GuardProcess::startBuses(const QProcessEnvironment &environment, const QByteArray &busFolder) {
    if (!busFolder.isEmpty() && !m_busStarted)
        m_bus = PrivateBus::start(busFolder);
    Result<std::unique_ptr<FileChooserService>> chooser =
        m_bus ? FileChooserService::start((*m_bus)->address(), m_log, m_program.name)
              : m_bus.failure();
    m_proxies = BusProxies::start(environment, busFolder);
    m_proxies->onFailure([this](const QString &why) {
        m_log.write(LogLevel::Error, QStringLiteral("Folder guard: %1 has no accessibility bus: %2")
                                         .arg(m_program.name, why));
    });
    return chooser;
}

// The buses' sockets for the program's connect list.
std::vector<AllowedSocket> GuardProcess::busSockets() {
    std::vector<AllowedSocket> sockets = m_proxies->sockets();
    if (m_chooser)
        if (std::optional<AllowedSocket> session = (*m_bus)->socket())
            sockets.push_back(std::move(*session));
    return sockets;
}

// The program's file chooser on its own bus, owned before the program hears
// of the bus; without it, the program has no session bus at all.
void GuardProcess::startChooser(Result<std::unique_ptr<FileChooserService>> chooser,
                                GuardBuses &buses) {
    if (chooser)
        if (const Outcome owned = (*chooser)->owned(); !owned)
            chooser = owned.failure();
    if (!chooser) {
        if (chooser.failure().step.isEmpty())
            return; // no bus folder: what is missing is said already
        m_log.write(LogLevel::Error, QStringLiteral("Folder guard: %1 has no session bus: %2")
                                         .arg(m_program.name, chooser.failure().text()));
        return;
    }
    m_chooser = std::move(*chooser);
    m_chooser->onRequest(
        [this](const FileChooserRequest &request, FileChooserService::Answer answer) {
            return showChooser(request, std::move(answer));
        });
    buses.session = (*m_bus)->address();
}

// A file dialog asked for on the program's bus, Pellim's own among them: each
// choice is granted to the program before the answer names it. What it returns closes the dialog.
std::function<void()> GuardProcess::showChooser(const FileChooserRequest &request,
                                                FileChooserService::Answer answer) {
    constexpr std::uint32_t kCancelled = 1;
    if (!m_app && !displayReachable()) {
        m_log.write(LogLevel::Error,
                    QStringLiteral("Folder guard: no display to show %1's file dialog on")
                        .arg(m_program.name));
        answer(kCancelled, {});
        return {};
    }
    showable();
    const ShownChooser shown = shownFor(request);
    if (!roomFor(shown.what)) {
        answer(kCancelled, {});
        return {};
    }
    m_dialogs->setParent(placeOver(request.x11Window, request.exported),
                         portalParent(request.x11Window, request.exported));
    // The dialog closes when this goes: at the program's Close, or after its answer.
    auto *closer = new QObject(m_app.get());
    auto done = [this, answer = std::move(answer), closer = QPointer(closer)](int response,
                                                                              DialogChoice choice) {
        answer(response == kResponseOK ? 0 : kCancelled, choice);
        // The dialog has ended: its slot goes back to every guard.
        QTimer::singleShot(0, m_app.get(), [this] { holdSlots(); });
        if (closer)
            closer->deleteLater();
    };
    if (request.save)
        m_dialogs->chooseSave(nullptr, shown.save, std::move(done), closer);
    else
        m_dialogs->chooseOpen(nullptr, shown.open, std::move(done), closer);
    return [closer = QPointer(closer)] { delete closer.data(); };
}

// Pellim's own dialogs come with the title the guard gives them (Pellim is
// this program, and speaks its language): such a request is shown as Pellim's
// always was, its title, filter and button from what it is for, and nothing
// more of the request taken than the suggested name. Any other title, and any
// other program's request, is shown as a program's, under its name.
GuardProcess::ShownChooser GuardProcess::shownFor(const FileChooserRequest &request) const {
    ShownChooser shown;
    if (m_program.isPellim() && request.save && request.title == saveDialogTitle()) {
        shown.save = saveOptionsFor(request.currentName);
        shown.what = QStringLiteral("a Save dialog");
        return shown;
    }
    for (std::uint8_t purpose = 0;
         m_program.isPellim() && !request.save && purpose <= kLastOpenPurpose; ++purpose) {
        if (request.title == openDialogTitle(OpenPurpose(purpose))) {
            shown.open = openOptionsFor(OpenPurpose(purpose));
            shown.what = QStringLiteral("an Open dialog");
            return shown;
        }
    }
    shown.save = saveOptionsOf(request, m_program.name);
    shown.open = openOptionsOf(request, m_program.name);
    shown.what = QStringLiteral("a file dialog of %1").arg(m_program.name);
    return shown;
}

void GuardProcess::serve(const QByteArray &message) {
    const std::optional<GuardRequest> request = decodeRequest(message);
    if (!request)
        return;
    switch (request->kind) {
    case GuardRequestKind::MainWindow:
        m_mainWindow = request->window;
        m_mainExported = request->exported;
        break;
    case GuardRequestKind::FolderAccess:
        showable();
        // Shown already, it only comes to the front.
        if (!(m_folderAccess && m_folderAccess->isVisible()) &&
            !roomFor(QStringLiteral("Folder Access")))
            break;
        if (!m_folderAccess) {
            m_folderAccess = std::make_unique<FolderAccessWindow>(
                m_journal, &m_guard, ConsentStore::defaultPath(), true, m_program);
            // A choice in a dialog opens a folder: the window says so at once.
            m_guard.onGrant([w = QPointer(m_folderAccess.get())] {
                if (w)
                    QMetaObject::invokeMethod(w, &FolderAccessWindow::refresh,
                                              Qt::QueuedConnection);
            });
        }
        placeOver(request->window, request->exported)(m_folderAccess.get());
        m_folderAccess->show();
        m_folderAccess->raise();
        m_folderAccess->activateWindow();
        break;
    }
}

} // namespace

namespace {

// Pellim started from the menu has no terminal to read: what stops its guard
// is said in a window, in Pellim's words.
void showCannotStart(int &argc, char **argv, const QString &why) {
    QApplication app(argc, argv);
    configureApplication(app);
    QtAlert().showCritical(
        nullptr,
        QCoreApplication::translate("pellim::Application", "The folder guard could not start."),
        QCoreApplication::translate("pellim::Application",
                                    "%1. Pellim cannot reach files without it.")
            .arg(why));
}

} // namespace

void GuardProcess::cannotStartShown(const QString &why) {
    showCannotStart(m_argc, m_argv, why);
}

int runGuardForProgram(GuardStart start, const LaunchRequest &launch, int &argc, char **argv) {
    const auto told = [&](int status) {
        if (start.reportTo >= 0) {
            const struct {
                char kind;
                std::int32_t value;
            } report{'x', status << 8};
            [[maybe_unused]] const ssize_t written =
                ::write(start.reportTo, &report, sizeof report);
        }
        return status;
    };
    // While this process has one thread: the program first, with the person's
    // environment as it is; the guard's own changes come after.
    Result<LaunchedProgram> launched = launchConfined(launch);
    if (!launched) {
        std::fprintf(stderr, "pellim-guard: cannot guard %s: %s; nothing was run\n",
                     qPrintable(start.program.name), qPrintable(launched.failure().text()));
        return told(125);
    }
    // Its windows on the display the program's would be on (Wayland where the
    // session is), through a connection of its own.
    const EarlyDisplay own = connectDisplayEarly();
    leaveEarlyDisplay(own);
    const QString store = ConsentStore::defaultPath();
    freshToolkitEnvironment(store.isEmpty() ? QString() : QFileInfo(store).path());
    GuardProcess guard(std::move(launched->channel), argc, argv, start.program, launched->pid,
                       start.pellim, start.reportTo);
    guard.setBusProblem(start.busProblem);
    if (start.bus)
        guard.setBus(std::move(*start.bus));
    guard.setWaylandReachable(own.preconnectedWayland());
    guard.setOpensLeftToLandlock(launch.held == CallsHeld::UnseenByLandlock);
    if (!start.keptAtStart.isEmpty())
        guard.log().write(LogLevel::Error,
                          keptEntry(store, start.keptAtStart,
                                    start.pellim ? QStringLiteral("when Pellim started")
                                                 : QStringLiteral("when the guard started")));
    // The program's first word: whether it holds its own Wayland connection.
    const std::optional<QByteArray> display = receiveMessage(guard.channel());
    if (display && display->startsWith(kCannotConfineMessage))
        guard.cannotStart(
            QString::fromUtf8(display->mid(qsizetype(std::strlen(kCannotConfineMessage)))));
    if (!display)
        guard.cannotStart(QStringLiteral("the program ended before it was confined"));
    return guard.run(start.keptOut, *display == kEarlyWaylandMessage, start.busFolder);
}

int runGuardProcess(UniqueFd channel, int &argc, char **argv, const KeptOutPaths &keptOut,
                    const EarlyDisplay &display, const QByteArray &busFolder) {
    // Here, just forked, the guard has one thread: nothing reads the environment
    // while it changes. Pellim's display connection stays Pellim's: the
    // compositor would take the guard's requests on it for Pellim's.
    leaveEarlyDisplay(display);
    const QString store = ConsentStore::defaultPath();
    freshToolkitEnvironment(store.isEmpty() ? QString() : QFileInfo(store).path());
    GuardProcess guard(std::move(channel), argc, argv,
                       pellimProgram(QFile::encodeName(
                           QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())),
                       ::getppid(), true);
    return guard.run(keptOut, display.preconnectedWayland(), busFolder);
}

} // namespace pellim
