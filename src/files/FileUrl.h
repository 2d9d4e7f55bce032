#pragma once

#include <QString>

namespace pellim {

// A local file or folder location. Holds an absolute, normalised path and whether
// the location names a folder.
class FileUrl {
public:
    FileUrl() = default;

    // From text a person typed: relative text is resolved against the current
    // directory, "~" is an ordinary name, "" is the current directory, and the
    // location names a folder exactly when the text ends with "/".
    static FileUrl fromUserText(const QString &text);
    // From an absolute local path, with the folder flag given.
    static FileUrl fromLocalPath(const QString &path, bool isDirectory);

    bool isValid() const { return !m_path.isEmpty(); }
    // Plain path: no escapes, no trailing slash (except "/" itself).
    QString path() const;
    // Every byte of the UTF-8 path outside the unreserved set written as %XX;
    // a folder location keeps its trailing slash.
    QString encodedPath() const;
    bool isDirectory() const { return m_isDirectory; }
    FileUrl appendingPathComponent(const QString &component, bool isDirectory = false) const;
    // The folder that holds this location (a folder location).
    FileUrl deletingLastPathComponent() const;
    // After the last dot of the last component; "" when none.
    QString pathExtension() const;
    QString lastPathComponent() const;

    friend bool operator==(const FileUrl &, const FileUrl &) = default;

private:
    FileUrl(QString path, bool isDirectory) : m_path(std::move(path)), m_isDirectory(isDirectory) {}
    QString m_path; // plain, absolute, without trailing slash except "/"
    bool m_isDirectory = false;
};

} // namespace pellim
