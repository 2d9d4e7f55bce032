// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/TextReader.h"

#include "files/ClusterCut.h"
#include "files/StreamDecoder.h"

#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace pellim::text {

namespace {

// read(2) until `length` bytes or the end; -1 on an error.
ssize_t readFully(int fd, unsigned char *buffer, std::size_t length) {
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = ::read(fd, buffer + got, length - got);
        if (n > 0) {
            got += std::size_t(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return ssize_t(got);
}

} // namespace

std::optional<TextPrefix> readTextPrefix(int fd, qsizetype keepCharacters, std::size_t chunkSize,
                                         std::uint64_t maxBytes) {
    chunkSize = std::max<std::size_t>(chunkSize, 4);
    // Page-aligned: the kernel copies into it markedly faster.
    chunkSize = (chunkSize + 4095) / 4096 * 4096;
    struct FreeBuffer {
        void operator()(unsigned char *p) const { std::free(p); }
    };
    std::unique_ptr<unsigned char[], FreeBuffer> buffer(
        static_cast<unsigned char *>(std::aligned_alloc(4096, chunkSize)));
    if (!buffer)
        return std::nullopt;

    ssize_t got = readFully(fd, buffer.get(), chunkSize);
    std::uint64_t total = std::uint64_t(got);
    if (got < 0 || total > maxBytes)
        return std::nullopt;
    bool atEnd = std::size_t(got) < chunkSize;
    std::size_t length = std::size_t(got);

    const ByteOrderMark mark = detectByteOrderMark(buffer.get(), std::min<std::size_t>(length, 4));
    StreamDecoder decoder(mark.encoding);
    ClusterCut cut(keepCharacters);
    const unsigned char *data = buffer.get() + mark.length;
    length -= mark.length;
    bool textAfterCut = false;

    for (;;) {
        // Decoding into text is far slower than the check alone, so text is
        // made a page at a time, and only until the kept characters are certain.
        while (length > 0 && !cut.done()) {
            const std::size_t piece = std::min<std::size_t>(length, 4096);
            if (!decoder.feed(data, piece, cut.buffer()))
                return std::nullopt;
            cut.scan();
            data += piece;
            length -= piece;
        }
        if (length > 0) {
            textAfterCut = true;
            if (!decoder.feed(data, length, nullptr))
                return std::nullopt;
        }
        if (atEnd)
            break;
        got = readFully(fd, buffer.get(), chunkSize);
        if (got < 0)
            return std::nullopt;
        total += std::uint64_t(got);
        if (total > maxBytes)
            return std::nullopt;
        atEnd = std::size_t(got) < chunkSize;
        data = buffer.get();
        length = std::size_t(got);
    }
    if (!decoder.finish())
        return std::nullopt;
    return cut.result(textAfterCut);
}

std::optional<TextPrefix> readRegularFile(int fd, std::int64_t reportedSize,
                                          qsizetype keepCharacters) {
    struct statfs fs {};
    const bool madeUp =
        ::fstatfs(fd, &fs) == 0 && (fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC);
    std::uint64_t limit = kReadBeyondReportedSize;
    if (!madeUp && reportedSize > 0)
        limit += std::uint64_t(reportedSize);
    return readTextPrefix(fd, keepCharacters, kReadChunkSize, limit);
}

} // namespace pellim::text
