// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/SocketDoors.h"
#include "sys/Descriptor.h"
#include "sys/Result.h"

#include <QByteArray>

#include <memory>

#include <sys/types.h>

namespace pellim {

// The program's session bus: a dbus-daemon of its own, started by the guard,
// on which nothing of the person's session is reachable and nothing can be
// started (no service folders: a call to a name nobody owns fails at once).
// The guard owns the file chooser portal's name on it before the program is
// told the address.
// The guard binds the listening socket itself, in the sealed bus folder, and
// hands it to the daemon (socket activation), so a connect made before the
// daemon is up waits in the socket's queue instead of failing. The daemon
// ends with the guard (PR_SET_PDEATHSIG), and the guard removes its socket.
class PrivateBus {
public:
    static Result<std::unique_ptr<PrivateBus>>
    start(const QByteArray &folder, const QByteArray &program = "/usr/bin/dbus-daemon");
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // "unix:path=<folder>/session"
    const QByteArray &address() const { return m_address; }
    // The bus's socket for the program's connect list, pinned already.
    std::optional<AllowedSocket> socket() const;

private:
    PrivateBus() = default;

    QByteArray m_path;
    QByteArray m_address;
    pid_t m_pid = -1;
};

} // namespace pellim
