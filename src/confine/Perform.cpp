// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/Perform.h"

#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace pellim {

namespace {

Reply done(int rc) {
    return Reply::result(rc == 0 ? 0 : errno);
}

} // namespace

Reply performOpen(const HeldRequest &r, const Walked &object, mode_t umask, mode_t ownUmask) {
    const bool tmpfile = (r.flags & O_TMPFILE) == O_TMPFILE;
    const bool exclusive = (r.flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
    if (!tmpfile && (exclusive || (r.flags & O_NOFOLLOW))) {
        // The walk followed a last link; these flags say not to.
        Walked entry;
        bool isLink = false;
        if (walkEntry(r.a, false, entry, isLink) && isLink)
            return Reply::result(exclusive ? EEXIST : ELOOP);
    }
    const mode_t mode = r.mode & 07777 & ~umask;
    // Never blocking here (a FIFO without a writer would stop every caller), and
    // never taking a terminal as the guard's own.
    const int flags = r.flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int error = 0;
    UniqueFd fd;
    if (tmpfile) {
        const UniqueFd folder = openWalked(object, O_PATH | O_DIRECTORY, 0, &error);
        if (folder.isValid()) {
            fd.reset(::openat(folder.get(), ".", flags, mode));
            error = errno;
        }
    } else {
        fd = openWalked(object, flags, mode, &error);
    }
    if (!fd.isValid())
        return Reply::result(error);
    const bool made = tmpfile || (!object.exists && (r.flags & O_CREAT));
    if (made && (mode & ownUmask)) // the guard's own umask took more than the caller's
        ::fchmod(fd.get(), mode);
    if (!(r.flags & O_NONBLOCK))
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    Reply reply;
    reply.fd = std::move(fd);
    reply.cloexec = r.flags & O_CLOEXEC;
    return reply;
}

Reply performTruncate(const Walked &object, long long length) {
    if (!object.exists || object.isFolder)
        return Reply::result(object.exists ? EISDIR : ENOENT);
    int error = 0;
    const UniqueFd fd = openWalked(object, O_WRONLY | O_NONBLOCK | O_NOCTTY, 0, &error);
    return fd.isValid() ? done(::ftruncate(fd.get(), off_t(length))) : Reply::result(error);
}

Reply performEntry(const HeldRequest &r, const Walked &entry, mode_t umask, mode_t ownUmask) {
    const int parent = entry.parent.get();
    const char *name = entry.name.constData();
    const mode_t permissions = r.mode & 07777 & ~umask;
    switch (r.op) {
    case HeldOp::MakeDir: {
        const int rc = ::mkdirat(parent, name, permissions & 01777);
        if (rc == 0 && (permissions & ownUmask))
            ::fchmodat(parent, name, permissions & 01777, 0);
        return done(rc);
    }
    case HeldOp::MakeNode:
        return done(
            int(::syscall(SYS_mknodat, parent, name, (r.mode & S_IFMT) | permissions, r.dev)));
    case HeldOp::Remove:
        return done(::unlinkat(parent, name, r.flags));
    case HeldOp::Symlink:
        return done(::symlinkat(r.linkText.constData(), parent, name));
    default:
        return Reply::result(EINVAL);
    }
}

Reply performMove(const HeldRequest &r, const Walked &from, const Walked &to) {
    const int fromParent = from.parent.get(), toParent = to.parent.get();
    const char *fromName = from.name.constData(), *toName = to.name.constData();
    if (r.op == HeldOp::Link)
        return done(::linkat(fromParent, fromName, toParent, toName, 0));
    return done(
        int(::syscall(SYS_renameat2, fromParent, fromName, toParent, toName, unsigned(r.flags))));
}

void sendReply(int listener, std::uint64_t id, Reply &reply) {
    if (reply.fd.isValid()) {
        // Installs the descriptor in the caller and makes it the call's result.
        seccomp_notif_addfd add{};
        add.id = id;
        add.flags = SECCOMP_ADDFD_FLAG_SEND;
        add.srcfd = unsigned(reply.fd.get());
        add.newfd_flags = reply.cloexec ? O_CLOEXEC : 0;
        if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_ADDFD, &add) >= 0 || errno == ENOENT)
            return;
        reply.error = errno; // EMFILE in the caller, say
    }
    seccomp_notif_resp response{};
    response.id = id;
    if (reply.goOn)
        response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    else if (reply.error != 0)
        response.error = -reply.error;
    else
        response.val = reply.value;
    ::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &response); // ENOENT: the caller is gone
}

} // namespace pellim
