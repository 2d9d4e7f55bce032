// What the folder guard costs a confined process, for run-guard-bench:
//
//   guard_bench calls [--rounds N] [--calls N] [--library PATH]
//       open+close of a few files, side by side in one run: in an unconfined
//       process, in a process confined by confineSelf and answered by the real
//       Supervisor and FolderGuard, and in one answered by a loop that lets every
//       call go on (the notification's own round trip) or, in Documents, opens
//       the file and hands it over unasked; with the library (libpellim-ask.so),
//       also in one confined as pellim-guard run confines a program, opening
//       through the library. A temporary home holds the guarded folders, with
//       "allowed" stored for Documents. Prints RESULT lines.
//   guard_bench exec [--unconfined | --hold-every-call] [--library PATH] PROGRAM ARG...
//       runs PROGRAM confined by the folders the current HOME names (the guard's
//       state folder sealed), answered here as the application answers them, or
//       not confined at all. As pellim-guard run confines it: only the calls
//       Landlock cannot see held, and those the library at PATH
//       (libpellim-ask.so) asks about; or every call held. Then prints
//       "key value" lines: exec_ns (from the exec to the program's exit),
//       setup_ns (confinement and supervisor set-up), notifications, entries
//       (journal entries written) and which way the answered calls went
//       (Supervisor::Counts).
#include "confine/Confinement.h"
#include "confine/GuardLink.h"
#include "confine/SeccompFlags.h"
#include "confine/Supervisor.h"
#include "consent/ConsentPrompter.h"
#include "consent/ConsentStore.h"
#include "consent/FolderGuard.h"
#include "consent/KeptOut.h"
#include "journal/Log.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

using namespace pellim;

namespace {

constexpr const char *kBench = "guard";

long long nowNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

struct NeverAsks final : ConsentPrompter {
    PromptAnswer ask(const ConsentRequest &) override { return PromptAnswer::CannotAsk; }
};

// Counts the entries written, and the decisions they stand for: a folded
// entry ("… and 4,999 more …") counts its decisions.
struct CountingSink final : LogSink {
    long long entries = 0;
    long long decisions = 0;
    void write(const LogEntry &entry) override {
        ++entries;
        const qsizetype more = entry.message.indexOf(QStringLiteral(" more "));
        const qsizetype and_ = entry.message.indexOf(QStringLiteral("\u2026 and "));
        decisions += and_ >= 0 && more > and_
                         ? entry.message.mid(and_ + 6, more - and_ - 6).remove(',').toLongLong()
                         : 1;
    }
};

bool readAll(int fd, void *to, std::size_t size) {
    auto *bytes = static_cast<char *>(to);
    while (size > 0) {
        const ssize_t n = ::read(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= std::size_t(n);
    }
    return true;
}

// --- calls -----------------------------------------------------------------------

struct Target {
    const char *label;
    QByteArray path;
    double limitUs;        // extra per open allowed under the guard
    bool outside;          // Landlock lets it through: a loop that lets calls go on can open it
    bool metadata = false; // chmod to the mode it has, instead of open and close
};

struct Command {
    int target = -1; // -1: stop
    int calls = 0;
};

struct Timing {
    long long ns = 0;
    int failures = 0;
};

using OpenFunction = int (*)(const char *, int, ...);

Timing openClose(const Target &target, int calls, OpenFunction open = &::open) {
    Timing timing;
    const QByteArray &path = target.path;
    const long long start = nowNs();
    for (int i = 0; i < calls; ++i) {
        if (target.metadata) {
            timing.failures += ::chmod(path.constData(), 0644) != 0;
            continue;
        }
        const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            ++timing.failures;
        else
            ::close(fd);
    }
    timing.ns = nowNs() - start;
    return timing;
}

// The library's own open, the one a program under pellim-guard run calls,
// loaded after the confinement as the dynamic linker would load it before.
OpenFunction libraryOpen(const QByteArray &library) {
    void *handle = ::dlopen(library.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "guard_bench: %s\n", ::dlerror());
        return nullptr;
    }
    return reinterpret_cast<OpenFunction>(::dlsym(handle, "open"));
}

// A child that confines itself with `keptOut`, hands its listener over and then
// runs the rounds it is sent.
class ConfinedChild {
public:
    // With `library`, confined as pellim-guard run confines a program: only
    // what Landlock cannot see held, and what the library's own open asks.
    ConfinedChild(const KeptOutPaths &keptOut, const std::vector<Target> &targets,
                  const QByteArray &library = {}) {
        int sockets[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(sockets[0]);
            const int control = sockets[1];
            auto confined = confineSelf(keptOut, library.isEmpty() ? CallsHeld::Every
                                                                   : CallsHeld::UnseenByLandlock);
            UniqueFd *listener = std::get_if<UniqueFd>(&confined);
            if (!listener) {
                std::fprintf(stderr, "guard_bench: %s\n",
                             qPrintable(std::get<ConfinementError>(confined).message));
                ::_exit(1);
            }
            char taken = 0;
            if (!offerListener(control, listener->get()) || ::recv(control, &taken, 1, 0) != 1)
                ::_exit(1);
            listener->reset(); // the supervisor alone answers
            const OpenFunction open = library.isEmpty() ? &::open : libraryOpen(library);
            if (!open)
                ::_exit(1);
            Command command;
            while (readAll(control, &command, sizeof command) && command.target >= 0) {
                const Timing timing =
                    openClose(targets[std::size_t(command.target)], command.calls, open);
                if (::write(control, &timing, sizeof timing) != sizeof timing)
                    ::_exit(1);
            }
            ::_exit(0);
        }
        ::close(sockets[1]);
        m_control = UniqueFd(sockets[0]);
        if (m_pid > 0) {
            m_listener = pellim::takeListener(m_control.get(), m_pid);
            sendMessage(m_control.get(), QByteArrayLiteral("taken"));
        }
    }
    ~ConfinedChild() {
        if (m_pid <= 0)
            return;
        const Command stop;
        if (::write(m_control.get(), &stop, sizeof stop) < 0)
            ::kill(m_pid, SIGKILL);
        m_control.reset();
        ::waitpid(m_pid, nullptr, 0);
    }
    ConfinedChild(const ConfinedChild &) = delete;
    ConfinedChild &operator=(const ConfinedChild &) = delete;

    UniqueFd takeListener() { return std::move(m_listener); }
    bool started() const { return m_listener.isValid(); }

    // One round in the child; `answer` is called whenever a call waits on
    // `listener` (false: stop).
    std::optional<Timing> round(int listener, Command command,
                                const std::function<bool()> &answer) {
        if (::write(m_control.get(), &command, sizeof command) != sizeof command)
            return std::nullopt;
        for (;;) {
            pollfd ready[2] = {{m_control.get(), POLLIN, 0}, {listener, POLLIN, 0}};
            if (::poll(ready, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return std::nullopt;
            }
            if (ready[1].revents & POLLIN) {
                if (!answer())
                    return std::nullopt;
                continue;
            }
            if (ready[0].revents & (POLLIN | POLLHUP)) {
                Timing timing;
                if (!readAll(m_control.get(), &timing, sizeof timing))
                    return std::nullopt;
                return timing;
            }
            if (ready[1].revents & (POLLHUP | POLLERR))
                return std::nullopt;
        }
    }

private:
    pid_t m_pid = -1;
    UniqueFd m_control;
    UniqueFd m_listener;
};

// Lets the call go on without looking at it: what the notification alone costs.
//
// With `handOver`, opens that file instead and hands it over as the call's
// result, unasked: what an answer made in the supervisor costs at the least.
bool continueBlindly(int listener, const char *handOver) {
    seccomp_notif notification{};
    if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &notification) != 0)
        return errno == ENOENT || errno == EINTR;
    if (handOver) {
        const UniqueFd fd(::open(handOver, O_RDONLY | O_CLOEXEC));
        seccomp_notif_addfd add{};
        add.id = notification.id;
        add.flags = SECCOMP_ADDFD_FLAG_SEND;
        add.srcfd = unsigned(fd.get());
        add.newfd_flags = O_CLOEXEC;
        return ::ioctl(listener, SECCOMP_IOCTL_NOTIF_ADDFD, &add) >= 0 || errno == ENOENT;
    }
    seccomp_notif_resp response{};
    response.id = notification.id;
    response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    return ::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &response) == 0 || errno == ENOENT;
}

void result(const char *subject, const QByteArray &metric, double value, const char *unit) {
    std::printf("RESULT\t%s\t%s\t%s\t%.3f\t%s\n", kBench, subject, metric.constData(), value, unit);
}

// A program under pellim-guard run, against the same reference as the held
// way: outside the guarded folders nothing is held; in Documents Landlock
// refuses, the library asks again marked, and the guard hands the
// descriptor over as it does for any held open.
void libraryResults(const Target &target, const QByteArray &metric,
                    const std::vector<double> &plain, const std::vector<double> &blind,
                    const std::vector<double> &byLibrary) {
    const char *reference = target.outside ? "notification alone" : "descriptor handed over alone";
    for (std::size_t i = 0; i < plain.size(); ++i) {
        result("pellim-guard run", metric, byLibrary[i] - plain[i], "µs");
        result(reference, metric, blind[i] - plain[i], "µs");
    }
    std::printf("TARGET\t%s\t%s\t%s\t%g\n", kBench, metric.constData(), reference,
                target.outside ? 1.3 : 2.0);
}

QByteArray firstExisting(std::initializer_list<const char *> paths) {
    for (const char *path : paths) {
        if (::access(path, R_OK) == 0)
            return path;
    }
    return {};
}

int calls(int rounds, int callsPerRound, const QByteArray &library) {
    // A home of its own, as tests/support/TestHome.h makes one.
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(QFileInfo(dir.path()).canonicalFilePath());
    const QByteArray home = root + "/home";
    for (const char *folder : {"/.config", "/.local/state", "/Documents", "/Desktop", "/Downloads"})
        QDir().mkpath(QFile::decodeName(home + folder));
    QDir().mkpath(QFile::decodeName(root + "/out"));
    const auto makeFile = [](const QByteArray &path, const QByteArray &bytes) {
        QFile file(QFile::decodeName(path));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    if (!makeFile(home + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n"
                                                    "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                    "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n") ||
        !makeFile(root + "/out/file.txt", "out") ||
        !makeFile(home + "/Documents/file.txt", "document")) {
        std::fprintf(stderr, "guard_bench: cannot make the temporary home in %s\n",
                     root.constData());
        return 1;
    }
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_STATE_HOME", home + "/.local/state");

    const KeptOutPaths folders = keptOutFolders();
    CountingSink log;
    NeverAsks prompter;
    FolderGuard guard(log, prompter);
    QString error;
    if (const Result<ConsentStore::Stored> stored =
            ConsentStore(ConsentStore::defaultPath())
                .setAnswer(GuardedFolder::Documents, ConsentAnswer::Allowed);
        !stored) {
        std::fprintf(stderr, "guard_bench: cannot store the answer: %s\n",
                     qPrintable(stored.failure().text()));
        return 1;
    }

    std::vector<Target> targets = {{"temp folder", root + "/out/file.txt", 10, true}};
    if (QByteArray etc = firstExisting({"/etc/hostname", "/etc/passwd"}); !etc.isEmpty())
        targets.push_back({"/etc file", etc, 10, true});
    if (QByteArray lib = firstExisting(
            {"/usr/lib/x86_64-linux-gnu/libc.so.6", "/usr/lib/libc.so.6", "/usr/bin/env"});
        !lib.isEmpty())
        targets.push_back({"/usr file", lib, 10, true});
    targets.push_back({"Documents, stored allow", home + "/Documents/file.txt", 60, false});
    // Landlock does not see a mode change: the guard always does it itself.
    targets.push_back({"chmod, temp folder", root + "/out/file.txt", 10, true, true});

    ConfinedChild guarded(folders, targets);
    ConfinedChild bare(folders, targets);
    // A program under pellim-guard run, with a supervisor of its own.
    std::optional<ConfinedChild> asked;
    if (!library.isEmpty())
        asked.emplace(folders, targets, library);
    if (!guarded.started() || !bare.started() || (asked && !asked->started())) {
        std::fprintf(stderr, "guard_bench: the confined children did not start\n");
        return 1;
    }
    const UniqueFd bareListener = bare.takeListener();
    // Woken on one CPU, as the Supervisor asks for its own listener.
    ::ioctl(bareListener.get(), SECCOMP_IOCTL_NOTIF_SET_FLAGS, SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP);
    std::unique_ptr<Supervisor> supervisor =
        Supervisor::create(guarded.takeListener(), guard, folders, &error);
    if (!supervisor) {
        std::fprintf(stderr, "guard_bench: %s\n", qPrintable(error));
        return 1;
    }
    const auto answerGuarded = [&] {
        return supervisor->handleOne() == Supervisor::Result::Answered;
    };
    std::unique_ptr<Supervisor> askedSupervisor;
    if (asked &&
        !(askedSupervisor = Supervisor::create(asked->takeListener(), guard, folders, &error))) {
        std::fprintf(stderr, "guard_bench: %s\n", qPrintable(error));
        return 1;
    }
    const auto answerAsked = [&] {
        return askedSupervisor->handleOne() == Supervisor::Result::Answered;
    };
    const char *handOver = nullptr;
    const auto answerBare = [&] { return continueBlindly(bareListener.get(), handOver); };

    // Rounds take turns target by target, so that a slower moment on the
    // machine touches all three ways alike; the first round is not counted.
    std::vector<std::vector<double>> plain(targets.size()), confined(targets.size()),
        blind(targets.size()), byLibrary(targets.size());
    for (int r = 0; r <= rounds; ++r) {
        for (std::size_t t = 0; t < targets.size(); ++t) {
            const Command command{int(t), callsPerRound};
            const Timing own = openClose(targets[t], callsPerRound);
            const std::optional<Timing> underGuard =
                guarded.round(supervisor->listener(), command, answerGuarded);
            // Landlock refuses Documents to a process whose calls merely go on.
            handOver = targets[t].outside ? nullptr : targets[t].path.constData();
            const std::optional<Timing> underLoop =
                bare.round(bareListener.get(), command, answerBare);
            const std::optional<Timing> underAsking =
                asked ? asked->round(askedSupervisor->listener(), command, answerAsked)
                      : std::optional<Timing>(Timing{});
            if (!underGuard || !underLoop || !underAsking || own.failures || underGuard->failures ||
                underLoop->failures || underAsking->failures) {
                std::fprintf(
                    stderr, "guard_bench: round %d on %s failed (%d, %d, %d opens failed)\n", r,
                    targets[t].path.constData(), own.failures,
                    underGuard ? underGuard->failures : -1, underLoop ? underLoop->failures : -1);
                return 1;
            }
            if (r == 0)
                continue;
            plain[t].push_back(double(own.ns) / callsPerRound / 1000);
            confined[t].push_back(double(underGuard->ns) / callsPerRound / 1000);
            blind[t].push_back(double(underLoop->ns) / callsPerRound / 1000);
            byLibrary[t].push_back(double(underAsking->ns) / callsPerRound / 1000);
        }
    }
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const QByteArray label = targets[t].label;
        const QByteArray whole = targets[t].metadata ? "call, " : "open+close, ";
        const QByteArray extra = targets[t].metadata ? "extra per call, " : "extra per open, ";
        for (int r = 0; r < rounds; ++r) {
            const std::size_t i = std::size_t(r);
            result("unconfined", whole + label, plain[t][i], "µs");
            result("pellim confined", whole + label, confined[t][i], "µs");
            result("pellim confined", extra + label, confined[t][i] - plain[t][i], "µs");
            result(targets[t].outside ? "notification alone" : "descriptor handed over alone",
                   extra + label, blind[t][i] - plain[t][i], "µs");
        }
        std::printf("TARGET\t%s\t%s%s\tabsolute\t%g\n", kBench, extra.constData(),
                    label.constData(), targets[t].limitUs);
        if (asked)
            libraryResults(targets[t], extra + "under pellim-guard run, " + label, plain[t],
                           blind[t], byLibrary[t]);
    }
    QByteArray files;
    for (const Target &target : targets)
        files += (files.isEmpty() ? "" : "; ") + QByteArray(target.label) + ": " +
                 target.path.mid(target.path.startsWith(root) ? root.size() + 1 : 0);
    std::printf("NOTE\t%s\tPer call: %d rounds of %d open+close of each file after one "
                "warm-up round, the three ways taking turns; \"notification alone\" is a "
                "confined process whose calls a loop lets go on unread, \"descriptor handed over "
                "alone\" one whose calls the loop answers by opening the file and handing it over "
                "unasked. Files (home and out/ in a temporary folder): %s.\n",
                kBench, rounds, callsPerRound, files.constData());
    // Each open in Documents was decided by the guard, which says so, folded.
    guard.writeHeldEntries();
    if (log.decisions != (long long)(rounds + 1) * callsPerRound * (asked ? 2 : 1)) {
        std::fprintf(stderr, "guard_bench: %lld decisions logged\n", log.decisions);
        return 1;
    }
    return 0;
}

// --- exec --------------------------------------------------------------------------

struct ExecMode {
    bool confine = true;
    CallsHeld held = CallsHeld::UnseenByLandlock;
    QByteArray library; // with CallsHeld::UnseenByLandlock
};

// The child: confined as asked, the library told where to ask, then the program.
[[noreturn]] void execChild(const ExecMode &mode, const KeptOutPaths &folders, int control,
                            char **argv) {
    if (mode.confine) {
        auto confined = confineSelf(folders, mode.held);
        const UniqueFd *listener = std::get_if<UniqueFd>(&confined);
        if (!listener) {
            std::fprintf(stderr, "guard_bench: %s\n",
                         qPrintable(std::get<ConfinementError>(confined).message));
            ::_exit(126);
        }
        char taken = 0;
        if (!offerListener(control, listener->get()) || ::recv(control, &taken, 1, 0) != 1)
            ::_exit(126);
        if (mode.held == CallsHeld::UnseenByLandlock &&
            ::setenv("LD_PRELOAD", mode.library.constData(), 1) != 0)
            ::_exit(126);
    } else if (::write(control, "", 1) != 1) {
        ::_exit(126);
    }
    ::execvp(argv[0], argv); // the listener and the socket close here
    std::fprintf(stderr, "guard_bench: cannot run %s: %s\n", argv[0], std::strerror(errno));
    ::_exit(127);
}

int exec(const ExecMode &mode, char **argv) {
    const KeptOutPaths folders = keptOutFolders();
    const long long started = nowNs();
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(sockets[0]);
        execChild(mode, folders, sockets[1], argv);
    }
    ::close(sockets[1]);
    const UniqueFd control(sockets[0]);
    if (child < 0)
        return 1;
    CountingSink log;
    NeverAsks prompter;
    FolderGuard guard(log, prompter);
    std::unique_ptr<Supervisor> supervisor;
    char byte = 0;
    if (mode.confine) {
        // Mapped while the child confines itself, as the guard process does.
        QString error;
        std::optional<Supervisor::Map> map = Supervisor::mapFolders(folders, &error);
        UniqueFd listener = takeListener(control.get(), child);
        if (listener.isValid() && map)
            supervisor =
                Supervisor::create(std::move(listener), guard, folders, &error, {}, std::move(map));
        sendMessage(control.get(), QByteArrayLiteral("taken"));
        if (!supervisor)
            std::fprintf(stderr, "guard_bench: no supervisor: %s\n", qPrintable(error));
    } else if (::read(control.get(), &byte, 1) != 1) {
        std::fprintf(stderr, "guard_bench: the child did not start\n");
    }
    const long long ready = nowNs();
    while (supervisor && supervisor->handleOne() == Supervisor::Result::Answered) {
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const long long ended = nowNs();
    std::fflush(stdout);
    guard.writeHeldEntries();
    // Every held call is answered once, one way or another.
    std::printf("exec_ns %lld\nsetup_ns %lld\nnotifications %lld\nentries %lld\n", ended - ready,
                ready - started,
                supervisor
                    ? (long long)(supervisor->counts().goneOn + supervisor->counts().doneHere +
                                  supervisor->counts().failed)
                    : 0,
                log.entries);
    if (supervisor) {
        const Supervisor::Counts &c = supervisor->counts();
        std::printf("gone_on %llu\nquick %llu\ndone_here %llu\nfailed %llu\ndoors %llu\n",
                    (unsigned long long)c.goneOn, (unsigned long long)c.quick,
                    (unsigned long long)c.doneHere, (unsigned long long)c.failed,
                    (unsigned long long)c.doors);
    }
    if (mode.confine && !supervisor)
        return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int usage() {
    std::fprintf(stderr, "usage: guard_bench calls [--rounds N] [--calls N] [--library PATH]\n"
                         "       guard_bench exec [--unconfined | --hold-every-call] "
                         "[--library PATH] PROGRAM ARG...\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    if (const std::optional<QString> why = confinementUnavailable()) {
        std::fprintf(stderr, "guard_bench: %s\n", qPrintable(*why));
        return 77;
    }
    if (argc >= 2 && std::strcmp(argv[1], "calls") == 0) {
        int rounds = 15, perRound = 2000;
        QByteArray library;
        for (int i = 2; i + 1 < argc; i += 2) {
            if (std::strcmp(argv[i], "--rounds") == 0)
                rounds = std::max(1, std::atoi(argv[i + 1]));
            else if (std::strcmp(argv[i], "--calls") == 0)
                perRound = std::max(1, std::atoi(argv[i + 1]));
            else if (std::strcmp(argv[i], "--library") == 0)
                library = argv[i + 1];
            else
                return usage();
        }
        return calls(rounds, perRound, library);
    }
    if (argc >= 3 && std::strcmp(argv[1], "exec") == 0) {
        ExecMode mode;
        int at = 2;
        for (; at < argc && argv[at][0] == '-'; ++at) {
            if (std::strcmp(argv[at], "--unconfined") == 0)
                mode.confine = false;
            else if (std::strcmp(argv[at], "--hold-every-call") == 0)
                mode.held = CallsHeld::Every;
            else if (std::strcmp(argv[at], "--library") == 0 && at + 1 < argc)
                mode.library = argv[++at];
            else
                return usage();
        }
        if (at >= argc ||
            (mode.confine && mode.held == CallsHeld::UnseenByLandlock && mode.library.isEmpty()))
            return usage();
        return exec(mode, argv + at);
    }
    return usage();
}
