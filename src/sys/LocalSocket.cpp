// SPDX-License-Identifier: GPL-3.0-or-later
#include "sys/LocalSocket.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>

namespace pellim {

Result<UniqueFd> bindLocalSocket(const QByteArray &path, int type) {
    sockaddr_un address{};
    if (path.isEmpty() || path.contains('\0') ||
        std::size_t(path.size()) >= sizeof address.sun_path)
        return Failure{QStringLiteral("the socket's path is too long"), ENAMETOOLONG};
    UniqueFd socket(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    if (!socket.isValid())
        return Failure{QStringLiteral("cannot make a socket"), errno};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()) + 1);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return Failure{QStringLiteral("cannot make the socket ") + QString::fromLocal8Bit(path),
                       errno};
    if ((type & 0xf) == SOCK_STREAM && ::listen(socket.get(), SOMAXCONN) != 0)
        return Failure{QStringLiteral("cannot listen on the socket"), errno};
    return socket;
}

} // namespace pellim
