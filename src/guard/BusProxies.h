// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/GuardMessages.h"
#include "confine/SocketDoors.h"
#include "sys/Descriptor.h"
#include "sys/Result.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <sys/types.h>

namespace pellim {

// The accessibility bus a confined program talks to: xdg-dbus-proxy in filter
// mode, run by the guard, passing what an application needs to be read and
// worked by a screen reader (registering its tree, the registry's event and key
// listener lists). An assistive program outside reaches the program's widgets
// through it; the program reaches no other application's, the guard's
// included. (Its session bus is a bus of its own: PrivateBus.)
// The proxy's socket lies in a folder the guard makes before the program
// confines itself and seals (no access at all), beside the program's own bus:
// nothing can be planted beside them or in their place, so they may be pinned
// when first connected to. Start-up waits for none of it: the proxy starts
// while the program starts, and the first connection to it waits until it
// listens. It stops when the guard does (its --fd).
class BusProxies {
public:
    // An address that names no bus: libdbus refuses it as it parses it, with no
    // socket made (the guard's toolkit is given it where the session has none).
    static constexpr char kNoBus[] = "disabled:";

    // The session bus `environment` names: DBUS_SESSION_BUS_ADDRESS, else the
    // runtime folder's "bus" where that is a socket; empty for none. Never
    // libdbus's last resort, autolaunch, which asks the X display.
    static QByteArray sessionBus(const QProcessEnvironment &environment);
    // The D-Bus address of the socket at `path`: "unix:path=", its bytes escaped.
    static QByteArray unixAddress(const QByteArray &path);

    // A fresh folder for the buses' sockets, in the runtime folder, or where
    // the runtime folder's name is too long for a socket's path, in a short one
    // only the person may enter (under /run/user, else /tmp).
    static Result<QByteArray> makeFolder(const QProcessEnvironment &environment);

    // Starts the proxy into `folder` for the accessibility bus `environment`
    // names: AT_SPI_BUS_ADDRESS, or else the address the session's
    // accessibility launcher on its session bus (DBUS_SESSION_BUS_ADDRESS or
    // the runtime folder's "bus") gives, when it is running (asked by the
    // proxy's own process before it becomes the proxy; with none, that
    // process ends). `folder` empty: no bus.
    static std::unique_ptr<BusProxies> start(const QProcessEnvironment &environment,
                                             const QByteArray &folder,
                                             const QByteArray &program = "/usr/bin/xdg-dbus-proxy");
    ~BusProxies();
    BusProxies(const BusProxies &) = delete;
    BusProxies &operator=(const BusProxies &) = delete;

    // For the program: the proxy's address, or why there is none.
    const GuardBuses &buses() const { return m_buses; }
    // For the guard's own toolkit: the session's accessibility bus, as given in
    // AT_SPI_BUS_ADDRESS or as the proxy's process learned it from the session
    // bus; empty where none runs, or the answer took more than a second. Never
    // what the display says: any client of it could have written that.
    QByteArray accessibilityBus();
    // The proxy's socket for the connect list, pinned when first connected
    // to, once the proxy listens.
    std::vector<AllowedSocket> sockets();
    // Told once when the proxy does not come up, with why.
    void onFailure(std::function<void(const QString &why)> observer) {
        m_failed = std::move(observer);
    }

private:
    BusProxies() = default;
    // Whether the proxy listens, waiting for it the first time.
    bool listening();

    GuardBuses m_buses;
    QByteArray m_folder;
    QByteArray m_program;
    UniqueFd m_alive;  // the proxy's --fd ends with it
    UniqueFd m_answer; // the accessibility bus's address, until read
    QByteArray m_accessibilityBus;
    pid_t m_pid = -1;
    std::optional<bool> m_listening;
    std::function<void(const QString &)> m_failed;
};

} // namespace pellim
