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
    Truncate,
    // Changes to what an entry says of itself, which Landlock does not see: the
    // guard decides each as a write and does it itself.
    Chmod,
    Chown,
    Times,
    SetXattr,
    RemoveXattr,
    // A watch reports the names of what others make in a folder: decided as
    // listing it, and added by the guard to the caller's own watch descriptor.
    InotifyWatch,
    FanotifyMark,
    // What a socket reaches: a connection, or a datagram with an address. The
    // guard decides these on the address, not on the file system.
    Connect,
    SendTo,
    SendMsg,
    SendMmsg,
    // Signals, held below Landlock ABI 6 (whose scope keeps them in by itself):
    // by process or thread number, or through a pidfd.
    Signal,
    SignalPidfd,
};

// Whether `op` is a socket call (SocketDoors) rather than a file one.
constexpr bool isSocketOp(HeldOp op) {
    return op == HeldOp::Connect || op == HeldOp::SendTo || op == HeldOp::SendMsg ||
           op == HeldOp::SendMmsg;
}

// How a call passes the times it sets.
enum class TimesForm : std::uint8_t { Utimbuf, Timevals, Timespecs };

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
    // chown: the owner, the group after it. xattr: the name, then the value and
    // its size. Watches: the caller's inotify or fanotify descriptor and the mask.
    std::int8_t owner = kNoArg;
    std::int8_t xattrName = kNoArg;
    std::int8_t watchFd = kNoArg;
    std::int8_t mask = kNoArg;
    TimesForm times = TimesForm::Timespecs; // where `extra` points, for HeldOp::Times
    // Sockets: the descriptor; the address (sendmsg, sendmmsg: the message
    // headers) and its length (sendmmsg: how many headers); and an argument
    // without which the call is not held at all (sendto without an address
    // sends to the socket's own peer).
    std::int8_t socket = kNoArg;
    std::int8_t address = kNoArg;
    std::int8_t addressLength = kNoArg;
    std::int8_t heldIfSet = kNoArg;
    // Signals: the process (a pidfd for pidfd_send_signal; 0 and below a
    // group) and the thread.
    std::int8_t target = kNoArg;
    std::int8_t thread = kNoArg;
    // The call's number on x86-64 where libseccomp is older than the call.
    int x86_64 = -1;
};

// O_CREAT | O_WRONLY | O_TRUNC and AT_REMOVEDIR, spelled out so that this header
// pulls in no system headers.
inline constexpr int kCreatFlags = 0100 | 01 | 01000;
inline constexpr int kRemoveDirFlag = 0x200;
inline constexpr int kNoFollowFlag = 0x100; // AT_SYMLINK_NOFOLLOW

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
    HeldCall{.name = "chmod", .op = HeldOp::Chmod, .path = 0, .mode = 1},
    HeldCall{.name = "fchmodat", .op = HeldOp::Chmod, .dirfd = 0, .path = 1, .mode = 2},
    HeldCall{.name = "fchmodat2",
             .op = HeldOp::Chmod,
             .dirfd = 0,
             .path = 1,
             .flags = 3,
             .mode = 2,
             .x86_64 = 452},
    HeldCall{.name = "chown", .op = HeldOp::Chown, .path = 0, .owner = 1},
    HeldCall{
        .name = "lchown", .op = HeldOp::Chown, .path = 0, .fixedFlags = kNoFollowFlag, .owner = 1},
    HeldCall{
        .name = "fchownat", .op = HeldOp::Chown, .dirfd = 0, .path = 1, .flags = 4, .owner = 2},
    HeldCall{
        .name = "utime", .op = HeldOp::Times, .path = 0, .extra = 1, .times = TimesForm::Utimbuf},
    HeldCall{
        .name = "utimes", .op = HeldOp::Times, .path = 0, .extra = 1, .times = TimesForm::Timevals},
    HeldCall{.name = "futimesat",
             .op = HeldOp::Times,
             .dirfd = 0,
             .path = 1,
             .extra = 2,
             .times = TimesForm::Timevals},
    HeldCall{
        .name = "utimensat", .op = HeldOp::Times, .dirfd = 0, .path = 1, .flags = 3, .extra = 2},
    HeldCall{.name = "setxattr", .op = HeldOp::SetXattr, .path = 0, .flags = 4, .xattrName = 1},
    HeldCall{.name = "lsetxattr",
             .op = HeldOp::SetXattr,
             .path = 0,
             .flags = 4,
             .fixedFlags = kNoFollowFlag,
             .xattrName = 1},
    HeldCall{.name = "removexattr", .op = HeldOp::RemoveXattr, .path = 0, .xattrName = 1},
    HeldCall{.name = "lremovexattr",
             .op = HeldOp::RemoveXattr,
             .path = 0,
             .fixedFlags = kNoFollowFlag,
             .xattrName = 1},
    HeldCall{.name = "inotify_add_watch",
             .op = HeldOp::InotifyWatch,
             .path = 1,
             .watchFd = 0,
             .mask = 2},
    HeldCall{.name = "fanotify_mark",
             .op = HeldOp::FanotifyMark,
             .dirfd = 3,
             .path = 4,
             .flags = 1,
             .watchFd = 0,
             .mask = 2},
    HeldCall{
        .name = "connect", .op = HeldOp::Connect, .socket = 0, .address = 1, .addressLength = 2},
    HeldCall{.name = "sendto",
             .op = HeldOp::SendTo,
             .socket = 0,
             .address = 4,
             .addressLength = 5,
             .heldIfSet = 4},
    HeldCall{.name = "sendmsg", .op = HeldOp::SendMsg, .socket = 0, .address = 1},
    HeldCall{
        .name = "sendmmsg", .op = HeldOp::SendMmsg, .socket = 0, .address = 1, .addressLength = 2},
    HeldCall{.name = "kill", .op = HeldOp::Signal, .target = 0},
    HeldCall{.name = "tkill", .op = HeldOp::Signal, .thread = 0},
    HeldCall{.name = "tgkill", .op = HeldOp::Signal, .target = 0, .thread = 1},
    HeldCall{.name = "rt_sigqueueinfo", .op = HeldOp::Signal, .target = 0},
    HeldCall{.name = "rt_tgsigqueueinfo", .op = HeldOp::Signal, .target = 0, .thread = 1},
    HeldCall{.name = "pidfd_send_signal", .op = HeldOp::SignalPidfd, .target = 0},
};

// Calls the confined process may not make at all, and the error they give.
// io_uring performs opens, renames and xattr changes inside the kernel, where
// no filter sees them; the *at forms of the xattr calls and file_setattr are
// newer than the held table (refused as an older kernel would, so that a
// library falls back to the held forms).
struct RefusedCall {
    const char *name;
    int error;
    int x86_64 = -1;
};
inline constexpr int kEPERM = 1, kENOSYS = 38;
inline constexpr std::array kRefusedCalls = {
    RefusedCall{"io_uring_setup", kEPERM},      RefusedCall{"io_uring_enter", kEPERM},
    RefusedCall{"io_uring_register", kEPERM},   RefusedCall{"setxattrat", kENOSYS, 463},
    RefusedCall{"removexattrat", kENOSYS, 466}, RefusedCall{"file_setattr", kENOSYS, 469},
};
// On x86-64, every call from here on is newer than this table was checked
// against: refused with ENOSYS until it is, as by an older kernel.
inline constexpr int kFirstUncheckedX86_64 = 470;
inline constexpr int kLastX86_64 = 511; // x32's numbers start at 512

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
    // The refused calls with their numbers and errors.
    struct Refusal {
        int nr;
        int error;
    };
    const std::vector<Refusal> &refusals() const { return m_refusals; }

private:
    std::vector<Entry> m_entries; // sorted by number
    std::vector<Refusal> m_refusals;
};

} // namespace pellim
