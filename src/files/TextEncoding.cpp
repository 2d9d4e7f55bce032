// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/TextEncoding.h"

namespace pellim::text {

ByteOrderMark detectByteOrderMark(const unsigned char *h, std::size_t n) {
    if (n >= 3 && h[0] == 0xEF && h[1] == 0xBB && h[2] == 0xBF)
        return {Encoding::Utf8, 3};
    if (n >= 4 && h[0] == 0xFF && h[1] == 0xFE && h[2] == 0 && h[3] == 0)
        return {Encoding::Utf32LE, 4};
    if (n >= 4 && h[0] == 0 && h[1] == 0 && h[2] == 0xFE && h[3] == 0xFF)
        return {Encoding::Utf32BE, 4};
    if (n >= 2 && h[0] == 0xFF && h[1] == 0xFE)
        return {Encoding::Utf16LE, 2};
    if (n >= 2 && h[0] == 0xFE && h[1] == 0xFF)
        return {Encoding::Utf16BE, 2};
    return {Encoding::Utf8, 0};
}

} // namespace pellim::text
