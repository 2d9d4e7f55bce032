// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/UserFolders.h"

#include <QByteArrayList>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pellim {

namespace {

// user-dirs.dirs is a dozen short lines; more than this is not that file.
constexpr qsizetype kMaxSettingsBytes = 64 * 1024;

bool isAbsolute(const QByteArray &path) {
    return path.startsWith('/');
}

QByteArray environmentPath(const char *name) {
    const QByteArray value = qgetenv(name);
    return isAbsolute(value) ? value : QByteArray();
}

// The whole file, or nothing when it is missing, unreadable, not a regular file
// (a FIFO must not hang the caller) or far too big.
QByteArray readSettings(const QByteArray &path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    QByteArray bytes;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    while (ok && bytes.size() <= kMaxSettingsBytes) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes.append(buffer, n);
    }
    ::close(fd);
    return ok && bytes.size() <= kMaxSettingsBytes ? bytes : QByteArray();
}

// `home` followed by `rest` ("" or "/..."), without a doubled slash for a home of "/".
QByteArray underHome(const QByteArray &home, const QByteArray &rest) {
    return (home.endsWith('/') ? home.chopped(1) : home) + rest;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The folder one line names for `name`, or nothing when the line is about another
// setting or its value is not valid. The value is in double quotes; a backslash
// takes the next character literally, as xdg-user-dirs writes it.
std::optional<QByteArray> parseLine(const QByteArray &line, const QByteArray &name,
                                    const QByteArray &home) {
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < line.size() && isBlank(line[i]))
            ++i;
    };
    skipBlanks();
    if (line.mid(i, name.size()) != name)
        return std::nullopt;
    i += name.size();
    skipBlanks();
    if (i >= line.size() || line[i] != '=')
        return std::nullopt;
    ++i;
    skipBlanks();
    if (i >= line.size() || line[i] != '"')
        return std::nullopt;
    ++i;
    QByteArray value;
    bool closed = false;
    for (; i < line.size(); ++i) {
        char c = line[i];
        if (c == '"') {
            closed = true;
            break;
        }
        if (c == '\\' && i + 1 < line.size())
            c = line[++i];
        value.append(c);
    }
    // A line cut short (no closing quote) may be a half-written file: not trusted.
    if (!closed || value.contains('\0'))
        return std::nullopt;

    static const QByteArray kHome = QByteArrayLiteral("$HOME");
    QByteArray path;
    if (value.startsWith(kHome) && (value.size() == kHome.size() || value[kHome.size()] == '/')) {
        if (home.isEmpty())
            return std::nullopt;
        path = underHome(home, value.mid(kHome.size()));
    } else if (isAbsolute(value)) {
        path = value;
    } else {
        return std::nullopt; // relative or empty: it would depend on the working folder
    }
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

} // namespace

QByteArray homeFolder() {
    return environmentPath("HOME");
}

QByteArray userDirsFile() {
    const QByteArray home = homeFolder();
    QByteArray config = environmentPath("XDG_CONFIG_HOME");
    if (config.isEmpty() && !home.isEmpty())
        config = underHome(home, "/.config");
    return config.isEmpty() ? QByteArray() : underHome(config, "/user-dirs.dirs");
}

std::array<QByteArray, kGuardedFolders.size()> userFolderLocations() {
    const QByteArray home = homeFolder();
    const QByteArray file = userDirsFile();
    std::array<std::optional<QByteArray>, kGuardedFolders.size()> chosen;
    if (!file.isEmpty()) {
        const QByteArray settings = readSettings(file);
        for (const QByteArray &line : settings.split('\n')) {
            for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
                if (std::optional<QByteArray> path =
                        parseLine(line, QByteArray(kGuardedFolderTable[i].setting), home))
                    chosen[i] = std::move(path);
            }
        }
    }
    std::array<QByteArray, kGuardedFolders.size()> locations;
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
        if (chosen[i])
            locations[i] = *chosen[i];
        else if (!home.isEmpty())
            locations[i] = underHome(home, QByteArray("/") + kGuardedFolderTable[i].defaultName);
    }
    return locations;
}

QByteArray userFolderLocation(GuardedFolder folder) {
    return userFolderLocations()[static_cast<std::size_t>(folder)];
}

} // namespace pellim
