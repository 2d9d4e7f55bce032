// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/FileUrl.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace pellim {

class FolderProtection;

// The beginning of a text file: at most the number of user-perceived characters
// the caller asked for, and whether the text goes on beyond them.
struct TextPrefix {
    QString text;
    bool more = false;
};

// A compact folder listing: the folder once, then each entry's name and kind.
// Entry locations are made only when asked for.
class DirectoryListing {
public:
    explicit DirectoryListing(FileUrl folder) : m_folder(std::move(folder)) {}
    const FileUrl &folder() const { return m_folder; }
    std::size_t size() const { return m_kinds.size(); }
    bool empty() const { return m_kinds.empty(); }
    QString name(std::size_t i) const;
    bool isDirectory(std::size_t i) const { return m_kinds[i]; }
    FileUrl url(std::size_t i) const;
    // Extension of entry i, computed from its name alone.
    QString pathExtension(std::size_t i) const;

    void append(const char *name, std::size_t length, bool isDirectory);

private:
    FileUrl m_folder;
    QByteArray m_names;                // names, each followed by '\0'
    std::vector<std::uint64_t> m_ends; // end offset of each name in m_names
    std::vector<bool> m_kinds;         // true for folders
};

// The three file operations. Failures are values: a caller learns only which
// operation failed, never why.
class FileAccess {
public:
    virtual ~FileAccess() = default;
    virtual bool writeText(const FileUrl &file, const QString &text) = 0;
    // Reads and checks the whole file; keeps only the first `keepCharacters`
    // user-perceived characters.
    virtual std::optional<TextPrefix> readText(const FileUrl &file, qsizetype keepCharacters) = 0;
    virtual std::optional<DirectoryListing> list(const FileUrl &folder) = 0;
};

// The real operations over POSIX calls, each asking `protection` first.
//
// Constructing the first one sets SIGXFSZ to be ignored in the whole process
// (unless a handler is already installed), so that a write beyond the file-size
// limit fails with EFBIG instead of ending the program.
class PosixFileAccess final : public FileAccess {
public:
    explicit PosixFileAccess(FolderProtection &protection);
    bool writeText(const FileUrl &file, const QString &text) override;
    std::optional<TextPrefix> readText(const FileUrl &file, qsizetype keepCharacters) override;
    std::optional<DirectoryListing> list(const FileUrl &folder) override;

private:
    FolderProtection &m_protection;
};

} // namespace pellim
