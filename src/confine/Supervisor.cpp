// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/Supervisor.h"

#include "confine/CallReader.h"
#include "confine/Perform.h"
#include "confine/SeccompFlags.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>

#include <dirent.h>

namespace pellim {

namespace {

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

// `path` with every link followed; empty where it does not exist.
std::optional<QByteArray> readLinkOf(const QByteArray &path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    return n < 0 || n == ssize_t(sizeof buffer) ? std::nullopt
                                                : std::optional(QByteArray(buffer, int(n)));
}

QByteArray realPath(const QByteArray &path) {
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) ? QByteArray(resolved) : QByteArray();
}

} // namespace

// One path of a call, walked.
struct Supervisor::Side {
    Walked walked;
    const PathArg *arg = nullptr; // how the caller named it
    bool entry = false;           // judged as an entry of its folder, a last link not followed
    bool isLink = false;          // the entry itself is a link
};

std::optional<Supervisor::Map> Supervisor::mapFolders(const KeptOutPaths &paths, QString *error,
                                                      bool keepRuled) {
    int e = 0;
    std::vector<UniqueFd> ruled;
    std::optional<ConfinementLayout> layout = mapKeptOut(paths, &e, keepRuled ? &ruled : nullptr);
    if (!layout) {
        if (error)
            *error = QStringLiteral("cannot map the kept-out folders: %1").arg(errnoText(e));
        return std::nullopt;
    }
    // Only which of the kept-out folders are sealed: their identities, not a
    // second map of the folders above them.
    Map map{std::move(*layout), {}, std::move(ruled)};
    for (const QByteArray &path : paths.sealed) {
        const std::optional<Walked> walked = walkPath(path);
        if (walked && walked->exists && walked->isFolder &&
            contains(map.layout.keptOut, walked->identity))
            map.sealed.push_back(walked->identity);
    }
    return map;
}

std::unique_ptr<Supervisor> Supervisor::create(UniqueFd listener, FolderProtection &protection,
                                               const KeptOutPaths &paths, QString *error,
                                               std::vector<AllowedSocket> sockets,
                                               std::optional<Map> mapped) {
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
    if (!mapped)
        mapped = mapFolders(paths, error);
    if (!mapped)
        return nullptr;
    auto made = std::unique_ptr<Supervisor>(
        new Supervisor(std::move(listener), protection, std::move(mapped->layout),
                       std::move(mapped->sealed), std::move(sockets)));
    made->m_ruled = std::move(mapped->ruled);
    if (made->m_layout.home) {
        // The home as it was mapped: one swapped in since finds nothing by name.
        made->m_home.reset(::open(paths.home.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat st {};
        if (!made->m_home.isValid() || ::fstat(made->m_home.get(), &st) != 0 ||
            identityOf(st) != *made->m_layout.home)
            return failed(QStringLiteral("the home folder changed while it was mapped"));
        made->m_realHome = realPath(paths.home);
        for (const QByteArray &base : paths.bases) {
            // A base not made yet is where it will be made.
            const QByteArray real = realPath(base);
            made->m_bases.push_back(
                !real.isEmpty() ? real : made->m_realHome + base.mid(paths.home.size()));
        }
        std::sort(made->m_bases.begin(), made->m_bases.end(),
                  [](const QByteArray &a, const QByteArray &b) { return a.size() > b.size(); });
    }
    return made;
}

Supervisor::Supervisor(UniqueFd listener, FolderProtection &protection, ConfinementLayout layout,
                       std::vector<FileIdentity> sealed, std::vector<AllowedSocket> sockets)
    : m_listener(std::move(listener)), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_wakeError(m_wake.isValid() ? 0 : errno), m_protection(protection),
      m_layout(std::move(layout)), m_sealed(std::move(sealed)), m_sockets(std::move(sockets)) {
    m_protection.whenAnswered([this] { wake(); });
    std::sort(m_layout.allowed.begin(), m_layout.allowed.end(), before);
    std::sort(m_layout.readable.begin(), m_layout.readable.end(), before);
    if (const std::optional<ThreadStatus> own = statusOf(pid_t(::syscall(SYS_gettid))))
        m_ownUmask = own->umask;
    m_truncateGoesOn = landlockRefusesTruncate();
    for (std::size_t i = 0; i < m_layout.readOnlyNames.size(); ++i) {
        const FileIdentity folder = m_layout.readOnlyNames[i].folder;
        auto group = std::find_if(m_nameFolders.begin(), m_nameFolders.end(),
                                  [&](const NameFolder &f) { return f.identity == folder; });
        if (group == m_nameFolders.end())
            group =
                m_nameFolders.insert(m_nameFolders.end(), NameFolder{folder, {}, {}, {}, false});
        group->names.push_back(i);
    }
    // The caller waits while this process answers, and this process waits while
    // the caller runs: each waking the other on its own CPU spares two wake-ups
    // across CPUs a call, which cost more than the whole answer. Linux 6.6 and
    // newer; an older kernel refuses the flag and only that is lost.
    ::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_SET_FLAGS, SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP);
}

Supervisor::~Supervisor() {
    m_protection.whenAnswered({});
}

void Supervisor::send(std::uint64_t id, Reply &reply) {
    ++(reply.goOn ? m_counts.goneOn : reply.error ? m_counts.failed : m_counts.doneHere);
    sendReply(m_listener.get(), id, reply);
}

void Supervisor::endWith(int descriptor) {
    m_endsWith.reset(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0));
}

void Supervisor::wake() {
    const std::uint64_t one = 1;
    // Full only after 2^64 - 2 wake-ups nobody read: it is readable then anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_wake.get(), &one, sizeof one);
}

Supervisor::Result Supervisor::handleOne(int *error) {
    const auto failed = [error](int e) {
        if (error)
            *error = e;
        return Result::Failed;
    };
    if (!m_wake.isValid())
        return failed(m_wakeError); // no answer could ever reach a waiting call
    // With the sync wake-up, the caller wakes this thread on its own CPU, and
    // this poll is where it waits. A wake-up matters only while calls wait.
    pollfd ready[4] = {{m_listener.get(), POLLIN, 0},
                       {m_endsWith.get(), 0, 0}, // a negative descriptor is left out
                       {m_moves.get(), POLLIN, 0},
                       {m_wake.get(), POLLIN, 0}};
    const nfds_t watched = m_waiting.empty() ? 3 : 4;
    // Folded entries are written once their second ends, here between calls:
    // a quiet program's last count is not left waiting for its next call.
    int timeout = -1;
    if (const std::optional<std::chrono::steady_clock::time_point> next =
            m_protection.writeEndedEntries()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*next - std::chrono::steady_clock::now());
        timeout = int(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
    }
    if (m_lookedAhead) {
        for (std::size_t i = 0; i < 4; ++i)
            ready[i].revents = m_ahead[i];
        m_lookedAhead = false;
    } else {
        while (::poll(ready, watched, timeout) < 0) {
            if (errno != EINTR)
                return failed(errno);
        }
    }
    if (ready[1].revents)
        return Result::Gone;
    if (ready[2].revents & POLLIN)
        lookAtMoves();
    if (ready[3].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_wake.get(), &count, sizeof count);
        decideWaiting();
    }
    if (!ready[0].revents)
        return Result::Answered;
    if (!(ready[0].revents & POLLIN))
        return Result::Gone;
    seccomp_notif notification{};
    if (::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_RECV, &notification) != 0) {
        if (errno == ENOENT || errno == EINTR)
            return Result::Answered; // the caller went away before it could be read
        return failed(errno);
    }
    // A look that found nothing is a call of its own for nothing, which with
    // one caller at a time it always is: then only every eighth round looks,
    // enough to see a queue form.
    if (m_aheadFound || ++m_sinceLook >= 8)
        lookAhead(watched);
    answer(notification);
    return Result::Answered;
}

// The kernel's look at the listener walks its whole queue of calls until it
// has seen both one not yet received and one received but not answered. With
// the call just received still unanswered at the queue's head, the look ends
// at the call behind it: looked at now, it costs the same whatever the number
// of processes waiting, and the next round receives without a look of its own,
// which would walk them all (with 1,000 processes, most of a call's time). A
// call known to wait can always be received: the kernel's count of them only
// falls as one is.
void Supervisor::lookAhead(nfds_t watched) {
    pollfd ahead[4] = {{m_listener.get(), POLLIN, 0},
                       {m_endsWith.get(), 0, 0},
                       {m_moves.get(), POLLIN, 0},
                       {m_wake.get(), POLLIN, 0}};
    m_sinceLook = 0;
    m_aheadFound = ::poll(ahead, watched, 0) > 0;
    if (!m_aheadFound)
        return;
    for (std::size_t i = 0; i < 4; ++i)
        m_ahead[i] = ahead[i].revents;
    m_lookedAhead = true;
}

bool Supervisor::watchMovesIn(std::function<void(const QByteArray &)> movedIn) {
    UniqueFd moves(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!moves.isValid())
        return false;
    std::unordered_map<int, std::size_t> watches;
    for (std::size_t i = 0; i < m_ruled.size(); ++i) {
        // The magic link leads to the entry itself, wherever it lies by then.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_ruled[i].get());
        const int watch = ::inotify_add_watch(moves.get(), self.constData(), IN_MOVE_SELF);
        // One the person may not read (another user's entry of /tmp, /root)
        // is no more open to the program than to them, wherever it goes.
        if (watch < 0 && errno != EACCES && errno != EPERM)
            return false;
        if (watch >= 0)
            watches[watch] = i;
    }
    m_moves = std::move(moves);
    m_moveWatches = std::move(watches);
    m_movedIn = std::move(movedIn);
    return true;
}

// An entry with a rule was moved: where it lies now is walked, and judged as
// a call there would be. Inside a kept-out folder, or under a guarded
// folder's name, its rule would let the program in unasked.
void Supervisor::lookAtMoves() {
    alignas(inotify_event) char events[4096];
    std::vector<std::size_t> moved;
    ssize_t got;
    while ((got = ::read(m_moves.get(), events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            if (const auto found = m_moveWatches.find(event->wd);
                (event->mask & IN_MOVE_SELF) && found != m_moveWatches.end())
                moved.push_back(found->second);
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    for (const std::size_t i : moved) {
        const std::optional<QByteArray> now =
            readLinkOf("/proc/self/fd/" + QByteArray::number(m_ruled[i].get()));
        const std::optional<Walked> walked = now ? walkPath(*now) : std::nullopt;
        if (!walked || !walked->exists)
            continue; // removed meanwhile, or out of reach of the guard too
        if (!innermost(*walked, m_layout.keptOut) && !m_protection.guards(*walked))
            continue;
        m_moves.reset(); // said once: the program is ended for it
        m_moveWatches.clear();
        if (m_movedIn)
            m_movedIn(*now);
        return;
    }
}

// A question was answered: the calls that waited for it are decided again, in
// the order they came. Those that need another question wait for that one (the
// first of them begins it).
void Supervisor::decideWaiting() {
    std::deque<Waiting> waiting = std::exchange(m_waiting, {});
    for (Waiting &call : waiting) {
        std::uint64_t id = call.id;
        if (::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_ID_VALID, &id) != 0)
            continue; // the caller is gone
        Reply reply = decide(*call.request, call.caller, std::nullopt);
        if (reply.later)
            m_waiting.push_back(std::move(call));
        else
            send(call.id, reply);
    }
}

bool Supervisor::ownPlace(const Walked &object) const {
    // What the guard stands on: the folders above the kept-out ones (their mode
    // decides whether the next start can map them) and the guard's own state.
    if (!object.exists)
        return false;
    if (contains(m_layout.ancestors, object.identity) || readOnlyItem(object))
        return true;
    const std::optional<FileIdentity> keeper = innermost(object, m_layout.keptOut);
    return keeper && contains(m_sealed, *keeper);
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

bool Supervisor::coveredToRead(const Walked &walked) const {
    const auto readable = [this](FileIdentity id) {
        return std::binary_search(m_layout.readable.begin(), m_layout.readable.end(), id, before);
    };
    return (walked.exists && readable(walked.identity)) ||
           std::any_of(walked.chain.begin(), walked.chain.end(), readable);
}

namespace {

// Whether the target is one of `ids` or lies in one.
bool inAny(const Walked &walked, const std::vector<FileIdentity> &ids) {
    return (walked.exists && contains(ids, walked.identity)) ||
           std::any_of(walked.chain.begin(), walked.chain.end(),
                       [&](FileIdentity id) { return contains(ids, id); });
}

} // namespace

bool Supervisor::readOnlyItem(const Walked &walked) const {
    // A read-only item, or anything in one.
    if (inAny(walked, m_layout.readOnly))
        return true;
    // One that did not exist at the start may not be made either; and one made
    // since, by anyone, is read-only as it would have been at the start.
    return std::any_of(m_nameFolders.begin(), m_nameFolders.end(), [&](NameFolder &folder) {
        const auto in = std::find(walked.chain.begin(), walked.chain.end(), folder.identity);
        if (in == walked.chain.end())
            return false;
        const std::vector<ConfinementLayout::Name> &names = m_layout.readOnlyNames;
        if (in + 1 == walked.chain.end())
            return std::any_of(folder.names.begin(), folder.names.end(),
                               [&](std::size_t i) { return names[i].name == walked.name; });
        const std::vector<std::optional<FileIdentity>> &found = namesFound(folder);
        return std::find(found.begin(), found.end(), *(in + 1)) != found.end();
    });
}

// What the read-only names of one folder reach now. Looked up again only when
// the folder's entries may have changed: its change time moves with every entry
// made, removed or renamed in it, and nobody can set it back; one that changed
// in the last two seconds is looked up at every call, since a change within the
// clock's tick may leave it as it was.
const std::vector<std::optional<FileIdentity>> &Supervisor::namesFound(NameFolder &folder) const {
    const int at = m_layout.readOnlyNames[folder.names.front()].at.get();
    struct stat st {};
    const bool seen = ::fstat(at, &st) == 0;
    if (seen && folder.settled && st.st_ctim.tv_sec == folder.changed.tv_sec &&
        st.st_ctim.tv_nsec == folder.changed.tv_nsec)
        return folder.found;
    folder.found.clear();
    for (const std::size_t i : folder.names) {
        const ConfinementLayout::Name &n = m_layout.readOnlyNames[i];
        struct stat entry {};
        folder.found.push_back(
            ::fstatat(n.at.get(), n.name.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0
                ? std::optional(identityOf(entry))
                : std::nullopt);
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    folder.changed = st.st_ctim;
    folder.settled = seen && now.tv_sec - st.st_ctim.tv_sec > 2;
    return folder.found;
}

// The settings place a change in the home's read-only part lies in: the
// entry of an XDG base folder there, or else the hidden entry of the home
// ("/home/a/.config/git", "/home/a/.npm"), as the walk reached it. Nothing
// for ~/bin and ~/.local/bin, which hold what runs by name, not a program's
// own settings.
std::optional<QByteArray> Supervisor::settingsPlace(const Walked &walked) const {
    const QByteArray &path = walked.display;
    // A file is written as a lock file beside it, then renamed over it (git's
    // `.gitconfig.lock`): the lock is asked about as the place it stands for.
    const auto below = [&](const QByteArray &folder) -> std::optional<QByteArray> {
        if (!path.startsWith(folder + '/'))
            return std::nullopt;
        const qsizetype end = path.indexOf('/', folder.size() + 1);
        QByteArray entry = end < 0 ? path : path.left(end);
        if (entry.endsWith(".lock") && entry.size() > folder.size() + 1 + 5)
            entry.chop(5);
        return entry;
    };
    // Debian's .profile puts ~/.local/bin on PATH before the system's, as it
    // does ~/bin: a program placed there runs in place of another at the
    // next login, whatever a program was allowed for the rest of ~/.local.
    const QByteArray localBin = m_realHome + "/.local/bin";
    if (path == localBin || path.startsWith(localBin + '/'))
        return std::nullopt;
    for (const QByteArray &base : m_bases) // the deepest first
        if (std::optional<QByteArray> entry = below(base))
            return entry;
    const std::optional<QByteArray> entry = below(m_realHome);
    if (!entry || entry->at(m_realHome.size() + 1) != '.')
        return std::nullopt;
    return entry;
}

Supervisor::Verdict Supervisor::askSettingsPlace(const Side &side) {
    const std::optional<QByteArray> entry = settingsPlace(side.walked);
    if (!entry)
        return Verdict::Deny;
    const std::optional<bool> allowed = m_protection.mayChangeEntryNow(*entry, side.arg->shown());
    return !allowed ? Verdict::Later : *allowed ? Verdict::DoHere : Verdict::Deny;
}

// The home's hidden entries and ~/bin, whenever they were made: those of the
// start are known by identity, a later one by its name in the home folder.
bool Supervisor::inReadOnlyPart(const Walked &walked) const {
    if (!m_layout.home)
        return false;
    if (inAny(walked, m_layout.hiddenRoots))
        return true;
    const auto home = std::find(walked.chain.begin(), walked.chain.end(), *m_layout.home);
    if (home == walked.chain.end())
        return false;
    if (home + 1 == walked.chain.end())
        return readOnlyByRule(walked.name); // an entry of the home itself
    return homeEntryReadOnly(*(home + 1));
}

// An entry of the home folder made since the start, by its name there. One
// that cannot be found (moved away meanwhile) counts as read-only.
bool Supervisor::homeEntryReadOnly(FileIdentity entry) const {
    if (const auto known = m_homeEntries.find(entry); known != m_homeEntries.end()) {
        struct stat st {};
        if (::fstatat(m_home.get(), known->second.name.constData(), &st, AT_SYMLINK_NOFOLLOW) ==
                0 &&
            identityOf(st) == entry)
            return known->second.readOnly;
        m_homeEntries.erase(known);
    }
    UniqueFd listing(::openat(m_home.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR *dir = listing.isValid() ? ::fdopendir(listing.get()) : nullptr;
    if (!dir)
        return true;
    listing.release(); // closedir closes it
    const std::unique_ptr<DIR, int (*)(DIR *)> owner(dir, ::closedir);
    while (const dirent *e = ::readdir(dir)) {
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            identityOf(st) == entry)
            return (m_homeEntries[entry] = {e->d_name, readOnlyByRule(e->d_name)}).readOnly;
    }
    return true;
}

// The named places in the read-only part that Pellim and its toolkit write.
bool Supervisor::writablePlace(const Walked &walked) const {
    if (inAny(walked, m_layout.writable))
        return true;
    return std::any_of(
        m_layout.writableNames.begin(), m_layout.writableNames.end(),
        [&](const QByteArray &name) { return atOrUnder(walked, placeOfName(name), true); });
}

Supervisor::Verdict Supervisor::ask(const Side &side, FileAccessKind kind) {
    const std::optional<bool> allowed =
        m_protection.mayAccessNow(side.walked, side.arg->shown(), kind);
    return !allowed ? Verdict::Later : *allowed ? Verdict::DoHere : Verdict::Deny;
}

Supervisor::Verdict Supervisor::judge(const Side &side, FileAccessKind kind) {
    // Moving or removing a kept-out folder, or one above it, would take it out of
    // the place the desktop names and Landlock guards.
    if (side.entry && side.walked.exists &&
        (contains(m_layout.ancestors, side.walked.identity) ||
         contains(m_layout.keptOut, side.walked.identity)))
        return Verdict::Deny;
    // A read-only item is never written, made, removed, replaced or linked.
    if (kind == FileAccessKind::Write && readOnlyItem(side.walked))
        return Verdict::Deny;
    const std::optional<FileIdentity> keeper = innermost(side.walked, m_layout.keptOut);
    // The places where programs keep settings and code that runs later are
    // changed only where the person agreed, and then by the guard: Landlock
    // lets the program only read them.
    if (kind == FileAccessKind::Write && !keeper && inReadOnlyPart(side.walked) &&
        !writablePlace(side.walked))
        return askSettingsPlace(side);
    if (keeper) {
        if (contains(m_sealed, *keeper))
            return Verdict::Deny;
        return ask(side, kind);
    }
    // A folder guarded since the start is decided here, though Landlock lets
    // calls into it go on.
    if ((covered(side.walked, side.entry) ||
         (kind != FileAccessKind::Write && !side.entry && coveredToRead(side.walked))) &&
        !m_protection.guards(side.walked))
        return Verdict::GoOn;
    // Done here, so asked here too: a guarded folder made since the start is
    // not kept out by Landlock, but the guard knows it.
    return ask(side, kind);
}

void Supervisor::answer(const seccomp_notif &n) {
    Caller caller(pid_t(n.pid), &m_pidfds);
    HeldRequest r;
    const HeldCall *row = m_calls.find(n.data.nr);
    if (row && isSocketOp(row->op)) {
        Reply reply = m_sockets.answer(*row, n.data.args, caller, [&] {
            std::uint64_t id = n.id;
            return ::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_ID_VALID, &id) == 0;
        });
        ++m_counts.doors;
        send(n.id, reply);
        return;
    }
    if (row && (row->op == HeldOp::Signal || row->op == HeldOp::SignalPidfd)) {
        Reply reply = m_own.answerSignal(*row, n.data.args, pid_t(n.pid));
        ++m_counts.doors;
        send(n.id, reply);
        return;
    }
    int refusal = 0;
    const ReadOutcome outcome =
        row ? readRequest(*row, n.data.args, caller, r, &refusal) : ReadOutcome::LeaveToKernel;
    if (outcome == ReadOutcome::Refuse) {
        Reply reply = Reply::result(refusal);
        send(n.id, reply);
        return;
    }
    bool readable = outcome == ReadOutcome::Read;
    // Links in /proc/PID/ lead only into the program's own processes.
    r.a.procLinks =
        r.b.procLinks = [this, tid = pid_t(n.pid)](pid_t pid) { return m_own.own(pid, tid); };
    std::optional<Walked> quick;
    if (readable && (r.op == HeldOp::Open || (!landlockSees(r.op) && r.followLast))) {
        int missing = 0;
        quick = walkQuickly(r.a.text, r.a.startFd(), &missing);
        // The open's folder is not there (a compiler or an interpreter trying
        // each folder of its search path): the full walk would fail the same
        // way, and the call goes on to fail in the kernel, or to meet Landlock
        // where the folder was made meanwhile.
        const bool noFolder = r.op == HeldOp::Open && (missing == ENOENT || missing == ENOTDIR);
        if (noFolder ||
            (quick && r.op == HeldOp::Open && goesOn(*quick, openKind(r.flags, *quick)))) {
            // Nothing is done here, so nothing read needs checking against a
            // reused thread id: if the call is gone, so is this answer.
            Reply reply = Reply::goingOn();
            ++m_counts.quick;
            send(n.id, reply);
            return;
        }
    }
    const bool creates = r.op == HeldOp::MakeDir || r.op == HeldOp::MakeNode ||
                         (r.op == HeldOp::Open && (r.flags & (O_CREAT | O_TMPFILE)));
    const bool watches = r.op == HeldOp::InotifyWatch || r.op == HeldOp::FanotifyMark;
    if (readable && (creates || watches) && !caller.threadStatus()) {
        // The caller's umask or process is needed, and it is gone or unreadable.
        Reply reply = landlockSees(r.op) ? Reply::goingOn() : Reply::result(ESRCH);
        send(n.id, reply);
        return;
    }
    // All that came from the caller has been read: if the call is gone, the
    // thread id may name another process by now, whose memory that was.
    std::uint64_t id = n.id;
    if (::ioctl(m_listener.get(), SECCOMP_IOCTL_NOTIF_ID_VALID, &id) != 0)
        return;
    const ThreadStatus status = caller.knownStatus() ? *caller.knownStatus() : ThreadStatus{0, 0};
    Reply reply = readable ? decide(r, status, std::move(quick)) : Reply::goingOn();
    if (reply.later) {
        // A question is on screen: this call waits for it, unanswered, so that
        // the person sees one question at a time. A flood of them is refused.
        if (m_waiting.size() >= kMaxWaiting) {
            Reply refused = Reply::result(EAGAIN);
            send(n.id, refused);
            return;
        }
        m_waiting.push_back(Waiting{n.id, std::make_unique<HeldRequest>(std::move(r)), status});
        return;
    }
    if (reply.goOn && row && row->op == HeldOp::Truncate && !m_truncateGoesOn)
        reply = Reply::result(EFAULT); // not read: nothing would refuse what the kernel reads
    send(n.id, reply);
}

// What walkObject gives for an open's path, found with a few calls: the kernel
// resolves the folder (links and ".." too; a magic link is refused, those take
// the full walk), and its chain is the one FolderChains remembers, which is the
// one the walk would climb: a chain is forgotten once anything on it moves.
// Nothing when the last component is a link or odd, or the chain is not
// remembered; `missing` is then the errno of a folder that could not be
// reached, if that was why.
std::optional<Walked> Supervisor::walkQuickly(const QByteArray &text, int start, int *missing) {
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
    if (!w.parent.isValid())
        *missing = errno;
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

bool Supervisor::goesOn(const Walked &object, FileAccessKind kind) const {
    // A read-only item or the home's read-only part, reached where Landlock
    // lets the program write (a start file or a hidden entry linked in from a
    // dotfiles folder, by its own name there), is judged.
    if (kind == FileAccessKind::Write && (readOnlyItem(object) || inReadOnlyPart(object)))
        return false;
    // Landlock refuses whatever a rule does not allow: a read-only rule only reads.
    const bool ruled =
        covered(object, false) || (kind != FileAccessKind::Write && coveredToRead(object));
    return ruled && !innermost(object, m_layout.keptOut) && !m_protection.guards(object);
}

Reply Supervisor::decide(HeldRequest &r, const ThreadStatus &caller, std::optional<Walked> quick,
                         bool retried) {
    const mode_t umask = caller.umask;
    const auto entrySide = [](const PathArg &arg, bool folderMeant, Side &side) {
        side.entry = true;
        side.arg = &arg;
        return walkEntry(arg, folderMeant, side.walked, side.isLink);
    };
    const auto refused = [](Verdict verdict) {
        return verdict == Verdict::GoOn    ? Reply::goingOn()
               : verdict == Verdict::Later ? Reply::waiting()
                                           : Reply::result(EPERM);
    };

    switch (r.op) {
    case HeldOp::Open:
    case HeldOp::Truncate: {
        Side side;
        side.arg = &r.a;
        int walkError = 0;
        // walkQuickly gives nothing where the last component is a link.
        const bool lastNoLink = quick.has_value();
        std::optional<Walked> walked =
            quick ? std::move(quick)
                  : walkPath(r.a.text, r.a.startFd(), &walkError, &r.a.procLinks);
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
        Reply reply = performOpen(r, side.walked, umask, m_ownUmask, lastNoLink);
        // Made by someone else since the walk: open what is there now, as the
        // kernel would have, after walking and judging it again.
        const bool created = (r.flags & (O_CREAT | O_EXCL)) == O_CREAT && !side.walked.exists;
        if (created && reply.error == EEXIST && !retried)
            return decide(r, caller, std::nullopt, true);
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
        // Making what is there already fails as the kernel fails it, before any
        // rule or question: its existence is no secret (stat is not held). Qt
        // makes the runtime folder at every start and expects EEXIST.
        if (r.op != HeldOp::Remove && side.walked.exists)
            return Reply::result(EEXIST);
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
        if (first == Verdict::Later || second == Verdict::Later)
            return Reply::waiting();
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
    case HeldOp::Chmod:
    case HeldOp::Chown:
    case HeldOp::Times:
    case HeldOp::SetXattr:
    case HeldOp::RemoveXattr:
    case HeldOp::InotifyWatch:
    case HeldOp::FanotifyMark: {
        // Landlock does not see these: whatever the verdict, nothing goes on in
        // the caller, where the path could be changed after it was walked here.
        Side side;
        side.arg = &r.a;
        if (r.followLast) {
            int error = 0;
            std::optional<Walked> walked =
                quick ? std::move(quick)
                      : walkPath(r.a.text, r.a.startFd(), &error, &r.a.procLinks);
            if (!walked)
                return Reply::result(error ? error : ENOENT);
            side.walked = std::move(*walked);
        } else if (!entrySide(r.a, false, side)) {
            return Reply::result(ENOENT);
        }
        const bool watch = r.op == HeldOp::InotifyWatch || r.op == HeldOp::FanotifyMark;
        if (!watch && ownPlace(side.walked))
            return Reply::result(EPERM);
        const Verdict verdict = judge(side, watch ? FileAccessKind::List : FileAccessKind::Write);
        if (verdict == Verdict::Deny || verdict == Verdict::Later)
            return refused(verdict);
        return watch ? performWatch(r, caller.tgid, side.walked) : performMetadata(r, side.walked);
    }
    case HeldOp::Connect:
    case HeldOp::SendTo:
    case HeldOp::SendMsg:
    case HeldOp::SendMmsg:
    case HeldOp::Signal:
    case HeldOp::SignalPidfd:
        break; // answered by SocketDoors or OwnProcesses before anything is read
    }
    return Reply::goingOn();
}

} // namespace pellim
