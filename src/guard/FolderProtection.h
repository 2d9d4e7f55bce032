#pragma once

#include <QString>

namespace pellim {

enum class FileAccessKind { Write, Read, List };

// Consulted before every write, read and listing. An implementation may block
// (a modal prompt) before it answers.
class FolderProtection {
public:
    virtual ~FolderProtection() = default;
    // Whether the access to `path` (absolute, plain) may go on.
    virtual bool mayAccess(const QString &path, FileAccessKind kind) = 0;
    // The person chose this item in a file dialog; a folder covers its subtree.
    virtual void grantChosen(const QString &path, bool isDirectory) = 0;
};

// Everything may go on: the right choice where the operating system guards
// user folders itself.
class UnguardedProtection final : public FolderProtection {
public:
    bool mayAccess(const QString &, FileAccessKind) override { return true; }
    void grantChosen(const QString &, bool) override {}
};

} // namespace pellim
