// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace pellim {

// What a held call does to the file system, whichever call spells it.
enum class HeldOp : std::uint8_t {
    Open,
    MakeDir,
    MakeNode,
    Remove,
    Rename,
    Link,
    Symlink,
    Truncate
};

// Where a call keeps what the guard reads: argument positions, or kNoArg.
inline constexpr std::int8_t kNoArg = -1;

// One call the kernel holds until the guard has answered it. The table below is
// the only list of them: the seccomp filter is built from it, and a notification
// is read by the row of its call, so a call cannot be held without being read,
// nor read without being held.
struct HeldCall {
    const char *name; // the call's name, which libseccomp resolves for this architecture
    HeldOp op;
    std::int8_t dirfd = kNoArg;  // the folder `path` is relative to (none: the working folder)
    std::int8_t path = kNoArg;   // what is opened, made, removed, or the old name
    std::int8_t dirfd2 = kNoArg; // the same for `path2`
    std::int8_t path2 = kNoArg;  // the new name (rename, link) or the link made (symlink)
    std::int8_t flags = kNoArg;  // without one, `fixedFlags` stand for it
    std::int8_t mode = kNoArg;
    // mknod: the device; truncate: the length; symlink: what the link says;
    // openat2: its struct open_how, whose size follows it.
    std::int8_t extra = kNoArg;
    int fixedFlags = 0;
};

// O_CREAT | O_WRONLY | O_TRUNC and AT_REMOVEDIR, spelled out so that this header
// pulls in no system headers.
inline constexpr int kCreatFlags = 0100 | 01 | 01000;
inline constexpr int kRemoveDirFlag = 0x200;

inline constexpr std::array kHeldCalls = {
    HeldCall{.name = "open", .op = HeldOp::Open, .path = 0, .flags = 1, .mode = 2},
    HeldCall{.name = "openat", .op = HeldOp::Open, .dirfd = 0, .path = 1, .flags = 2, .mode = 3},
    HeldCall{.name = "openat2", .op = HeldOp::Open, .dirfd = 0, .path = 1, .extra = 2},
    HeldCall{.name = "creat", .op = HeldOp::Open, .path = 0, .mode = 1, .fixedFlags = kCreatFlags},
    HeldCall{.name = "mkdir", .op = HeldOp::MakeDir, .path = 0, .mode = 1},
    HeldCall{.name = "mkdirat", .op = HeldOp::MakeDir, .dirfd = 0, .path = 1, .mode = 2},
    HeldCall{.name = "mknod", .op = HeldOp::MakeNode, .path = 0, .mode = 1, .extra = 2},
    HeldCall{
        .name = "mknodat", .op = HeldOp::MakeNode, .dirfd = 0, .path = 1, .mode = 2, .extra = 3},
    HeldCall{.name = "unlink", .op = HeldOp::Remove, .path = 0},
    HeldCall{.name = "rmdir", .op = HeldOp::Remove, .path = 0, .fixedFlags = kRemoveDirFlag},
    HeldCall{.name = "unlinkat", .op = HeldOp::Remove, .dirfd = 0, .path = 1, .flags = 2},
    HeldCall{.name = "rename", .op = HeldOp::Rename, .path = 0, .path2 = 1},
    HeldCall{
        .name = "renameat", .op = HeldOp::Rename, .dirfd = 0, .path = 1, .dirfd2 = 2, .path2 = 3},
    HeldCall{.name = "renameat2",
             .op = HeldOp::Rename,
             .dirfd = 0,
             .path = 1,
             .dirfd2 = 2,
             .path2 = 3,
             .flags = 4},
    HeldCall{.name = "link", .op = HeldOp::Link, .path = 0, .path2 = 1},
    HeldCall{.name = "linkat",
             .op = HeldOp::Link,
             .dirfd = 0,
             .path = 1,
             .dirfd2 = 2,
             .path2 = 3,
             .flags = 4},
    HeldCall{.name = "symlink", .op = HeldOp::Symlink, .path2 = 1, .extra = 0},
    HeldCall{.name = "symlinkat", .op = HeldOp::Symlink, .dirfd2 = 1, .path2 = 2, .extra = 0},
    HeldCall{.name = "truncate", .op = HeldOp::Truncate, .path = 0, .extra = 1},
};

// The table's calls by their numbers on the running architecture. A call this
// architecture does not have (aarch64 has no plain open, say) is left out.
class HeldCallTable {
public:
    HeldCallTable();
    // The row of call number `nr`, or nothing when it is not held.
    const HeldCall *find(int nr) const;
    // Every held call with its number.
    struct Entry {
        int nr;
        const HeldCall *call;
    };
    const std::vector<Entry> &entries() const { return m_entries; }

private:
    std::vector<Entry> m_entries; // sorted by number
};

} // namespace pellim
