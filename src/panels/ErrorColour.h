// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QPalette>

namespace pellim {

// The red in which error text is drawn on `palette`'s `background` role: dark on a
// light theme, light on a dark one, always with at least the contrast ordinary
// text needs (4.5:1). The colour only repeats what an icon or a word already says.
QColor errorTextColour(const QPalette &palette, QPalette::ColorRole background);

} // namespace pellim
