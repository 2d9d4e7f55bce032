// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sys/Descriptor.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/types.h>

#include <optional>
#include <span>
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
std::optional<Walked> walkPath(const QByteArray &path, int start = AT_FDCWD, int *error = nullptr);

// Whether `folder` contains the target or is the target.
bool within(const Walked &walked, FileIdentity folder);

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

} // namespace pellim
