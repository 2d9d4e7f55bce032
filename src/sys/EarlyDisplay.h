// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

namespace pellim {

// Pellim's display, chosen before it confines itself. Under a Wayland session
// Pellim connects to the compositor then, while every connect still goes
// through, and hands the connection to Qt in WAYLAND_SOCKET: the compositor
// sees Pellim as its client, and once confined Pellim needs no display socket
// at all (neither the compositor's nor the X server's).
struct EarlyDisplay {
    enum class Kind { X11, Wayland };
    Kind kind = Kind::X11;
    // The connection handed to Qt; from then on Qt owns it. -1: none.
    int waylandFd = -1;
    // The socket it was made to, for what Pellim says about its display.
    QByteArray waylandSocket;

    // Pellim's display is Wayland, and already connected: no later connect to
    // any display socket is needed.
    bool preconnectedWayland() const { return kind == Kind::Wayland && waylandFd >= 0; }
};

// Decides the display and, for Wayland, connects. Wayland when WAYLAND_DISPLAY
// (or a WAYLAND_SOCKET handed in) names one, QT_QPA_PLATFORM asks for no other
// platform, Qt's Wayland platform plugin is installed and the connect
// succeeds; QT_QPA_PLATFORM is then set to "wayland" so that Qt uses it, and
// Qt's OpenGL buffer integration is left unloaded. X11
// otherwise, as before. Call while the process has one thread.
EarlyDisplay connectDisplayEarly();

// In a process forked after connectDisplayEarly that connects by itself (the
// guard): closes the inherited connection and drops WAYLAND_SOCKET, so that
// its toolkit makes a connection of its own by WAYLAND_DISPLAY and the two
// processes never share one. Call while the process has one thread.
void leaveEarlyDisplay(const EarlyDisplay &display);

} // namespace pellim
