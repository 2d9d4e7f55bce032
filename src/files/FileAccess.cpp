// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/FileAccess.h"

#include "files/TextReader.h"
#include "paths/FolderProtection.h"
#include "paths/PathWalk.h"

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
    const std::size_t start = nameStart(m_ends, i);
    return m_folder.appendingPathComponent(
        QByteArray(m_names.constData() + start, qsizetype(m_ends[i] - start)), isDirectory(i));
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

// --- PosixFileAccess

namespace {

// The path to walk, or nothing when the location cannot name a file
// faithfully: an embedded NUL would cut it short, and a lone surrogate would
// have turned into a replacement character, i.e. another name.
std::optional<QByteArray> kernelPath(const FileUrl &url) {
    if (!url.isValid() || !url.isFaithful())
        return std::nullopt;
    return url.pathBytes();
}

// Resolves `url` through descriptors and asks `protection` about what that
// reaches; the access then goes through the same descriptors, so a link
// changed after the decision cannot redirect it.
std::optional<Walked> decide(FolderProtection &protection, const FileUrl &url,
                             FileAccessKind kind) {
    const std::optional<QByteArray> path = kernelPath(url);
    if (!path)
        return std::nullopt;
    std::optional<Walked> walked = walkPath(*path);
    if (!walked || !protection.mayAccess(*walked, *path, kind))
        return std::nullopt;
    return walked;
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
    if (!text.isValidUtf16())
        return false;
    const std::optional<Walked> target = decide(m_protection, file, FileAccessKind::Write);
    if (!target)
        return false;
    const QByteArray bytes = text.toUtf8();

    // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of
    // waiting for one; on a regular file it changes nothing.
    UniqueFd opened =
        openWalked(*target, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (!opened.isValid())
        return false;
    bool ok = writeAll(opened.get(), bytes); // fails on ENOSPC, EFBIG, EIO and a full pipe
    // close() is where some file systems report a failed write; an EINTR here
    // leaves it unknown whether the data arrived, so it fails too.
    if (opened.close() != 0)
        ok = false;
    return ok;
}

std::optional<TextPrefix> PosixFileAccess::readText(const FileUrl &file, qsizetype keepCharacters) {
    const std::optional<Walked> target = decide(m_protection, file, FileAccessKind::Read);
    if (!target)
        return std::nullopt;

    // Only regular files are read. Looking first spares a device the side
    // effects of being opened; the check on the open descriptor is the one
    // that counts.
    struct stat info {};
    if (::fstatat(target->parent.get(), target->name.constData(), &info, AT_SYMLINK_NOFOLLOW) !=
            0 ||
        !S_ISREG(info.st_mode))
        return std::nullopt;
    UniqueFd opened = openWalked(*target, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (!opened.isValid())
        return std::nullopt;
    const int fd = opened.release();
    std::optional<TextPrefix> result;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        result = text::readRegularFile(fd, info.st_size, keepCharacters);
    }
    ::close(fd);
    return result;
}

std::optional<DirectoryListing> PosixFileAccess::list(const FileUrl &folder) {
    const std::optional<Walked> target = decide(m_protection, folder, FileAccessKind::List);
    if (!target)
        return std::nullopt;
    UniqueFd opened =
        openWalked(*target, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (!opened.isValid())
        return std::nullopt;
    const int fd = opened.release();
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    DirectoryListing listing(FileUrl::fromLocalBytes(folder.pathBytes(), true));
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
