// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/CallReader.h"
#include "sys/Descriptor.h"

#include <cstdint>

#include <sys/types.h>

namespace pellim {

// What goes back to the caller of a held call.
struct Reply {
    bool goOn = false; // the call runs in the caller after all
    int error = 0;
    long long value = 0;
    UniqueFd fd; // handed over as the call's result
    bool cloexec = false;
    bool later = false; // not answered yet: waits for a question on screen
    static Reply waiting() {
        Reply r;
        r.later = true;
        return r;
    }
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

// A held call done by the guard on what it walked, so that a path the caller
// changes meanwhile changes nothing. `umask` is the caller's; `ownUmask` the
// guard's, which the kernel applies on top and which is undone where it took
// more than the caller's. `lastNoLink`: the walk saw the path's last component
// itself, not a link (then O_NOFOLLOW and O_EXCL need no second walk).
Reply performOpen(const HeldRequest &request, const Walked &object, mode_t umask, mode_t ownUmask,
                  bool lastNoLink = false);
Reply performTruncate(const Walked &object, long long length);
// Making a folder or node, removing an entry, making a link that says something.
Reply performEntry(const HeldRequest &request, const Walked &entry, mode_t umask, mode_t ownUmask);
// Renaming or hard-linking `from` to `to`.
Reply performMove(const HeldRequest &request, const Walked &from, const Walked &to);

// Changing the mode, owner, times or extended attributes of `object`: followed
// to its end, or, with `request.followLast` false, the entry itself (`object`
// from walkEntry).
Reply performMetadata(const HeldRequest &request, const Walked &object);
// Adding an inotify watch or fanotify mark on `object` to the caller's own
// descriptor, taken from process `tgid`; an inotify watch's number is the result.
Reply performWatch(const HeldRequest &request, pid_t tgid, const Walked &object);

// Answers held call `id` on `listener`: an open's descriptor is installed in
// the caller as the call's result.
void sendReply(int listener, std::uint64_t id, Reply &reply);

} // namespace pellim
