// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The encodings a text file may be in, told apart by its byte-order mark.

#include <cstddef>

namespace pellim::text {

enum class Encoding { Utf8, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

struct ByteOrderMark {
    Encoding encoding = Encoding::Utf8;
    std::size_t length = 0; // bytes to skip
};

// Looks at the first min(4, file size) bytes. Without a mark the text is UTF-8.
// FF FE 00 00 is read as UTF-32LE, not as UTF-16LE starting with U+0000.
ByteOrderMark detectByteOrderMark(const unsigned char *head, std::size_t length);

} // namespace pellim::text
