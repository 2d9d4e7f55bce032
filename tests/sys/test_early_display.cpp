// SPDX-License-Identifier: GPL-3.0-or-later
// The display Pellim picks before it confines itself: Wayland only where the
// person's settings allow it and a compositor answers, with the connection
// handed to Qt; X11 as before everywhere else. Links the core alone.
#include "sys/EarlyDisplay.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace pellim;

namespace {

// A listening socket standing in for a compositor.
int listenAt(const QByteArray &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0)
        return -1;
    return fd;
}

void setOrUnset(const char *name, const QByteArray &value) {
    if (value.isNull())
        ::unsetenv(name);
    else
        ::setenv(name, value.constData(), 1);
}

} // namespace

class EarlyDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void choice_data() {
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QByteArray>("waylandDisplay"); // "@" stands for the listening socket
        QTest::addColumn<bool>("wayland");
        QTest::newRow("a Wayland session") << QByteArray() << QByteArray("@") << true;
        QTest::newRow("Wayland asked for") << QByteArray("wayland") << QByteArray("@") << true;
        QTest::newRow("X11 asked for in a Wayland session")
            << QByteArray("xcb") << QByteArray("@") << false;
        QTest::newRow("an X11 session") << QByteArray() << QByteArray() << false;
        QTest::newRow("no compositor answers")
            << QByteArray() << QByteArray("wayland-nobody") << false;
    }
    void choice() {
        QFETCH(QByteArray, platform);
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(bool, wayland);
        if (!QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                               QStringLiteral("/platforms/libqwayland-generic.so")))
            QSKIP("Qt's Wayland platform is not installed");
        QTemporaryDir runtime;
        const QByteArray socket = QFile::encodeName(runtime.path()) + "/wayland-test";
        const int listener = listenAt(socket);
        QVERIFY(listener >= 0);
        ::setenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()).constData(), 1);
        ::unsetenv("WAYLAND_SOCKET");
        ::unsetenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION");
        setOrUnset("QT_QPA_PLATFORM", platform);
        setOrUnset("WAYLAND_DISPLAY",
                   waylandDisplay == "@" ? QByteArray("wayland-test") : waylandDisplay);

        const EarlyDisplay display = connectDisplayEarly();
        QCOMPARE(display.preconnectedWayland(), wayland);
        if (wayland) {
            QCOMPARE(display.waylandSocket, socket);
            QCOMPARE(qgetenv("WAYLAND_SOCKET"), QByteArray::number(display.waylandFd));
            QCOMPARE(qgetenv("QT_QPA_PLATFORM"), platform.isNull() ? "wayland" : platform);
            QVERIFY(::fcntl(display.waylandFd, F_GETFD) & FD_CLOEXEC);
        } else {
            // Nothing changes for an X11 start.
            QVERIFY(!qEnvironmentVariableIsSet("WAYLAND_SOCKET"));
            QCOMPARE(qgetenv("QT_QPA_PLATFORM"), platform);
            QVERIFY(!qEnvironmentVariableIsSet("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"));
        }
        // The guard's side: the connection and its variable are gone.
        leaveEarlyDisplay(display);
        QVERIFY(!qEnvironmentVariableIsSet("WAYLAND_SOCKET"));
        if (wayland)
            QCOMPARE(::fcntl(display.waylandFd, F_GETFD), -1);
        ::close(listener);
    }
};

QTEST_GUILESS_MAIN(EarlyDisplayTest)
#include "test_early_display.moc"
