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

// --- FileDialogs.cpp
QtFileDialogs::QtFileDialogs(FolderProtection &p, bool f) : m_protection(p), m_forceWidgetDialog(f) {}
void QtFileDialogs::beginSave(QWidget *, const SaveDialogOptions &, DialogCompletion c) {
    c(kResponseCancel, std::nullopt);
}
void QtFileDialogs::beginOpen(QWidget *, const OpenDialogOptions &, DialogCompletion c) {
    c(kResponseCancel, std::nullopt);
}

} // namespace pellim
