// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <linux/seccomp.h>

// Newer than the installed kernel headers (Linux 6.6): the listener asks the
// kernel to wake the caller and the supervisor on one CPU.
#ifndef SECCOMP_IOCTL_NOTIF_SET_FLAGS
#define SECCOMP_IOCTL_NOTIF_SET_FLAGS SECCOMP_IOW(4, __u64)
#endif
#ifndef SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP
#define SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP (1UL << 0)
#endif
