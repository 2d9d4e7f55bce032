// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/HeldCalls.h"
#include "paths/KeptOutPaths.h"
#include "paths/PathWalk.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

namespace pellim {

// Why this kernel cannot keep folders out of a process's reach (no Landlock, a
// Landlock too old to handle renames between folders, no seccomp user
// notification, not x86-64), or nothing when it can. Changes nothing.
std::optional<QString> confinementUnavailable();

// The running kernel's Landlock ABI, or a negative errno when it has none.
int landlockAbi();

// Landlock refuses truncation by itself (ABI 3, Linux 6.2): without it, a
// truncate that went on in the caller could meet a path changed meanwhile, so
// the guard does each one itself.
bool landlockRefusesTruncate();

// What this kernel leaves to the guard process that a newer one does itself,
// for the window's guard line and its entry ("Landlock ABI 2: ..."); nothing
// when the kernel has all the guard uses.
std::optional<QString> confinementShortfall();

// How the kept-out folders sit in the tree at one moment. Landlock rules only
// allow, and a rule covers a whole subtree: so every folder along the way from
// "/" to a kept-out folder gets no rule, and each of their other entries does.
struct ConfinementLayout {
    std::vector<FileIdentity> keptOut;   // the folders themselves, resolved
    std::vector<FileIdentity> ancestors; // every folder above one: no rule
    std::vector<FileIdentity> allowed;   // their other entries: a rule each
    std::vector<FileIdentity> readOnly;  // read-only items: a rule that only reads
    // A read-only item that does not exist: its folder and name, never to be
    // made. Whoever makes it later (the person, another program), it and all
    // in it stay read-only: `at` (O_PATH, the folder) finds it by that name.
    struct Name {
        FileIdentity folder;
        QByteArray name;
        UniqueFd at;
    };
    std::vector<Name> readOnlyNames;
    // The home folder's read-only part (see KeptOutPaths::home): its hidden
    // entries and ~/bin as they were at the start (newer ones are found by
    // name), and the writable places inside, or where each would be made.
    std::optional<FileIdentity> home;
    std::vector<FileIdentity> hiddenRoots;
    std::vector<FileIdentity> writable;
    std::vector<QByteArray> writableNames;
    // Entries with a rule that only reads, in the read-only part or items:
    // an open that only reads one may go on.
    std::vector<FileIdentity> readable;
    // A read-only file (an item, or a hidden entry of the home) has another
    // name, a hard link made before the start. Landlock's rules go
    // by place: that name may lie under a rule that writes.
    bool readOnlyFileLinkedElsewhere = false;
};

// A name in the home folder whose entry is read-only by rule: a hidden one
// (settings and code that run later) or "bin" (first on PATH for a login shell).
bool readOnlyByRule(const QByteArray &name);

// The layout as it is now, as confineSelf sees it. A kept-out folder that does
// not exist yet makes the nearest folder on its way one of the ancestors, so
// that whatever is made there later has no rule and is decided by the guard.
// A folder above that cannot be listed gets no rules below it either: the guard
// decides every call there. Links among the entries get no rule (a rule on a link
// would cover its target), so they are not in `allowed`.
// With `ruled`, it also gets an O_PATH descriptor of every entry given a rule,
// which the rule follows wherever the entry is moved.
std::optional<ConfinementLayout> mapKeptOut(const KeptOutPaths &paths, int *error = nullptr,
                                            std::vector<UniqueFd> *ruled = nullptr);

struct ConfinementError {
    QString message;
    // The kernel lacks what confinement needs (confinementUnavailable): nothing
    // was changed. Otherwise no_new_privs or Landlock may already be in force.
    bool featureMissing = false;
};

// Confines the calling process for good: no_new_privs; Landlock keeps the
// guarded and sealed folders of `paths` (and everything below) out of reach,
// and new entries directly in the folders above them, and lets the read-only
// items be read only; a seccomp filter turns every open and every call that
// makes, removes, renames or links an entry, and truncate, into a notification
// on the returned listener descriptor, which the supervising process answers
// (see Supervisor). Until someone answers, those calls wait; once the listener
// is closed they fail with ENOSYS.
//
// Send the listener to the supervising process and close it here: whoever
// holds it answers the calls (Landlock still keeps the folders out of reach).
// Call it before any thread exists: threads made earlier stay unconfined. A
// failure while mapping the folders changes nothing; later ones may leave
// no_new_privs set, or Landlock in force without a listener (say so and stop).
//
// `held`: CallsHeld::Every holds every call of the held-call table, so that
// even a raw call into a guarded folder is asked about (Pellim). With
// CallsHeld::UnseenByLandlock, the calls Landlock itself refuses in the
// guarded folders (opens, makes, removes, renames, links, and truncate from
// ABI 3) are held only when made a second time by the library preloaded into
// the program, marked as asking (AskWire.h): they run at the kernel's speed,
// and one made around that library stays refused. The calls Landlock cannot
// see are held as ever (metadata, watches, connects and sends, signals below
// ABI 6).
// Where a read-only file has another name (readOnlyFileLinkedElsewhere), or
// a kept-out folder, the home or a read-only item can be reached through
// another mount (reachedThroughAnotherMount), every call is held after all:
// only the guard knows those places by their identity.
enum class CallsHeld { Every, UnseenByLandlock };
std::variant<UniqueFd, ConfinementError> confineSelf(const KeptOutPaths &paths,
                                                     CallsHeld held = CallsHeld::Every);

// Whether what lies at `path` (resolved, no links; in the mount numbered
// `mountId`) can be reached through another mount too, as `mountInfo` (the
// text of /proc/self/mountinfo) lists them: another mount of the same file
// system that shows it, a folder above it or one inside it. Landlock's rules
// go by the place in the mount tree, so such a mount under a folder with a
// rule reaches a kept-out folder without Landlock refusing; only the guard,
// which knows the folder by its identity, sees it. A mount that is not listed
// counts as reached.
bool reachedThroughAnotherMount(const QByteArray &path, int mountId, const QByteArray &mountInfo);

// Whether a call that does `op` is held under `held` on a kernel of Landlock
// ABI `abi`, whatever its arguments; and whether it is held only when marked
// as the preloaded library's question (PELLIM_ASK_MARK).
bool heldUnder(HeldOp op, CallsHeld held, int abi);
bool askedUnder(HeldOp op, CallsHeld held, int abi);
// Whether every call of `call` is held, whatever its arguments: heldUnder, and
// below ABI 3 openat2, whose flags (O_TRUNC) the filter cannot read. Below ABI
// 3 an open to read with O_TRUNC is held too, where the flags can be read.
bool everyCallHeld(const HeldCall &call, CallsHeld held, int abi);

} // namespace pellim
