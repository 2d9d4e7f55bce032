// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/FolderGuard.h"

#include "consent/ConsentPrompter.h"
#include "consent/UserFolders.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace pellim {

namespace {

QString shown(const QByteArray &bytes) {
    return QString::fromUtf8(bytes);
}

std::optional<FileIdentity> identityOf(const QByteArray &path) {
    struct stat st {};
    if (path.isEmpty() || ::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

} // namespace

QString resolvePath(const QString &path) {
    const QString absolute =
        QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    if (const std::optional<Walked> walked = walkPath(QFile::encodeName(absolute)))
        return QDir::cleanPath(shown(walked->display));
    return QDir::cleanPath(absolute);
}

QString userFolderPath(GuardedFolder folder) {
    return QFile::decodeName(userFolderLocation(folder));
}

std::vector<GuardedLocation> guardedLocations() {
    const std::optional<FileIdentity> home = identityOf(QFile::encodeName(QDir::homePath()));
    const std::array<QByteArray, kGuardedFolders.size()> paths = userFolderLocations();
    std::vector<GuardedLocation> result;
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
        const GuardedFolder folder = kGuardedFolders[i];
        const QByteArray &path = paths[i];
        const std::optional<FileIdentity> identity = identityOf(path);
        if (!identity || identity == home)
            continue;
        result.push_back(GuardedLocation{folder, path, *identity});
    }
    return result;
}

namespace {

bool sameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

} // namespace

GuardedSet::GuardedSet(const ConsentStore &store) {
    m_settingsThere = ::stat(userDirsFile().constData(), &m_settings) == 0;
    take(guardedLocations(), nullptr);
    const std::optional<FileIdentity> home = identityOf(QFile::encodeName(QDir::homePath()));
    std::vector<GuardedLocation> recorded;
    for (const ConsentStore::RecordedFolder &folder : store.read().recorded) {
        const std::optional<FileIdentity> identity = identityOf(folder.path);
        if (identity && identity != home)
            recorded.push_back(GuardedLocation{folder.folder, folder.path, *identity});
    }
    take(std::move(recorded), nullptr);
}

void GuardedSet::take(std::vector<GuardedLocation> found, std::vector<GuardedLocation> *added) {
    for (GuardedLocation &location : found) {
        const bool known =
            std::any_of(m_locations.begin(), m_locations.end(),
                        [&](const GuardedLocation &l) { return l.identity == location.identity; });
        if (known)
            continue;
        if (added)
            added->push_back(location);
        m_locations.push_back(std::move(location));
    }
}

std::vector<GuardedLocation> GuardedSet::refresh() {
    struct stat now {};
    const bool there = ::stat(userDirsFile().constData(), &now) == 0;
    if (there == m_settingsThere && (!there || sameFile(now, m_settings)))
        return {};
    m_settings = now;
    m_settingsThere = there;
    std::vector<GuardedLocation> added;
    take(guardedLocations(), &added);
    return added;
}

const GuardedLocation *GuardedSet::keeping(const Walked &target) const {
    std::vector<FileIdentity> identities;
    identities.reserve(m_locations.size());
    for (const GuardedLocation &location : m_locations)
        identities.push_back(location.identity);
    const std::optional<FileIdentity> guarding = innermost(target, identities);
    if (!guarding)
        return nullptr;
    return &*std::find_if(m_locations.begin(), m_locations.end(),
                          [&](const GuardedLocation &l) { return l.identity == *guarding; });
}

FolderGuard::FolderGuard(LogSink &sink, ConsentPrompter &prompter, QString storePath)
    : m_log(sink, QString::fromLatin1(kGuardSubsystem), QStringLiteral("decisions")),
      m_prompter(prompter), m_store(std::move(storePath)), m_set(m_store) {}

std::optional<bool> FolderGuard::known(const Walked &target, const QByteArray &path,
                                       FileAccessKind kind) {
    for (const GuardedLocation &added : m_set.refresh()) {
        // Guarded from now on, and at every later start until released.
        QString error;
        const bool recorded = m_store.record({{added.folder, added.path, added.identity}}, &error);
        m_log.write(
            LogLevel::Info,
            QStringLiteral("%1 folder: the settings now name %2; it is guarded as well%3")
                .arg(folderDisplayName(added.folder), QFile::decodeName(added.path),
                     recorded ? QString() : QStringLiteral(" (not recorded: %1)").arg(error)));
    }
    // The innermost guarded folder decides, should one lie inside another.
    const GuardedLocation *location = m_set.keeping(target);
    if (!location)
        return true;
    if (chosenFor(target, location->identity).granted) {
        record(true, *location, kind, path, target, QStringLiteral("chosen in a dialog"));
        return true;
    }
    switch (m_store.read().answer(location->folder)) {
    case ConsentAnswer::Allowed:
        record(true, *location, kind, path, target, QStringLiteral("stored: allowed"));
        return true;
    case ConsentAnswer::Denied:
        record(false, *location, kind, path, target, QStringLiteral("stored: denied"));
        return false;
    case ConsentAnswer::NotDecided:
        break;
    }
    return std::nullopt;
}

std::optional<bool> FolderGuard::mayAccessNow(const Walked &target, const QByteArray &path,
                                              FileAccessKind kind) {
    if (const std::optional<bool> decided = known(target, path, kind))
        return decided;
    if (m_asking)
        return std::nullopt;
    return mayAccess(target, path, kind);
}

bool FolderGuard::mayAccess(const Walked &target, const QByteArray &path, FileAccessKind kind) {
    if (const std::optional<bool> decided = known(target, path, kind))
        return *decided;
    const GuardedLocation location = *m_set.keeping(target);
    const ConsentStore::Contents stored = m_store.read();
    // Answers that are there but not used count as none; the entry says why.
    const QString notDecided =
        stored.problem.isEmpty()
            ? QString()
            : QStringLiteral("not decided (the stored answers are ignored: %1), ")
                  .arg(stored.problem);
    const QString cannotAsk = notDecided + QStringLiteral("could not ask: denied");

    m_asking = true;
    const PromptAnswer answer = m_prompter.ask(ConsentRequest{location.folder, kind, shown(path)});
    m_asking = false;
    if (answer == PromptAnswer::CannotAsk) {
        // Nothing is stored: the person never saw the question.
        record(false, location, kind, path, target, cannotAsk);
        return false;
    }
    const bool allowed = answer == PromptAnswer::Allow;
    QString how =
        notDecided + (allowed ? QStringLiteral("asked: allowed") : QStringLiteral("asked: denied"));
    QString error;
    if (!m_store.setAnswer(location.folder,
                           allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied, &error))
        how += QStringLiteral(" (the answer could not be stored: %1)").arg(error);
    record(allowed, location, kind, path, target, how);
    return allowed;
}

void FolderGuard::grantChosen(const QByteArray &path, bool isDirectory) {
    const std::optional<Walked> chosen = walkPath(path);
    if (!chosen)
        return; // nothing there to reach, so nothing to grant
    Grant grant;
    grant.isDirectory = isDirectory;
    grant.exists = chosen->exists;
    grant.identity = chosen->identity;
    if (!chosen->chain.empty())
        grant.folder = chosen->chain.back();
    grant.name = chosen->name;
    grant.display = chosen->display;
    m_grants.push_back(std::move(grant));
}

namespace {

// How deep `folder` lies on the way to `target` (the target itself deepest);
// -1 when it is not on the way.
std::ptrdiff_t depthOf(const Walked &target, FileIdentity folder) {
    if (target.exists && target.identity == folder)
        return std::ptrdiff_t(target.chain.size());
    const auto at = std::find(target.chain.begin(), target.chain.end(), folder);
    return at == target.chain.end() ? -1 : at - target.chain.begin();
}

} // namespace

FolderGuard::Chosen FolderGuard::chosenFor(const Walked &target, FileIdentity guarded) const {
    Chosen result;
    const std::ptrdiff_t guardedDepth = depthOf(target, guarded);
    for (const Grant &g : m_grants) {
        if (g.isDirectory) {
            if (!g.exists || !within(target, g.identity))
                continue;
            // The guarded folder itself, or a folder inside it: the person chose
            // what they were shown. A folder around it grants only itself.
            if (depthOf(target, g.identity) >= guardedDepth)
                result.granted = true;
            else
                result.around = g.display;
        } else if (g.exists) {
            result.granted |= target.exists && target.identity == g.identity;
        } else {
            result.granted |=
                !target.chain.empty() && target.chain.back() == g.folder && target.name == g.name;
        }
        if (result.granted)
            return Chosen{true, {}};
    }
    return result;
}

void FolderGuard::record(bool allowed, const GuardedLocation &location, FileAccessKind kind,
                         const QByteArray &path, const Walked &target, QString how) {
    if (const QByteArray around = chosenFor(target, location.identity).around; !around.isEmpty())
        how += QStringLiteral(" (%1 was chosen in a dialog; it holds this folder, which keeps its "
                              "own answer)")
                   .arg(QDir::cleanPath(shown(around)));
    QString text = shown(path);
    const QString resolved = QDir::cleanPath(shown(target.display));
    if (resolved != QDir::cleanPath(text))
        text += QStringLiteral(" (resolves to %1)").arg(resolved);
    m_log.write(allowed ? LogLevel::Info : LogLevel::Error,
                QStringLiteral("%1 folder, %2 access to %3: %4")
                    .arg(folderDisplayName(location.folder), accessKindWord(kind), text, how));
}

} // namespace pellim
