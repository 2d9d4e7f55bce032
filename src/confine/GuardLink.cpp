// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/GuardLink.h"

#include "confine/Confinement.h"
#include "confine/ProgramLaunch.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellim {

namespace {

// How long Pellim waits, confined, for its guard to take the listener: the
// guard starts Pellim's bus proxies first.
constexpr int kGuardPatienceMs = 10000;

std::optional<QByteArray> receive(int channel, UniqueFd *descriptor, int flags) {
    errno = 0;
    // A packet comes whole or not at all: first its length, then the packet.
    ssize_t length;
    do
        length = ::recv(channel, nullptr, 0, MSG_PEEK | MSG_TRUNC | flags);
    while (length < 0 && errno == EINTR);
    if (length <= 0) {
        if (length == 0)
            errno = 0;
        return std::nullopt;
    }
    QByteArray message(length, Qt::Uninitialized);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    iovec io{message.data(), std::size_t(length)};
    msghdr header{};
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t got;
    do
        got = ::recvmsg(channel, &header, MSG_CMSG_CLOEXEC | flags);
    while (got < 0 && errno == EINTR);
    if (got <= 0) {
        if (got == 0)
            errno = 0;
        return std::nullopt;
    }
    message.truncate(got);
    for (cmsghdr *c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        int fd = -1;
        std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
        UniqueFd owned(fd);
        if (descriptor)
            *descriptor = std::move(owned);
    }
    return message;
}

} // namespace

bool sendMessage(int channel, const QByteArray &message, int descriptor) {
    // An empty packet would read as the end of the channel.
    Q_ASSERT(!message.isEmpty());
    if (descriptor < 0) {
        ssize_t sent;
        do
            sent = ::send(channel, message.constData(), std::size_t(message.size()), MSG_NOSIGNAL);
        while (sent < 0 && errno == EINTR);
        return sent == message.size();
    }
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof descriptor)] = {};
    iovec io{const_cast<char *>(message.constData()), std::size_t(message.size())};
    msghdr header{};
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    if (descriptor >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr *c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof descriptor);
        std::memcpy(CMSG_DATA(c), &descriptor, sizeof descriptor);
    }
    ssize_t sent;
    do
        sent = ::sendmsg(channel, &header, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == message.size();
}

std::optional<QByteArray> receiveMessage(int channel, UniqueFd *descriptor) {
    return receive(channel, descriptor, 0);
}

namespace {
const QByteArray kListenerOffer = QByteArrayLiteral("listener ");
}

bool offerListener(int channel, int listener) {
    return sendMessage(channel, kListenerOffer + QByteArray::number(listener));
}

UniqueFd listenerOffered(const QByteArray &message, pid_t from, int *error) {
    const auto failed = [error](int e) {
        if (error)
            *error = e;
        return UniqueFd();
    };
    bool number = false;
    const int fd =
        message.startsWith(kListenerOffer) ? message.mid(kListenerOffer.size()).toInt(&number) : -1;
    if (!number || fd < 0)
        return failed(EPROTO);
    const UniqueFd pidfd(int(::syscall(SYS_pidfd_open, from, 0)));
    UniqueFd listener(pidfd.isValid() ? int(::syscall(SYS_pidfd_getfd, pidfd.get(), fd, 0)) : -1);
    if (!listener.isValid())
        return failed(errno);
    return listener;
}

UniqueFd takeListener(int channel, pid_t from, int *error) {
    const std::optional<QByteArray> offer = receiveMessage(channel);
    if (!offer) {
        if (error)
            *error = errno;
        return UniqueFd();
    }
    return listenerOffered(*offer, from, error);
}

std::variant<KernelGuard, NoKernelGuard>
startKernelGuard(const KeptOutPaths &keptOut,
                 const std::function<int(UniqueFd channel)> &guardMain) {
    if (const std::optional<QString> why = confinementUnavailable())
        return NoKernelGuard{*why, true};
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return NoKernelGuard{QStringLiteral("cannot make the guard's channel: ") +
                             errnoText(errno)};
    UniqueFd mine(ends[0]), theirs(ends[1]);
    const pid_t pellim = ::getpid();
    const pid_t guard = ::fork();
    if (guard < 0)
        return NoKernelGuard{QStringLiteral("cannot start the guard process: ") + errnoText(errno)};
    if (guard == 0) {
        mine.reset();
        // A guard outliving Pellim would guard nothing; one whose Pellim is
        // already gone must not start at all.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != pellim)
            ::_exit(1);
        ::_exit(guardMain(std::move(theirs)));
    }
    theirs.reset();
    // Where Yama lets a process read the memory of its own children only, the
    // guard, a child, must be named to read Pellim's. No Yama: nothing to do.
    ::prctl(PR_SET_PTRACER, guard, 0, 0, 0);

    std::variant<UniqueFd, ConfinementError> confined = confineSelf(keptOut);
    if (auto *error = std::get_if<ConfinementError>(&confined)) {
        mine.reset(); // the guard meets the end of the channel and exits
        while (::waitpid(guard, nullptr, 0) < 0 && errno == EINTR) {
        }
        return NoKernelGuard{error->message, error->featureMissing};
    }
    UniqueFd listener = std::move(std::get<UniqueFd>(confined));
    // Confined with nobody to answer, every held call would fail.
    if (!offerListener(mine.get(), listener.get()))
        return NoKernelGuard{QStringLiteral("cannot hand the guard its listener: ") +
                             errnoText(errno)};
    pollfd answer{mine.get(), POLLIN, 0};
    int ready;
    do
        ready = ::poll(&answer, 1, kGuardPatienceMs);
    while (ready < 0 && errno == EINTR);
    std::optional<QByteArray> hello = ready == 1 ? receiveMessage(mine.get()) : std::nullopt;
    listener.reset(); // the guard has it, or never will
    if (!hello)
        return NoKernelGuard{QStringLiteral("the guard did not take its listener")};
    return KernelGuard{std::move(mine), guard, std::move(*hello)};
}

namespace {

// The channel the guard left open across exec, if it is one: a packet socket
// whose other end is this process's parent.
UniqueFd guardChannelGiven() {
    const QByteArray given = qgetenv(kGuardChannelVariable);
    ::unsetenv(kGuardChannelVariable); // for Pellim alone, not what it starts
    bool number = false;
    const int fd = given.toInt(&number);
    if (!number || fd < 0)
        return UniqueFd();
    int type = 0;
    socklen_t length = sizeof type;
    ucred peer{};
    socklen_t peerLength = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET ||
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) != 0 ||
        peer.pid != ::getppid())
        return UniqueFd();
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return UniqueFd(fd);
}

} // namespace

std::variant<KernelGuard, NoKernelGuard> joinKernelGuard(int argc, char **argv) {
    if (!qEnvironmentVariableIsEmpty(kGuardChannelVariable)) {
        UniqueFd channel = guardChannelGiven();
        if (!channel.isValid())
            return NoKernelGuard{QStringLiteral("the guard's channel is not one")};
        std::optional<QByteArray> hello = receiveMessage(channel.get());
        if (!hello)
            return NoKernelGuard{QStringLiteral("the guard said nothing")};
        return KernelGuard{std::move(channel), ::getppid(), std::move(*hello)};
    }
    if (const std::optional<QString> why = confinementUnavailable())
        return NoKernelGuard{*why, true};
    // Found now, before anything is confined: the guard that was installed
    // with this Pellim.
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return NoKernelGuard{QStringLiteral("cannot find Pellim's own file: ") + errnoText(errno)};
    const QByteArray exe(self, length);
    const QByteArray guard = exe.left(exe.lastIndexOf('/')) + "/pellim-guard";
    std::vector<QByteArray> args = {"pellim-guard", "run", "--", exe};
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    std::vector<char *> pointers;
    for (QByteArray &arg : args)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    ::execv(guard.constData(), pointers.data());
    return NoKernelGuard{
        QStringLiteral("cannot start %1: %2").arg(QString::fromLocal8Bit(guard), errnoText(errno))};
}

GuardChannel::GuardChannel(UniqueFd channel, QObject *parent)
    : QObject(parent), m_channel(std::move(channel)),
      m_notifier(new QSocketNotifier(m_channel.get(), QSocketNotifier::Read, this)) {
    connect(m_notifier, &QSocketNotifier::activated, this, &GuardChannel::readReady);
}

GuardChannel::~GuardChannel() = default;

UniqueFd GuardChannel::takeDescriptor() {
    m_notifier->setEnabled(false);
    return std::move(m_channel);
}

Outcome GuardChannel::send(const QByteArray &message) {
    const QString step = QStringLiteral("cannot send a message over the guard's channel");
    if (!m_channel.isValid())
        return Failure{step + QStringLiteral(": it has ended"), 0};
    ssize_t sent;
    do
        sent = ::send(m_channel.get(), message.constData(), std::size_t(message.size()),
                      MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return Failure{step, errno};
    return done(); // a packet goes whole or not at all
}

void GuardChannel::readReady() {
    while (m_channel.isValid()) {
        std::optional<QByteArray> message = receive(m_channel.get(), nullptr, MSG_DONTWAIT);
        if (!message) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK)
                return;
            m_notifier->setEnabled(false);
            m_channel.reset();
            Q_EMIT closed(error);
            return;
        }
        // A slot may run a nested event loop; the next message waits for it.
        Q_EMIT received(*message);
    }
}

} // namespace pellim
