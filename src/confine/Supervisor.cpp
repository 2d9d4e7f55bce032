// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/Supervisor.h"

#include "confine/CallReader.h"
#include "confine/Perform.h"
#include "confine/SeccompFlags.h"

#include <linux/openat2.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

FileAccessKind openKind(int flags, const Walked &walked) {
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) ||
        (flags & O_TMPFILE) == O_TMPFILE)
        return FileAccessKind::Write;
    if ((flags & O_DIRECTORY) || (walked.exists && walked.isFolder))
        return FileAccessKind::List;
    return FileAccessKind::Read;
}

} // namespace

// One path of a call, walked.
struct Supervisor::Side {
    Walked walked;
    const PathArg *arg = nullptr; // how the caller named it
    bool entry = false;           // judged as an entry of its folder, a last link not followed
    bool isLink = false;          // the entry itself is a link
};

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
    m_truncateGoesOn = landlockRefusesTruncate();
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
    Caller caller(pid_t(n.pid));
    HeldRequest r;
    const HeldCall *row = m_calls.find(n.data.nr);
    bool readable = row && readRequest(*row, n.data.args, caller, r);
    std::optional<Walked> quick;
    if (readable && r.op == HeldOp::Open) {
        quick = walkQuickly(r.a.text, r.a.startFd());
        if (quick && goesOn(*quick)) {
            // Nothing is done here, so nothing read needs checking against a
            // reused thread id: if the call is gone, so is this answer.
            Reply reply = Reply::goingOn();
            sendReply(m_listener.get(), n.id, reply);
            return;
        }
    }
    const bool creates = r.op == HeldOp::MakeDir || r.op == HeldOp::MakeNode ||
                         (r.op == HeldOp::Open && (r.flags & (O_CREAT | O_TMPFILE)));
    readable = readable && (!creates || caller.threadStatus());
    // All that came from the caller has been read: if the call is gone, the
    // thread id may name another process by now, whose memory that was.
    std::uint64_t id = n.id;
    if (::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_ID_VALID, &id) != 0)
        return;
    const mode_t umask = caller.knownStatus() ? caller.knownStatus()->umask : 0;
    Reply reply = readable ? decide(r, umask, std::move(quick)) : Reply::goingOn();
    if (reply.goOn && row && row->op == HeldOp::Truncate && !m_truncateGoesOn)
        reply = Reply::result(EFAULT); // not read: nothing would refuse what the kernel reads
    sendReply(m_listener.get(), n.id, reply);
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

Reply Supervisor::decide(HeldRequest &r, mode_t umask, std::optional<Walked> quick, bool retried) {
    const auto entrySide = [](const PathArg &arg, bool folderMeant, Side &side) {
        side.entry = true;
        side.arg = &arg;
        return walkEntry(arg, folderMeant, side.walked, side.isLink);
    };
    const auto refused = [](Verdict verdict) {
        return verdict == Verdict::GoOn ? Reply::goingOn() : Reply::result(EPERM);
    };

    switch (r.op) {
    case HeldOp::Open:
    case HeldOp::Truncate: {
        Side side;
        side.arg = &r.a;
        int walkError = 0;
        std::optional<Walked> walked =
            quick ? std::move(quick) : walkPath(r.a.text, r.a.startFd(), &walkError);
        // Without Landlock's truncate right nothing would refuse a truncate whose
        // path changed after the walk: the guard does each one, or fails it.
        const bool truncateHere = r.op == HeldOp::Truncate && !m_truncateGoesOn;
        if (!walked)
            return truncateHere ? Reply::result(walkError ? walkError : ENOENT) : Reply::goingOn();
        side.walked = std::move(*walked);
        const FileAccessKind kind =
            r.op == HeldOp::Truncate ? FileAccessKind::Write : openKind(r.flags, side.walked);
        const Verdict verdict = judge(side, kind);
        if (verdict == Verdict::GoOn && truncateHere)
            return performTruncate(side.walked, r.length);
        if (verdict != Verdict::DoHere)
            return refused(verdict);
        if (r.op == HeldOp::Truncate)
            return performTruncate(side.walked, r.length);
        Reply reply = performOpen(r, side.walked, umask, m_ownUmask);
        // Made by someone else since the walk: open what is there now, as the
        // kernel would have, after walking and judging it again.
        const bool created = (r.flags & (O_CREAT | O_EXCL)) == O_CREAT && !side.walked.exists;
        if (created && reply.error == EEXIST && !retried)
            return decide(r, umask, std::nullopt, true);
        return reply;
    }
    case HeldOp::MakeDir:
    case HeldOp::MakeNode:
    case HeldOp::Remove:
    case HeldOp::Symlink: {
        const PathArg &arg = r.op == HeldOp::Symlink ? r.b : r.a;
        const bool folderMeant =
            arg.text.endsWith('/') && (r.op == HeldOp::MakeDir || (r.flags & AT_REMOVEDIR));
        Side side;
        if (!entrySide(arg, folderMeant, side))
            return Reply::goingOn();
        const Verdict verdict = judge(side, FileAccessKind::Write);
        if (verdict != Verdict::DoHere)
            return refused(verdict);
        return performEntry(r, side.walked, umask, m_ownUmask);
    }
    case HeldOp::Rename:
    case HeldOp::Link: {
        Side from, to;
        if (r.op == HeldOp::Link && (r.flags & AT_SYMLINK_FOLLOW)) {
            std::optional<Walked> walked = walkObject(r.a);
            if (!walked)
                return Reply::goingOn();
            from.walked = std::move(*walked);
            from.arg = &r.a;
        } else if (!entrySide(r.a, r.op == HeldOp::Rename && r.a.text.endsWith('/'), from)) {
            return Reply::goingOn();
        }
        if (!entrySide(r.b, r.op == HeldOp::Rename && r.b.text.endsWith('/'), to))
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
        if (r.op == HeldOp::Rename && ruled(from.walked.identity) &&
            innermost(to.walked, m_layout.keptOut))
            return Reply::result(EXDEV);
        return performMove(r, from.walked, to.walked);
    }
    }
    return Reply::goingOn();
}

} // namespace pellim
