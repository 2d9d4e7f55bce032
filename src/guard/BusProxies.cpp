// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/BusProxies.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace pellim {

namespace {

// How long the proxy may take to listen, and the launcher to give its address;
// and how long the guard waits for that address when it first shows a window.
constexpr int kStartPatienceMs = 3000;
constexpr std::uint64_t kAskPatienceUs = 500 * 1000;
constexpr int kAnswerPatienceMs = 1000;

// The longest socket path: sun_path's 108 bytes, with the NUL.
constexpr qsizetype kMaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;

// What an application needs on the accessibility bus: to put its tree into the
// registry's and take it out again, and to learn which events and keys anyone
// listens for. Calls to it from outside need no rule.
const char *const kAccessibilityRules[] = {
    "--call=org.a11y.atspi.Registry=org.a11y.atspi.Socket.Embed@/org/a11y/atspi/accessible/root",
    "--call=org.a11y.atspi.Registry=org.a11y.atspi.Socket.Unembed@/org/a11y/atspi/accessible/"
    "root",
    "--call=org.a11y.atspi.Registry=org.a11y.atspi.Registry.GetRegisteredEvents@/org/a11y/atspi/"
    "registry",
    "--call=org.a11y.atspi.Registry=org.a11y.atspi.DeviceEventController.GetKeystrokeListeners@/"
    "org/a11y/atspi/registry/deviceeventcontroller",
    "--call=org.a11y.atspi.Registry=org.a11y.atspi.DeviceEventController.GetDeviceEventListeners@/"
    "org/a11y/atspi/registry/deviceeventcontroller",
    "--call=org.a11y.atspi.Registry=org.a11y.atspi.DeviceEventController.NotifyListenersSync@/"
    "org/a11y/atspi/registry/deviceeventcontroller",
    "--call=org.a11y.atspi.Registry=org.a11y.atspi.DeviceEventController.NotifyListenersAsync@/"
    "org/a11y/atspi/registry/deviceeventcontroller",
};

// A D-Bus address's value: bytes other than the few it allows as they are
// are written %XX.
QByteArray addressValue(const QByteArray &bytes) {
    QByteArray out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
            (byte >= 'A' && byte <= 'Z') || std::strchr("-_/.\\*", c))
            out += c;
        else
            out += '%' + QByteArray::number(byte, 16).rightJustified(2, '0');
    }
    return out;
}

// An address the environment gives; the guard's own stand-in for none
// (kNoBus) is none.
QByteArray givenAddress(const QProcessEnvironment &environment, const char *name) {
    const QByteArray given = environment.value(QString::fromLatin1(name)).toUtf8();
    return given == BusProxies::kNoBus ? QByteArray() : given;
}

QByteArray askAccessibilityBus(const QByteArray &session) {
    sd_bus *bus = nullptr;
    if (sd_bus_new(&bus) < 0)
        return {};
    const std::unique_ptr<sd_bus, sd_bus *(*)(sd_bus *)> owned(bus, sd_bus_flush_close_unref);
    if (sd_bus_set_address(bus, session.constData()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
        sd_bus_start(bus) < 0)
        return {};
    sd_bus_message *call = nullptr;
    if (sd_bus_message_new_method_call(bus, &call, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                       "GetAddress") < 0)
        return {};
    const std::unique_ptr<sd_bus_message, sd_bus_message *(*)(sd_bus_message *)> callOwned(
        call, sd_bus_message_unref);
    // Asked of a running launcher only: starting one is the session's business.
    sd_bus_message_set_auto_start(call, 0);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    const int rc = sd_bus_call(bus, call, kAskPatienceUs, &error, &reply);
    sd_bus_error_free(&error);
    if (rc < 0)
        return {};
    const std::unique_ptr<sd_bus_message, sd_bus_message *(*)(sd_bus_message *)> replyOwned(
        reply, sd_bus_message_unref);
    const char *address = nullptr;
    if (sd_bus_message_read(reply, "s", &address) < 0 || !address)
        return {};
    return address;
}

// Waits for the proxy's "listening" byte; false when it ended first or took too long.
bool ready(int fd) {
    pollfd wait{fd, POLLIN, 0};
    int rc;
    do
        rc = ::poll(&wait, 1, kStartPatienceMs);
    while (rc < 0 && errno == EINTR);
    char byte = 0;
    return rc == 1 && ::read(fd, &byte, 1) == 1;
}

// What the proxy's process wrote to `fd` before it became the proxy (or ended):
// all of it, up to the end, within `patienceMs`; nothing once that has passed.
QByteArray readAnswer(int fd, int patienceMs) {
    QByteArray answer;
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long spent =
            (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        pollfd wait{fd, POLLIN, 0};
        const int rc = ::poll(&wait, 1, int(std::max(0L, patienceMs - spent)));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            return {};
        char chunk[512];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0 ? answer : QByteArray();
        answer.append(chunk, got);
    }
}

// Where the proxies' folder goes: the runtime folder, where its sockets' paths
// fit; else the person's own runtime folder under /run/user, else /tmp. A
// folder made by mkdtemp is the person's alone (mode 0700) wherever it lies.
std::vector<QByteArray> folderParents(const QProcessEnvironment &environment) {
    std::vector<QByteArray> parents;
    const QString runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (runtime.startsWith(QLatin1Char('/')))
        parents.push_back(QFile::encodeName(runtime));
    const QByteArray own = "/run/user/" + QByteArray::number(::getuid());
    struct stat st {};
    if (::stat(own.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
        (st.st_mode & 077) == 0)
        parents.push_back(own);
    parents.push_back("/tmp");
    return parents;
}

// The folders of Pellims that are gone: a guard ends with its Pellim, killed,
// and cannot remove its folder.
void removeLeftFolders(const QByteArray &parent) {
    DIR *dir = ::opendir(parent.constData());
    if (!dir)
        return;
    const std::unique_ptr<DIR, int (*)(DIR *)> owner(dir, ::closedir);
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const QList<QByteArray> parts = name.split('-');
        bool number = false;
        const int pid =
            parts.size() == 4 && name.startsWith("pellim-bus-") ? parts[2].toInt(&number) : 0;
        if (!number || pid <= 0 || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        for (const char *socket : {"session", "accessibility"})
            ::unlinkat(::dirfd(dir), (name + '/' + socket).constData(), 0);
        ::unlinkat(::dirfd(dir), name.constData(), AT_REMOVEDIR);
    }
}

} // namespace

QByteArray BusProxies::unixAddress(const QByteArray &path) {
    return "unix:path=" + addressValue(path);
}

QByteArray BusProxies::sessionBus(const QProcessEnvironment &environment) {
    const QByteArray given = givenAddress(environment, "DBUS_SESSION_BUS_ADDRESS");
    if (!given.isEmpty())
        return given;
    // Where libdbus and sd-bus look without one: the runtime folder's "bus".
    const QString runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    struct stat st {};
    const QByteArray bus = QFile::encodeName(runtime) + "/bus";
    if (runtime.startsWith(QLatin1Char('/')) && ::stat(bus.constData(), &st) == 0 &&
        S_ISSOCK(st.st_mode))
        return "unix:path=" + addressValue(bus);
    return {};
}

Result<QByteArray> BusProxies::makeFolder(const QProcessEnvironment &environment) {
    const QByteArray name = "/pellim-bus-" + QByteArray::number(::getpid()) + "-XXXXXX";
    // The longest socket name in it.
    constexpr qsizetype kLongest = sizeof "/accessibility" - 1;
    Failure why{QStringLiteral("no folder for its bus proxies fits a socket's path (%1 bytes "
                               "at most)")
                    .arg(kMaxSocketPath)};
    for (const QByteArray &parent : folderParents(environment)) {
        if (parent.size() + name.size() + kLongest > kMaxSocketPath)
            continue;
        removeLeftFolders(parent);
        QByteArray folder = parent + name;
        if (::mkdtemp(folder.data()))
            return folder;
        why = Failure{QStringLiteral("cannot make a folder for its bus proxies in ") +
                          QString::fromLocal8Bit(parent),
                      errno};
    }
    return why;
}

std::unique_ptr<BusProxies> BusProxies::start(const QProcessEnvironment &environment,
                                              const QByteArray &folder, const QByteArray &program) {
    std::unique_ptr<BusProxies> proxies(new BusProxies);
    proxies->m_program = program;
    GuardBuses &buses = proxies->m_buses;
    const QByteArray session = sessionBus(environment);
    const QByteArray given = givenAddress(environment, "AT_SPI_BUS_ADDRESS");
    proxies->m_accessibilityBus = given;
    if ((session.isEmpty() && given.isEmpty()) || folder.isEmpty()) {
        // Nothing to filter: the program has no accessibility bus, as the
        // session has none.
        proxies->m_listening = false;
        return proxies;
    }
    proxies->m_folder = folder;
    const QByteArray accessibilityPath = folder + "/accessibility";

    int ends[2], answers[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        proxies->m_listening = false;
        buses.problem = QStringLiteral("cannot start xdg-dbus-proxy: %1").arg(errnoText(errno));
        return proxies;
    }
    UniqueFd alive(ends[0]), theirs(ends[1]);
    // The accessibility bus's address, as the proxy's process learns it, for
    // the guard's own toolkit; it ends with the exec.
    UniqueFd answer, answering;
    if (given.isEmpty() && ::pipe2(answers, O_CLOEXEC) == 0) {
        answer = UniqueFd(answers[0]);
        answering = UniqueFd(answers[1]);
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The proxy ends with the guard: its --fd is the write end of a pipe
        // whose read end only the guard holds.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        // Asked here, while the guard goes on answering the program's calls.
        const QByteArray accessibility = given.isEmpty() ? askAccessibilityBus(session) : given;
        if (answering.isValid()) {
            // A pipe's buffer holds far more than an address: this never waits.
            [[maybe_unused]] const ssize_t told = ::write(
                answering.get(), accessibility.constData(), std::size_t(accessibility.size()));
            answering.reset();
        }
        if (accessibility.isEmpty())
            ::_exit(0); // none runs: nothing to filter
        std::vector<QByteArray> args = {program,       "--fd=" + QByteArray::number(theirs.get()),
                                        accessibility, accessibilityPath,
                                        "--filter",    "--sloppy-names"};
        for (const char *rule : kAccessibilityRules)
            args.emplace_back(rule);
        std::vector<char *> argv;
        for (QByteArray &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::fcntl(theirs.get(), F_SETFD, 0);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid < 0) {
        proxies->m_listening = false;
        buses.problem = QStringLiteral("cannot start xdg-dbus-proxy: %1").arg(errnoText(errno));
        return proxies;
    }
    proxies->m_pid = pid;
    proxies->m_alive = std::move(alive);
    proxies->m_answer = std::move(answer);
    // Named now; where the session has no accessibility bus, that socket never
    // comes, and the program's connection to it is refused.
    buses.accessibility = unixAddress(accessibilityPath);
    return proxies;
}

QByteArray BusProxies::accessibilityBus() {
    if (!m_answer.isValid())
        return m_accessibilityBus;
    m_accessibilityBus = readAnswer(m_answer.get(), kAnswerPatienceMs);
    m_answer.reset();
    return m_accessibilityBus;
}

bool BusProxies::listening() {
    if (m_listening)
        return *m_listening;
    m_listening = ready(m_alive.get());
    if (!*m_listening && m_failed) {
        int status = 0;
        const bool ended = m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid;
        if (ended)
            m_pid = -1;
        if (ended && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return false; // the session has no accessibility bus
        m_failed(ended && WIFEXITED(status) && WEXITSTATUS(status) == 127
                     ? QStringLiteral("%1 cannot be run (is xdg-dbus-proxy installed?)")
                           .arg(QString::fromLocal8Bit(m_program))
                     : QStringLiteral("xdg-dbus-proxy did not start"));
    }
    return *m_listening;
}

std::vector<AllowedSocket> BusProxies::sockets() {
    std::vector<AllowedSocket> sockets;
    if (m_buses.accessibility.isEmpty())
        return sockets;
    const QByteArray path = m_folder + "/accessibility";
    const QString what = QStringLiteral("the accessibility bus proxy");
    AllowedSocket socket{path, UniqueFd(), what, {}};
    // Sealed from the program, the folder holds only what the guard made.
    socket.pinLater = [this, path, what] {
        if (!listening())
            return UniqueFd();
        UniqueFd pinned(::open(path.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        std::optional<AllowedSocket> socket = pinnedSocket(std::move(pinned), path, what);
        return socket ? std::move(socket->pinned) : UniqueFd();
    };
    sockets.push_back(std::move(socket));
    return sockets;
}

BusProxies::~BusProxies() {
    m_alive.reset(); // the proxy sees its --fd end and leaves
    if (m_pid > 0) {
        for (int tries = 0; tries < 100 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; ++tries) {
            if (tries == 50)
                ::kill(m_pid, SIGKILL);
            ::usleep(2000);
        }
    }
    if (!m_folder.isEmpty()) {
        ::unlink((m_folder + "/accessibility").constData());
        ::rmdir(m_folder.constData());
    }
}

} // namespace pellim
