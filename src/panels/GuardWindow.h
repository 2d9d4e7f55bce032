// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/GuardMessages.h"

#include <QString>

#include <cstdint>

class QWidget;

namespace pellim {

// The X window of `widget`'s window, for the guard to stay on top of; 0 where
// windows are not X windows.
std::uint64_t foreignWindowId(QWidget *widget);

// Names `widget`'s window in `request` as the one the guard's windows stay on
// top of: its X window, or under Wayland its xdg-foreign handle.
void nameParent(GuardRequest &request, QWidget *widget);

// The same window as a file chooser portal's request names its parent:
// "x11:<hex XID>", "wayland:<exported handle>", or "" for none.
QString portalParentOf(QWidget *widget);

} // namespace pellim
