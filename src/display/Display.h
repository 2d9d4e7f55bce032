// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QStringList>

#include <memory>

class QWindow;

namespace pellim {

// What the display of a QGuiApplication is, and what it lets any program do.
struct DisplayFacts {
    enum class Kind { Other, X11, Wayland };
    Kind kind = Kind::Other;
    // Wayland: each global the compositor offers this client, "interface version".
    QStringList globals;
    // Wayland: the protocols among them through which one client sends input to
    // the windows of another ("virtual keyboard", "virtual pointer", ...).
    QStringList inputForOthers;
    // Wayland: xdg-foreign (v2), by which one client's window becomes the
    // parent of another client's.
    bool foreignParents = false;
};

// Asks the display: on Wayland, one round trip of its own on a queue of its
// own, beside Qt's. Needs a QGuiApplication.
DisplayFacts displayFacts();

// Qt 6.4, given AT_SPI_BUS_ADDRESS, says "accessibility on" before its bridge
// listens, so the bridge never registers the application and a screen reader
// finds nothing. Said again once the event loop runs, the bridge registers.
// (Said twice, as by a later Qt, it changes nothing.) Needs a QGuiApplication.
void announceAccessibility();

// Pellim's side of xdg-foreign: a handle by which another client may make its
// windows children of `window`, made once per shown window and kept as long as
// it stays shown. Empty when the platform is not Wayland, the compositor has
// no xdg-foreign, or `window` is not shown.
QByteArray exportedHandle(QWindow *window);

// The guard's side: makes windows children of a window another client
// exported. One per process, made after its QGuiApplication and destroyed
// before it.
class ForeignParents {
public:
    // Null when the platform is not Wayland or the compositor has no xdg-foreign.
    static std::unique_ptr<ForeignParents> create();
    ~ForeignParents();

    // Makes `child` (a top-level window of this process) a child of the
    // window `handle` names, each time it is shown, until `child` is destroyed
    // or this is called for it again.
    void setParent(QWindow *child, const QByteArray &handle);

    struct State;

private:
    explicit ForeignParents(std::shared_ptr<State> state);
    std::shared_ptr<State> m_state;
};

} // namespace pellim
