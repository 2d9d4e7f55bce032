// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/HeldCalls.h"
#include "paths/PathWalk.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

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
    // For messages only, so made only when one is written.
    QByteArray shown() const;
};

// The calling thread of a held call: its memory, read with process_vm_readv
// (the kernel checks, as for /proc/TID/mem, that the guard may trace it).
class Caller {
public:
    explicit Caller(pid_t tid) : m_tid(tid) {}
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
    std::optional<ThreadStatus> m_status;
};

// One held call, as read from the caller.
struct HeldRequest {
    HeldOp op = HeldOp::Open;
    int flags = 0;
    mode_t mode = 0;
    unsigned dev = 0;
    long long length = 0;
    QByteArray linkText; // symlink: what the new link says
    PathArg a, b;        // b: the new name of rename and link, the link of symlink
};

// Reads the call `row` describes from its arguments and the caller's memory.
// False when it cannot be read, or is a form the kernel is left to judge
// (O_PATH, openat2's resolve rules, a link by descriptor): Landlock still keeps
// the kept-out folders out of reach for those.
bool readRequest(const HeldCall &row, const unsigned long long (&args)[6], Caller &caller,
                 HeldRequest &request);

// What open() reaches: links followed to the end.
std::optional<Walked> walkObject(const PathArg &arg);

// An entry to make, remove, rename or link: its folder is walked, the entry
// itself is not followed. Odd last components ("." and "..", a trailing slash
// where no folder is meant) are left to the kernel, which refuses them.
bool walkEntry(const PathArg &arg, bool folderMeant, Walked &out, bool &isLink);

} // namespace pellim
