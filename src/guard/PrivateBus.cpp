// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/PrivateBus.h"

#include "guard/BusProxies.h"
#include "sys/LocalSocket.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellim {

namespace {

// A session bus with nothing to start: no <servicedir>, so a call to a name
// nobody owns is an error at once (GTK and Qt ask for the portal's Settings,
// and must never wait for them). Anyone on it may own a name (a GApplication
// owns its id, and exits where it cannot); the portal's name is the guard's
// from before the program connects, taken without allowing replacement, so
// nobody can take it over while the guard lives. A message to the guard is
// read whole into its memory: none may be larger than a request needs by far
// (the session's default allows 128 MiB).
constexpr char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>systemd:</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
  <limit name="max_message_size">1048576</limit>
</busconfig>
)";

// The socket systemd's protocol hands over first, and where the
// configuration is read from.
constexpr int kListenFd = 3;
constexpr int kConfigFd = 4;

Result<UniqueFd> configFile() {
    UniqueFd config(::memfd_create("pellim-bus.conf", MFD_CLOEXEC));
    if (!config.isValid())
        return Failure{QStringLiteral("cannot write its configuration"), errno};
    if (!writeAll(config.get(), QByteArray(kConfig)))
        return Failure{QStringLiteral("cannot write its configuration"), errno};
    return config;
}

// In the forked child: the two descriptors where the daemon looks for them,
// nothing on the terminal, and the daemon itself.
[[noreturn]] void execDaemon(pid_t guard, int listening, int config, const QByteArray &program) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != guard)
        ::_exit(1);
    // Out of the way of the numbers they go to first.
    const int high = ::fcntl(listening, F_DUPFD, 10);
    const int highConfig = ::fcntl(config, F_DUPFD, 10);
    if (high < 0 || highConfig < 0 || ::dup2(high, kListenFd) != kListenFd ||
        ::dup2(highConfig, kConfigFd) != kConfigFd)
        ::_exit(1);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (const int standard : {0, 1, 2})
        ::dup2(null, standard);
    ::setenv("LISTEN_FDS", "1", 1);
    ::setenv("LISTEN_PID", QByteArray::number(::getpid()).constData(), 1);
    ::unsetenv("LISTEN_FDNAMES");
    const QByteArray configArg = "--config-file=/proc/self/fd/" + QByteArray::number(kConfigFd);
    ::execl(program.constData(), program.constData(), "--nofork", "--nopidfile", "--nosyslog",
            configArg.constData(), static_cast<char *>(nullptr));
    ::_exit(127);
}

} // namespace

Result<std::unique_ptr<PrivateBus>> PrivateBus::start(const QByteArray &folder,
                                                      const QByteArray &program) {
    std::unique_ptr<PrivateBus> bus(new PrivateBus);
    bus->m_path = folder + "/session";
    Result<UniqueFd> listening = bindLocalSocket(bus->m_path, SOCK_STREAM);
    if (!listening)
        return listening.failure();
    Result<UniqueFd> config = configFile();
    if (!config)
        return config.failure();
    const pid_t guard = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        return Failure{QStringLiteral("cannot start dbus-daemon"), errno};
    if (pid == 0)
        execDaemon(guard, listening->get(), config->get(), program);
    bus->m_pid = pid;
    bus->m_address = BusProxies::unixAddress(bus->m_path);
    return bus;
}

std::optional<AllowedSocket> PrivateBus::socket() const {
    return pinnedSocket(m_path, QStringLiteral("its session bus"));
}

PrivateBus::~PrivateBus() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    ::unlink(m_path.constData());
}

} // namespace pellim
