// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/Confinement.h"

#include "confine/HeldCalls.h"

#include <QFile>

#include <dirent.h>
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

// What a read-only folder's rule allows: reading its files and listing it.
constexpr __u64 kReadRights = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;

bool contains(const std::vector<FileIdentity> &ids, FileIdentity id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

FileIdentity identityOf(const struct stat &st) {
    return FileIdentity{st.st_dev, st.st_ino};
}

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

using RuleSink = std::function<bool(int fd, bool isFolder, bool readOnly)>;

// Climbs from each kept-out folder, and from the folder holding each read-only
// item, to the root (the way the kernel's ".." goes, across mounts), then lists
// every folder met on the way.
std::optional<ConfinementLayout> layoutOf(const KeptOutPaths &paths, const RuleSink &ruleFor,
                                          int *error) {
    const auto failed = [error](int e) -> std::optional<ConfinementLayout> {
        if (error)
            *error = e;
        return std::nullopt;
    };
    ConfinementLayout layout;
    std::vector<UniqueFd> folders;
    for (const QByteArray &path : paths.keptOut()) {
        const std::optional<Walked> walked = walkPath(path);
        if (!walked || !walked->exists || !walked->isFolder)
            continue;
        UniqueFd fd = openWalked(*walked, O_PATH | O_DIRECTORY);
        if (!fd.isValid())
            return failed(errno);
        layout.keptOut.push_back(walked->identity);
        folders.push_back(std::move(fd));
    }
    // A read-only item's folder gets no rule of its own, so that the item's rule
    // is the only one that covers it.
    std::vector<UniqueFd> holders;
    for (const QByteArray &path : paths.readOnly) {
        // The nearest folder on the way that exists holds the item, or the
        // first missing folder towards it: that name may not be made either.
        QByteArray item = path;
        std::optional<Walked> folder;
        qsizetype slash = -1;
        while ((slash = item.lastIndexOf('/')) > 0) {
            folder = walkPath(item.left(slash));
            if (folder && folder->exists)
                break;
            item = item.left(slash);
        }
        if (slash <= 0 || !folder || !folder->exists || !folder->isFolder)
            continue;
        UniqueFd fd = openWalked(*folder, O_PATH | O_DIRECTORY);
        struct stat st {};
        if (!fd.isValid())
            return failed(errno);
        const QByteArray name = item.mid(slash + 1);
        if (::fstatat(fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            layout.readOnly.push_back(identityOf(st));
        else if (errno == ENOENT)
            layout.readOnlyNames.push_back({folder->identity, name});
        else
            return failed(errno);
        holders.push_back(std::move(fd));
    }
    std::vector<UniqueFd> above; // open descriptors of layout.ancestors, same order
    const auto climbFrom = [&](int start, bool includeStart) -> bool {
        std::vector<std::pair<FileIdentity, UniqueFd>> climb;
        if (includeStart) {
            struct stat st {};
            if (::fstat(start, &st) != 0)
                return false;
            if (contains(layout.keptOut, identityOf(st)))
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
            if (contains(layout.keptOut, identityOf(st)))
                return true; // that one's own climb covers the rest
            climb.emplace_back(identityOf(st), std::move(up));
            at = climb.back().second.get();
        }
        for (auto &[id, fd] : climb) {
            if (!contains(layout.ancestors, id)) {
                layout.ancestors.push_back(id);
                above.push_back(std::move(fd));
            }
        }
        return true;
    };
    for (const UniqueFd &folder : folders)
        if (!climbFrom(folder.get(), false))
            return failed(errno);
    for (const UniqueFd &holder : holders)
        if (!climbFrom(holder.get(), true))
            return failed(errno);
    for (const UniqueFd &folder : above) {
        UniqueFd listing(::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        DIR *dir = listing.isValid() ? ::fdopendir(listing.get()) : nullptr;
        if (!dir)
            return failed(errno);
        listing.release(); // closedir closes it
        const std::unique_ptr<DIR, int (*)(DIR *)> owner(dir, ::closedir);
        while (const dirent *entry = ::readdir(dir)) {
            const char *name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            UniqueFd fd(::openat(::dirfd(dir), name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
            struct stat st {};
            if (!fd.isValid() || ::fstat(fd.get(), &st) != 0) {
                if (errno == ENOENT)
                    continue; // gone meanwhile
                return failed(errno);
            }
            // A rule on a link would cover what it points at, wherever that is.
            if (S_ISLNK(st.st_mode) || contains(layout.ancestors, identityOf(st)) ||
                contains(layout.keptOut, identityOf(st)))
                continue;
            const bool readOnly = contains(layout.readOnly, identityOf(st));
            if (!readOnly)
                layout.allowed.push_back(identityOf(st));
            if (ruleFor && !ruleFor(fd.get(), S_ISDIR(st.st_mode), readOnly))
                return failed(errno);
        }
    }
    return layout;
}

// The calls that name a place in the file system go to the supervisor (the
// held-call table), everything else runs. A call of another architecture's
// (int 0x80 from a 64-bit process, an x32 call) would bypass the numbers, so it
// ends the process. Loading sets no_new_privs too. The listener is the caller's
// to own and hand over.
std::optional<UniqueFd> installFilter(int *error) {
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
    for (const HeldCallTable::Entry &held : calls.entries()) {
        const int set = held.call->heldIfSet;
        if (const int rc = set == kNoArg
                               ? ::seccomp_rule_add(filter.get(), SCMP_ACT_NOTIFY, held.nr, 0)
                               : ::seccomp_rule_add(filter.get(), SCMP_ACT_NOTIFY, held.nr, 1,
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

} // namespace

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
        return QStringLiteral("Landlock cannot be used: %1").arg(errorText(-abi));
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

std::optional<ConfinementLayout> mapKeptOut(const KeptOutPaths &paths, int *error) {
    return layoutOf(paths, {}, error);
}

std::variant<UniqueFd, ConfinementError> confineSelf(const KeptOutPaths &paths) {
    const auto failed = [](const QString &what, int error) {
        return ConfinementError{what + QStringLiteral(": ") + errorText(error)};
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
        rule.allowed_access = readOnly   ? (isFolder ? kReadRights : LANDLOCK_ACCESS_FS_READ_FILE)
                              : isFolder ? rights
                                         : (rights & kFileRights);
        rule.parent_fd = fd;
        return ::syscall(SYS_landlock_add_rule, ruleset.get(), LANDLOCK_RULE_PATH_BENEATH, &rule,
                         0) == 0;
    };
    if (!layoutOf(paths, addRule, &error))
        return failed(QStringLiteral("cannot map the folders to keep out"), error);

    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return failed(QStringLiteral("cannot set no_new_privs"), errno);
    if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0)
        return failed(QStringLiteral("cannot enforce the Landlock ruleset"), errno);

    std::optional<UniqueFd> listener = installFilter(&error);
    if (!listener) { // Landlock stays: the folders are out of reach, just never asked about
        return failed(QStringLiteral("cannot install the seccomp filter"), error);
    }
    return std::move(*listener);
}

} // namespace pellim
