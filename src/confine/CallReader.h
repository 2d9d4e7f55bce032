// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/HeldCalls.h"
#include "paths/PathWalk.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include <time.h>

#include <fcntl.h>
#include <sys/types.h>

namespace pellim {

// "Umask:" and "Tgid:" of a thread, from /proc/TID/status.
struct ThreadStatus {
    mode_t umask = 022;
    pid_t tgid = 0;
};
std::optional<ThreadStatus> statusOf(pid_t tid);

// A path as the caller passed it, and where a relative one starts.
struct PathArg {
    QByteArray text;   // to walk: /proc/self and the like spelled out for the caller
    QByteArray passed; // as passed
    UniqueFd start;    // invalid for an absolute path
    int startFd() const { return start.isValid() ? start.get() : AT_FDCWD; }
    // Whose /proc/PID/ links the walk may follow: the confined program's own.
    ProcLinks procLinks;
    // For messages only, so made only when one is written.
    QByteArray shown() const;
};

// The calling thread of a held call: its memory, read with process_vm_readv
// (the kernel checks, as for /proc/TID/mem, that the guard may trace it).
// A pidfd per calling thread, made when first needed and kept while it works:
// one whose thread ended (its id perhaps reused) is forgotten and made anew.
class Pidfds {
public:
    // -1 where none can be had (before Linux 6.9, only for a process's first thread).
    int of(pid_t tid);
    void forget(pid_t tid) { m_fds.erase(tid); }

private:
    std::unordered_map<pid_t, UniqueFd> m_fds;
};

class Caller {
public:
    // With `pidfds`, a descriptor the call names is taken from the thread
    // (pidfd_getfd): one call instead of a walk through /proc.
    explicit Caller(pid_t tid, Pidfds *pidfds = nullptr) : m_tid(tid), m_pidfds(pidfds) {}
    pid_t tid() const { return m_tid; }
    // One read; an unmapped or unreadable page ends it.
    ssize_t readSome(unsigned long long address, void *to, std::size_t size) const;
    bool readBytes(unsigned long long address, void *to, std::size_t size) const;
    // The NUL-terminated string at `address`, read page by page, since the page
    // after it may not be mapped; nothing when it is longer than PATH_MAX.
    std::optional<QByteArray> readString(unsigned long long address) const;
    // Read once, when first needed.
    const ThreadStatus *threadStatus();
    const ThreadStatus *knownStatus() const { return m_status ? &*m_status : nullptr; }
    // The path argument at `address`, relative to `dirfd` as the caller sees it.
    bool readPath(int dirfd, unsigned long long address, PathArg &arg);

private:
    pid_t m_tid;
    Pidfds *m_pidfds;
    std::optional<ThreadStatus> m_status;
};

// One held call, as read from the caller.
struct HeldRequest {
    HeldOp op = HeldOp::Open;
    int flags = 0;
    mode_t mode = 0;
    unsigned dev = 0;
    long long length = 0;
    QByteArray linkText;    // symlink: what the new link says
    PathArg a, b;           // b: the new name of rename and link, the link of symlink
    bool followLast = true; // the last component, where it is a link, is followed
    // chown: -1 leaves one as it is.
    unsigned uid = unsigned(-1), gid = unsigned(-1);
    // utime*: nothing means "now" for both.
    std::optional<std::array<timespec, 2>> times;
    QByteArray xattrName, xattrValue;
    int watchFd = -1; // the caller's inotify or fanotify descriptor
    unsigned long long mask = 0;
};

// Whether Landlock itself keeps the kept-out folders from `op`: then a call the
// guard cannot read goes on, and meets Landlock. Calls that change metadata or
// add a watch are seen only by the guard, so nothing of theirs may go on unread.
bool landlockSees(HeldOp op);

// What readRequest made of a call.
enum class ReadOutcome {
    Read,          // `request` holds it
    LeaveToKernel, // a form the kernel judges alone (O_PATH, openat2's resolve
                   // rules, a link by descriptor, a times change on a descriptor);
                   // Landlock keeps the kept-out folders out of reach for those
    Refuse,        // fails with `error` (unreadable memory, an odd argument)
};

// Reads the call `row` describes from its arguments and the caller's memory.
ReadOutcome readRequest(const HeldCall &row, const unsigned long long (&args)[6], Caller &caller,
                        HeldRequest &request, int *error);

// What open() reaches: links followed to the end.
std::optional<Walked> walkObject(const PathArg &arg);

// An entry to make, remove, rename or link: its folder is walked, the entry
// itself is not followed. Odd last components ("." and "..", a trailing slash
// where no folder is meant) are left to the kernel, which refuses them.
bool walkEntry(const PathArg &arg, bool folderMeant, Walked &out, bool &isLink);

} // namespace pellim
