// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include <sys/types.h>

typedef struct xcb_connection_t xcb_connection_t;

namespace pellim {

// Whether the X server says `window` was made by a client of process `pid`
// (the X-Resource extension's client ids). A window property such as
// _NET_WM_PID would not do: any client may write it on any window. False when
// the server cannot tell: the extension is missing, the window is gone, its
// client is not local, or the server has not answered within a second.
bool windowOfProcess(xcb_connection_t *connection, std::uint64_t window, pid_t pid);

// Whether `window` was made on `connection` itself (its ids are the
// connection's own range).
bool windowOfConnection(xcb_connection_t *connection, std::uint64_t window);

} // namespace pellim
