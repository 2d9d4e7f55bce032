// SPDX-License-Identifier: GPL-3.0-or-later
#include "sys/Descriptor.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pellim {

void UniqueFd::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int UniqueFd::close() {
    return m_fd < 0 ? 0 : ::close(release());
}

bool writeAll(int fd, const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

QString errnoText(int error) {
    // strerror() speaks the locale's language once the application has set it.
    if (const char *text = ::strerrordesc_np(error))
        return QString::fromLatin1(text);
    return QStringLiteral("error %1").arg(error);
}

} // namespace pellim
