#include "files/FileAccess.h"

#include "files/TextReader.h"
#include "guard/FolderProtection.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace pellim {

// --- DirectoryListing

namespace {
std::size_t nameStart(const std::vector<std::uint64_t> &ends, std::size_t i) {
    return i == 0 ? 0 : std::size_t(ends[i - 1]) + 1; // past the '\0' of the one before
}
} // namespace

QString DirectoryListing::name(std::size_t i) const {
    const std::size_t start = nameStart(m_ends, i);
    return QString::fromUtf8(m_names.constData() + start, qsizetype(m_ends[i] - start));
}

FileUrl DirectoryListing::url(std::size_t i) const {
    return m_folder.appendingPathComponent(name(i), isDirectory(i));
}

QString DirectoryListing::pathExtension(std::size_t i) const {
    const std::size_t start = nameStart(m_ends, i);
    const char *first = m_names.constData() + start;
    const char *last = m_names.constData() + m_ends[i];
    for (const char *p = last; p != first; --p) {
        if (p[-1] == '.')
            return QString::fromUtf8(p, last - p);
    }
    return {};
}

void DirectoryListing::append(const char *name, std::size_t length, bool isDirectory) {
    m_names.append(name, qsizetype(length));
    m_ends.push_back(std::uint64_t(m_names.size()));
    m_names.append('\0');
    m_kinds.push_back(isDirectory);
}

void DirectoryListing::reserve(std::size_t entries, std::size_t nameBytes) {
    m_names.reserve(qsizetype(nameBytes + entries));
    m_ends.reserve(entries);
    m_kinds.reserve(entries);
}

// --- PosixFileAccess

namespace {

// The bytes to hand to the kernel, or nothing when the path cannot name a file
// faithfully: an embedded NUL would cut it short, and a lone surrogate would
// turn into a replacement character, i.e. another name.
std::optional<QByteArray> kernelPath(const FileUrl &url) {
    if (!url.isValid())
        return std::nullopt;
    const QString path = url.path();
    if (path.contains(QChar(0)) || !path.isValidUtf16())
        return std::nullopt;
    return path.toUtf8();
}

int openRetrying(const char *path, int flags, mode_t mode = 0) {
    for (;;) {
        const int fd = ::open(path, flags, mode);
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
}

} // namespace

PosixFileAccess::PosixFileAccess(FolderProtection &protection) : m_protection(protection) {
    // Past RLIMIT_FSIZE the kernel sends SIGXFSZ, whose default action ends the
    // process; ignored, the write fails with EFBIG like any other failed write.
    // This is process-wide, so it is done once, and a handler someone else
    // installed is left in place.
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGXFSZ, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
            current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            sigaction(SIGXFSZ, &ignore, nullptr);
        }
    });
}

bool PosixFileAccess::writeText(const FileUrl &file, const QString &text) {
    const std::optional<QByteArray> path = kernelPath(file);
    if (!path || !text.isValidUtf16())
        return false;
    if (!m_protection.mayAccess(file.path(), FileAccessKind::Write))
        return false;
    const QByteArray bytes = text.toUtf8();

    // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of
    // waiting for one; on a regular file it changes nothing.
    const int fd = openRetrying(
        path->constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return false;
    const char *data = bytes.constData();
    std::size_t left = std::size_t(bytes.size());
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n > 0) {
            data += n;
            left -= std::size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            ok = false; // includes ENOSPC, EFBIG, EIO and a pipe that is full
            break;
        }
    }
    // close() is where some file systems report a failed write; an EINTR here
    // leaves it unknown whether the data arrived, so it fails too.
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

std::optional<TextPrefix> PosixFileAccess::readText(const FileUrl &file, qsizetype keepCharacters) {
    const std::optional<QByteArray> path = kernelPath(file);
    if (!path)
        return std::nullopt;
    if (!m_protection.mayAccess(file.path(), FileAccessKind::Read))
        return std::nullopt;

    // Only regular files are read. Looking first spares a device the side
    // effects of being opened; the check on the open descriptor is the one
    // that counts, since the path may change in between.
    struct stat info {};
    if (::stat(path->constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const int fd = openRetrying(path->constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    std::optional<TextPrefix> result;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        result = text::readRegularFile(fd, info.st_size, keepCharacters);
    }
    ::close(fd);
    return result;
}

std::optional<DirectoryListing> PosixFileAccess::list(const FileUrl &folder) {
    const std::optional<QByteArray> path = kernelPath(folder);
    if (!path)
        return std::nullopt;
    if (!m_protection.mayAccess(folder.path(), FileAccessKind::List))
        return std::nullopt;

    const int fd =
        openRetrying(path->constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    DirectoryListing listing(FileUrl::fromLocalPath(folder.path(), true));
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            ok = errno == 0;
            break;
        }
        // Hidden names, and with them "." and "..", are left out.
        if (entry->d_name[0] == '.')
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            // Some file systems do not fill in the type. A symbolic link counts
            // as what it is, not as what it points to, as with DT_LNK.
            struct stat info {};
            isDirectory = ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISDIR(info.st_mode);
        }
        listing.append(entry->d_name, std::strlen(entry->d_name), isDirectory);
    }
    ::closedir(dir);
    if (!ok)
        return std::nullopt;
    return listing;
}

} // namespace pellim
