// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/Supervisor.h"
#include "confine/SeccompFlags.h"

#include <QFile>

#include <linux/openat2.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <tuple>

namespace pellim {

namespace {

bool contains(const std::vector<FileIdentity> &ids, FileIdentity id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

bool before(FileIdentity a, FileIdentity b) {
    return std::tie(a.dev, a.ino) < std::tie(b.dev, b.ino);
}

QByteArray procPath(pid_t tid, const QByteArray &rest) {
    return "/proc/" + QByteArray::number(tid) + rest;
}

std::optional<QByteArray> readLink(const QByteArray &path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    return n < 0 ? std::nullopt : std::optional(QByteArray(buffer, int(n)));
}

// "Umask:" and "Tgid:" of a thread, from /proc/TID/status.
struct ThreadStatus {
    mode_t umask = 022;
    pid_t tgid = 0;
};

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

// A path as the caller passed it, and where a relative one starts.
struct PathArg {
    QByteArray text;   // to walk: /proc/self and the like spelled out for the caller
    QByteArray passed; // as passed
    UniqueFd start;    // invalid for an absolute path
    int startFd() const { return start.isValid() ? start.get() : AT_FDCWD; }
    // For messages only, so made only when one is written.
    QByteArray shown() const {
        if (!start.isValid())
            return passed;
        return readLink("/proc/self/fd/" + QByteArray::number(start.get())).value_or("?") + "/" +
               passed;
    }
};

enum class Op { Open, MakeDir, MakeNode, Remove, Rename, Link, Symlink, Truncate };

} // namespace

// One call, as read from the caller.
struct Supervisor::Request {
    Op op = Op::Open;
    int flags = 0;
    mode_t mode = 0;
    unsigned dev = 0;
    long long length = 0;
    QByteArray linkText; // symlink: what the new link says
    PathArg a, b;        // b: the new name of rename and link, the link of symlink
};

// What goes back to the caller.
struct Supervisor::Reply {
    bool goOn = false;
    int error = 0;
    long long value = 0;
    UniqueFd fd; // handed over as the call's result
    bool cloexec = false;
    static Reply goingOn() {
        Reply r;
        r.goOn = true;
        return r;
    }
    static Reply result(int error) {
        Reply r;
        r.error = error;
        return r;
    }
};

struct Supervisor::Call {
    pid_t tid = 0;
    std::optional<ThreadStatus> status;

    // One call, no descriptor: the kernel checks, as for /proc/TID/mem, that
    // this process may trace the caller. An unmapped or unreadable page ends it.
    ssize_t readSome(unsigned long long address, void *to, std::size_t size) const {
        iovec local{to, size};
        iovec remote{reinterpret_cast<void *>(address), size};
        return ::process_vm_readv(tid, &local, 1, &remote, 1, 0);
    }

    bool readBytes(unsigned long long address, void *to, std::size_t size) const {
        return readSome(address, to, size) == ssize_t(size);
    }

    // The NUL-terminated string at `address` in the caller: read page by page,
    // since the page after it may not be mapped.
    std::optional<QByteArray> readString(unsigned long long address) const {
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

    const ThreadStatus *threadStatus() {
        if (!status)
            status = statusOf(tid);
        return status ? &*status : nullptr;
    }

    // The path argument at `address`, relative to `dirfd` as the caller sees it.
    bool readPath(int dirfd, unsigned long long address, PathArg &arg) {
        const std::optional<QByteArray> text = readString(address);
        if (!text || text->isEmpty())
            return false;
        arg.text = arg.passed = *text;
        if (text->startsWith('/')) {
            if (text->startsWith("/proc/") || text->startsWith("/dev/")) {
                const ThreadStatus *s = threadStatus();
                if (!s)
                    return false;
                arg.text = forCaller(*text, s->tgid, tid);
            }
            return true;
        }
        const QByteArray base = procPath(
            tid, dirfd == AT_FDCWD ? QByteArray("/cwd") : "/fd/" + QByteArray::number(dirfd));
        arg.start.reset(::open(base.constData(), O_PATH | O_CLOEXEC));
        return arg.start.isValid();
    }
};

// One path of a call, walked.
struct Supervisor::Side {
    Walked walked;
    const PathArg *arg = nullptr; // how the caller named it
    bool entry = false;           // judged as an entry of its folder, a last link not followed
    bool isLink = false;          // the entry itself is a link
};

namespace {

// What open() reaches: links followed to the end.
std::optional<Walked> walkObject(const PathArg &arg) {
    return walkPath(arg.text, arg.startFd());
}

// An entry to make, remove, rename or link: its folder is walked, the entry
// itself is not followed. Odd last components ("." and "..", a trailing slash
// where no folder is meant) are left to the kernel, which refuses them.
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
    std::optional<Walked> folder = walkPath(head, arg.startFd());
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

FileAccessKind openKind(int flags, const Walked &walked) {
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) ||
        (flags & O_TMPFILE) == O_TMPFILE)
        return FileAccessKind::Write;
    if ((flags & O_DIRECTORY) || (walked.exists && walked.isFolder))
        return FileAccessKind::List;
    return FileAccessKind::Read;
}

} // namespace

std::unique_ptr<Supervisor> Supervisor::create(UniqueFd listener, FolderProtection &protection,
                                               const std::vector<QByteArray> &guarded,
                                               const std::vector<QByteArray> &sealed,
                                               QString *error) {
    const auto failed = [error](const QString &why) {
        if (error)
            *error = why;
        return nullptr;
    };
    seccomp_notif_sizes sizes{};
    if (::syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &sizes) != 0)
        return failed(QStringLiteral("the kernel has no seccomp user notification"));
    if (sizes.seccomp_notif != sizeof(seccomp_notif) ||
        sizes.seccomp_notif_resp != sizeof(seccomp_notif_resp))
        return failed(QStringLiteral("the kernel's notifications have an unknown layout"));
    std::vector<QByteArray> all = guarded;
    all.insert(all.end(), sealed.begin(), sealed.end());
    int e = 0;
    std::optional<ConfinementLayout> layout = mapKeptOut(all, &e);
    std::optional<ConfinementLayout> sealedLayout = mapKeptOut(sealed, &e);
    if (!layout || !sealedLayout)
        return failed(QStringLiteral("cannot map the kept-out folders: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(e))));
    return std::unique_ptr<Supervisor>(new Supervisor(
        std::move(listener), protection, std::move(*layout), std::move(sealedLayout->keptOut)));
}

Supervisor::Supervisor(UniqueFd listener, FolderProtection &protection, ConfinementLayout layout,
                       std::vector<FileIdentity> sealed)
    : m_listener(std::move(listener)), m_protection(protection), m_layout(std::move(layout)),
      m_sealed(std::move(sealed)) {
    std::sort(m_layout.allowed.begin(), m_layout.allowed.end(), before);
    if (const std::optional<ThreadStatus> own = statusOf(pid_t(::syscall(SYS_gettid))))
        m_ownUmask = own->umask;
    // The caller waits while this process answers, and this process waits while
    // the caller runs: each waking the other on its own CPU spares two wake-ups
    // across CPUs a call, which cost more than the whole answer. Linux 6.6 and
    // newer; an older kernel refuses the flag and only that is lost.
    ::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_SET_FLAGS, SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP);
}

Supervisor::~Supervisor() = default;

Supervisor::Result Supervisor::handleOne(int *error) {
    pollfd ready{m_listener.get(), POLLIN, 0};
    while (::poll(&ready, 1, -1) < 0) {
        if (errno != EINTR) {
            if (error)
                *error = errno;
            return Result::Failed;
        }
    }
    if (!(ready.revents & POLLIN))
        return Result::Gone;
    seccomp_notif notification{};
    if (::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_RECV, &notification) != 0) {
        if (errno == ENOENT || errno == EINTR)
            return Result::Answered; // the caller went away before it could be read
        if (error)
            *error = errno;
        return Result::Failed;
    }
    answer(notification);
    return Result::Answered;
}

bool Supervisor::ruled(FileIdentity id) const {
    // Sorted: a folder above a kept-out one may hold thousands of entries.
    return std::binary_search(m_layout.allowed.begin(), m_layout.allowed.end(), id, before);
}

bool Supervisor::covered(const Walked &walked, bool entry) const {
    // An open is judged on the object, a new or removed entry on its folder.
    if (!entry && walked.exists && ruled(walked.identity))
        return true;
    return std::any_of(walked.chain.begin(), walked.chain.end(),
                       [this](FileIdentity id) { return ruled(id); });
}

Supervisor::Verdict Supervisor::judge(const Side &side, FileAccessKind kind) {
    // Moving or removing a kept-out folder, or one above it, would take it out of
    // the place the desktop names and Landlock guards.
    if (side.entry && side.walked.exists &&
        (contains(m_layout.ancestors, side.walked.identity) ||
         contains(m_layout.keptOut, side.walked.identity)))
        return Verdict::Deny;
    if (const std::optional<FileIdentity> keeper = innermost(side.walked, m_layout.keptOut)) {
        if (contains(m_sealed, *keeper))
            return Verdict::Deny;
        return m_protection.mayAccess(side.walked, side.arg->shown(), kind) ? Verdict::DoHere
                                                                            : Verdict::Deny;
    }
    if (covered(side.walked, side.entry))
        return Verdict::GoOn;
    // Done here, so asked here too: a guarded folder made since the start is
    // not kept out by Landlock, but the guard knows it.
    return m_protection.mayAccess(side.walked, side.arg->shown(), kind) ? Verdict::DoHere
                                                                        : Verdict::Deny;
}

void Supervisor::answer(const seccomp_notif &n) {
    const auto &a = n.data.args;
    Call call;
    call.tid = pid_t(n.pid);
    Request r;
    bool readable = true;
    const auto path = [&](PathArg &arg, unsigned long long dirfd, unsigned long long address) {
        readable = readable && call.readPath(int(dirfd), address, arg);
    };
    switch (n.data.nr) {
    case SYS_open:
    case SYS_openat:
    case SYS_creat: {
        const bool at = n.data.nr == SYS_openat, creat = n.data.nr == SYS_creat;
        r.flags = creat ? O_CREAT | O_WRONLY | O_TRUNC : int(a[at ? 2 : 1]);
        r.mode = mode_t(a[creat ? 1 : (at ? 3 : 2)]);
        // O_PATH reaches no content; Landlock judges whatever it is used for.
        readable = !(r.flags & O_PATH);
        path(r.a, at ? a[0] : AT_FDCWD, a[at ? 1 : 0]);
        break;
    }
    case SYS_openat2: {
        // The kernel checks odd sizes and flags itself, and keeps the resolve
        // rules (RESOLVE_BENEATH, ...) that a walk here would not.
        open_how how{};
        readable = a[3] == sizeof how && call.readBytes(a[2], &how, sizeof how) &&
                   how.flags <= unsigned(INT_MAX) && how.mode <= 07777 && how.resolve == 0 &&
                   !(how.flags & O_PATH);
        r.flags = int(how.flags);
        r.mode = mode_t(how.mode);
        path(r.a, a[0], a[1]);
        break;
    }
    case SYS_mkdir:
    case SYS_mkdirat: {
        const bool at = n.data.nr == SYS_mkdirat;
        r.op = Op::MakeDir;
        r.mode = mode_t(a[at ? 2 : 1]);
        path(r.a, at ? a[0] : AT_FDCWD, a[at ? 1 : 0]);
        break;
    }
    case SYS_mknod:
    case SYS_mknodat: {
        const bool at = n.data.nr == SYS_mknodat;
        r.op = Op::MakeNode;
        r.mode = mode_t(a[at ? 2 : 1]);
        r.dev = unsigned(a[at ? 3 : 2]);
        path(r.a, at ? a[0] : AT_FDCWD, a[at ? 1 : 0]);
        break;
    }
    case SYS_unlink:
    case SYS_rmdir:
    case SYS_unlinkat: {
        const bool at = n.data.nr == SYS_unlinkat;
        r.op = Op::Remove;
        r.flags = at ? int(a[2]) : (n.data.nr == SYS_rmdir ? AT_REMOVEDIR : 0);
        readable = (r.flags & ~AT_REMOVEDIR) == 0;
        path(r.a, at ? a[0] : AT_FDCWD, a[at ? 1 : 0]);
        break;
    }
    case SYS_rename:
    case SYS_renameat:
    case SYS_renameat2:
    case SYS_link:
    case SYS_linkat: {
        const bool at = n.data.nr != SYS_rename && n.data.nr != SYS_link;
        r.op = n.data.nr == SYS_link || n.data.nr == SYS_linkat ? Op::Link : Op::Rename;
        r.flags = n.data.nr == SYS_renameat2 || n.data.nr == SYS_linkat ? int(a[4]) : 0;
        // A descriptor without a name (AT_EMPTY_PATH) is left to the kernel:
        // Landlock refuses to link what lies in a kept-out folder.
        readable = r.op == Op::Rename || (r.flags & ~AT_SYMLINK_FOLLOW) == 0;
        path(r.a, at ? a[0] : AT_FDCWD, a[at ? 1 : 0]);
        path(r.b, at ? a[2] : AT_FDCWD, a[at ? 3 : 1]);
        break;
    }
    case SYS_symlink:
    case SYS_symlinkat: {
        const bool at = n.data.nr == SYS_symlinkat;
        r.op = Op::Symlink;
        const std::optional<QByteArray> text = call.readString(a[0]);
        readable = text && !text->isEmpty();
        r.linkText = text.value_or(QByteArray());
        path(r.b, at ? a[1] : AT_FDCWD, a[at ? 2 : 1]);
        break;
    }
    case SYS_truncate:
        r.op = Op::Truncate;
        r.length = static_cast<long long>(a[1]);
        path(r.a, AT_FDCWD, a[0]);
        break;
    default:
        readable = false;
    }
    std::optional<Walked> quick;
    if (readable && r.op == Op::Open) {
        quick = walkQuickly(r.a.text, r.a.startFd());
        if (quick && goesOn(*quick)) {
            // Nothing is done here, so nothing read needs checking against a
            // reused thread id: if the call is gone, so is this answer.
            Reply reply = Reply::goingOn();
            send(n.id, reply);
            return;
        }
    }
    const bool creates = r.op == Op::MakeDir || r.op == Op::MakeNode ||
                         (r.op == Op::Open && (r.flags & (O_CREAT | O_TMPFILE)));
    readable = readable && (!creates || call.threadStatus());
    // All that came from the caller has been read: if the call is gone, the
    // thread id may name another process by now, whose memory that was.
    std::uint64_t id = n.id;
    if (::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_ID_VALID, &id) != 0)
        return;
    Reply reply = readable ? decide(r, call, std::move(quick)) : Reply::goingOn();
    send(n.id, reply);
}

// What walkObject gives for an open's path, found with a few calls: the kernel
// resolves the folder (links and ".." too; a magic link is refused, those take
// the full walk), and its chain is the one FolderChains remembers, which is the
// one the walk would climb: a chain is forgotten once anything on it moves.
// Nothing when the last component is a link or odd, or the chain is not
// remembered.
std::optional<Walked> Supervisor::walkQuickly(const QByteArray &text, int start) {
    if (text.isEmpty() || text.endsWith('/'))
        return std::nullopt;
    const qsizetype slash = text.lastIndexOf('/');
    const char *last = text.constData() + slash + 1;
    if (std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0)
        return std::nullopt;
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_MAGICLINKS;
    const QByteArray head = slash < 0    ? QByteArray(".")
                            : slash == 0 ? QByteArray("/")
                                         : text.left(slash);
    Walked w;
    w.parent.reset(int(::syscall(SYS_openat2, start, head.constData(), &how, sizeof how)));
    FolderChains::Folder *folder = w.parent.isValid() ? m_chains.find(w.parent.get()) : nullptr;
    if (!folder)
        return std::nullopt;
    struct stat st {};
    if (::fstatat(w.parent.get(), last, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
            return std::nullopt;
        if (S_ISDIR(st.st_mode)) {
            // Opened as the walk opens it: an automount point shows what is mounted.
            const UniqueFd dir(
                ::openat(w.parent.get(), last, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!dir.isValid() || ::fstat(dir.get(), &st) != 0)
                return std::nullopt;
        }
        w.exists = true;
        w.isFolder = S_ISDIR(st.st_mode);
        w.identity = FileIdentity{st.st_dev, st.st_ino};
    } else if (errno != ENOENT) {
        return std::nullopt;
    }
    w.name = last;
    w.chain = folder->chain;
    const QByteArray &above = FolderChains::displayOf(*folder, w.parent.get());
    w.display = (above == "/" ? QByteArray() : above) + "/" + w.name;
    return w;
}

bool Supervisor::goesOn(const Walked &object) const {
    return !innermost(object, m_layout.keptOut) && covered(object, false);
}

Supervisor::Reply Supervisor::decide(Request &r, Call &call, std::optional<Walked> quick,
                                     bool retried) {
    const mode_t umask = call.status ? call.status->umask : 0;
    const auto entrySide = [](const PathArg &arg, bool folderMeant, Side &side) {
        side.entry = true;
        side.arg = &arg;
        return walkEntry(arg, folderMeant, side.walked, side.isLink);
    };
    const auto done = [](int rc) { return Reply::result(rc == 0 ? 0 : errno); };

    switch (r.op) {
    case Op::Open:
    case Op::Truncate: {
        Side side;
        side.arg = &r.a;
        std::optional<Walked> walked = quick ? std::move(quick) : walkObject(r.a);
        if (!walked)
            return Reply::goingOn();
        side.walked = std::move(*walked);
        const FileAccessKind kind =
            r.op == Op::Truncate ? FileAccessKind::Write : openKind(r.flags, side.walked);
        const Verdict verdict = judge(side, kind);
        if (verdict != Verdict::DoHere)
            return verdict == Verdict::GoOn ? Reply::goingOn() : Reply::result(EPERM);
        if (r.op == Op::Open) {
            Reply reply = performOpen(r, side, umask);
            // Made by someone else since the walk: open what is there now, as
            // the kernel would have, after walking and judging it again.
            const bool created = (r.flags & (O_CREAT | O_EXCL)) == O_CREAT && !side.walked.exists;
            if (created && reply.error == EEXIST && !retried)
                return decide(r, call, std::nullopt, true);
            return reply;
        }
        if (!side.walked.exists || side.walked.isFolder)
            return Reply::result(side.walked.exists ? EISDIR : ENOENT);
        int error = 0;
        const UniqueFd fd = openWalked(side.walked, O_WRONLY | O_NONBLOCK | O_NOCTTY, 0, &error);
        return fd.isValid() ? done(::ftruncate(fd.get(), off_t(r.length))) : Reply::result(error);
    }
    case Op::MakeDir:
    case Op::MakeNode:
    case Op::Remove:
    case Op::Symlink: {
        const PathArg &arg = r.op == Op::Symlink ? r.b : r.a;
        const bool folderMeant =
            arg.text.endsWith('/') && (r.op == Op::MakeDir || (r.flags & AT_REMOVEDIR));
        Side side;
        if (!entrySide(arg, folderMeant, side))
            return Reply::goingOn();
        const Verdict verdict = judge(side, FileAccessKind::Write);
        if (verdict != Verdict::DoHere)
            return verdict == Verdict::GoOn ? Reply::goingOn() : Reply::result(EPERM);
        const int parent = side.walked.parent.get();
        const char *name = side.walked.name.constData();
        const mode_t permissions = r.mode & 07777 & ~umask;
        switch (r.op) {
        case Op::MakeDir: {
            const int rc = ::mkdirat(parent, name, permissions & 01777);
            if (rc == 0 && (permissions & m_ownUmask))
                ::fchmodat(parent, name, permissions & 01777, 0);
            return done(rc);
        }
        case Op::MakeNode:
            return done(
                int(::syscall(SYS_mknodat, parent, name, (r.mode & S_IFMT) | permissions, r.dev)));
        case Op::Remove:
            return done(::unlinkat(parent, name, r.flags));
        default:
            return done(::symlinkat(r.linkText.constData(), parent, name));
        }
    }
    case Op::Rename:
    case Op::Link: {
        Side from, to;
        if (r.op == Op::Link && (r.flags & AT_SYMLINK_FOLLOW)) {
            std::optional<Walked> walked = walkObject(r.a);
            if (!walked)
                return Reply::goingOn();
            from.walked = std::move(*walked);
            from.arg = &r.a;
        } else if (!entrySide(r.a, r.op == Op::Rename && r.a.text.endsWith('/'), from)) {
            return Reply::goingOn();
        }
        if (!entrySide(r.b, r.op == Op::Rename && r.b.text.endsWith('/'), to))
            return Reply::goingOn();
        const Verdict first = judge(from, FileAccessKind::Write);
        const Verdict second = first == Verdict::Deny ? first : judge(to, FileAccessKind::Write);
        if (first == Verdict::Deny || second == Verdict::Deny)
            return Reply::result(EPERM);
        if (first == Verdict::GoOn && second == Verdict::GoOn)
            return Reply::goingOn();
        if (!from.walked.exists)
            return Reply::result(ENOENT);
        // An entry with a Landlock rule of its own keeps it wherever it goes:
        // moved into a kept-out folder, it would open a way in. EXDEV makes
        // the caller copy instead.
        if (r.op == Op::Rename && ruled(from.walked.identity) &&
            innermost(to.walked, m_layout.keptOut))
            return Reply::result(EXDEV);
        const int fromParent = from.walked.parent.get(), toParent = to.walked.parent.get();
        const char *fromName = from.walked.name.constData(), *toName = to.walked.name.constData();
        if (r.op == Op::Link)
            return done(::linkat(fromParent, fromName, toParent, toName, 0));
        return done(int(
            ::syscall(SYS_renameat2, fromParent, fromName, toParent, toName, unsigned(r.flags))));
    }
    }
    return Reply::goingOn();
}

Supervisor::Reply Supervisor::performOpen(const Request &r, const Side &side, mode_t umask) {
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
        const UniqueFd folder = openWalked(side.walked, O_PATH | O_DIRECTORY, 0, &error);
        if (folder.isValid()) {
            fd.reset(::openat(folder.get(), ".", flags, mode));
            error = errno;
        }
    } else {
        fd = openWalked(side.walked, flags, mode, &error);
    }
    if (!fd.isValid())
        return Reply::result(error);
    const bool made = tmpfile || (!side.walked.exists && (r.flags & O_CREAT));
    if (made && (mode & m_ownUmask)) // the guard's own umask took more than the caller's
        ::fchmod(fd.get(), mode);
    if (!(r.flags & O_NONBLOCK))
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    Reply reply;
    reply.fd = std::move(fd);
    reply.cloexec = r.flags & O_CLOEXEC;
    return reply;
}

void Supervisor::send(std::uint64_t id, Reply &reply) {
    if (reply.fd.isValid()) {
        // Installs the descriptor in the caller and makes it the call's result.
        seccomp_notif_addfd add{};
        add.id = id;
        add.flags = SECCOMP_ADDFD_FLAG_SEND;
        add.srcfd = unsigned(reply.fd.get());
        add.newfd_flags = reply.cloexec ? O_CLOEXEC : 0;
        if (::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_ADDFD, &add) >= 0 || errno == ENOENT)
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
    ::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_SEND, &response); // ENOENT: the caller is gone
}

} // namespace pellim
