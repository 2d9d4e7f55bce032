// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace pellim {

// A fresh name for a test file: "Pellim", a new random (version 4) UUID in upper
// case without braces, and ".txt". Every call gives a new name.
QString makeTestFileName();

} // namespace pellim
