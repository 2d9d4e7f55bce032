// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/SocketDoors.h"

#include "confine/CallReader.h"

#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace pellim {

namespace {

// The most headers of one sendmmsg the kernel takes (UIO_MAXIOV).
constexpr unsigned long long kMaxMessages = 1024;
// How long a connection made here may wait for its peer: the caller waits, and
// so does every other call held meanwhile; and the peer may be Pellim's own (a
// listener on the loopback that never accepts).
constexpr time_t kConnectPatience = 1;

// The caller's socket `fd`, duplicated here: the same open socket, so that what
// is done to it is done to the caller's.
UniqueFd callersSocket(Caller &caller, int fd, int *error) {
    const ThreadStatus *status = caller.threadStatus();
    if (!status) {
        *error = ESRCH;
        return UniqueFd();
    }
    const UniqueFd pidfd(int(::syscall(SYS_pidfd_open, status->tgid, 0)));
    UniqueFd socket(pidfd.isValid() ? int(::syscall(SYS_pidfd_getfd, pidfd.get(), fd, 0)) : -1);
    if (!socket.isValid())
        *error = errno == ESRCH ? ESRCH : EBADF;
    return socket;
}

// The domain of the caller's socket `fd` (AF_UNIX, AF_INET, ...), or -errno;
// `socket` gets the duplicate.
int callersDomain(Caller &caller, int fd, UniqueFd &socket) {
    int error = 0;
    socket = callersSocket(caller, fd, &error);
    if (!socket.isValid())
        return -error;
    int domain = -1;
    socklen_t size = sizeof domain;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0)
        return -errno;
    return domain;
}

// The name in a local address of `size` bytes: a path ends at its first NUL;
// an abstract name is every byte after the leading NUL.
QByteArray nameOf(const sockaddr_un &address, std::size_t size) {
    const std::size_t start = offsetof(sockaddr_un, sun_path);
    if (size <= start)
        return {};
    const std::size_t length = std::min(size, sizeof address) - start;
    const char *path = address.sun_path;
    if (path[0] == '\0')
        return QByteArray(path, qsizetype(length));
    return QByteArray(path, qsizetype(::strnlen(path, length)));
}

Reply connectHere(int socket, const sockaddr *address, socklen_t size) {
    // A blocking socket would hold this process for as long as the peer makes
    // it wait: bounded, as the caller's own SO_SNDTIMEO would bound it.
    timeval before{};
    socklen_t length = sizeof before;
    const bool bound = ::getsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &before, &length) == 0 &&
                       before.tv_sec == 0 && before.tv_usec == 0;
    if (bound) {
        const timeval limit{kConnectPatience, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    int error = 0;
    while (::connect(socket, address, size) != 0) {
        error = errno;
        if (error != EINTR)
            break;
        error = 0;
    }
    if (bound)
        ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &before, sizeof before);
    return Reply::result(error);
}

} // namespace

QString printableSocketName(const QByteArray &name) {
    const bool abstract = name.startsWith('\0');
    QString out = abstract ? QStringLiteral("@") : QString();
    for (const char c : abstract ? name.mid(1) : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || byte == '\\')
            out += QStringLiteral("\\x%1").arg(int(byte), 2, 16, QLatin1Char('0'));
        else
            out += QLatin1Char(c);
    }
    return out;
}

std::optional<AllowedSocket> pinnedSocket(const QByteArray &path, const QString &what) {
    UniqueFd pinned(::open(path.constData(), O_PATH | O_CLOEXEC));
    return pinned.isValid() ? pinnedSocket(std::move(pinned), path, what) : std::nullopt;
}

std::optional<AllowedSocket> pinnedSocket(UniqueFd pinned, const QByteArray &path,
                                          const QString &what) {
    struct stat st {};
    if (!pinned.isValid() || ::fstat(pinned.get(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return std::nullopt;
    return AllowedSocket{path, std::move(pinned), what, {}};
}

std::vector<AllowedSocket> sessionSockets(const QProcessEnvironment &environment,
                                          std::vector<AllowedSocket> extra,
                                          bool waylandPreconnected) {
    std::vector<AllowedSocket> sockets = std::move(extra);
    const auto addPath = [&](const QByteArray &path, const QString &what) {
        if (std::optional<AllowedSocket> socket = pinnedSocket(path, what))
            sockets.push_back(std::move(*socket));
    };
    addPath("/run/systemd/journal/socket", QStringLiteral("the journal"));
    addPath("/dev/log", QStringLiteral("the journal's syslog socket"));

    // A local X display, ":0" or "unix:0.1": Xlib and XCB try its abstract
    // socket first, then the one in /tmp/.X11-unix. A display on another host
    // is reached over the network. Once Pellim has its Wayland connection, it
    // has no use for an X server, and none is left it.
    static const QRegularExpression localDisplay(QStringLiteral("^(?:unix)?:(\\d+)(?:\\.\\d+)?$"));
    const QRegularExpressionMatch x11 =
        localDisplay.match(environment.value(QStringLiteral("DISPLAY")));
    if (x11.hasMatch() && !waylandPreconnected) {
        const QByteArray path = "/tmp/.X11-unix/X" + x11.captured(1).toLatin1();
        addPath(path, QStringLiteral("the display"));
        sockets.push_back(AllowedSocket{
            QByteArray(1, '\0') + path, UniqueFd(), QStringLiteral("the display"), {}});
    }
    const QByteArray wayland = environment.value(QStringLiteral("WAYLAND_DISPLAY")).toLocal8Bit();
    const QByteArray runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR")).toLocal8Bit();
    if (!wayland.isEmpty() && !waylandPreconnected) {
        if (wayland.startsWith('/'))
            addPath(wayland, QStringLiteral("the display"));
        else if (runtime.startsWith('/'))
            addPath(runtime + '/' + wayland, QStringLiteral("the display"));
    }
    return sockets;
}

SocketDoors::SocketDoors(std::vector<AllowedSocket> allowed) : m_allowed(std::move(allowed)) {}

Reply SocketDoors::refuse(const QByteArray &name) {
    if (!m_refused || m_told.count(name) != 0)
        return Reply::result(EACCES);
    if (m_told.size() < kNamedRefusals) {
        m_told.insert(name);
        m_refused(printableSocketName(name));
    } else if (!m_toldFurther) {
        m_toldFurther = true;
        m_refused(QStringLiteral("further local sockets, no longer named one by one"));
    }
    return Reply::result(EACCES);
}

Reply SocketDoors::answer(const HeldCall &row, const unsigned long long (&args)[6], Caller &caller,
                          const std::function<bool()> &stillValid) {
    if (row.op == HeldOp::Connect)
        return connect(row, args, caller, stillValid);

    // A datagram with an address. Only a local socket's matters here: the
    // network stays open.
    sockaddr_un address{};
    socklen_t size = 0;
    bool named = false;
    if (row.op == HeldOp::SendTo) {
        size = socklen_t(args[row.addressLength]);
        named = size > 0;
        if (named && !caller.readBytes(args[row.address], &address,
                                       std::min<std::size_t>(size, sizeof address)))
            return Reply::result(EFAULT);
    } else {
        const unsigned long long count =
            row.op == HeldOp::SendMsg ? 1 : std::min(args[row.addressLength], kMaxMessages);
        // sendmsg's header is the first member of sendmmsg's.
        const std::size_t stride = row.op == HeldOp::SendMsg ? sizeof(msghdr) : sizeof(mmsghdr);
        for (unsigned long long i = 0; i < count && !named; ++i) {
            msghdr header{};
            if (!caller.readBytes(args[row.address] + i * stride, &header, sizeof header))
                return Reply::result(EFAULT);
            if (!header.msg_name || header.msg_namelen == 0)
                continue;
            named = true;
            size = header.msg_namelen;
            if (!caller.readBytes(reinterpret_cast<unsigned long long>(header.msg_name), &address,
                                  std::min<std::size_t>(size, sizeof address)))
                return Reply::result(EFAULT);
        }
    }
    if (!named)
        return Reply::goingOn();
    UniqueFd socket;
    const int domain = callersDomain(caller, int(args[row.socket]), socket);
    if (domain < 0)
        return Reply::result(-domain);
    if (domain != AF_UNIX)
        return Reply::goingOn();
    if (!stillValid())
        return Reply::result(EINTR);
    return refuse(nameOf(address, size));
}

Reply SocketDoors::connect(const HeldCall &row, const unsigned long long (&args)[6], Caller &caller,
                           const std::function<bool()> &stillValid) {
    const auto size = socklen_t(args[row.addressLength]);
    sockaddr_storage address{};
    if (size > sizeof address)
        return Reply::result(EINVAL);
    if (size > 0 && !caller.readBytes(args[row.address], &address, size))
        return Reply::result(EFAULT);
    UniqueFd socket;
    const int domain = callersDomain(caller, int(args[row.socket]), socket);
    if (domain < 0)
        return Reply::result(-domain);
    // From here on, what is done is done for this call: if it is gone, the
    // descriptor read may have been another's.
    if (!stillValid())
        return Reply::result(EINTR);
    const auto *plain = reinterpret_cast<const sockaddr *>(&address);
    // The network, and a local socket's AF_UNSPEC (which only undoes a datagram
    // socket's connection), are made here as asked: made in the caller, the
    // descriptor could be another socket by then.
    if (domain != AF_UNIX || (size >= sizeof(sa_family_t) && address.ss_family == AF_UNSPEC))
        return connectHere(socket.get(), plain, size);
    if (size < sizeof(sa_family_t) || address.ss_family != AF_UNIX)
        return Reply::result(EINVAL);
    const QByteArray name = nameOf(reinterpret_cast<const sockaddr_un &>(address), size);
    if (name.isEmpty())
        return Reply::result(EINVAL);
    const auto allowed = std::find_if(m_allowed.begin(), m_allowed.end(),
                                      [&](const AllowedSocket &a) { return a.name == name; });
    // A path with nothing there gives what it would have given: a library
    // looking for an optional daemon (nscd, say) is no one's concern, nor is a
    // proxy's socket that never came (no accessibility bus runs).
    const auto missing = [&] {
        struct stat st {};
        return name.startsWith('/') && ::lstat(name.constData(), &st) != 0 && errno == ENOENT;
    };
    if (allowed == m_allowed.end())
        return missing() ? Reply::result(ENOENT) : refuse(name);
    if (!allowed->pinned.isValid() && allowed->pinLater) {
        allowed->pinned = allowed->pinLater();
        allowed->pinLater = nullptr;
        if (!allowed->pinned.isValid()) {
            m_allowed.erase(allowed);
            return missing() ? Reply::result(ENOENT) : refuse(name);
        }
    }
    sockaddr_un target{};
    target.sun_family = AF_UNIX;
    socklen_t targetSize = 0;
    if (allowed->pinned.isValid()) {
        // The socket pinned when the list was made, through this process's own
        // descriptor: a path changed since reaches nothing else.
        const int n = std::snprintf(target.sun_path, sizeof target.sun_path, "/proc/self/fd/%d",
                                    allowed->pinned.get());
        targetSize = socklen_t(offsetof(sockaddr_un, sun_path) + std::size_t(n) + 1);
    } else {
        std::memcpy(target.sun_path, name.constData(), std::size_t(name.size()));
        targetSize = socklen_t(offsetof(sockaddr_un, sun_path) + std::size_t(name.size()));
    }
    return connectHere(socket.get(), reinterpret_cast<const sockaddr *>(&target), targetSize);
}

} // namespace pellim
