// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <optional>

namespace pellim {

// pellim's command line, in two steps around the making of the QApplication,
// which takes Qt's own options (-platform, -style, -reverse, …) out of it.
//
// First, before anything else starts: --help and --version are answered on
// standard output, with no folder guard, no display and no window. Returns the
// exit status then, nothing otherwise.
std::optional<int> answerCommandLine(int argc, char **argv);

// Then, with Qt's options gone: anything left is a usage error, told on
// standard error before any window opens (status 2).
std::optional<int> refuseUnknownArguments(const QStringList &arguments);

} // namespace pellim
