// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sys/Descriptor.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace pellim {

// What a folder or file is, whatever it is called: names can be renamed,
// linked and bind-mounted, device and inode cannot be faked by a path.
struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};
struct FileIdentityHash {
    std::size_t operator()(FileIdentity id) const noexcept {
        return std::hash<ino_t>()(id.ino) ^ (std::hash<dev_t>()(id.dev) << 1);
    }
};

// Where a path leads, found the way the kernel finds it: one component at a
// time through descriptors, link targets read as bytes, links on procfs
// ("magic" links such as /proc/PID/cwd, whose text may name another place than
// the one they reach) followed by the kernel itself. Deciding on this and then
// opening through `parent` (openWalked) means the path is not read a second
// time, so a link flipped in between changes nothing.
struct Walked {
    // O_PATH descriptor of the folder that holds `name`: the access happens here.
    UniqueFd parent;
    // The last component as raw bytes; "." when the path names `parent` itself
    // ("/", a trailing slash, a last "." or "..", a magic link to a folder).
    QByteArray name;
    bool exists = false;
    bool isFolder = false;
    FileIdentity identity; // of the final target, when it exists
    // Every folder from the root down to `parent`, as walked: a guarded folder
    // anywhere in here contains the target, however the path spelled it.
    std::vector<FileIdentity> chain;
    // Where it ended, for messages only: never open or compare this text.
    QByteArray display;
};

// Resolves `path` (absolute, or relative to the folder `start`). Links are
// followed in the last component too, as open() does; a dangling last link
// yields its target's folder and name, where O_CREAT would create it. At most
// 40 links (ELOOP beyond, as the kernel); no length limit but the kernel's per
// name and per link, since a resolved path longer than PATH_MAX still opens.
// A missing folder on the way fails with its errno, stored in `error`.
// The chain reflects the moment of the walk: a folder moved into a guarded one
// afterwards is not seen, but moving it there needs write access to the guarded
// folder already.
//
// `procLinks`, where given, says whose links in /proc/PID/ (cwd, root, fd/N, …)
// may be followed; the others fail with EACCES, as the kernel fails them for a
// process that may not look into another. A walk done on behalf of a confined
// program must not lend it the walker's own reach.
using ProcLinks = std::function<bool(pid_t)>;
std::optional<Walked> walkPath(const QByteArray &path, int start = AT_FDCWD, int *error = nullptr,
                               const ProcLinks *procLinks = nullptr);

// Whether `folder` contains the target or is the target.
bool within(const Walked &walked, FileIdentity folder);

FileIdentity identityOf(const struct stat &st);
bool contains(std::span<const FileIdentity> ids, FileIdentity id);

// Where a name, given as an absolute path, leads now. A guarded folder or a
// writable place is known by its name as well as by what it was at the start:
// one made, replaced or moved into place later is found here.
struct NamedPlace {
    std::optional<FileIdentity> reached; // what the name reaches, links followed
    // Nothing reached yet: the nearest folder on the way that exists, and the
    // first component missing in it; `lastMissing` when that component is the
    // name's own last one (the folder in which the name itself would be made).
    std::optional<FileIdentity> holder;
    QByteArray firstMissing;
    bool lastMissing = false;
};
NamedPlace placeOfName(const QByteArray &path);

// Whether `target` is or lies in what `place` reaches, or is the entry that
// would become it (its last missing component in the folder that would hold
// it). With `wayCounts`, the first missing folder on the way counts too.
bool atOrUnder(const Walked &target, const NamedPlace &place, bool wayCounts = false);

// The guarded folder that decides when several contain the target: the one
// nearest to it (the target itself counts as nearest).
std::optional<FileIdentity> innermost(const Walked &walked, std::span<const FileIdentity> guarded);

// Opens what `walked` describes without resolving any link again (O_NOFOLLOW
// relative to `parent`). An existing target must still be the object walked,
// else ESTALE; O_TRUNC waits until that check passed, so a swapped-in file is
// never truncated. A target that did not exist is created with O_EXCL, so a
// name that appeared meanwhile (a link, a hard link into a guarded folder)
// fails with EEXIST instead of being opened. The check follows the open: pass
// O_NONBLOCK where a swapped-in FIFO must not block.
UniqueFd openWalked(const Walked &walked, int flags, mode_t mode = 0, int *error = nullptr);

// The chains of folders met before, so that a folder met again need not be
// climbed: what walkPath's `chain` would hold for the folder, root first and
// the folder itself last, kept per folder and per mount it was reached through.
//
// A chain stays right as long as no folder on it is moved or removed and no
// mount changes (a bind mount puts a folder under other parents). Every folder
// remembered is watched (inotify: moved or removed); the mount table is
// watched too; any sign of either forgets everything. A folder is watched
// before its ".." is read, so a move that the reading missed is one the watch
// reports. Only file systems whose every rename passes through this kernel
// are remembered (ext2/3/4, XFS, Btrfs, F2FS, tmpfs): a network file system's
// folders can move on the server unseen.
class FolderChains {
public:
    FolderChains();
    ~FolderChains();
    FolderChains(const FolderChains &) = delete;
    FolderChains &operator=(const FolderChains &) = delete;

    struct Folder {
        std::vector<FileIdentity> chain;
        QByteArray display; // as walkPath's `display` would name it; "" until asked for
    };

    // The folder `fd` is open on, or nothing when it lies where this cannot
    // remember (then walk it in full). Forgets everything first if anything
    // remembered has moved since.
    Folder *find(int fd);
    // Its name for messages: the names on a chain change only by a move, which
    // forgets the chain, so the name is looked up once.
    static const QByteArray &displayOf(Folder &folder, int fd);

private:
    struct Key {
        FileIdentity id;
        std::uint64_t mount = 0;
        friend bool operator==(const Key &, const Key &) = default;
    };
    struct Hash {
        std::size_t operator()(const Key &k) const;
    };
    std::optional<Key> keyOf(int fd) const;
    bool reliable(int fd, std::uint64_t mount);
    bool watch(int fd);
    void forgetIfMoved();

    UniqueFd m_mounts;  // /proc/self/mountinfo: POLLPRI when the mount table changes
    UniqueFd m_watches; // inotify
    std::unordered_set<int> m_watched;
    std::unordered_map<Key, Folder, Hash> m_known;
    std::unordered_map<std::uint64_t, bool> m_reliableMounts;
};

} // namespace pellim
