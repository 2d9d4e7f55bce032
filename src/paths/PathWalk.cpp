// SPDX-License-Identifier: GPL-3.0-or-later
#include "paths/PathWalk.h"

#include <QList>

#include <linux/magic.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace pellim {

namespace {

// As many links as the kernel follows (MAXSYMLINKS) before ELOOP.
constexpr int kMaxLinks = 40;
// Climbing to the root ends on its own in a tree; this only stops a climb that
// someone keeps extending by moving folders around under it.
constexpr std::size_t kMaxDepth = 1 << 20;
constexpr int kPathFlags = O_PATH | O_NOFOLLOW | O_CLOEXEC;

bool onProc(int fd) {
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// A link's target as bytes; `name` "" reads the link `dir` itself is open on.
std::optional<QByteArray> readLinkAt(int dir, const char *name) {
    QByteArray buffer(4096, '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(dir, name, buffer.data(), std::size_t(buffer.size()));
        if (n < 0)
            return std::nullopt;
        if (n < buffer.size())
            return buffer.left(n);
        buffer.resize(buffer.size() * 2);
    }
}

// The magic link through which the kernel names what `fd` is open on.
QByteArray procLink(int fd) {
    return fd == AT_FDCWD ? QByteArray("/proc/self/cwd")
                          : "/proc/self/fd/" + QByteArray::number(fd);
}

// That name, for messages; the root is "" so that names can be appended.
QByteArray describe(int fd) {
    QByteArray text = readLinkAt(AT_FDCWD, procLink(fd).constData()).value_or("?");
    return text == "/" ? QByteArray() : text;
}

// Folders from the root down to `fd`'s folder, found by climbing "..".
std::optional<std::vector<FileIdentity>> chainOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    std::vector<FileIdentity> chain{identityOf(st)};
    UniqueFd here;
    for (int at = fd;;) {
        UniqueFd up(::openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!up.isValid() || ::fstat(up.get(), &st) != 0)
            return std::nullopt;
        if (identityOf(st) == chain.back())
            break; // ".." of the root is the root
        if (chain.size() >= kMaxDepth) {
            errno = ELOOP;
            return std::nullopt;
        }
        chain.push_back(identityOf(st));
        here = std::move(up);
        at = here.get();
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

// Opens one component without following it. O_DIRECTORY first, since only a
// lookup that expects a folder triggers an automount; ENOTDIR means a file or
// a link, which the second try returns as itself.
UniqueFd openComponent(int dir, const QByteArray &name, struct stat *st) {
    UniqueFd fd(::openat(dir, name.constData(), kPathFlags | O_DIRECTORY));
    if (!fd.isValid() && errno == ENOTDIR)
        fd.reset(::openat(dir, name.constData(), kPathFlags));
    if (fd.isValid() && ::fstat(fd.get(), st) != 0) {
        const int saved = errno;
        fd.reset();
        errno = saved;
    }
    return fd;
}

// Components of `text` onto the stack of what is still to walk, the next one
// last. A trailing slash asks for a folder, as a final "." does.
void pushComponents(std::vector<QByteArray> &pending, const QByteArray &text) {
    std::vector<QByteArray> parts;
    for (const QByteArray &part : text.split('/')) {
        if (!part.isEmpty())
            parts.push_back(part);
    }
    if (text.endsWith('/'))
        parts.push_back(".");
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

// The process whose /proc/PID/ folder `folder` is or lies in; nothing for a
// folder elsewhere, or /proc itself.
std::optional<pid_t> procProcessOf(int folder) {
    const std::optional<QByteArray> text = readLinkAt(AT_FDCWD, procLink(folder).constData());
    if (!text || !text->startsWith("/proc/"))
        return std::nullopt;
    const QByteArray number = text->mid(6).split('/').first();
    bool ok = false;
    const int pid = number.toInt(&ok);
    return ok && pid > 0 ? std::optional(pid_t(pid)) : std::nullopt;
}

class Walker {
public:
    explicit Walker(const ProcLinks *procLinks) : m_procLinks(procLinks) {}
    std::optional<Walked> walk(const QByteArray &path, int start);
    int error = 0;

private:
    bool fail(int e) {
        error = e;
        return false;
    }
    bool jumpTo(Walked &w, UniqueFd to);
    bool toRoot(Walked &w);
    bool goUp(Walked &w);
    std::optional<Walked> place(int fd, const struct stat &st);
    static Walked finish(Walked &w, const QByteArray &name);

    int m_links = 0;
    const ProcLinks *m_procLinks;
};

// Continues from a folder reached other than by a plain step down: its chain
// is learned by climbing, since the way it was reached says nothing about it.
bool Walker::jumpTo(Walked &w, UniqueFd to) {
    if (!to.isValid())
        return fail(errno);
    std::optional<std::vector<FileIdentity>> chain = chainOf(to.get());
    if (!chain)
        return fail(errno);
    w.chain = std::move(*chain);
    w.display = describe(to.get());
    w.parent = std::move(to);
    return true;
}

// The root is its own chain and is named "": nothing to climb or look up.
bool Walker::toRoot(Walked &w) {
    UniqueFd root(::openat(AT_FDCWD, "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!root.isValid() || ::fstat(root.get(), &st) != 0)
        return fail(errno);
    w.chain.assign(1, identityOf(st));
    w.display.clear();
    w.parent = std::move(root);
    return true;
}

bool Walker::goUp(Walked &w) {
    UniqueFd up(::openat(w.parent.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!up.isValid() || ::fstat(up.get(), &st) != 0)
        return fail(errno);
    if (identityOf(st) == w.chain.back())
        return true; // at the root, ".." stays there
    w.chain.pop_back();
    if (w.chain.empty() || w.chain.back() != identityOf(st))
        return jumpTo(w, std::move(up)); // moved since it was walked
    if (const qsizetype slash = w.display.lastIndexOf('/'); slash >= 0)
        w.display.truncate(slash);
    w.parent = std::move(up);
    return true;
}

// A magic link that ends on a file: a descriptor has no folder, so its kernel
// name is walked and kept only if it leads to the very same object.
std::optional<Walked> Walker::place(int fd, const struct stat &st) {
    const std::optional<QByteArray> text = readLinkAt(AT_FDCWD, procLink(fd).constData());
    std::optional<Walked> placed;
    if (text && text->startsWith('/'))
        placed = walk(*text, AT_FDCWD);
    if (!placed || !placed->exists || placed->identity != identityOf(st)) {
        fail(EXDEV);
        return std::nullopt;
    }
    return placed;
}

Walked Walker::finish(Walked &w, const QByteArray &name) {
    w.name = name;
    if (name == ".") {
        w.exists = w.isFolder = true;
        w.identity = w.chain.back();
        if (w.display.isEmpty())
            w.display = "/";
    } else {
        w.display += "/" + name;
    }
    return std::move(w);
}

std::optional<Walked> Walker::walk(const QByteArray &path, int start) {
    if (path.isEmpty() || path.contains('\0')) {
        fail(path.isEmpty() ? ENOENT : EINVAL); // a NUL would cut the name short
        return std::nullopt;
    }
    Walked w;
    if (path.startsWith('/')
            ? !toRoot(w)
            : !jumpTo(w, UniqueFd(::openat(start, ".", O_PATH | O_DIRECTORY | O_CLOEXEC))))
        return std::nullopt;
    std::vector<QByteArray> pending;
    pushComponents(pending, path);
    while (!pending.empty()) {
        const QByteArray name = std::move(pending.back());
        pending.pop_back();
        const bool last = pending.empty();
        if (name == "." || name == "..") {
            if (name == ".." && !goUp(w))
                return std::nullopt;
            if (last)
                return finish(w, ".");
            continue;
        }
        struct stat st {};
        if (last) {
            // Most last components are plain files: their identity is all the
            // walk needs. Folders (automount points) and links go on below.
            if (::fstatat(w.parent.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT)
                    return finish(w, name); // missing: exists stays false
                fail(errno);
                return std::nullopt;
            }
            if (!S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
                w.exists = true;
                w.identity = identityOf(st);
                return finish(w, name);
            }
        }
        UniqueFd fd = openComponent(w.parent.get(), name, &st);
        if (!fd.isValid()) {
            if (errno == ENOENT && last)
                return finish(w, name); // missing: exists stays false
            fail(errno);
            return std::nullopt;
        }
        if (S_ISLNK(st.st_mode)) {
            if (++m_links > kMaxLinks) {
                fail(ELOOP);
                return std::nullopt;
            }
            if (onProc(w.parent.get()) || onProc(fd.get())) {
                if (m_procLinks) {
                    const std::optional<pid_t> whose = procProcessOf(w.parent.get());
                    if (whose && !(*m_procLinks)(*whose)) {
                        fail(EACCES);
                        return std::nullopt;
                    }
                }
                // Its text may name another place than the one it reaches (another
                // mount namespace, a renamed folder): let the kernel follow it.
                UniqueFd to(::openat(w.parent.get(), name.constData(), O_PATH | O_CLOEXEC));
                if (!to.isValid() || ::fstat(to.get(), &st) != 0) {
                    fail(errno);
                    return std::nullopt;
                }
                if (!S_ISDIR(st.st_mode)) {
                    if (!last) {
                        fail(ENOTDIR);
                        return std::nullopt;
                    }
                    return place(to.get(), st);
                }
                if (!jumpTo(w, std::move(to)))
                    return std::nullopt;
                if (last)
                    return finish(w, ".");
                continue;
            }
            const std::optional<QByteArray> target = readLinkAt(fd.get(), "");
            if (!target || target->isEmpty()) {
                fail(target ? ENOENT : errno);
                return std::nullopt;
            }
            if (target->startsWith('/') && !toRoot(w))
                return std::nullopt;
            pushComponents(pending, *target);
            continue;
        }
        if (last) {
            w.exists = true;
            w.isFolder = S_ISDIR(st.st_mode);
            w.identity = identityOf(st);
            return finish(w, name);
        }
        if (!S_ISDIR(st.st_mode)) {
            fail(ENOTDIR);
            return std::nullopt;
        }
        w.chain.push_back(identityOf(st));
        w.display += "/" + name;
        w.parent = std::move(fd);
    }
    return std::nullopt; // not reached: the last component always returns
}

} // namespace

std::optional<Walked> walkPath(const QByteArray &path, int start, int *error,
                               const ProcLinks *procLinks) {
    Walker walker(procLinks);
    std::optional<Walked> walked = walker.walk(path, start);
    if (!walked && error)
        *error = walker.error;
    return walked;
}

FileIdentity identityOf(const struct stat &st) {
    return FileIdentity{st.st_dev, st.st_ino};
}

bool contains(std::span<const FileIdentity> ids, FileIdentity id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

NamedPlace placeOfName(const QByteArray &path) {
    NamedPlace place;
    if (!path.startsWith('/'))
        return place;
    if (const std::optional<Walked> walked = walkPath(path)) {
        if (walked->exists) {
            place.reached = walked->identity;
        } else if (!walked->chain.empty()) {
            // A dangling last link leads here too: making its target makes the name.
            place.holder = walked->chain.back();
            place.firstMissing = walked->name;
            place.lastMissing = true;
        }
        return place;
    }
    // A folder on the way is missing: the nearest one that exists holds the
    // first missing component.
    QByteArray missing = path;
    for (qsizetype slash; (slash = missing.lastIndexOf('/')) > 0;) {
        const std::optional<Walked> folder = walkPath(missing.left(slash));
        if (folder && folder->exists) {
            if (folder->isFolder) {
                place.holder = folder->identity;
                place.firstMissing = missing.mid(slash + 1);
            }
            return place;
        }
        missing = missing.left(slash);
    }
    return place;
}

bool atOrUnder(const Walked &target, const NamedPlace &place, bool wayCounts) {
    if (place.reached)
        return within(target, *place.reached);
    return place.holder && (place.lastMissing || wayCounts) && !target.chain.empty() &&
           target.chain.back() == *place.holder && target.name == place.firstMissing;
}

bool within(const Walked &walked, FileIdentity folder) {
    return (walked.exists && walked.identity == folder) ||
           std::find(walked.chain.begin(), walked.chain.end(), folder) != walked.chain.end();
}

std::optional<FileIdentity> innermost(const Walked &walked, std::span<const FileIdentity> guarded) {
    const auto isGuarded = [&](FileIdentity id) {
        return std::find(guarded.begin(), guarded.end(), id) != guarded.end();
    };
    if (walked.exists && isGuarded(walked.identity))
        return walked.identity;
    for (auto it = walked.chain.rbegin(); it != walked.chain.rend(); ++it) {
        if (isGuarded(*it))
            return *it;
    }
    return std::nullopt;
}

UniqueFd openWalked(const Walked &walked, int flags, mode_t mode, int *error) {
    const auto failed = [error](int e) {
        if (error)
            *error = e;
        return UniqueFd();
    };
    const bool truncate = walked.exists && (flags & O_TRUNC);
    flags = (flags & ~O_TRUNC) | O_NOFOLLOW | O_CLOEXEC;
    if (!walked.exists) {
        if (!(flags & O_CREAT))
            return failed(ENOENT);
        flags |= O_EXCL;
    }
    UniqueFd fd;
    do {
        fd.reset(::openat(walked.parent.get(), walked.name.constData(), flags, mode));
    } while (!fd.isValid() && errno == EINTR);
    if (!fd.isValid())
        return failed(errno);
    struct stat st {};
    if (walked.exists) {
        if (::fstat(fd.get(), &st) != 0)
            return failed(errno);
        if (identityOf(st) != walked.identity)
            return failed(ESTALE); // swapped between the walk and the open
    }
    if (truncate && S_ISREG(st.st_mode) && ::ftruncate(fd.get(), 0) != 0)
        return failed(errno);
    return fd;
}

namespace {

// Beyond these, everything is forgotten and learned again: a bound on memory
// and on inotify watches, not on correctness.
constexpr std::size_t kMaxRemembered = 4096;
constexpr std::size_t kMaxWatches = 8192;
// A climb longer than this is left to the full walk.
constexpr std::size_t kMaxClimb = 4096;

constexpr std::uint32_t kMoved = IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;

} // namespace

FolderChains::FolderChains()
    : m_mounts(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)),
      m_watches(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderChains::~FolderChains() = default;

std::size_t FolderChains::Hash::operator()(const Key &k) const {
    return std::hash<std::uint64_t>()(std::uint64_t(k.id.ino) * 0x9E3779B97F4A7C15ULL ^
                                      std::uint64_t(k.id.dev) ^ (k.mount << 40));
}

std::optional<FolderChains::Key> FolderChains::keyOf(int fd) const {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_MNT_ID, &sx) != 0 ||
        (sx.stx_mask & (STATX_INO | STATX_MNT_ID)) != (STATX_INO | STATX_MNT_ID))
        return std::nullopt;
    return Key{FileIdentity{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino},
               sx.stx_mnt_id};
}

bool FolderChains::reliable(int fd, std::uint64_t mount) {
    if (const auto it = m_reliableMounts.find(mount); it != m_reliableMounts.end())
        return it->second;
    static constexpr unsigned long kLocal[] = {EXT4_SUPER_MAGIC, XFS_SUPER_MAGIC, BTRFS_SUPER_MAGIC,
                                               F2FS_SUPER_MAGIC, TMPFS_MAGIC};
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    const bool local = std::find(std::begin(kLocal), std::end(kLocal),
                                 static_cast<unsigned long>(fs.f_type)) != std::end(kLocal);
    m_reliableMounts.emplace(mount, local);
    return local;
}

bool FolderChains::watch(int fd) {
    if (m_watched.size() >= kMaxWatches) {
        // Closing drops every watch at once; the descriptor numbers start over.
        m_watches.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        m_watched.clear();
        m_known.clear();
        return false;
    }
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const int wd = ::inotify_add_watch(m_watches.get(), path, kMoved);
    if (wd < 0)
        return false;
    m_watched.insert(wd);
    return true;
}

void FolderChains::forgetIfMoved() {
    pollfd signs[2] = {{m_watches.get(), POLLIN, 0}, {m_mounts.get(), POLLPRI, 0}};
    if (::poll(signs, 2, 0) == 0)
        return;
    // The watches stay (a folder watched again keeps its watch); their events go.
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = ::read(m_watches.get(), events, sizeof events);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            if (event->mask & IN_IGNORED) // the folder is gone, and its watch with it
                m_watched.erase(event->wd);
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    m_known.clear();
    m_reliableMounts.clear(); // a mount number may now name another mount
}

FolderChains::Folder *FolderChains::find(int fd) {
    if (!m_watches.isValid() || !m_mounts.isValid())
        return nullptr;
    forgetIfMoved();
    std::optional<Key> key = keyOf(fd);
    if (!key)
        return nullptr;
    if (const auto it = m_known.find(*key); it != m_known.end())
        return &it->second;
    if (m_known.size() >= kMaxRemembered)
        m_known.clear();
    // Each folder is watched before its ".." is read: a move after the watch is
    // reported, a move before it shows in what ".." gives.
    std::vector<Key> climbed; // from `fd` up
    const Folder *known = nullptr;
    UniqueFd held;
    for (int at = fd;;) {
        if (!reliable(at, key->mount) || !watch(at))
            return nullptr;
        climbed.push_back(*key);
        UniqueFd up(::openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        const std::optional<Key> above = up.isValid() ? keyOf(up.get()) : std::nullopt;
        if (!above || climbed.size() >= kMaxClimb)
            return nullptr;
        if (above->id == key->id)
            break; // ".." of the root is the root
        if (const auto it = m_known.find(*above); it != m_known.end()) {
            known = &it->second;
            break;
        }
        key = above;
        held = std::move(up);
        at = held.get();
    }
    std::vector<FileIdentity> chain = known ? known->chain : std::vector<FileIdentity>();
    Folder *result = nullptr;
    for (auto it = climbed.rbegin(); it != climbed.rend(); ++it) {
        chain.push_back(it->id);
        result = &m_known.insert_or_assign(*it, Folder{chain, {}}).first->second;
    }
    return result;
}

const QByteArray &FolderChains::displayOf(Folder &folder, int fd) {
    if (folder.display.isEmpty()) {
        folder.display = describe(fd);
        if (folder.display.isEmpty())
            folder.display = "/";
    }
    return folder.display;
}

} // namespace pellim
