// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/Perform.h"

#include <linux/seccomp.h>
#include <sys/fanotify.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

namespace pellim {

namespace {

Reply done(int rc) {
    return Reply::result(rc == 0 ? 0 : errno);
}

} // namespace

Reply performOpen(const HeldRequest &r, const Walked &object, mode_t umask, mode_t ownUmask,
                  bool lastNoLink) {
    const bool tmpfile = (r.flags & O_TMPFILE) == O_TMPFILE;
    const bool exclusive = (r.flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL);
    if (!tmpfile && !lastNoLink && (exclusive || (r.flags & O_NOFOLLOW))) {
        // The walk may have followed a last link; these flags say not to. A
        // link put there since is not followed either: the open below is made
        // with O_NOFOLLOW in the walked folder.
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

namespace {

// How the guard names what it walked: through its own descriptors, so that the
// caller can change no path meanwhile. The object itself (a magic link the
// kernel follows to exactly what the descriptor is open on), or the entry
// `name` of the folder descriptor, for calls that do not follow a last link.
struct Target {
    UniqueFd held;
    QByteArray path;
    int error = 0;
};

Target targetOf(const HeldRequest &r, const Walked &object) {
    Target t;
    if (r.followLast) {
        t.held = openWalked(object, O_PATH, 0, &t.error);
        t.path = "/proc/self/fd/" + QByteArray::number(t.held.get());
        return t;
    }
    t.path = "/proc/self/fd/" + QByteArray::number(object.parent.get()) + "/" + object.name;
    return t;
}

} // namespace

Reply performMetadata(const HeldRequest &r, const Walked &object) {
    if (!object.exists)
        return Reply::result(ENOENT);
    const Target t = targetOf(r, object);
    if (t.error)
        return Reply::result(t.error);
    const char *path = t.path.constData();
    const int parent = object.parent.get();
    const char *name = object.name.constData();
    const bool follow = r.followLast;
    switch (r.op) {
    case HeldOp::Chmod:
        // Without following, a link's own mode cannot be changed on Linux:
        // glibc's fchmodat says so (EOPNOTSUPP) and changes anything else.
        return done(follow ? ::chmod(path, r.mode & 07777)
                           : ::fchmodat(parent, name, r.mode & 07777, AT_SYMLINK_NOFOLLOW));
    case HeldOp::Chown:
        return done(follow ? ::chown(path, r.uid, r.gid)
                           : ::fchownat(parent, name, r.uid, r.gid, AT_SYMLINK_NOFOLLOW));
    case HeldOp::Times: {
        const timespec *times = r.times ? r.times->data() : nullptr;
        return done(follow ? ::utimensat(AT_FDCWD, path, times, 0)
                           : ::utimensat(parent, name, times, AT_SYMLINK_NOFOLLOW));
    }
    case HeldOp::SetXattr: {
        const int flags = r.flags & (XATTR_CREATE | XATTR_REPLACE);
        const auto value = r.xattrValue.constData();
        const auto size = std::size_t(r.xattrValue.size());
        return done(follow ? ::setxattr(path, r.xattrName.constData(), value, size, flags)
                           : ::lsetxattr(path, r.xattrName.constData(), value, size, flags));
    }
    case HeldOp::RemoveXattr:
        return done(follow ? ::removexattr(path, r.xattrName.constData())
                           : ::lremovexattr(path, r.xattrName.constData()));
    default:
        return Reply::result(EINVAL);
    }
}

Reply performWatch(const HeldRequest &r, pid_t tgid, const Walked &object) {
    if (!object.exists)
        return Reply::result(ENOENT);
    // The caller's own descriptor, so that the watch is theirs: the kernel
    // checks, as for reading its memory, that this process may trace it.
    const UniqueFd pidfd(int(::syscall(SYS_pidfd_open, tgid, 0)));
    const UniqueFd watcher(
        pidfd.isValid() ? int(::syscall(SYS_pidfd_getfd, pidfd.get(), r.watchFd, 0)) : -1);
    if (!watcher.isValid())
        return Reply::result(errno == ESRCH ? EINTR : EBADF);
    const Target t = targetOf(r, object);
    if (t.error)
        return Reply::result(t.error);
    if (r.op == HeldOp::InotifyWatch) {
        const int wd =
            ::inotify_add_watch(watcher.get(), t.path.constData(), std::uint32_t(r.mask));
        if (wd < 0)
            return Reply::result(errno);
        Reply reply;
        reply.value = wd;
        return reply;
    }
    return done(
        ::fanotify_mark(watcher.get(), unsigned(r.flags), r.mask, AT_FDCWD, t.path.constData()));
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
