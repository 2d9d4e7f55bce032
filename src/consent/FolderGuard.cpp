// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/FolderGuard.h"

#include "consent/ConsentPrompter.h"
#include "consent/UserFolders.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#include <sys/inotify.h>
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
        if (path.isEmpty() || (identity && identity == home))
            continue;
        result.push_back(GuardedLocation{folder, path, identity});
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

GuardedSet::GuardedSet(const ConsentStore &store)
    : m_watches(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    m_settingsThere = ::stat(userDirsFile().constData(), &m_settings) == 0;
    take(guardedLocations(), nullptr);
    const std::optional<FileIdentity> home = identityOf(QFile::encodeName(QDir::homePath()));
    std::vector<GuardedLocation> recorded;
    for (const ConsentStore::RecordedFolder &folder : store.read().recorded) {
        const std::optional<FileIdentity> identity = identityOf(folder.path);
        if (!identity || identity != home)
            recorded.push_back(GuardedLocation{folder.folder, folder.path, identity});
    }
    take(std::move(recorded), nullptr);
}

void GuardedSet::take(std::vector<GuardedLocation> found, std::vector<GuardedLocation> *added) {
    for (GuardedLocation &location : found) {
        // The same folder, or the same name: one row each.
        const bool known =
            std::any_of(m_locations.begin(), m_locations.end(), [&](const GuardedLocation &l) {
                return (location.identity && l.identity == location.identity) ||
                       l.path == location.path;
            });
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

bool GuardedSet::watchWay(const QByteArray &path) const {
    if (!m_watches.isValid())
        return false;
    constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                       IN_DELETE_SELF | IN_MOVE_SELF | IN_DONT_FOLLOW;
    // Every folder from the root down to the name: a move, a new entry or a
    // removal anywhere on the way may change what the name reaches.
    for (qsizetype at = 0; at >= 0; at = path.indexOf('/', at + 1)) {
        const QByteArray folder = at == 0 ? QByteArray("/") : path.left(at);
        struct stat st {};
        if (::lstat(folder.constData(), &st) != 0)
            return errno == ENOENT; // its making is seen from the folder above
        if (!S_ISDIR(st.st_mode) ||
            ::inotify_add_watch(m_watches.get(), folder.constData(), kChanges) < 0)
            return false; // a link on the way, or a folder that cannot be watched
    }
    // A link at the name may lead anywhere: followed afresh every time.
    struct stat st {};
    return ::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode);
}

void GuardedSet::forgetIfChanged() const {
    m_places.resize(m_locations.size());
    char events[4096];
    bool changed = false;
    while (m_watches.isValid() && ::read(m_watches.get(), events, sizeof events) > 0)
        changed = true;
    if (changed)
        std::fill(m_places.begin(), m_places.end(), std::nullopt);
}

NamedPlace GuardedSet::placeOf(std::size_t index) const {
    if (m_places[index])
        return *m_places[index];
    const QByteArray &path = m_locations[index].path;
    NamedPlace place = placeOfName(path);
    if (watchWay(path))
        m_places[index] = place;
    return place;
}

std::optional<GuardedLocation> GuardedSet::keeping(const Walked &target) const {
    // How deep the deciding folder lies on the way to the target: the nearest wins.
    std::optional<GuardedLocation> found;
    std::size_t foundDepth = 0;
    const auto consider = [&](const GuardedLocation &location, FileIdentity at) {
        const auto on = std::find(target.chain.begin(), target.chain.end(), at);
        const std::size_t depth =
            on != target.chain.end() ? std::size_t(on - target.chain.begin()) : target.chain.size();
        if (!found || depth > foundDepth) {
            found = GuardedLocation{location.folder, location.path, at};
            foundDepth = depth;
        }
    };
    forgetIfChanged();
    for (std::size_t i = 0; i < m_locations.size(); ++i) {
        const GuardedLocation &location = m_locations[i];
        if (location.identity && within(target, *location.identity))
            consider(location, *location.identity);
        // By name: what the name reaches now, or the name itself about to be made.
        const NamedPlace place = placeOf(i);
        if (!atOrUnder(target, place))
            continue;
        if (place.reached)
            consider(location, *place.reached);
        else
            consider(location, target.exists ? target.identity : FileIdentity{});
    }
    return found;
}

namespace {

// For the entry of a decision whose answer was stored, or not.
QString storedNote(const Result<ConsentStore::Stored> &stored, const QString &file) {
    if (!stored)
        return QStringLiteral(" (the answer could not be stored: %1)").arg(stored.failure().text());
    if (!stored->kept.isEmpty())
        return QStringLiteral(" (%1 could not be used; it was kept as %2)").arg(file, stored->kept);
    return {};
}

} // namespace

FolderGuard::FolderGuard(LogSink &sink, ConsentPrompter &prompter, Program program,
                         QString storePath)
    : m_program(std::move(program)),
      m_log(sink, QString::fromLatin1(kGuardSubsystem), QStringLiteral("decisions"),
            {{"PELLIM_PROGRAM", QFile::decodeName(m_program.path)}}),
      m_decisions(m_log), m_home(QFile::encodeName(resolvePath(QDir::homePath()))),
      m_prompter(prompter),
      // Pellim's answers stay as they always were, without a name.
      m_store(storePath, m_program.id, m_program.isPellim() ? QString() : m_program.name),
      m_records(storePath), m_set(m_records) {
    // Once for each problem, not at every decision that meets it.
    m_store.reportProblems([this](const ConsentStore::Contents &contents) {
        const bool kept = contents.state == ConsentStore::FileState::Damaged ||
                          contents.state == ConsentStore::FileState::Unreadable;
        m_decisions.write(
            LogLevel::Error,
            said(QStringLiteral("Answers file: the stored answers are ignored: %1; every "
                                "folder counts as not decided%2")
                     .arg(contents.problem,
                          kept ? QStringLiteral(" until the next change, which keeps the "
                                                "file beside the new one")
                               : QString())));
    });
}

QString FolderGuard::said(const QString &text) const {
    return m_program.isPellim() ? text : m_program.name + QStringLiteral(": ") + text;
}

QString FolderGuard::homeShown(const QByteArray &path) const {
    if (!m_home.isEmpty() && m_home != "/" && path.startsWith(m_home + '/'))
        return QLatin1Char('~') + shown(path.mid(m_home.size()));
    return shown(path);
}

std::optional<bool> FolderGuard::known(const Walked &target, const QByteArray &path,
                                       FileAccessKind kind) {
    for (const GuardedLocation &added : m_set.refresh()) {
        // Guarded from now on, and at every later start until released.
        // One not there yet is guarded by its name alone, and not recorded.
        const Result<ConsentStore::Stored> recorded =
            added.identity ? m_records.record({{added.folder, added.path, *added.identity}})
                           : Result<ConsentStore::Stored>(ConsentStore::Stored{});
        m_decisions.write(
            LogLevel::Info,
            said(QStringLiteral("%1 folder: the settings now name %2; it is guarded as well%3")
                     .arg(folderDisplayName(added.folder), QFile::decodeName(added.path),
                          recorded ? storedNote(recorded, m_records.filePath())
                                   : QStringLiteral(" (not recorded: %1)")
                                         .arg(recorded.failure().text()))));
    }
    // The innermost guarded folder decides, should one lie inside another.
    const std::optional<GuardedLocation> location = m_set.keeping(target);
    if (!location)
        return true;
    if (chosenFor(target, *location->identity).granted) {
        record(true, *location, kind, path, target, QStringLiteral("chosen in a dialog"), true);
        return true;
    }
    switch (m_store.read().answer(location->folder)) {
    case ConsentAnswer::Allowed:
        record(true, *location, kind, path, target, QStringLiteral("stored: allowed"), true);
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
    std::unique_lock lock(m_mutex);
    if (const std::optional<bool> asked = answerFor(target, path, kind))
        return asked;
    if (const std::optional<bool> decided = known(target, path, kind))
        return decided;
    if (m_question && !m_question->answer)
        return std::nullopt; // one question at a time: this call waits for it
    Question question;
    question.location = *m_set.keeping(target);
    question.kind = kind;
    question.path = path;
    question.exists = target.exists;
    question.identity = target.identity;
    if (!target.chain.empty())
        question.folder = target.chain.back();
    question.name = target.name;
    const ConsentRequest request{question.location.folder, kind, shown(path), m_program};
    ask(std::move(question), request, lock);
    return answerFor(target, path, kind); // a prompter that answered at once
}

std::optional<bool> FolderGuard::mayChangeEntryNow(const QByteArray &entry,
                                                   const QByteArray &path) {
    if (m_program.isPellim())
        return false;
    std::unique_lock lock(m_mutex);
    if (const std::optional<bool> asked = entryAnswerFor(entry, path))
        return asked;
    switch (m_store.entryAnswer(entry)) {
    case ConsentAnswer::Allowed:
        recordEntry(true, entry, path, QStringLiteral("stored: allowed"));
        return true;
    case ConsentAnswer::Denied:
        recordEntry(false, entry, path, QStringLiteral("stored: denied"));
        return false;
    case ConsentAnswer::NotDecided:
        break;
    }
    if (m_question && !m_question->answer)
        return std::nullopt; // one question at a time, whatever it is about
    Question question;
    question.entry = entry;
    question.kind = FileAccessKind::Write;
    question.path = path;
    ConsentRequest request{GuardedFolder::Documents, FileAccessKind::Write, shown(path), m_program};
    request.entry = homeShown(entry);
    ask(std::move(question), request, lock);
    return entryAnswerFor(entry, path);
}

// An answer its own call never took (that call went away) is stored already:
// a new question may take its place.
void FolderGuard::ask(Question question, const ConsentRequest &request,
                      std::unique_lock<std::mutex> &lock) {
    question.serial = ++m_questions;
    question.notDecided = notDecidedText();
    m_question = std::move(question);
    const std::uint64_t serial = m_questions;
    lock.unlock();
    m_prompter.begin(request, [this, serial](PromptAnswer answer) { answered(serial, answer); });
    lock.lock();
}

std::optional<bool> FolderGuard::entryAnswerFor(const QByteArray &entry, const QByteArray &path) {
    if (!m_question || !m_question->answer || m_question->entry != entry ||
        m_question->path != path)
        return std::nullopt;
    const bool allowed = *m_question->answer == PromptAnswer::Allow;
    recordEntry(allowed, entry, path, m_question->notDecided + m_question->stored);
    m_question.reset();
    return allowed;
}

void FolderGuard::recordEntry(bool allowed, const QByteArray &entry, const QByteArray &path,
                              const QString &how) {
    m_decisions.write(
        allowed ? LogLevel::Info : LogLevel::Error,
        said(QStringLiteral("%1, change to %2: %3").arg(homeShown(entry), shown(path), how)));
}

void FolderGuard::whenAnswered(std::function<void()> wake) {
    const std::lock_guard lock(m_mutex);
    m_wake = std::move(wake);
}

bool FolderGuard::guards(const Walked &target) const {
    const std::lock_guard lock(m_mutex);
    return m_set.keeping(target).has_value();
}

QString FolderGuard::notDecidedText() const {
    const ConsentStore::Contents stored = m_store.read();
    // Answers that are there but not used count as none; the entry says why.
    return stored.problem.isEmpty()
               ? QString()
               : QStringLiteral("not decided (the stored answers are ignored: %1), ")
                     .arg(stored.problem);
}

// Stores the person's answer at once, whether or not the call that asked is
// still there: it is their answer for the folder or the entry.
void FolderGuard::answered(std::uint64_t serial, PromptAnswer answer) {
    const std::lock_guard lock(m_mutex);
    if (!m_question || m_question->serial != serial || m_question->answer)
        return;
    Question &question = *m_question;
    question.answer = answer;
    if (answer == PromptAnswer::CannotAsk) {
        // Nothing is stored: the person never saw the question.
        question.stored = QStringLiteral("could not ask: denied");
    } else {
        const bool allowed = answer == PromptAnswer::Allow;
        const ConsentAnswer given = allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied;
        question.stored =
            allowed ? QStringLiteral("asked: allowed") : QStringLiteral("asked: denied");
        question.stored +=
            storedNote(question.entry.isEmpty() ? m_store.setAnswer(question.location.folder, given)
                                                : m_store.setEntryAnswer(question.entry, given),
                       m_store.filePath());
    }
    // Under the lock: whoever listens cannot go away meanwhile.
    if (m_wake)
        m_wake();
}

std::optional<bool> FolderGuard::answerFor(const Walked &target, const QByteArray &path,
                                           FileAccessKind kind) {
    if (!m_question || !m_question->answer || !m_question->entry.isEmpty())
        return std::nullopt;
    const Question &q = *m_question;
    const bool same = target.exists == q.exists &&
                      (q.exists ? target.identity == q.identity
                                : !target.chain.empty() && target.chain.back() == q.folder &&
                                      target.name == q.name);
    if (!same || path != q.path || kind != q.kind)
        return std::nullopt;
    const bool allowed = *q.answer == PromptAnswer::Allow;
    record(allowed, q.location, kind, path, target, q.notDecided + q.stored);
    m_question.reset();
    return allowed;
}

bool FolderGuard::mayAccess(const Walked &target, const QByteArray &path, FileAccessKind kind) {
    std::unique_lock lock(m_mutex);
    if (const std::optional<bool> decided = known(target, path, kind))
        return *decided;
    const GuardedLocation location = *m_set.keeping(target);
    const QString notDecided = notDecidedText();
    lock.unlock();
    const PromptAnswer answer =
        m_prompter.ask(ConsentRequest{location.folder, kind, shown(path), m_program});
    lock.lock();
    if (answer == PromptAnswer::CannotAsk) {
        // Nothing is stored: the person never saw the question.
        record(false, location, kind, path, target,
               notDecided + QStringLiteral("could not ask: denied"));
        return false;
    }
    const bool allowed = answer == PromptAnswer::Allow;
    QString how =
        notDecided + (allowed ? QStringLiteral("asked: allowed") : QStringLiteral("asked: denied"));
    how += storedNote(m_store.setAnswer(location.folder,
                                        allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied),
                      m_store.filePath());
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
    grant.chain = chosen->chain;
    {
        const std::lock_guard lock(m_mutex);
        m_grants.push_back(std::move(grant));
    }
    tellGranted();
}

void FolderGuard::onGrant(std::function<void()> changed) {
    const std::lock_guard lock(m_mutex);
    m_granted.push_back(std::move(changed));
}

// Outside the lock: an observer may ask for the choices again.
void FolderGuard::tellGranted() {
    std::vector<std::function<void()>> observers;
    {
        const std::lock_guard lock(m_mutex);
        observers = m_granted;
    }
    for (const std::function<void()> &observer : observers)
        observer();
}

std::vector<ChosenItem> FolderGuard::chosenItems() const {
    const std::lock_guard lock(m_mutex);
    std::vector<ChosenItem> items;
    for (const Grant &g : m_grants) {
        const ChosenItem item{g.display, g.isDirectory};
        if (std::find(items.begin(), items.end(), item) == items.end())
            items.push_back(item);
    }
    return items;
}

bool FolderGuard::revokeChosen(const QByteArray &path, const QString &how) {
    {
        const std::lock_guard lock(m_mutex);
        if (std::erase_if(m_grants, [&](const Grant &g) { return g.display == path; }) == 0)
            return false;
        m_log.write(LogLevel::Info,
                    said(QStringLiteral("%1: chosen in a dialog, no longer open: revoked %2")
                             .arg(shown(path), how)));
    }
    tellGranted();
    return true;
}

std::vector<FolderGuard::ChosenIn> FolderGuard::grantsIn(FileIdentity folder) const {
    const std::lock_guard lock(m_mutex);
    std::vector<ChosenIn> result;
    for (const Grant &g : m_grants) {
        const bool whole = g.isDirectory && g.exists && g.identity == folder;
        if (whole || std::find(g.chain.begin(), g.chain.end(), folder) != g.chain.end())
            result.push_back({QDir::cleanPath(shown(g.display)), whole});
    }
    return result;
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
    // No identity: the target is the guarded folder's own name, about to be made.
    const std::ptrdiff_t guardedDepth =
        guarded == FileIdentity{} ? std::ptrdiff_t(target.chain.size()) : depthOf(target, guarded);
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
                         const QByteArray &path, const Walked &target, QString how, bool foldable) {
    if (const QByteArray around = chosenFor(target, *location.identity).around; !around.isEmpty())
        how += QStringLiteral(" (%1 was chosen in a dialog; it holds this folder, which keeps its "
                              "own answer)")
                   .arg(QDir::cleanPath(shown(around)));
    const QString folder = folderDisplayName(location.folder), access = accessKindWord(kind);
    // The program is this guard's own; the folder, the access and how it was
    // decided (the note on a chosen folder around it included) make the kind.
    foldable = foldable && allowed;
    const QString kindText =
        foldable ? folder + QLatin1Char('\n') + access + QLatin1Char('\n') + how : QString();
    if (foldable && m_decisions.fold(kindText))
        return;
    QString text = shown(path);
    const QString resolved = QDir::cleanPath(shown(target.display));
    if (resolved != QDir::cleanPath(text))
        text += QStringLiteral(" (resolves to %1)").arg(resolved);
    const QString message =
        said(QStringLiteral("%1 folder, %2 access to %3: %4").arg(folder, access, text, how));
    if (!foldable) {
        m_decisions.write(allowed ? LogLevel::Info : LogLevel::Error, message);
        return;
    }
    m_decisions.writeFoldable(kindText, message, [this, folder, access, how](std::uint64_t more) {
        return said(QStringLiteral("\u2026 and %1 more %2 %3 in %4: %5")
                        .arg(countText(more), access,
                             more == 1 ? QStringLiteral("access") : QStringLiteral("accesses"),
                             folder, how));
    });
}

std::optional<std::chrono::steady_clock::time_point> FolderGuard::writeEndedEntries() {
    const std::lock_guard lock(m_mutex);
    return m_decisions.writeEnded();
}

void FolderGuard::writeHeldEntries() {
    const std::lock_guard lock(m_mutex);
    m_decisions.writeOpen();
}

} // namespace pellim
