// Skeleton: each part is replaced by the platform-layer and shell work, file by
// file (FileUrl.cpp, FileAccess.cpp, FileDialogs.cpp, Alert.cpp, RandomSource.cpp,
// Journal.cpp). Delete the matching section here when you add the real file.
#include "platform/Alert.h"
#include "platform/FileAccess.h"
#include "platform/FileDialogs.h"
#include "platform/FileUrl.h"
#include "platform/Journal.h"
#include "platform/RandomSource.h"

namespace pellim {

// --- FileUrl.cpp
FileUrl FileUrl::fromUserText(const QString &text) { return FileUrl(text, text.endsWith('/')); }
FileUrl FileUrl::fromLocalPath(const QString &path, bool isDirectory) {
    return FileUrl(path, isDirectory);
}
QString FileUrl::path() const { return m_path; }
QString FileUrl::encodedPath() const { return m_path; }
FileUrl FileUrl::appendingPathComponent(const QString &c, bool d) const {
    return FileUrl(m_path + "/" + c, d);
}
FileUrl FileUrl::deletingLastPathComponent() const { return *this; }
QString FileUrl::pathExtension() const { return {}; }
QString FileUrl::lastPathComponent() const { return {}; }

// --- FileAccess.cpp
QString DirectoryListing::name(std::size_t) const { return {}; }
FileUrl DirectoryListing::url(std::size_t) const { return {}; }
QString DirectoryListing::pathExtension(std::size_t) const { return {}; }
void DirectoryListing::append(const char *, std::size_t, bool) {}
void DirectoryListing::reserve(std::size_t, std::size_t) {}
bool PosixFileAccess::writeText(const FileUrl &, const QString &) { return false; }
std::optional<TextPrefix> PosixFileAccess::readText(const FileUrl &, qsizetype) { return {}; }
std::optional<DirectoryListing> PosixFileAccess::list(const FileUrl &) { return {}; }

// --- FileDialogs.cpp
QtFileDialogs::QtFileDialogs(FolderProtection &p, bool f) : m_protection(p), m_forceWidgetDialog(f) {}
void QtFileDialogs::beginSave(QWidget *, const SaveDialogOptions &, DialogCompletion c) {
    c(kResponseCancel, std::nullopt);
}
void QtFileDialogs::beginOpen(QWidget *, const OpenDialogOptions &, DialogCompletion c) {
    c(kResponseCancel, std::nullopt);
}

// --- Alert.cpp
void QtAlert::showCritical(QWidget *, const QString &, const QString &) {}

// --- RandomSource.cpp
std::uint64_t SystemRandomSource::next64() { return 0; }

} // namespace pellim
