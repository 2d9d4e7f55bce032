// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace pellim {

// A local file or folder location. Holds an absolute, normalised path as the
// file system's bytes (a Linux name need not be UTF-8) and whether the
// location names a folder.
class FileUrl {
public:
    FileUrl() = default;

    // From text a person typed: relative text is resolved against the current
    // directory, "~" is an ordinary name, "" is the current directory, and the
    // location names a folder exactly when the text ends with "/".
    static FileUrl fromUserText(const QString &text);
    // From an absolute local path, with the folder flag given. Text is taken as
    // UTF-8; bytes are taken as they are.
    static FileUrl fromLocalPath(const QString &path, bool isDirectory);
    static FileUrl fromLocalBytes(const QByteArray &path, bool isDirectory);

    bool isValid() const { return !m_path.isEmpty(); }
    // Whether the bytes name exactly what was given: text with an embedded NUL
    // or a lone surrogate has no faithful file name.
    bool isFaithful() const { return m_faithful && !m_path.contains('\0'); }
    // Plain path for display: no escapes, no trailing slash (except "/"
    // itself); a byte that is not UTF-8 shows as a replacement character.
    QString path() const;
    // The path's bytes, as handed to the kernel.
    const QByteArray &pathBytes() const { return m_path; }
    // Every byte of the path outside the unreserved set written as %XX; a
    // folder location keeps its trailing slash.
    QString encodedPath() const;
    bool isDirectory() const { return m_isDirectory; }
    FileUrl appendingPathComponent(const QString &component, bool isDirectory = false) const;
    FileUrl appendingPathComponent(const QByteArray &component, bool isDirectory = false) const;
    // The folder that holds this location (a folder location).
    FileUrl deletingLastPathComponent() const;

    friend bool operator==(const FileUrl &, const FileUrl &) = default;

private:
    FileUrl(QByteArray path, bool isDirectory, bool faithful = true)
        : m_path(std::move(path)), m_isDirectory(isDirectory), m_faithful(faithful) {}
    QByteArray m_path; // absolute, normalised, without trailing slash except "/"
    bool m_isDirectory = false;
    bool m_faithful = true;
};

} // namespace pellim
