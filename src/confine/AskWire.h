// SPDX-License-Identifier: GPL-3.0-or-later
// What a program's preloaded library and its guard say to each other: plain C,
// so that the library (src/preload, C, no dependencies) and the guard read the
// same layout.
//
// A program run with its calls held only where Landlock cannot see them
// (CallsHeld::UnseenByLandlock) gets this library in LD_PRELOAD and the path
// of its guard's asking socket in PELLIM_GUARD_ASK. Where Landlock refuses a
// call the library wraps (EACCES), the library asks the guard:
//
// - over a SOCK_DGRAM socket of its own process, connected to that path (a
//   connect the guard holds like any other: no other guard's program reaches
//   this one's socket), one datagram per call: a pellim_ask_request, then the
//   path's bytes, then the second path's, no NULs;
// - with, as SCM_RIGHTS in this order: the reply socket (one end of a
//   SOCK_SEQPACKET pair made for this call alone), then the folder the first
//   path is relative to (where `has_dir`), then the second's (`has_dir2`). A
//   relative path with AT_FDCWD is sent with the working folder, opened O_PATH;
// - the kernel adds the sender's credentials (SO_PASSCRED): whose umask and
//   whose /proc links count is the guard's own reading, never the library's.
//
// The guard walks and decides as for a held call, asks the person where it
// must (the reply then waits, as a held call would), and answers on the reply
// socket with one pellim_ask_reply, and for an open that it did, the
// descriptor (SCM_RIGHTS). It never waits on the program: it reads without
// blocking, and a reply that cannot be sent at once is dropped.
#ifndef PELLIM_ASK_WIRE_H
#define PELLIM_ASK_WIRE_H

#include <stdint.h>

#define PELLIM_ASK_SOCKET_VARIABLE "PELLIM_GUARD_ASK"
#define PELLIM_ASK_VERSION 1u
// The longest path either name may be, as the kernel's PATH_MAX with its NUL.
#define PELLIM_ASK_MAX_PATH 4095u

enum pellim_ask_op {
    PELLIM_ASK_OPEN = 1,    // flags: open's; mode where it creates
    PELLIM_ASK_MKDIR = 2,   // mode
    PELLIM_ASK_MKNOD = 3,   // mode, dev
    PELLIM_ASK_REMOVE = 4,  // flags: AT_REMOVEDIR for a folder, else 0
    PELLIM_ASK_RENAME = 5,  // flags: renameat2's; path2: the new name
    PELLIM_ASK_LINK = 6,    // flags: linkat's; path2: the new name
    PELLIM_ASK_SYMLINK = 7, // path: what the link says; path2 (dir2): the link to make
    PELLIM_ASK_TRUNCATE = 8 // length
};

struct pellim_ask_request {
    uint32_t version; // PELLIM_ASK_VERSION
    uint32_t op;      // enum pellim_ask_op
    int32_t flags;
    uint32_t mode;
    uint64_t dev;
    int64_t length;
    uint32_t path_size;  // bytes of the first path, after this header
    uint32_t path2_size; // bytes of the second, after the first; 0 for none
    uint32_t has_dir;    // 1: a descriptor for the first path's folder follows the reply socket
    uint32_t has_dir2;   // 1: one for the second's follows that
};

// `error` in a reply: the kernel's own answer stands (the guard found nothing
// it would do: the caller keeps the error Landlock gave).
#define PELLIM_ASK_KERNEL_ANSWER (-1)

struct pellim_ask_reply {
    int32_t error;  // 0: done (an open's descriptor comes with it); else an errno
    int32_t unused; // 0
    int64_t value;  // the call's result where it has one besides the descriptor
};

#endif
