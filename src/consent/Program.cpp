// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/Program.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace pellim {

namespace {

// glibc's execvp looks here when PATH is unset.
constexpr char kDefaultSearchPath[] = "/bin:/usr/bin";

QString fileNameOf(const QByteArray &path) {
    return QFile::decodeName(path.mid(path.lastIndexOf('/') + 1));
}

// The file `candidate` reaches, resolved, if it is an executable regular file.
Result<QByteArray> executableAt(const QByteArray &candidate) {
    char resolved[PATH_MAX];
    if (!::realpath(candidate.constData(), resolved))
        return Failure{QStringLiteral("cannot find %1").arg(QFile::decodeName(candidate)), errno};
    struct stat st {};
    if (::stat(resolved, &st) != 0)
        return Failure{QStringLiteral("cannot find %1").arg(QFile::decodeName(candidate)), errno};
    if (!S_ISREG(st.st_mode) || ::access(resolved, X_OK) != 0)
        return Failure{
            QStringLiteral("%1 is not an executable file").arg(QFile::decodeName(resolved)),
            S_ISDIR(st.st_mode) ? EISDIR : EACCES};
    return QByteArray(resolved);
}

} // namespace

Program pellimProgram(const QByteArray &path) {
    return Program{QString::fromLatin1(kAppId), QStringLiteral("Pellim"), path};
}

Program runningPellim() {
    char resolved[PATH_MAX];
    const bool found = ::realpath("/proc/self/exe", resolved);
    return pellimProgram(found ? QByteArray(resolved) : QByteArray());
}

Result<Program> resolveProgram(const QByteArray &command, const QByteArray &searchPath,
                               const QString &name) {
    // Named as the person named it ("sh"), though kept under where it leads
    // ("/usr/bin/dash"): the name is what they recognise in a prompt.
    const auto made = [&](const QByteArray &path) {
        return Program{QFile::decodeName(path), name.isEmpty() ? fileNameOf(command) : name, path};
    };
    if (command.isEmpty())
        return Failure{QStringLiteral("no program named"), ENOENT};
    if (command.contains('/')) {
        const Result<QByteArray> found = executableAt(command);
        if (!found)
            return found.failure();
        return made(*found);
    }
    // As execvp: the first folder that holds an executable file of that name;
    // an empty entry is the current folder.
    Failure last{QStringLiteral("%1: command not found").arg(QFile::decodeName(command)), ENOENT};
    const QByteArray folders = searchPath.isEmpty() ? QByteArray(kDefaultSearchPath) : searchPath;
    for (const QByteArray &folder : folders.split(':')) {
        const QByteArray candidate = (folder.isEmpty() ? QByteArray(".") : folder) + '/' + command;
        struct stat st {};
        if (::stat(candidate.constData(), &st) != 0)
            continue;
        const Result<QByteArray> found = executableAt(candidate);
        if (found)
            return made(*found);
        last = found.failure();
    }
    return last;
}

} // namespace pellim
