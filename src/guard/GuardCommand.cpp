// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardCommand.h"

#include "confine/Confinement.h"
#include "confine/ProgramLaunch.h"
#include "consent/ConsentStore.h"
#include "consent/KeptOut.h"
#include "consent/Program.h"
#include "guard/BusProxies.h"
#include "guard/GuardProcess.h"
#include "sys/Descriptor.h"

#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellim {

namespace {

constexpr int kUsage = 2;
constexpr int kCannotGuard = 125;
constexpr int kCannotRun = 126;
constexpr int kNotFound = 127;

constexpr char kHelp[] =
    "Usage: pellim-guard run [--name NAME] [--hold-every-call] -- PROGRAM [ARG...]\n"
    "       pellim-guard --help | --version\n"
    "\n"
    "Runs PROGRAM so that it cannot reach your Documents, Desktop and Downloads\n"
    "folders without your consent, nor change the places in your home where\n"
    "programs keep settings and code that run later. The kernel holds its calls\n"
    "until this guard has decided; a folder without an answer is asked about,\n"
    "and the answer is kept for that program (pellim-consent lists and changes\n"
    "the answers). Every process PROGRAM starts is guarded too.\n"
    "\n"
    "  --name NAME   the name the prompts and the journal show for PROGRAM\n"
    "                (default: PROGRAM's own name)\n"
    "  --hold-every-call\n"
    "                have the kernel hold every file call of PROGRAM, not only\n"
    "                those it cannot judge alone: slower, but a statically linked\n"
    "                PROGRAM is then asked about the guarded folders rather than\n"
    "                refused them\n"
    "  -h, --help    show this help\n"
    "  --version     show the version\n"
    "\n"
    "Exit status: PROGRAM's own; 125 when it cannot be guarded here (nothing was\n"
    "run), 126 when it cannot be run, 127 when it is not found, 2 for a usage error.\n";

void say(const QString &text) {
    [[maybe_unused]] const bool written = writeAll(STDERR_FILENO, text.toLocal8Bit());
}

int usage(const QString &problem) {
    say(QStringLiteral("pellim-guard: %1\nTry 'pellim-guard --help'.\n").arg(problem));
    return kUsage;
}

struct RunRequest {
    QString name;
    bool holdEveryCall = false;
    std::vector<QByteArray> argv; // PROGRAM and its arguments
};

// `run [--name NAME] -- PROGRAM [ARG...]`; the "--" may be left out when
// PROGRAM does not begin with a dash.
std::optional<RunRequest> parseRun(int argc, char **argv, int *status) {
    RunRequest request;
    int i = 2;
    for (; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--name" && i + 1 < argc) {
            request.name = QString::fromLocal8Bit(argv[++i]);
            continue;
        }
        if (arg == "--hold-every-call") {
            request.holdEveryCall = true;
            continue;
        }
        if (arg.startsWith("--name=")) {
            request.name = QString::fromLocal8Bit(arg.mid(7));
            continue;
        }
        if (arg.startsWith('-')) {
            *status = usage(QStringLiteral("unknown option '%1'").arg(QString::fromLocal8Bit(arg)));
            return std::nullopt;
        }
        break;
    }
    for (; i < argc; ++i)
        request.argv.emplace_back(argv[i]);
    if (request.argv.empty()) {
        *status = usage(QStringLiteral("no program to run"));
        return std::nullopt;
    }
    return request;
}

// The pellim installed beside this guard: the one program whose answers are
// kept under Pellim's own id and which gets the guard's private channel.
bool isPellimBeside(const QByteArray &path) {
    const QByteArray self =
        QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    const QByteArray pellim = self.left(self.lastIndexOf('/')) + "/pellim";
    struct stat a {
    }, b{};
    return ::stat(pellim.constData(), &a) == 0 && ::stat(path.constData(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The library preloaded into a guarded program to ask about what Landlock
// refused it: a build tree's beside this guard, else the one installed with
// it; nothing where neither is there (then every call is held).
QByteArray askingLibrary() {
    const QByteArray self =
        QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    const QByteArray folder = self.left(self.lastIndexOf('/'));
    for (const QByteArray &library :
         {folder + "/libpellim-ask.so", folder + "/../" PELLIM_ASK_LIBRARY})
        if (::access(library.constData(), R_OK) == 0)
            return library;
    return {};
}

// What the guard tells the waiting command, one fixed-size record each.
struct Report {
    char kind; // 'p': the program's pid, 's': stopped by `value`, 'x': wait status `value`
    std::int32_t value;
};

[[noreturn]] void endLike(int waitStatus) {
    if (WIFEXITED(waitStatus))
        ::_exit(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus)) {
        const int signal = WTERMSIG(waitStatus);
        // The program's core, if any, was its own; this process has none to give.
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        ::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(signal);
        ::_exit(128 + signal);
    }
    ::_exit(kCannotGuard);
}

// As a subreaper this process inherits whatever the program's processes leave
// when their parent ends: they are reaped as they end. The program itself is
// this process's child only once its guard has ended, and its end is then the
// command's.
void reapOrphans(pid_t program) {
    int status = 0;
    pid_t ended;
    while ((ended = ::waitpid(-1, &status, WNOHANG)) > 0) {
        if (ended == program && (WIFEXITED(status) || WIFSIGNALED(status)))
            endLike(status);
    }
}

// The process the person started: waits for the guard's reports.
[[noreturn]] void waitForProgram(pid_t guard, UniqueFd reports, UniqueFd forwarded) {
    pid_t program = -1;
    for (;;) {
        pollfd ready[2] = {{reports.get(), POLLIN, 0}, {forwarded.get(), POLLIN, 0}};
        if (::poll(ready, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            ::_exit(kCannotGuard);
        }
        if (ready[1].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(forwarded.get(), &info, sizeof info) == sizeof info) {
                if (info.ssi_signo == SIGCHLD)
                    reapOrphans(program);
                else if (program > 0 && info.ssi_code != SI_KERNEL) // a key at the terminal
                    ::kill(program, int(info.ssi_signo));           // reached the program itself
            }
        }
        if (!ready[0].revents)
            continue;
        Report report{};
        const ssize_t got = ::read(reports.get(), &report, sizeof report);
        if (got != sizeof report) {
            if (got < 0 && errno == EINTR)
                continue;
            say(QStringLiteral("pellim-guard: the guard stopped before the program ended\n"));
            // The program is this process's child now (a subreaper's): its end
            // is still the command's. The guard's descriptors close before its
            // children are handed on, so it is waited for first.
            while (::waitpid(guard, nullptr, 0) < 0 && errno == EINTR) {
            }
            int status = kCannotGuard << 8;
            while (program > 0 && ::waitpid(program, &status, 0) < 0 && errno == EINTR) {
            }
            endLike(status);
        }
        if (report.kind == 'p')
            program = pid_t(report.value);
        else if (report.kind == 's')
            ::raise(SIGSTOP); // the job stops with its program; SIGCONT goes on to both
        else if (report.kind == 'x')
            endLike(report.value);
    }
}

// Signals the waiting process passes on come through a descriptor; the guard
// and the program get none of that.
UniqueFd blockForwardedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&set, signal);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    return UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC));
}

// The guard: the program's parent, started by the command's process.
[[noreturn]] void becomeGuard(int argc, char **argv, const Program &program, const RunRequest &run,
                              int reportTo) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Keys at the terminal are for the program; the guard keeps answering its
    // calls (and those of what it leaves behind) after a Ctrl+C, a hang-up or
    // a SIGTERM sent to the whole job, so that the program can still end
    // cleanly: the guard ends with the program's last process. What it says
    // on its standard error once the command has returned and the terminal
    // is the shell's again must not stop it either (SIGTTOU).
    for (const int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGTTOU})
        ::signal(signal, SIG_IGN);
    GuardStart start;
    start.program = program;
    start.pellim = program.isPellim();
    start.reportTo = reportTo;
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const Result<QByteArray> busFolder = BusProxies::makeFolder(environment);
    if (busFolder) {
        start.busFolder = *busFolder;
        start.bus = PrivateBus::start(start.busFolder);
    } else {
        start.busProblem = busFolder.failure().text();
    }
    QString kept;
    start.keptOut = keptOutFolders(&kept, start.pellim);
    start.keptAtStart = kept;
    if (!start.busFolder.isEmpty())
        start.keptOut.sealed.push_back(start.busFolder);
    LaunchRequest launch;
    launch.keptOut = start.keptOut;
    launch.path = program.path;
    launch.argv = run.argv;
    launch.keepChannel = start.pellim;
    launch.earlyWayland = start.pellim;
    launch.diesWithGuard = !start.pellim;
    // Pellim's every call is held, as its own tests expect; another program's
    // opens run at the kernel's speed, asked about where Landlock refuses them.
    if (!start.pellim && !run.holdEveryCall)
        launch.askLibrary = askingLibrary();
    launch.held = launch.askLibrary.isEmpty() ? CallsHeld::Every : CallsHeld::UnseenByLandlock;
    ::_exit(runGuardForProgram(std::move(start), launch, argc, argv));
}

int run(int argc, char **argv) {
    int status = 0;
    const std::optional<RunRequest> request = parseRun(argc, argv, &status);
    if (!request)
        return status;
    const Result<Program> found =
        resolveProgram(request->argv.front(), qgetenv("PATH"), request->name);
    if (!found) {
        const Failure &failure = found.failure();
        say(QStringLiteral("pellim-guard: %1\n")
                .arg(failure.error == ENOENT ? failure.step : failure.text()));
        return found.failure().error == ENOENT ? kNotFound : kCannotRun;
    }
    Program program = *found;
    if (isPellimBeside(program.path))
        program = pellimProgram(program.path);
    if (const std::optional<QString> why = confinementUnavailable()) {
        say(QStringLiteral("pellim-guard: cannot guard %1: %2; nothing was run\n")
                .arg(program.name, *why));
        return kCannotGuard;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        say(QStringLiteral("pellim-guard: cannot start the guard: %1\n").arg(errnoText(errno)));
        return kCannotGuard;
    }
    UniqueFd reports(ends[0]), reportTo(ends[1]);
    UniqueFd forwarded = blockForwardedSignals();
    // Should the guard end first, the program comes to this process, which
    // then still passes on how it ended.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const pid_t guard = ::fork();
    if (guard < 0) {
        say(QStringLiteral("pellim-guard: cannot start the guard: %1\n").arg(errnoText(errno)));
        return kCannotGuard;
    }
    if (guard == 0) {
        reports.reset();
        forwarded.reset();
        becomeGuard(argc, argv, program, *request, reportTo.release());
    }
    reportTo.reset();
    waitForProgram(guard, std::move(reports), std::move(forwarded));
}

} // namespace

int runGuardCommand(int argc, char **argv) {
    const QByteArray command = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (command == "-h" || command == "--help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("pellim-guard %s\n", PELLIM_VERSION);
        return 0;
    }
    if (command == "run")
        return run(argc, argv);
    if (command.isEmpty())
        return usage(QStringLiteral("no command given"));
    return usage(QStringLiteral("unknown command '%1'").arg(QString::fromLocal8Bit(command)));
}

} // namespace pellim
