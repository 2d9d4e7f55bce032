// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The read loop of a text file: read, check and decode strictly, keep the start.

#include "files/FileAccess.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

namespace pellim::text {

// How far a read may go beyond the size the system reports for a file. Files
// of procfs and sysfs report 0 (or a made-up size) and are made up as they are
// read; some never end (/proc/self/pagemap yields zeros for hundreds of
// gigabytes). No text file of theirs comes near 4 MiB, and a file that still
// grows after this much is not one to wait for: past the bound the read fails.
inline constexpr std::uint64_t kReadBeyondReportedSize = std::uint64_t(4) << 20;

inline constexpr std::uint64_t kNoByteLimit = std::numeric_limits<std::uint64_t>::max();
inline constexpr std::size_t kReadChunkSize = std::size_t(256) * 1024;

// Reads `fd` to its end in pieces of `chunkSize` bytes and decodes it strictly.
// Keeps the first `keepCharacters` user-perceived characters (extended grapheme
// clusters) and whether more text follows; everything after them is checked but
// not kept. nullopt on a read error, any byte that does not decode, or more
// than `maxBytes` bytes.
std::optional<TextPrefix> readTextPrefix(int fd, qsizetype keepCharacters,
                                         std::size_t chunkSize = kReadChunkSize,
                                         std::uint64_t maxBytes = kNoByteLimit);

// Reads the open regular file `fd` as readTextPrefix does, at most
// kReadBeyondReportedSize bytes past `reportedSize` (its st_size), and at most
// kReadBeyondReportedSize in all when it reports no size or lies on procfs or
// sysfs, whose sizes mean nothing.
std::optional<TextPrefix> readRegularFile(int fd, std::int64_t reportedSize,
                                          qsizetype keepCharacters);

} // namespace pellim::text
