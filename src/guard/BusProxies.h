// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/GuardMessages.h"
#include "confine/SocketDoors.h"
#include "sys/Descriptor.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

#include <memory>
#include <vector>

#include <sys/types.h>

namespace pellim {

// The buses the confined Pellim talks to: xdg-dbus-proxy in filter mode, one
// process for the session bus and the accessibility bus, run by the guard.
// - The session bus: nothing but the bus itself. No service can be started or
//   called, no activation environment changed; Qt's widgets need none of it.
// - The accessibility bus: what an application needs to be read and worked by
//   a screen reader (registering its tree, the registry's event and key
//   listener lists). An assistive program outside reaches Pellim's widgets
//   through it; Pellim reaches no other application's, the guard's included.
// The proxy stops when the guard does (its --fd ends with this process).
class BusProxies {
public:
    // Starts the proxy for the buses `environment` names: DBUS_SESSION_BUS_ADDRESS
    // (or the runtime folder's "bus"), and AT_SPI_BUS_ADDRESS or else the address
    // the session's accessibility launcher gives, when it is running. Waits until
    // the proxy listens. Without a proxy, `buses()` names none and says why.
    static std::unique_ptr<BusProxies> start(const QProcessEnvironment &environment,
                                             const QByteArray &program = "/usr/bin/xdg-dbus-proxy");
    ~BusProxies();
    BusProxies(const BusProxies &) = delete;
    BusProxies &operator=(const BusProxies &) = delete;

    // For Pellim: the proxies' addresses, or why there are none.
    const GuardBuses &buses() const { return m_buses; }
    // The proxies' sockets, pinned as soon as they listened, for the connect
    // list; taken once.
    std::vector<AllowedSocket> takeSockets() { return std::move(m_sockets); }

private:
    BusProxies() = default;

    GuardBuses m_buses;
    QByteArray m_folder; // made here; removed with the sockets
    std::vector<QByteArray> m_paths;
    std::vector<AllowedSocket> m_sockets;
    UniqueFd m_alive; // the proxy's --fd ends with it
    pid_t m_pid = -1;
};

// The accessibility bus's address from the session bus's launcher, asked
// without starting it; empty when it is not running or does not answer.
QByteArray accessibilityBusAddress();

} // namespace pellim
