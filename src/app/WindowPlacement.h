// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace pellim {

// Sizes and places `window`, a top-level window not yet shown, the way a
// desktop places a program's second window: beside `anchor` (the main window)
// on the anchor's screen, to its right, left, below or above, wherever it
// covers the least of the anchor; `cascade` moves it that much further down
// and right, so that windows of one kind do not hide each other. It is made no
// larger than the screen's free area, and all of it stays on screen. Without a
// visible anchor it is only kept on screen.
void placeNear(QWidget *window, const QWidget *anchor, int cascade = 0);

} // namespace pellim
