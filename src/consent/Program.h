// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/Log.h"
#include "sys/Result.h"

#include <QByteArray>
#include <QString>

namespace pellim {

// A program the guard answers for. Its answers are kept under `id`: Pellim's
// under its application id, any other's under the resolved path of the file
// named on its command line (a script's own path, not its interpreter's), so
// that a program is known by where it lies, never by a name it gives itself.
struct Program {
    QString id;      // the key of its answers
    QString name;    // as the person is shown it: "npm", or the name asked for
    QByteArray path; // the executable or script, resolved (links followed)

    bool isPellim() const { return id == QLatin1String(kAppId); }
};

// Pellim itself, run from `path`.
Program pellimProgram(const QByteArray &path);

// Pellim, run from this process's executable (/proc/self/exe, resolved).
Program runningPellim();

// What `command` names, found as execvp finds it: a name without a slash is
// looked up in each folder of `searchPath` (PATH; empty: the system's default
// one) for an executable regular file; a name with a slash is taken as it is,
// relative to the current folder. The result is resolved (links followed,
// "." and ".." gone). `name` is shown where given, else the last component of
// `command` as it was given ("sh", though it leads to /usr/bin/dash).
// A failure when nothing executable is found.
[[nodiscard]] Result<Program>
resolveProgram(const QByteArray &command, const QByteArray &searchPath, const QString &name = {});

} // namespace pellim
