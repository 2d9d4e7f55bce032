// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

namespace pellim {

// pellim's command line, answered before anything else starts: --help and
// --version on standard output, and a usage error (status 2) on standard error
// for anything that is neither these nor one of Qt's own options (-platform,
// -style, -reverse, …), with no folder guard, no display and no window. Returns
// the exit status then, nothing when Pellim should start.
std::optional<int> answerCommandLine(int argc, char **argv);

} // namespace pellim
