// SPDX-License-Identifier: GPL-3.0-or-later
#include "sys/EarlyDisplay.h"

#include <QFileInfo>
#include <QLibraryInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pellim {

namespace {

QByteArray environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? QByteArray(value) : QByteArray();
}

// Where libwayland would connect for WAYLAND_DISPLAY: an absolute path as it
// is, a name inside XDG_RUNTIME_DIR. Empty when there is none.
QByteArray waylandSocketPath() {
    QByteArray name = environment("WAYLAND_DISPLAY");
    if (name.isEmpty())
        return {};
    if (name.startsWith('/'))
        return name;
    const QByteArray runtime = environment("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QByteArray() : runtime + '/' + name;
}

bool waylandPluginInstalled() {
    return QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                             QStringLiteral("/platforms/libqwayland-generic.so"));
}

int connectTo(const QByteArray &path) {
    sockaddr_un address{};
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int done;
    do
        done = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    while (done < 0 && errno == EINTR);
    if (done < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

EarlyDisplay connectDisplayEarly() {
    EarlyDisplay display;
    const QByteArray platform = environment("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("wayland"))
        return display;
    // Handed in by whoever started Pellim: already the compositor's connection.
    bool isNumber = false;
    const int given = environment("WAYLAND_SOCKET").toInt(&isNumber);
    if (isNumber && given >= 0 && ::fcntl(given, F_GETFD) >= 0 && waylandPluginInstalled()) {
        display.kind = EarlyDisplay::Kind::Wayland;
        display.waylandFd = given;
        // Made to the session's compositor by whoever handed it in (Pellim's
        // guard, which connects for Pellim before confining it), as far as
        // the environment says.
        const QByteArray path = waylandSocketPath();
        display.waylandSocket = path.isEmpty() ? QByteArray("WAYLAND_SOCKET") : path;
    } else {
        const QByteArray path = waylandSocketPath();
        if (path.isEmpty() || !waylandPluginInstalled())
            return display;
        const int fd = connectTo(path);
        if (fd < 0)
            return display; // no compositor there: X11, if anything
        display.kind = EarlyDisplay::Kind::Wayland;
        display.waylandFd = fd;
        display.waylandSocket = path;
        ::setenv("WAYLAND_SOCKET", QByteArray::number(fd).constData(), 1);
    }
    if (platform.isEmpty())
        ::setenv("QT_QPA_PLATFORM", "wayland", 1);
    // Pellim draws its widgets into shared memory and never uses OpenGL; Qt's
    // default buffer integration would still load EGL and the GPU's driver at
    // every start, which costs more than the rest of the start together
    // (Qt then says once that it found no integration of that name).
    ::setenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION", "shm-only", 0);
    return display;
}

void leaveEarlyDisplay(const EarlyDisplay &display) {
    if (display.waylandFd >= 0)
        ::close(display.waylandFd);
    ::unsetenv("WAYLAND_SOCKET");
}

} // namespace pellim
