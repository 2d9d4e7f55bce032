// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/HeldCalls.h"
#include "confine/Perform.h"
#include "sys/Descriptor.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <optional>
#include <set>
#include <vector>

#include <sys/types.h>

namespace pellim {

class Caller;

// A local socket the confined process may connect to. Any other one could be a
// door to an unconfined program that does the work for it: a session bus that
// starts services, an agent, a shell.
struct AllowedSocket {
    // The address as a caller spells it: a path, or a NUL and an abstract name.
    QByteArray name;
    // A path socket opened (O_PATH) when the list was made: the connection is
    // made to that socket, whatever the path names by then. None for an
    // abstract name, which only its owner can hold.
    UniqueFd pinned;
    QString what; // for messages: "the journal", "the display", ...
    // For a socket that may not be listening yet (the guard's proxies): gives
    // the pinned socket when first connected to, or nothing (refused).
    std::function<UniqueFd()> pinLater;
};

// The sockets of this session that Pellim has a use for: the journal's, the
// display's (X11: its path and abstract socket; Wayland: the compositor's), and
// `extra` (the guard's own bus proxies). With `waylandPreconnected`, Pellim
// holds its Wayland connection already and no display socket is listed: no way
// back to an X server, through which any client can send input.
// Those that do not exist are left out.
std::vector<AllowedSocket> sessionSockets(const QProcessEnvironment &environment,
                                          std::vector<AllowedSocket> extra,
                                          bool waylandPreconnected = false);
// One path socket, pinned now; nothing when it is not there.
std::optional<AllowedSocket> pinnedSocket(const QByteArray &path, const QString &what);
// The same for a socket opened already (O_PATH): nothing when it is not a socket.
std::optional<AllowedSocket> pinnedSocket(UniqueFd pinned, const QByteArray &path,
                                          const QString &what);

// Decides the held socket calls:
// - connect: on a local socket, only to an allowed address, and made here on
//   the caller's own socket (a duplicate of its descriptor) to the pinned socket,
//   so that neither the address nor the descriptor can be swapped after the
//   decision. On any other socket (the network) it is made here as asked.
// - a datagram sent with an address on a local socket: refused. Pellim's own
//   datagrams (the journal's) go on a connected socket, with no address.
// - everything else goes on.
//
// A connection made here is the guard's in its peer's eyes (SO_PEERCRED). That
// is true only where it matters nothing: a datagram socket's peer sees the
// sender of each datagram, and the bus proxies are the guard's own.
class SocketDoors {
public:
    explicit SocketDoors(std::vector<AllowedSocket> allowed);

    // Told once for each address refused, with its printable form, for the
    // first kNamedRefusals addresses; then once more with "further local
    // sockets" and no more. A program that tries a new address on each call
    // would otherwise fill the journal and the guard's memory without end.
    static constexpr std::size_t kNamedRefusals = 32;
    void onRefused(std::function<void(const QString &address)> observer) {
        m_refused = std::move(observer);
    }
    const std::vector<AllowedSocket> &allowed() const { return m_allowed; }

    // `stillValid` says whether the call is still waiting: checked after the
    // caller's memory is read and before anything is done for it.
    Reply answer(const HeldCall &row, const unsigned long long (&args)[6], Caller &caller,
                 const std::function<bool()> &stillValid);

private:
    Reply connect(const HeldCall &row, const unsigned long long (&args)[6], Caller &caller,
                  const std::function<bool()> &stillValid);
    Reply refuse(const QByteArray &name);

    std::vector<AllowedSocket> m_allowed;
    std::function<void(const QString &)> m_refused;
    std::set<QByteArray> m_told;
    bool m_toldFurther = false;
};

// An address as a person reads it: a path, or "@" and an abstract name with
// unprintable bytes escaped.
QString printableSocketName(const QByteArray &name);

} // namespace pellim
