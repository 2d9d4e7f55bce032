#include "guard/FolderGuard.h"

#include "guard/ConsentPrompter.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace pellim {

namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

std::optional<QString> readLink(const QString &path) {
    const QByteArray name = QFile::encodeName(path);
    QByteArray buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(name.constData(), buffer.data(), buffer.size());
        if (n < 0)
            return std::nullopt;
        if (n < buffer.size())
            return QFile::decodeName(buffer.left(n));
        if (buffer.size() >= (1 << 16))
            return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

QString joined(const QStringList &parts) {
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

// Whether `path` is `base` or lies below it; both resolved.
bool isWithin(const QString &path, const QString &base) {
    if (base == QLatin1String("/"))
        return true;
    return path == base ||
           (path.startsWith(base) && path.size() > base.size() && path[base.size()] == '/');
}

} // namespace

QString resolvePath(const QString &path) {
    const QString absolute =
        QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    QStringList pending = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QStringList done; // physical while `physical` holds: no component is a link
    bool physical = true;
    int links = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            // `done` has no links in it, so dropping its last part is the physical parent.
            if (!done.isEmpty())
                done.removeLast();
            continue;
        }
        done.append(part);
        if (!physical)
            continue;
        const QByteArray name = QFile::encodeName(joined(done));
        struct stat st {};
        if (::lstat(name.constData(), &st) != 0) {
            physical = false; // from here on the path does not exist (yet)
            continue;
        }
        if (!S_ISLNK(st.st_mode))
            continue;
        const std::optional<QString> target =
            ++links <= kMaxLinks ? readLink(joined(done)) : std::nullopt;
        if (!target) {
            // A loop or an unreadable link: the access fails in the kernel anyway;
            // judge it by where the link itself sits.
            physical = false;
            continue;
        }
        done.removeLast();
        if (target->startsWith(QLatin1Char('/')))
            done.clear();
        pending = target->split(QLatin1Char('/'), Qt::SkipEmptyParts) + pending;
    }
    return joined(done);
}

QString userFolderPath(GuardedFolder folder) {
    switch (folder) {
    case GuardedFolder::Documents:
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    case GuardedFolder::Desktop:
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    case GuardedFolder::Downloads:
        return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    }
    return {};
}

std::vector<GuardedLocation> guardedLocations() {
    const QString home = resolvePath(QDir::homePath());
    std::vector<GuardedLocation> result;
    for (GuardedFolder folder : kGuardedFolders) {
        const QString path = userFolderPath(folder);
        if (path.isEmpty())
            continue;
        QString resolved = resolvePath(path);
        if (resolved == home)
            continue;
        result.push_back(GuardedLocation{folder, path, std::move(resolved)});
    }
    return result;
}

FolderGuard::FolderGuard(LogSink &sink, ConsentPrompter &prompter, QString storePath)
    : m_log(sink, QStringLiteral("org.pellim.FolderGuard"), QStringLiteral("decisions")),
      m_prompter(prompter), m_store(std::move(storePath)) {}

bool FolderGuard::mayAccess(const QString &path, FileAccessKind kind) {
    const QString resolved = resolvePath(path);

    // The innermost guarded folder decides, should one lie inside another.
    std::optional<GuardedLocation> guarding;
    for (GuardedLocation &location : guardedLocations()) {
        if (isWithin(resolved, location.resolved) &&
            (!guarding || location.resolved.size() > guarding->resolved.size()))
            guarding = std::move(location);
    }
    if (!guarding)
        return true;
    const GuardedLocation &location = *guarding;

    if (isGranted(resolved)) {
        record(true, location, kind, path, resolved, QStringLiteral("chosen in a dialog"));
        return true;
    }
    switch (m_store.answer(location.folder)) {
    case ConsentAnswer::Allowed:
        record(true, location, kind, path, resolved, QStringLiteral("stored: allowed"));
        return true;
    case ConsentAnswer::Denied:
        record(false, location, kind, path, resolved, QStringLiteral("stored: denied"));
        return false;
    case ConsentAnswer::NotDecided:
        break;
    }

    const PromptAnswer answer = m_prompter.ask(ConsentRequest{location.folder, kind, path});
    if (answer == PromptAnswer::CannotAsk) {
        // Nothing is stored: the person never saw the question.
        record(false, location, kind, path, resolved, QStringLiteral("could not ask: denied"));
        return false;
    }
    const bool allowed = answer == PromptAnswer::Allow;
    QString how = allowed ? QStringLiteral("asked: allowed") : QStringLiteral("asked: denied");
    QString error;
    if (!m_store.setAnswer(location.folder,
                           allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied, &error))
        how += QStringLiteral(" (the answer could not be stored: %1)").arg(error);
    record(allowed, location, kind, path, resolved, how);
    return allowed;
}

void FolderGuard::grantChosen(const QString &path, bool isDirectory) {
    Grant grant{resolvePath(path), isDirectory};
    for (const Grant &g : m_grants) {
        if (g.resolved == grant.resolved && g.isDirectory == grant.isDirectory)
            return;
    }
    m_grants.push_back(std::move(grant));
}

bool FolderGuard::isGranted(const QString &resolved) const {
    for (const Grant &g : m_grants) {
        if (g.isDirectory ? isWithin(resolved, g.resolved) : resolved == g.resolved)
            return true;
    }
    return false;
}

void FolderGuard::record(bool allowed, const GuardedLocation &location, FileAccessKind kind,
                         const QString &path, const QString &resolved, const QString &how) {
    QString target = path;
    if (resolved != QDir::cleanPath(path))
        target += QStringLiteral(" (resolves to %1)").arg(resolved);
    m_log.write(allowed ? LogLevel::Info : LogLevel::Error,
                QStringLiteral("%1 folder, %2 access to %3: %4")
                    .arg(folderDisplayName(location.folder), accessKindWord(kind), target, how));
}

} // namespace pellim
