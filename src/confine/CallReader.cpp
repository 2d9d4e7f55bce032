// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/CallReader.h"

#include <QFile>

#include <linux/openat2.h>
#include <linux/xattr.h>
#include <sys/fanotify.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace pellim {

namespace {

QByteArray procPath(pid_t tid, const QByteArray &rest) {
    return "/proc/" + QByteArray::number(tid) + rest;
}

std::optional<QByteArray> readLink(const QByteArray &path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    return n < 0 ? std::nullopt : std::optional(QByteArray(buffer, int(n)));
}

// /proc/self and /dev/fd name the caller, not the guard: spelled out for the
// caller. A link elsewhere that leads to /proc/self is still followed as the
// guard's; what is then decided is what is then reached, so nothing gets past
// the decision, but the caller may be refused what it meant.
QByteArray forCaller(const QByteArray &path, pid_t tgid, pid_t tid) {
    if (!path.startsWith('/'))
        return path;
    qsizetype at = 0;
    const auto next = [&]() {
        while (at < path.size() && path[at] == '/')
            ++at;
        const qsizetype start = at;
        while (at < path.size() && path[at] != '/')
            ++at;
        return path.mid(start, at - start);
    };
    const QByteArray first = next(), second = next();
    const QByteArray rest = path.mid(at);
    if (first == "proc" && second == "self")
        return procPath(tgid, rest);
    if (first == "proc" && second == "thread-self")
        return procPath(tgid, "/task/" + QByteArray::number(tid) + rest);
    if (first == "dev" && second == "fd")
        return procPath(tgid, "/fd" + rest);
    return path;
}

} // namespace

std::optional<ThreadStatus> statusOf(pid_t tid) {
    QFile file(QString::fromLatin1(procPath(tid, "/status")));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    ThreadStatus status;
    bool umaskSeen = false;
    for (const QByteArray &line : file.readAll().split('\n')) {
        bool ok = false;
        if (line.startsWith("Umask:")) {
            status.umask = mode_t(line.mid(6).trimmed().toUInt(&ok, 8));
            umaskSeen = ok;
        } else if (line.startsWith("Tgid:")) {
            status.tgid = pid_t(line.mid(5).trimmed().toInt(&ok));
        }
    }
    if (!umaskSeen || status.tgid <= 0)
        return std::nullopt;
    return status;
}

namespace {

// pidfd_open's flag for a thread that need not lead its process (Linux 6.9).
constexpr unsigned kPidfdThread = O_EXCL;
// Far more than the threads of a program that call at once.
constexpr std::size_t kMaxPidfds = 4096;

} // namespace

int Pidfds::of(pid_t tid) {
    if (const auto known = m_fds.find(tid); known != m_fds.end())
        return known->second.get();
    if (m_fds.size() >= kMaxPidfds)
        m_fds.clear();
    UniqueFd made(int(::syscall(SYS_pidfd_open, tid, kPidfdThread)));
    if (!made.isValid() && errno == EINVAL)
        made.reset(int(::syscall(SYS_pidfd_open, tid, 0)));
    return m_fds.insert_or_assign(tid, std::move(made)).first->second.get();
}

QByteArray PathArg::shown() const {
    if (!start.isValid())
        return passed;
    return readLink("/proc/self/fd/" + QByteArray::number(start.get())).value_or("?") + "/" +
           passed;
}

ssize_t Caller::readSome(unsigned long long address, void *to, std::size_t size) const {
    iovec local{to, size};
    iovec remote{reinterpret_cast<void *>(address), size};
    return ::process_vm_readv(m_tid, &local, 1, &remote, 1, 0);
}

bool Caller::readBytes(unsigned long long address, void *to, std::size_t size) const {
    return readSome(address, to, size) == ssize_t(size);
}

std::optional<QByteArray> Caller::readString(unsigned long long address) const {
    if (address == 0)
        return std::nullopt;
    QByteArray text;
    char page[4096];
    while (text.size() < PATH_MAX) {
        const std::size_t chunk = sizeof page - address % sizeof page;
        const ssize_t n = readSome(address, page, chunk);
        if (n <= 0)
            return std::nullopt;
        if (const void *nul = std::memchr(page, '\0', std::size_t(n)))
            return text + QByteArray(page, int(static_cast<const char *>(nul) - page));
        text.append(page, int(n));
        address += std::size_t(n);
    }
    return std::nullopt; // too long: the kernel says ENAMETOOLONG itself
}

const ThreadStatus *Caller::threadStatus() {
    if (!m_status)
        m_status = statusOf(m_tid);
    return knownStatus();
}

bool Caller::readPath(int dirfd, unsigned long long address, PathArg &arg) {
    const std::optional<QByteArray> text = readString(address);
    if (!text || text->isEmpty())
        return false;
    arg.text = arg.passed = *text;
    if (text->startsWith('/')) {
        if (text->startsWith("/proc/") || text->startsWith("/dev/")) {
            const ThreadStatus *s = threadStatus();
            if (!s)
                return false;
            arg.text = forCaller(*text, s->tgid, m_tid);
        }
        return true;
    }
    // The caller's own descriptor: the same open folder, as the kernel would
    // start from it. Its cwd has no descriptor to take.
    if (const int pidfd = dirfd != AT_FDCWD && m_pidfds ? m_pidfds->of(m_tid) : -1; pidfd >= 0) {
        arg.start.reset(int(::syscall(SYS_pidfd_getfd, pidfd, dirfd, 0)));
        if (arg.start.isValid())
            return true;
        if (errno == EBADF)
            return false; // not open in the caller: the kernel says EBADF itself
        if (errno == ESRCH)
            m_pidfds->forget(m_tid); // that thread ended: the id is another's now
    }
    const QByteArray base = procPath(m_tid, dirfd == AT_FDCWD ? QByteArray("/cwd")
                                                              : "/fd/" + QByteArray::number(dirfd));
    arg.start.reset(::open(base.constData(), O_PATH | O_CLOEXEC));
    return arg.start.isValid();
}

bool landlockSees(HeldOp op) {
    switch (op) {
    case HeldOp::Chmod:
    case HeldOp::Chown:
    case HeldOp::Times:
    case HeldOp::SetXattr:
    case HeldOp::RemoveXattr:
    case HeldOp::InotifyWatch:
    case HeldOp::FanotifyMark:
        return false;
    default:
        return true;
    }
}

namespace {

// The times a utime-family call passes, as utimensat takes them.
bool readTimes(const HeldCall &row, unsigned long long address, const Caller &caller,
               HeldRequest &r) {
    if (address == 0)
        return true; // now
    std::array<timespec, 2> ts{};
    switch (row.times) {
    case TimesForm::Utimbuf: {
        utimbuf buf{};
        if (!caller.readBytes(address, &buf, sizeof buf))
            return false;
        ts = {timespec{buf.actime, 0}, timespec{buf.modtime, 0}};
        break;
    }
    case TimesForm::Timevals: {
        timeval tv[2]{};
        if (!caller.readBytes(address, tv, sizeof tv))
            return false;
        for (int i = 0; i < 2; ++i)
            ts[std::size_t(i)] = timespec{tv[i].tv_sec, tv[i].tv_usec * 1000};
        break;
    }
    case TimesForm::Timespecs:
        if (!caller.readBytes(address, ts.data(), sizeof ts))
            return false;
        break;
    }
    r.times = ts;
    return true;
}

} // namespace

ReadOutcome readRequest(const HeldCall &row, const unsigned long long (&args)[6], Caller &caller,
                        HeldRequest &r, int *error) {
    r.op = row.op;
    r.flags = (row.flags != kNoArg ? int(args[row.flags]) : 0) | row.fixedFlags;
    r.mode = row.mode != kNoArg ? mode_t(args[row.mode]) : 0;
    bool readable = true;
    bool emptyPath = false; // AT_EMPTY_PATH with "": the descriptor's own object
    switch (row.op) {
    case HeldOp::Open:
        if (row.extra != kNoArg) {
            // openat2: the kernel checks odd sizes and flags itself, and keeps
            // the resolve rules (RESOLVE_BENEATH, ...) that a walk here would not.
            open_how how{};
            readable = args[row.extra + 1] == sizeof how &&
                       caller.readBytes(args[row.extra], &how, sizeof how) &&
                       how.flags <= unsigned(INT_MAX) && how.mode <= 07777 && how.resolve == 0;
            r.flags = int(how.flags);
            r.mode = mode_t(how.mode);
        }
        // O_PATH reaches no content; Landlock judges whatever it is used for.
        readable = readable && !(r.flags & O_PATH);
        break;
    case HeldOp::MakeNode:
        r.dev = unsigned(args[row.extra]);
        break;
    case HeldOp::Remove:
        readable = (r.flags & ~AT_REMOVEDIR) == 0;
        break;
    case HeldOp::Link:
        // A descriptor without a name (AT_EMPTY_PATH) is left to the kernel:
        // Landlock refuses to link what lies in a kept-out folder.
        readable = (r.flags & ~AT_SYMLINK_FOLLOW) == 0;
        break;
    case HeldOp::Symlink: {
        const std::optional<QByteArray> text = caller.readString(args[row.extra]);
        readable = text && !text->isEmpty();
        r.linkText = text.value_or(QByteArray());
        break;
    }
    case HeldOp::Truncate:
        r.length = static_cast<long long>(args[row.extra]);
        break;
    case HeldOp::MakeDir:
    case HeldOp::Rename:
        break;
    case HeldOp::Chmod:
    case HeldOp::Chown:
    case HeldOp::Times:
    case HeldOp::SetXattr:
    case HeldOp::RemoveXattr: {
        const int known = row.op == HeldOp::SetXattr
                              ? AT_SYMLINK_NOFOLLOW | XATTR_CREATE | XATTR_REPLACE
                          : row.op == HeldOp::RemoveXattr ? AT_SYMLINK_NOFOLLOW
                                                          : AT_SYMLINK_NOFOLLOW | AT_EMPTY_PATH;
        if (r.flags & ~known) {
            *error = EINVAL;
            return ReadOutcome::Refuse;
        }
        r.followLast = !(r.flags & AT_SYMLINK_NOFOLLOW);
        if (row.op == HeldOp::Chown) {
            r.uid = unsigned(args[row.owner]);
            r.gid = unsigned(args[row.owner + 1]);
        }
        if (row.op == HeldOp::Times) {
            // utimensat(fd, NULL, ...) changes what the descriptor is open on,
            // which was decided when it was opened (an O_PATH descriptor is
            // refused by the kernel here).
            if (args[row.path] == 0 && row.dirfd != kNoArg)
                return ReadOutcome::LeaveToKernel;
            if (!readTimes(row, args[row.extra], caller, r)) {
                *error = EFAULT;
                return ReadOutcome::Refuse;
            }
        }
        if (row.xattrName != kNoArg) {
            const std::optional<QByteArray> name = caller.readString(args[row.xattrName]);
            if (!name || name->isEmpty() || name->size() > XATTR_NAME_MAX) {
                *error = name ? ERANGE : EFAULT;
                return ReadOutcome::Refuse;
            }
            r.xattrName = *name;
            if (row.op == HeldOp::SetXattr) {
                const std::size_t size = std::size_t(args[row.xattrName + 2]);
                if (size > XATTR_SIZE_MAX) {
                    *error = E2BIG;
                    return ReadOutcome::Refuse;
                }
                r.xattrValue.resize(qsizetype(size));
                if (size && !caller.readBytes(args[row.xattrName + 1], r.xattrValue.data(), size)) {
                    *error = EFAULT;
                    return ReadOutcome::Refuse;
                }
            }
        }
        emptyPath = r.flags & AT_EMPTY_PATH;
        if (emptyPath) // the descriptor's own object, even a link opened with O_PATH
            r.followLast = true;
        break;
    }
    case HeldOp::InotifyWatch:
    case HeldOp::FanotifyMark:
        r.watchFd = int(args[row.watchFd]);
        r.mask = args[row.mask];
        if (row.op == HeldOp::InotifyWatch) {
            r.followLast = !(r.mask & IN_DONT_FOLLOW);
        } else {
            // Removing marks shows nothing new. A mark on a whole mount or file
            // system would see every guarded folder on it: never.
            if (r.flags & (FAN_MARK_REMOVE | FAN_MARK_FLUSH))
                return ReadOutcome::LeaveToKernel;
            if (r.flags & (FAN_MARK_MOUNT | FAN_MARK_FILESYSTEM)) {
                *error = EPERM;
                return ReadOutcome::Refuse;
            }
            r.followLast = !(r.flags & FAN_MARK_DONT_FOLLOW);
            emptyPath = args[row.path] == 0; // the folder descriptor's own object
            if (emptyPath)
                r.followLast = true;
        }
        break;
    case HeldOp::Connect:
    case HeldOp::SendTo:
    case HeldOp::SendMsg:
    case HeldOp::SendMmsg:
    case HeldOp::Signal:
    case HeldOp::SignalPidfd:
        // Read by SocketDoors and OwnProcesses, never here.
        *error = EINVAL;
        return ReadOutcome::Refuse;
    }
    const auto path = [&](PathArg &arg, std::int8_t dirfd, std::int8_t at) {
        if (at == kNoArg || !readable)
            return;
        const int base = dirfd == kNoArg ? AT_FDCWD : int(args[dirfd]);
        if (emptyPath && (args[at] == 0 || caller.readString(args[at]) == QByteArray())) {
            // Spelled as the caller's own descriptor, which the walk follows as
            // the kernel follows it.
            arg.text = arg.passed =
                procPath(caller.tid(),
                         base == AT_FDCWD ? QByteArray("/cwd") : "/fd/" + QByteArray::number(base));
            return;
        }
        readable = caller.readPath(base, args[at], arg);
    };
    path(r.a, row.dirfd, row.path);
    path(r.b, row.dirfd2, row.path2);
    if (readable)
        return ReadOutcome::Read;
    if (landlockSees(row.op))
        return ReadOutcome::LeaveToKernel;
    // A name the guard cannot read is one the kernel would not take either.
    *error = args[row.path] == 0 ? EFAULT : ENOENT;
    return ReadOutcome::Refuse;
}

std::optional<Walked> walkObject(const PathArg &arg) {
    return walkPath(arg.text, arg.startFd(), nullptr, &arg.procLinks);
}

bool walkEntry(const PathArg &arg, bool folderMeant, Walked &out, bool &isLink) {
    QByteArray text = arg.text;
    while (folderMeant && text.size() > 1 && text.endsWith('/'))
        text.chop(1);
    const qsizetype slash = text.lastIndexOf('/');
    const QByteArray last = text.mid(slash + 1);
    if (last.isEmpty() || last == "." || last == "..")
        return false;
    const QByteArray head = slash < 0    ? QByteArray(".")
                            : slash == 0 ? QByteArray("/")
                                         : text.left(slash);
    std::optional<Walked> folder = walkPath(head, arg.startFd(), nullptr, &arg.procLinks);
    if (!folder || !folder->exists || !folder->isFolder)
        return false;
    UniqueFd parent = openWalked(*folder, O_PATH | O_DIRECTORY);
    if (!parent.isValid())
        return false;
    out.chain = std::move(folder->chain);
    if (folder->name != ".")
        out.chain.push_back(folder->identity);
    out.display = (folder->display == "/" ? QByteArray() : folder->display) + "/" + last;
    out.name = last;
    struct stat st {};
    if (::fstatat(parent.get(), last.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        out.exists = true;
        out.isFolder = S_ISDIR(st.st_mode);
        out.identity = FileIdentity{st.st_dev, st.st_ino};
        isLink = S_ISLNK(st.st_mode);
        if (folderMeant && !out.isFolder)
            return false; // "file/": the kernel says ENOTDIR
    } else if (errno != ENOENT) {
        return false;
    }
    out.parent = std::move(parent);
    return true;
}

} // namespace pellim
