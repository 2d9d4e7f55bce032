// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/AskedCalls.h"

#include "confine/AskWire.h"
#include "sys/LocalSocket.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace pellim {

namespace {

// The reply socket and two folders: a request with more is not sound.
constexpr std::size_t kMaxFds = 3;
constexpr std::size_t kMaxRequest = sizeof(pellim_ask_request) + 2 * PELLIM_ASK_MAX_PATH;

bool isReplySocket(int fd) {
    int type = 0, domain = 0;
    socklen_t size = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0)
        return false;
    size = sizeof domain;
    return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 && domain == AF_UNIX &&
           type == SOCK_SEQPACKET;
}

// What came besides the bytes: the descriptors, owned at once so that none
// leaks, and the sender.
struct Received {
    std::vector<UniqueFd> fds;
    pid_t pid = 0;
};

void takeControl(msghdr &message, Received &out) {
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET)
            continue;
        if (c->cmsg_type == SCM_RIGHTS) {
            const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                out.fds.emplace_back(fd);
            }
        } else if (c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
            out.pid = credentials.pid;
        }
    }
}

// The op, its flags and which paths it takes; false where the wire names
// something no wrapped call sends.
bool readOp(const pellim_ask_request &wire, HeldRequest &r, bool *kernel) {
    const bool two = wire.path2_size > 0;
    r.flags = wire.flags;
    r.mode = mode_t(wire.mode & 07777);
    switch (wire.op) {
    case PELLIM_ASK_OPEN:
        r.op = HeldOp::Open;
        // O_PATH reaches no content, and Landlock refuses none.
        *kernel = (wire.flags & O_PATH) != 0;
        return !two;
    case PELLIM_ASK_MKDIR:
        r.op = HeldOp::MakeDir;
        return !two;
    case PELLIM_ASK_MKNOD:
        r.op = HeldOp::MakeNode;
        r.mode = mode_t(wire.mode);
        r.dev = unsigned(wire.dev);
        return !two && wire.dev <= 0xffffffffu;
    case PELLIM_ASK_REMOVE:
        r.op = HeldOp::Remove;
        return !two && (wire.flags & ~AT_REMOVEDIR) == 0;
    case PELLIM_ASK_RENAME:
        r.op = HeldOp::Rename;
        return two;
    case PELLIM_ASK_LINK:
        r.op = HeldOp::Link;
        // A descriptor without a name is the kernel's to judge.
        *kernel = (wire.flags & ~AT_SYMLINK_FOLLOW) != 0;
        return two;
    case PELLIM_ASK_SYMLINK:
        r.op = HeldOp::Symlink;
        return two;
    case PELLIM_ASK_TRUNCATE:
        r.op = HeldOp::Truncate;
        r.length = wire.length;
        return !two && wire.length >= 0;
    default:
        return false;
    }
}

// One path: no NUL inside; a relative one needs its folder, which an
// absolute one does without.
bool takePath(QByteArray bytes, bool hasDir, std::vector<UniqueFd>::iterator &next, pid_t pid,
              PathArg &arg) {
    if (bytes.isEmpty() || bytes.contains('\0'))
        return false;
    UniqueFd dir;
    if (hasDir)
        dir = std::move(*next++);
    if (bytes.startsWith('/')) {
        arg.text = forCaller(bytes, pid, pid);
    } else {
        if (!dir.isValid())
            return false;
        arg.text = bytes;
        arg.start = std::move(dir);
    }
    arg.passed = std::move(bytes);
    return true;
}

} // namespace

Result<UniqueFd> bindAskingSocket(const QByteArray &path) {
    Result<UniqueFd> socket = bindLocalSocket(path, SOCK_DGRAM | SOCK_NONBLOCK);
    if (socket && !prepareAskingSocket(socket->get()))
        return Failure{QStringLiteral("cannot have the senders named"), errno};
    return socket;
}

bool prepareAskingSocket(int socket) {
    const int on = 1;
    const int flags = ::fcntl(socket, F_GETFL);
    return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::setsockopt(socket, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0;
}

AskedRead readAsked(int socket, AskedCall &call, int *error) {
    std::array<char, kMaxRequest> bytes;
    alignas(cmsghdr) char control[CMSG_SPACE(kMaxFds * sizeof(int)) + CMSG_SPACE(sizeof(ucred))];
    iovec io{bytes.data(), bytes.size()};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC | MSG_TRUNC);
    if (got < 0)
        return AskedRead::Nothing;
    Received received;
    takeControl(message, received);
    if (received.fds.empty() || !isReplySocket(received.fds.front().get()))
        return AskedRead::Nothing; // nobody to answer
    call.replyTo = std::move(received.fds.front());
    call.pid = received.pid;
    *error = EINVAL;
    pellim_ask_request wire{};
    if ((message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) || std::size_t(got) < sizeof wire ||
        call.pid <= 0)
        return AskedRead::Refuse;
    std::memcpy(&wire, bytes.data(), sizeof wire);
    const std::size_t paths = std::size_t(wire.path_size) + wire.path2_size;
    if (wire.version != PELLIM_ASK_VERSION || wire.path_size > PELLIM_ASK_MAX_PATH ||
        wire.path2_size > PELLIM_ASK_MAX_PATH || std::size_t(got) != sizeof wire + paths ||
        wire.has_dir > 1 || wire.has_dir2 > 1 ||
        received.fds.size() != 1 + wire.has_dir + wire.has_dir2)
        return AskedRead::Refuse;
    HeldRequest &r = call.request;
    bool kernel = false;
    if (!readOp(wire, r, &kernel))
        return AskedRead::Refuse;
    if (kernel)
        return AskedRead::Kernel;
    const char *first = bytes.data() + sizeof wire;
    auto next = received.fds.begin() + 1;
    // symlink: the first path is what the link says, never walked.
    if (r.op == HeldOp::Symlink) {
        r.linkText = QByteArray(first, qsizetype(wire.path_size));
        if (r.linkText.contains('\0') || wire.has_dir)
            return AskedRead::Refuse;
    } else if (!takePath(QByteArray(first, qsizetype(wire.path_size)), wire.has_dir, next, call.pid,
                         r.a)) {
        return AskedRead::Refuse;
    }
    if (wire.path2_size > 0 &&
        !takePath(QByteArray(first + wire.path_size, qsizetype(wire.path2_size)), wire.has_dir2,
                  next, call.pid, r.b))
        return AskedRead::Refuse;
    return AskedRead::Read;
}

void sendAsked(int replyTo, Reply &reply) {
    pellim_ask_reply out{};
    out.error = reply.goOn ? PELLIM_ASK_KERNEL_ANSWER : reply.error;
    out.value = reply.value;
    iovec io{&out, sizeof out};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    const int fd = reply.fd.get();
    if (!reply.goOn && reply.error == 0 && fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    }
    [[maybe_unused]] const ssize_t sent = ::sendmsg(replyTo, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
}

} // namespace pellim
