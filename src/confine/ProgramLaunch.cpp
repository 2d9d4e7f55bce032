// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/ProgramLaunch.h"

#include "confine/Confinement.h"
#include "confine/GuardLink.h"
#include "confine/GuardMessages.h"
#include "sys/EarlyDisplay.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellim {

namespace {

// How long the program's first process waits for the guard to take its
// listener: the guard starts the buses first.
constexpr int kGuardPatienceMs = 10000;

[[noreturn]] void cannot(int channel, const QByteArray &why) {
    const QByteArray message = QByteArray(kCannotConfineMessage) + why;
    [[maybe_unused]] const bool sent = sendMessage(channel, message);
    ::_exit(125);
}

// The signals the guard leaves to the program are the program's again: an
// ignored one would stay ignored across exec.
void defaultSignals() {
    for (const int signal :
         {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE, SIGTSTP, SIGTTOU, SIGTTIN, SIGCHLD})
        ::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The guard's first message, left in the channel for Pellim to take: the guard
// has the listener once it is there.
std::optional<GuardBuses> awaitGuard(int channel) {
    pollfd answer{channel, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&answer, 1, kGuardPatienceMs);
    while (ready < 0 && errno == EINTR);
    if (ready != 1)
        return std::nullopt;
    char buffer[kMaxGuardMessage];
    const ssize_t got = ::recv(channel, buffer, sizeof buffer, MSG_PEEK);
    if (got <= 0)
        return std::nullopt;
    return decodeBuses(QByteArray(buffer, got));
}

// Hands a Pellim the channel across exec at a number it is told.
bool keepChannel(int channel) {
    const int flags = ::fcntl(channel, F_GETFD);
    if (flags < 0 || ::fcntl(channel, F_SETFD, flags & ~FD_CLOEXEC) != 0)
        return false;
    return ::setenv(kGuardChannelVariable, QByteArray::number(channel).constData(), 1) == 0;
}

// The library that asks the guard where Landlock refuses goes first in
// LD_PRELOAD, before any the person set.
bool preloadAsking(const QByteArray &library) {
    QByteArray preload = library;
    if (const char *set = ::getenv("LD_PRELOAD"); set && *set)
        preload += ' ' + QByteArray(set);
    return ::setenv("LD_PRELOAD", preload.constData(), 1) == 0;
}

[[noreturn]] void runConfined(const LaunchRequest &request, pid_t guard, UniqueFd channel) {
    if (request.diesWithGuard)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != guard)
        ::_exit(125); // the guard is gone already: nothing would answer
    defaultSignals();
    ::unsetenv(kGuardChannelVariable);
    bool early = false;
    if (request.earlyWayland) {
        const EarlyDisplay display = connectDisplayEarly();
        // The connection is the program's, across exec.
        early = display.preconnectedWayland() && ::fcntl(display.waylandFd, F_SETFD, 0) == 0;
    }
    if (!sendMessage(channel.get(), early ? kEarlyWaylandMessage : kNoEarlyDisplayMessage))
        ::_exit(125);
    std::variant<UniqueFd, ConfinementError> confined = confineSelf(request.keptOut, request.held);
    if (const auto *error = std::get_if<ConfinementError>(&confined))
        cannot(channel.get(), error->message.toUtf8());
    UniqueFd listener = std::move(std::get<UniqueFd>(confined));
    if (!offerListener(channel.get(), listener.get()))
        cannot(channel.get(), "cannot hand the guard its listener");
    const std::optional<GuardBuses> buses = awaitGuard(channel.get());
    // With its listener, a process could answer its own calls.
    listener.reset();
    if (!buses)
        ::_exit(125);
    // The buses are the guard's: a session bus of the program's own and the
    // filtered accessibility bus; the session's own would start or call any
    // service, outside the confinement. No bus: an empty address makes libdbus
    // give up without looking for the session's.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", buses->session.constData(), 1);
    if (buses->accessibility.isEmpty())
        ::unsetenv("AT_SPI_BUS_ADDRESS");
    else
        ::setenv("AT_SPI_BUS_ADDRESS", buses->accessibility.constData(), 1);
    if (request.held == CallsHeld::UnseenByLandlock && !preloadAsking(request.askLibrary))
        ::_exit(125);
    if (request.keepChannel && !keepChannel(channel.get()))
        ::_exit(125);
    std::vector<char *> argv;
    for (const QByteArray &arg : request.argv)
        argv.push_back(const_cast<char *>(arg.constData()));
    argv.push_back(nullptr);
    ::execv(request.path.constData(), argv.data());
    const int error = errno;
    std::fprintf(stderr, "pellim-guard: cannot run %s: %s\n", request.path.constData(),
                 errnoText(error).toLocal8Bit().constData());
    ::_exit(error == ENOENT ? 127 : 126);
}

} // namespace

Result<LaunchedProgram> launchConfined(const LaunchRequest &request) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return Failure{QStringLiteral("cannot make the program's channel"), errno};
    UniqueFd mine(ends[0]), theirs(ends[1]);
    const pid_t guard = ::getpid();
    const pid_t child = ::fork();
    if (child < 0)
        return Failure{QStringLiteral("cannot start the program"), errno};
    if (child == 0) {
        mine.reset();
        runConfined(request, guard, std::move(theirs));
    }
    return LaunchedProgram{child, std::move(mine)};
}

} // namespace pellim
