// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/FileAccess.h"

#include <QString>

namespace pellim {

// A text longer than kPreviewLimit user-perceived characters is shown as its first
// kPreviewKept; the reader asks for one character more than the limit so it can
// tell the two apart without keeping the rest.
inline constexpr qsizetype kPreviewLimit = 80;
inline constexpr qsizetype kPreviewKept = 79;
inline constexpr qsizetype kPreviewReadLength = kPreviewLimit + 1;

// The one-line preview of a text whose beginning is `prefix`: cut by grapheme
// clusters first, then every line feed turned into a space. The carriage return of
// a CRLF pair is kept, so such a pair shows as "\r ".
QString textPreview(const TextPrefix &prefix);

} // namespace pellim
