// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/ConsentCommand.h"
#include "guard/ConsentStore.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// Writes all of `bytes` to `fd`; false with errno set when that fails.
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

} // namespace

// The output is gathered and written at the end, so that a failure to write it
// (a full disk, a closed pipe) is seen and turns into a failing exit status
// instead of a listing that silently went nowhere.
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QString outText;
    QString errText;
    int status;
    {
        QTextStream out(&outText);
        QTextStream err(&errText);
        pellim::ConsentStore store(pellim::ConsentStore::defaultPath());
        status = pellim::runConsentCommand(QCoreApplication::arguments().mid(1), store, out, err);
    }
    writeAll(STDERR_FILENO, errText.toUtf8());
    if (!writeAll(STDOUT_FILENO, outText.toUtf8())) {
        const QByteArray message =
            QByteArrayLiteral("pellim-consent: cannot write to standard output: ") +
            std::strerror(errno) + '\n';
        writeAll(STDERR_FILENO, message);
        return status == 0 ? 1 : status;
    }
    return status;
}
