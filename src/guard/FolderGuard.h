#pragma once

#include "guard/ConsentStore.h"
#include "guard/FolderProtection.h"
#include "journal/Log.h"

#include <QString>

#include <optional>
#include <vector>

namespace pellim {

class ConsentPrompter;

// `path` made absolute, with symbolic links and ".." resolved as far as the path
// exists and the rest (what does not exist yet) cleaned lexically.
QString resolvePath(const QString &path);

// The folder as the desktop names it now (XDG user directories).
QString userFolderPath(GuardedFolder folder);

struct GuardedLocation {
    GuardedFolder folder;
    QString path;     // as the desktop names it
    QString resolved; // resolvePath(path)
};

// The folders guarded right now: a user directory that is the home folder itself
// is left out.
std::vector<GuardedLocation> guardedLocations();

// Stands in for a system guard over the person's own folders. An access whose
// target lies in a guarded folder goes on if the person chose it in a file dialog
// or allowed that folder; a folder without a stored answer is asked about, and the
// answer is stored. Each decision is one journal entry of the guard's own.
class FolderGuard final : public FolderProtection {
public:
    FolderGuard(LogSink &sink, ConsentPrompter &prompter,
                QString storePath = ConsentStore::defaultPath());

    bool mayAccess(const QString &path, FileAccessKind kind) override;
    void grantChosen(const QString &path, bool isDirectory) override;

private:
    struct Grant {
        QString resolved;
        bool isDirectory;
    };
    bool isGranted(const QString &resolved) const;
    void record(bool allowed, const GuardedLocation &location, FileAccessKind kind,
                const QString &path, const QString &resolved, const QString &how);

    LogHandle m_log;
    ConsentPrompter &m_prompter;
    ConsentStore m_store;
    std::vector<Grant> m_grants;
};

} // namespace pellim
