#pragma once

// The read loop of a text file: read, check and decode strictly, keep the start.

#include "files/FileAccess.h"

#include <cstddef>
#include <optional>

namespace pellim::text {

// Reads `fd` to its end in pieces of `chunkSize` bytes and decodes it strictly.
// Keeps the first `keepCharacters` user-perceived characters (extended grapheme
// clusters) and whether more text follows; everything after them is checked but
// not kept. nullopt on a read error or any byte that does not decode.
std::optional<TextPrefix> readTextPrefix(int fd, qsizetype keepCharacters,
                                         std::size_t chunkSize = std::size_t(256) * 1024);

} // namespace pellim::text
