// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/Confinement.h"
#include "confine/AskWire.h"
#include "confine/CallReader.h"

#include "confine/HeldCalls.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

// Rights newer than the installed kernel headers; used only when the running
// kernel's Landlock knows them.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif

namespace pellim {

namespace {

// The ruleset's attributes as ABI 6 has them, newer than the installed kernel
// headers: network rights (none handled: the network stays open) and scopes.
struct RulesetAttr {
    __u64 handledAccessFs = 0;
    __u64 handledAccessNet = 0;
    __u64 scoped = 0;
};
constexpr __u64 kScopeAbstractUnixSocket = 1ULL << 0;
constexpr __u64 kScopeSignal = 1ULL << 1;

} // namespace

int landlockAbi() {
    const long abi =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi < 0 ? -errno : int(abi);
}

namespace {

// Every file system right the running Landlock knows: a right left unhandled
// would stay allowed everywhere, inside the kept-out folders too.
__u64 handledRights(int abi) {
    __u64 rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1; // ABI 1: execute .. make_sym
    if (abi >= 2)
        rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5)
        rights |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    return rights;
}

// The rights a rule on something other than a folder may carry.
constexpr __u64 kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                              LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_TRUNCATE |
                              LANDLOCK_ACCESS_FS_IOCTL_DEV;

// What a read-only rule allows: reading files, listing folders and running
// programs (a program in ~/.local/bin runs; it cannot be replaced).
constexpr __u64 kReadRights =
    LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_EXECUTE;
constexpr __u64 kReadFileRights = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_EXECUTE;

using RuleSink = std::function<bool(int fd, bool isFolder, bool readOnly)>;

// The nearest folder on the way to `path` that exists, and the name in it that
// leads on to `path` (the last component when the folder holding it exists).
struct Nearest {
    UniqueFd folder;
    FileIdentity identity;
    QByteArray name;
};
// A folder on the way to an item, walked once however many items lie in it.
struct FolderSeen {
    bool exists = false;
    bool isFolder = false;
    FileIdentity identity;
    UniqueFd fd; // O_PATH; invalid where it could not be opened
};

// Works out the layout: climbs from each kept-out folder, from the folder
// holding each read-only or writable item, and from the home folder, to the
// root (the way the kernel's ".." goes, across mounts); then lists every folder
// met on the way and gives each of its other entries a rule.
class LayoutMapper {
public:
    explicit LayoutMapper(const RuleSink &ruleFor) : m_ruleFor(ruleFor) {}
    std::optional<ConfinementLayout> map(const KeptOutPaths &paths, int *error);

private:
    std::optional<Nearest> nearestFolder(const QByteArray &path);
    const FolderSeen &seen(const QByteArray &folder);
    bool takeKeptOut(const QByteArray &path);
    bool takeItem(const QByteArray &path, bool writable);
    bool takeHome(const QByteArray &home);
    void takeLinkTarget(const QByteArray &path);
    void noteOtherNames(const struct stat &readOnly);
    bool climbFrom(int start, bool includeStart);
    bool inReadOnlyPart(int folder) const;
    bool list(std::size_t at);

    const RuleSink &m_ruleFor;
    ConfinementLayout m_layout;
    std::vector<UniqueFd> m_folders; // kept out
    std::vector<UniqueFd> m_holders; // climbed from, themselves included
    std::vector<UniqueFd> m_above;   // open descriptors of m_layout.ancestors, same order
    // Most read-only items lie in a few folders (the home, ~/.config): each
    // is walked once for the whole map.
    std::map<QByteArray, FolderSeen> m_seen;
};

const FolderSeen &LayoutMapper::seen(const QByteArray &folder) {
    if (const auto known = m_seen.find(folder); known != m_seen.end())
        return known->second;
    FolderSeen found;
    if (const std::optional<Walked> walked = walkPath(folder); walked && walked->exists) {
        found.exists = true;
        found.isFolder = walked->isFolder;
        found.identity = walked->identity;
        if (found.isFolder)
            found.fd = openWalked(*walked, O_PATH | O_DIRECTORY);
    }
    return m_seen.emplace(folder, std::move(found)).first->second;
}

std::optional<Nearest> LayoutMapper::nearestFolder(const QByteArray &path) {
    QByteArray item = path;
    for (qsizetype slash; (slash = item.lastIndexOf('/')) > 0; item = item.left(slash)) {
        const FolderSeen &folder = seen(item.left(slash));
        if (!folder.exists)
            continue;
        if (!folder.isFolder || !folder.fd.isValid())
            return std::nullopt;
        UniqueFd fd(::fcntl(folder.fd.get(), F_DUPFD_CLOEXEC, 0));
        if (!fd.isValid())
            return std::nullopt;
        return Nearest{std::move(fd), folder.identity, item.mid(slash + 1)};
    }
    return std::nullopt;
}

std::optional<ConfinementLayout> LayoutMapper::map(const KeptOutPaths &paths, int *error) {
    const auto failed = [error](int e) -> std::optional<ConfinementLayout> {
        if (error)
            *error = e;
        return std::nullopt;
    };
    for (const QByteArray &path : paths.keptOut())
        if (!takeKeptOut(path))
            return failed(errno);
    for (const QByteArray &path : paths.readOnly)
        if (!takeItem(path, false))
            return failed(errno);
    if (!paths.home.isEmpty()) {
        if (!takeHome(paths.home))
            return failed(errno);
        for (const QByteArray &path : paths.writable)
            if (!takeItem(path, true))
                return failed(errno);
    }
    for (const UniqueFd &folder : m_folders)
        if (!climbFrom(folder.get(), false))
            return failed(errno);
    for (const UniqueFd &holder : m_holders)
        if (!climbFrom(holder.get(), true))
            return failed(errno);
    for (std::size_t at = 0; at < m_above.size(); ++at)
        if (!list(at))
            return failed(errno);
    return std::move(m_layout);
}

bool LayoutMapper::takeKeptOut(const QByteArray &path) {
    const std::optional<Walked> walked = walkPath(path);
    if (walked && walked->exists && walked->isFolder) {
        UniqueFd fd = openWalked(*walked, O_PATH | O_DIRECTORY);
        if (!fd.isValid())
            return false;
        m_layout.keptOut.push_back(walked->identity);
        m_folders.push_back(std::move(fd));
        return true;
    }
    // Not there yet: whatever is made where it would be has no rule, so the
    // guard decides it, by the folder's name.
    if (std::optional<Nearest> nearest = nearestFolder(path))
        m_holders.push_back(std::move(nearest->folder));
    return true;
}

// A read-only item's folder gets no rule of its own, so that the item's rule is
// the only one that covers it; so does a writable one's in the read-only part.
bool LayoutMapper::takeItem(const QByteArray &path, bool writable) {
    std::optional<Nearest> nearest = nearestFolder(path);
    if (!nearest)
        return true;
    struct stat st {};
    if (::fstatat(nearest->folder.get(), nearest->name.constData(), &st, AT_SYMLINK_NOFOLLOW) ==
        0) {
        (writable ? m_layout.writable : m_layout.readOnly).push_back(identityOf(st));
        if (!writable)
            noteOtherNames(st);
        // A start file kept elsewhere and linked in (a dotfiles folder) is
        // read by what it starts wherever it lies: what the link leads to is
        // read-only too, by either name.
        struct stat target {};
        if (!writable && S_ISLNK(st.st_mode) &&
            ::fstatat(nearest->folder.get(), nearest->name.constData(), &target, 0) == 0) {
            m_layout.readOnly.push_back(identityOf(target));
            noteOtherNames(target);
            takeLinkTarget(path);
        }
    } else if (errno != ENOENT) {
        return false;
    } else if (writable) {
        m_layout.writableNames.push_back(path); // made later, found by name
    } else {
        m_layout.readOnlyNames.push_back(
            {nearest->identity, nearest->name,
             UniqueFd(::fcntl(nearest->folder.get(), F_DUPFD_CLOEXEC, 0))});
    }
    m_holders.push_back(std::move(nearest->folder));
    return true;
}

// The home folder is always one of the folders above, so that its entries each
// get a rule of their own: the hidden ones and ~/bin one that only reads.
bool LayoutMapper::takeHome(const QByteArray &home) {
    const std::optional<Walked> walked = walkPath(home);
    if (!walked || !walked->exists || !walked->isFolder)
        return true; // no home: nothing of it to keep
    UniqueFd fd = openWalked(*walked, O_PATH | O_DIRECTORY);
    if (!fd.isValid())
        return false;
    m_layout.home = walked->identity;
    UniqueFd listing(::openat(fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR *dir = listing.isValid() ? ::fdopendir(listing.get()) : nullptr;
    if (dir) {
        listing.release(); // closedir closes it
        const std::unique_ptr<DIR, int (*)(DIR *)> owner(dir, ::closedir);
        // A hidden entry that is a link (into a dotfiles folder) is read where
        // it leads: that is read-only too, by either name, unless it holds the
        // home itself.
        const auto holdsHome = [&](FileIdentity id) {
            return id == walked->identity || contains(walked->chain, id);
        };
        struct stat st {
        }, target{};
        while (const dirent *entry = ::readdir(dir)) {
            if (!readOnlyByRule(entry->d_name) ||
                ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            m_layout.hiddenRoots.push_back(identityOf(st));
            noteOtherNames(st);
            if (S_ISLNK(st.st_mode) && ::fstatat(::dirfd(dir), entry->d_name, &target, 0) == 0 &&
                !holdsHome(identityOf(target))) {
                m_layout.hiddenRoots.push_back(identityOf(target));
                noteOtherNames(target);
                takeLinkTarget(home + '/' + entry->d_name);
            }
        }
    } else if (errno != EACCES) {
        return false; // one that cannot be listed is judged by name, entry by entry
    }
    m_holders.push_back(std::move(fd));
    return true;
}

// What a read-only link leads to must be read-only where it lies too, by its
// own name there: its folder gets no rule, so that the rule the target gets
// (one that only reads) is the only one that covers it. Otherwise that
// folder's rule (a dotfiles folder's) would let the program write it, and
// only a guard holding every open would see it. One that cannot be walked
// keeps the rules it had: nothing is lost by it but that.
void LayoutMapper::takeLinkTarget(const QByteArray &path) {
    const std::optional<Walked> walked = walkPath(path);
    if (!walked || !walked->exists || !walked->parent.isValid())
        return;
    UniqueFd folder(::fcntl(walked->parent.get(), F_DUPFD_CLOEXEC, 0));
    if (folder.isValid())
        m_holders.push_back(std::move(folder));
}

void LayoutMapper::noteOtherNames(const struct stat &readOnly) {
    if (S_ISREG(readOnly.st_mode) && readOnly.st_nlink > 1)
        m_layout.readOnlyFileLinkedElsewhere = true;
}

bool LayoutMapper::climbFrom(int start, bool includeStart) {
    std::vector<std::pair<FileIdentity, UniqueFd>> climb;
    if (includeStart) {
        struct stat st {};
        if (::fstat(start, &st) != 0)
            return false;
        if (contains(m_layout.keptOut, identityOf(st)))
            return true; // inside a kept-out folder: out of reach already
        climb.emplace_back(identityOf(st), UniqueFd(::fcntl(start, F_DUPFD_CLOEXEC, 0)));
    }
    for (int at = start;;) {
        UniqueFd up(::openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat st {};
        struct stat here {};
        if (!up.isValid() || ::fstat(up.get(), &st) != 0 || ::fstat(at, &here) != 0)
            return false;
        if (identityOf(st) == identityOf(here))
            break; // the root
        if (contains(m_layout.keptOut, identityOf(st)))
            return true; // that one's own climb covers the rest
        if (contains(m_layout.ancestors, identityOf(st)))
            break; // an earlier climb went on from there to the root
        climb.emplace_back(identityOf(st), std::move(up));
        at = climb.back().second.get();
    }
    for (auto &[id, fd] : climb) {
        if (!contains(m_layout.ancestors, id)) {
            m_layout.ancestors.push_back(id);
            m_above.push_back(std::move(fd));
        }
    }
    return true;
}

// Whether `folder` is one of the home's hidden entries or lies inside one.
bool LayoutMapper::inReadOnlyPart(int folder) const {
    UniqueFd here;
    for (int at = folder;;) {
        struct stat st {};
        if (::fstat(at, &st) != 0)
            return true; // refuse what cannot be placed
        if (contains(m_layout.hiddenRoots, identityOf(st)))
            return true;
        if (identityOf(st) == m_layout.home)
            return false;
        UniqueFd up(::openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat above {};
        if (!up.isValid() || ::fstat(up.get(), &above) != 0)
            return true;
        if (identityOf(above) == identityOf(st))
            return false; // the root: not in the home
        here = std::move(up);
        at = here.get();
    }
}

// Gives each entry of a folder above a rule: none for links (a rule on a link
// would cover its target) and for the folders on the way; one that only reads
// for a read-only item and in the home's read-only part; all rights elsewhere.
bool LayoutMapper::list(std::size_t at) {
    const int folder = m_above[at].get();
    const bool isHome = m_layout.ancestors[at] == m_layout.home;
    const bool readOnlyPart = m_layout.home && !isHome && inReadOnlyPart(folder);
    UniqueFd listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR *dir = listing.isValid() ? ::fdopendir(listing.get()) : nullptr;
    if (!dir)
        return errno == EACCES; // no rules below: the guard decides every call there
    listing.release();          // closedir closes it
    const std::unique_ptr<DIR, int (*)(DIR *)> owner(dir, ::closedir);
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        // A rule needs a descriptor; the identity alone (the supervisor's map)
        // needs one call, not three.
        UniqueFd fd(m_ruleFor ? ::openat(::dirfd(dir), name, O_PATH | O_NOFOLLOW | O_CLOEXEC) : -1);
        struct stat st {};
        if (m_ruleFor ? !fd.isValid() || ::fstat(fd.get(), &st) != 0
                      : ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue; // gone meanwhile
            return false;
        }
        const FileIdentity id = identityOf(st);
        if (S_ISLNK(st.st_mode) || contains(m_layout.ancestors, id) ||
            contains(m_layout.keptOut, id))
            continue;
        const bool readOnly =
            !contains(m_layout.writable, id) &&
            (contains(m_layout.readOnly, id) || contains(m_layout.hiddenRoots, id) ||
             readOnlyPart || (isHome && readOnlyByRule(name)));
        (readOnly ? m_layout.readable : m_layout.allowed).push_back(id);
        if (m_ruleFor && !m_ruleFor(fd.get(), S_ISDIR(st.st_mode), readOnly))
            return false;
    }
    return true;
}

// Below ABI 3 Landlock checks an open to read for reading only, so a file a
// rule lets the program read (a start file, the home's read-only part) would
// be emptied by one with O_TRUNC: such opens stay held where the others are
// left to Landlock (openat2's, whose flags the filter cannot read, all of
// them: everyCallHeld). creat writes, which Landlock does check.
int holdTruncatingReads(scmp_filter_ctx filter, const HeldCall &call, int nr, int abi) {
    if (call.op != HeldOp::Open || abi >= 3 || call.flags == kNoArg)
        return 0;
    return ::seccomp_rule_add(
        filter, SCMP_ACT_NOTIFY, nr, 1,
        SCMP_CMP(unsigned(call.flags), SCMP_CMP_MASKED_EQ, O_ACCMODE | O_TRUNC, O_TRUNC));
}

// The calls that name a place in the file system go to the supervisor (the
// held-call table), everything else runs. A call of another architecture's
// (int 0x80 from a 64-bit process, an x32 call) would bypass the numbers, so it
// ends the process. Loading sets no_new_privs too. The listener is the caller's
// to own and hand over.
std::optional<UniqueFd> installFilter(int abi, CallsHeld held, int *error) {
    const std::unique_ptr<void, void (*)(scmp_filter_ctx)> filter(::seccomp_init(SCMP_ACT_ALLOW),
                                                                  ::seccomp_release);
    const auto failed = [error](int rc) -> std::optional<UniqueFd> {
        *error = -rc;
        return std::nullopt;
    };
    if (!filter)
        return failed(-ENOMEM);
    if (const int rc =
            ::seccomp_attr_set(filter.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS))
        return failed(rc);
    const HeldCallTable calls;
    for (const HeldCallTable::Entry &entry : calls.entries()) {
        if (!everyCallHeld(*entry.call, held, abi) && askedUnder(entry.call->op, held, abi)) {
            // Held only when marked: the preloaded library's second try.
            if (const int rc = ::seccomp_rule_add(filter.get(), SCMP_ACT_NOTIFY, entry.nr, 1,
                                                  SCMP_A5_64(SCMP_CMP_EQ, PELLIM_ASK_MARK)))
                return failed(rc);
            if (const int rc = holdTruncatingReads(filter.get(), *entry.call, entry.nr, abi))
                return failed(rc);
            continue;
        }
        if (!everyCallHeld(*entry.call, held, abi))
            continue;
        const int set = entry.call->heldIfSet;
        if (const int rc = set == kNoArg
                               ? ::seccomp_rule_add(filter.get(), SCMP_ACT_NOTIFY, entry.nr, 0)
                               : ::seccomp_rule_add(filter.get(), SCMP_ACT_NOTIFY, entry.nr, 1,
                                                    SCMP_CMP(unsigned(set), SCMP_CMP_NE, 0)))
            return failed(rc);
    }
    for (const HeldCallTable::Refusal &refused : calls.refusals()) {
        if (const int rc =
                ::seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(refused.error), refused.nr, 0))
            return failed(rc);
    }
    if (const int rc = ::seccomp_load(filter.get()))
        return failed(rc);
    const int listener = ::seccomp_notify_fd(filter.get());
    if (listener < 0)
        return failed(listener);
    return UniqueFd(listener);
}

// One line of /proc/self/mountinfo: a mount, its file system, which folder of
// that file system it shows, and where.
struct MountLine {
    int id = 0;
    QByteArray device; // major:minor
    QByteArray root;
    QByteArray point;
};

// A path as mountinfo writes it: space, tab, newline and backslash as \ooo.
QByteArray unescaped(const QByteArray &field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += char(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<MountLine> mountLines(const QByteArray &text) {
    std::vector<MountLine> lines;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        lines.push_back({fields[0].toInt(), fields[2], unescaped(fields[3]), unescaped(fields[4])});
    }
    return lines;
}

// Whether the path `inner` is `outer` or lies in it.
bool atOrIn(const QByteArray &inner, const QByteArray &outer) {
    return outer == "/" || inner == outer || inner.startsWith(outer + '/');
}

bool reachedElsewhere(const QByteArray &path, int mountId, const std::vector<MountLine> &lines) {
    const auto own = std::find_if(lines.begin(), lines.end(),
                                  [&](const MountLine &line) { return line.id == mountId; });
    if (own == lines.end() || !atOrIn(path, own->point))
        return true;
    // Where `path` lies in its file system: the mount's root, then the rest.
    const QByteArray rest = own->point == "/" ? path : path.mid(own->point.size());
    const QByteArray inFileSystem =
        own->root == "/" ? (rest.isEmpty() ? QByteArray("/") : rest) : own->root + rest;
    return std::any_of(lines.begin(), lines.end(), [&](const MountLine &line) {
        return line.id != mountId && line.device == own->device &&
               (atOrIn(line.root, inFileSystem) || atOrIn(inFileSystem, line.root));
    });
}

// Whether any of the places kept out, the home or a read-only item outside
// it can be reached through another mount: then Landlock cannot be left to
// refuse by itself. (A mount that reaches into the home counts for the home.)
bool anotherMountReaches(const KeptOutPaths &paths) {
    // Read as plainly as it can be: this runs at every start of a program.
    const UniqueFd file(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    QByteArray text;
    char buffer[16384];
    ssize_t got = 0;
    while (file.isValid() && (got = ::read(file.get(), buffer, sizeof buffer)) > 0)
        text.append(buffer, got);
    if (!file.isValid() || got < 0)
        return true;
    const std::vector<MountLine> lines = mountLines(text);
    std::vector<QByteArray> places = paths.keptOut();
    places.push_back(paths.home);
    for (const QByteArray &item : paths.readOnly)
        if (paths.home.isEmpty() || !item.startsWith(paths.home + '/'))
            places.push_back(item);
    for (const QByteArray &place : places) {
        char resolved[PATH_MAX];
        struct statx stx {};
        if (place.isEmpty() || !::realpath(place.constData(), resolved))
            continue; // not there: made later, it has no rule
        if (::statx(AT_FDCWD, resolved, 0, STATX_MNT_ID, &stx) != 0 ||
            !(stx.stx_mask & STATX_MNT_ID) ||
            reachedElsewhere(resolved, int(stx.stx_mnt_id), lines))
            return true;
    }
    return false;
}

} // namespace

bool reachedThroughAnotherMount(const QByteArray &path, int mountId, const QByteArray &mountInfo) {
    return reachedElsewhere(path, mountId, mountLines(mountInfo));
}

std::optional<QString> confinementUnavailable() {
#if !defined(__x86_64__)
    return QStringLiteral("the kernel guard is built for x86-64 only");
#else
    const int abi = landlockAbi();
    if (abi == -ENOSYS)
        return QStringLiteral("the kernel has no Landlock");
    if (abi == -EOPNOTSUPP)
        return QStringLiteral("Landlock is turned off in this kernel");
    if (abi < 0)
        return QStringLiteral("Landlock cannot be used: %1").arg(errnoText(-abi));
    if (abi < 2) // ABI 1 refuses every rename and link between folders
        return QStringLiteral("Landlock ABI %1 is too old (2 or newer is needed)").arg(abi);
    __u32 action = SECCOMP_RET_USER_NOTIF;
    if (::syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) != 0)
        return QStringLiteral("the kernel has no seccomp user notification");
    // The guard reads the names a call passes from the caller's memory.
    QFile yama(QStringLiteral("/proc/sys/kernel/yama/ptrace_scope"));
    if (yama.open(QIODevice::ReadOnly) && yama.readAll().trimmed().toInt() >= 2)
        return QStringLiteral("Yama forbids reading another process's memory");
    return std::nullopt;
#endif
}

bool landlockRefusesTruncate() {
    return landlockAbi() >= 3;
}

std::optional<QString> confinementShortfall() {
    // Linux 6.1 (Debian 12's kernel) has ABI 2. What later ABIs add beyond
    // truncation the guard does not need: scopes (ABI 6) only narrow what is
    // already held, and the network stays open.
    if (!landlockRefusesTruncate())
        return QStringLiteral("Landlock ABI %1: each truncate is done by the guard")
            .arg(landlockAbi());
    return std::nullopt;
}

bool readOnlyByRule(const QByteArray &name) {
    return name == "bin" || (name.startsWith('.') && name != "." && name != "..");
}

std::optional<ConfinementLayout> mapKeptOut(const KeptOutPaths &paths, int *error,
                                            std::vector<UniqueFd> *ruled) {
    if (!ruled)
        return LayoutMapper({}).map(paths, error);
    const RuleSink keep = [ruled](int fd, bool, bool) {
        ruled->emplace_back(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        return ruled->back().isValid();
    };
    return LayoutMapper(keep).map(paths, error);
}

bool heldUnder(HeldOp op, CallsHeld held, int abi) {
    // From ABI 6 on, Landlock's signal scope keeps signals in by itself.
    if ((op == HeldOp::Signal || op == HeldOp::SignalPidfd) && abi >= 6)
        return false;
    if (held == CallsHeld::Every || !landlockSees(op) || isSocketOp(op) || op == HeldOp::Signal ||
        op == HeldOp::SignalPidfd)
        return true;
    // Without Landlock's truncate right, a truncate on a path would go on
    // unrefused: the guard keeps deciding each one.
    return op == HeldOp::Truncate && abi < 3;
}

bool everyCallHeld(const HeldCall &call, CallsHeld held, int abi) {
    const bool flagsUnread =
        call.op == HeldOp::Open && call.flags == kNoArg && call.fixedFlags == 0;
    return heldUnder(call.op, held, abi) || (flagsUnread && abi < 3);
}

bool askedUnder(HeldOp op, CallsHeld held, int abi) {
    const bool signal = op == HeldOp::Signal || op == HeldOp::SignalPidfd;
    return held == CallsHeld::UnseenByLandlock && !signal && !isSocketOp(op) && landlockSees(op) &&
           !heldUnder(op, held, abi);
}

std::variant<UniqueFd, ConfinementError> confineSelf(const KeptOutPaths &paths, CallsHeld held) {
    const auto failed = [](const QString &what, int error) {
        return ConfinementError{what + QStringLiteral(": ") + errnoText(error)};
    };
    if (const std::optional<QString> why = confinementUnavailable())
        return ConfinementError{*why, true};
    const int abi = landlockAbi();
    const __u64 rights = handledRights(abi);
    // From ABI 6 on, Landlock also keeps Pellim from the abstract sockets and
    // the processes outside its own domain: the guard and what the guard runs
    // cannot be signalled, and no abstract name is reached behind the guard's
    // back. An older kernel takes the shorter attributes only.
    RulesetAttr attr;
    attr.handledAccessFs = rights;
    std::size_t attrSize = offsetof(RulesetAttr, handledAccessNet);
    if (abi >= 6) {
        attr.scoped = kScopeAbstractUnixSocket | kScopeSignal;
        attrSize = sizeof attr;
    }
    UniqueFd ruleset(int(::syscall(SYS_landlock_create_ruleset, &attr, attrSize, 0)));
    if (!ruleset.isValid())
        return failed(QStringLiteral("cannot make a Landlock ruleset"), errno);

    int error = 0;
    const auto addRule = [&](int fd, bool isFolder, bool readOnly) {
        landlock_path_beneath_attr rule{};
        rule.allowed_access = readOnly   ? (isFolder ? kReadRights : kReadFileRights)
                              : isFolder ? rights
                                         : (rights & kFileRights);
        rule.parent_fd = fd;
        return ::syscall(SYS_landlock_add_rule, ruleset.get(), LANDLOCK_RULE_PATH_BENEATH, &rule,
                         0) == 0;
    };
    const std::optional<ConfinementLayout> layout = LayoutMapper(addRule).map(paths, &error);
    if (!layout)
        return failed(QStringLiteral("cannot map the folders to keep out"), error);
    // A read-only file's other name, or another mount of a place kept out,
    // may lie under a rule that writes: only the guard, which knows them by
    // their identity, can keep them out.
    if (held != CallsHeld::Every &&
        (layout->readOnlyFileLinkedElsewhere || anotherMountReaches(paths)))
        held = CallsHeld::Every;

    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return failed(QStringLiteral("cannot set no_new_privs"), errno);
    if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0)
        return failed(QStringLiteral("cannot enforce the Landlock ruleset"), errno);

    std::optional<UniqueFd> listener = installFilter(abi, held, &error);
    if (!listener) { // Landlock stays: the folders are out of reach, just never asked about
        return failed(QStringLiteral("cannot install the seccomp filter"), error);
    }
    return std::move(*listener);
}

} // namespace pellim
