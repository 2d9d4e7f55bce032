// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/ConsentStore.h"

#include "consent/UserFolders.h"
#include "sys/Descriptor.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pellim {

namespace {

// The file holds a few lines; anything much bigger is not ours.
constexpr qint64 kMaxFileBytes = 1 << 20;

const QString kAllowed = QStringLiteral("allowed");
const QString kDenied = QStringLiteral("denied");

// Where the file lies: its folder and its name in it, as the file system spells them.
struct Location {
    QString path;       // the file, for messages
    QByteArray folder;  // the `pellim` folder
    QString folderText; // the same, for messages
    QByteArray name;    // folder-access.json
    QByteArray lockName;
    QByteArray newName; // the next contents, before they are renamed into place
};

Location locate(const QString &path) {
    Location where;
    where.path = path;
    const QByteArray bytes = QFile::encodeName(path);
    const qsizetype slash = bytes.lastIndexOf('/');
    where.folder = slash > 0 ? bytes.left(slash) : QByteArray(slash == 0 ? "/" : ".");
    where.folderText = QFile::decodeName(where.folder);
    where.name = bytes.mid(slash + 1);
    const QByteArray stem = where.name.endsWith(".json") ? where.name.chopped(5) : where.name;
    where.lockName = stem + ".lock";
    where.newName = where.name + ".new";
    return where;
}

struct RawFile {
    ConsentStore::FileState state = ConsentStore::FileState::Missing;
    QString problem;
    QJsonObject root;
};

RawFile failed(ConsentStore::FileState state, QString problem) {
    RawFile result;
    result.state = state;
    result.problem = std::move(problem);
    return result;
}

RawFile refused(QString problem) {
    return failed(ConsentStore::FileState::Refused, std::move(problem));
}

// Why the person cannot count `st` as their own file, or nothing when they can.
std::optional<QString> foreignFile(const struct stat &st, const QString &path) {
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("%1 is a symbolic link").arg(path);
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(path);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user (uid %2)").arg(path).arg(st.st_uid);
    return std::nullopt;
}

// Why the person cannot count the folder as theirs alone, or nothing when they can.
std::optional<QString> foreignFolder(const struct stat &st, const QString &path) {
    if (st.st_uid != ::geteuid())
        return QStringLiteral("the folder %1 belongs to another user (uid %2)")
            .arg(path)
            .arg(st.st_uid);
    if ((st.st_mode & 022) != 0)
        return QStringLiteral("others can write to the folder %1 (mode %2)")
            .arg(path)
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return std::nullopt;
}

// Opens the `pellim` folder itself, never a link in its place, and checks that it
// is the person's alone. On failure `state` says how it failed: Missing when there
// is no folder (or something on the way is not a folder), else Unreadable or
// Refused, with the reason in `problem`.
UniqueFd openFolder(const Location &where, RawFile &failure) {
    UniqueFd dir(::open(where.folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.isValid()) {
        const int error = errno;
        struct stat st {};
        if (error == ELOOP || (::lstat(where.folder.constData(), &st) == 0 && S_ISLNK(st.st_mode)))
            failure =
                refused(QStringLiteral("the folder %1 is a symbolic link").arg(where.folderText));
        else if (error == ENOENT || error == ENOTDIR)
            failure = failed(ConsentStore::FileState::Missing, QString());
        else
            failure = failed(ConsentStore::FileState::Unreadable,
                             QStringLiteral("cannot open the folder %1: %2")
                                 .arg(where.folderText, errnoText(error)));
        return UniqueFd();
    }
    struct stat st {};
    if (::fstat(dir.get(), &st) != 0) {
        failure = failed(ConsentStore::FileState::Unreadable,
                         QStringLiteral("cannot examine the folder %1: %2")
                             .arg(where.folderText, errnoText(errno)));
        return UniqueFd();
    }
    if (std::optional<QString> problem = foreignFolder(st, where.folderText)) {
        failure = refused(std::move(*problem));
        return UniqueFd();
    }
    return dir;
}

// Reads the file in `dir`. It is looked at before it is opened, so that a device
// or a FIFO in its place is never opened at all, and checked again once open.
RawFile readAt(int dir, const Location &where) {
    struct stat st {};
    if (::fstatat(dir, where.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return {};
        return failed(ConsentStore::FileState::Unreadable,
                      QStringLiteral("cannot examine %1: %2").arg(where.path, errnoText(errno)));
    }
    if (std::optional<QString> problem = foreignFile(st, where.path))
        return refused(std::move(*problem));
    UniqueFd fd(::openat(dir, where.name.constData(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isValid()) {
        if (errno == ELOOP)
            return refused(QStringLiteral("%1 is a symbolic link").arg(where.path));
        if (errno == ENOENT)
            return {};
        return failed(ConsentStore::FileState::Unreadable,
                      QStringLiteral("cannot open %1: %2").arg(where.path, errnoText(errno)));
    }
    if (::fstat(fd.get(), &st) != 0)
        return failed(ConsentStore::FileState::Unreadable,
                      QStringLiteral("cannot examine %1: %2").arg(where.path, errnoText(errno)));
    if (std::optional<QString> problem = foreignFile(st, where.path))
        return refused(std::move(*problem));

    QByteArray bytes;
    while (bytes.size() <= kMaxFileBytes) {
        char buffer[8192];
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failed(ConsentStore::FileState::Unreadable,
                          QStringLiteral("cannot read %1: %2").arg(where.path, errnoText(errno)));
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    const QString damaged = QStringLiteral("%1 is damaged").arg(where.path);
    if (bytes.size() > kMaxFileBytes)
        return failed(ConsentStore::FileState::Damaged, damaged);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return failed(ConsentStore::FileState::Damaged, damaged);
    RawFile result;
    result.state = ConsentStore::FileState::Readable;
    result.root = doc.object();
    return result;
}

RawFile readRaw(const QString &path) {
    if (path.isEmpty())
        return refused(QStringLiteral(
            "there is nowhere to keep them: neither XDG_STATE_HOME nor HOME is an absolute path"));
    const Location where = locate(path);
    RawFile failure;
    const UniqueFd dir = openFolder(where, failure);
    if (!dir.isValid())
        return failure;
    return readAt(dir.get(), where);
}

// Creates the missing folders on the way to `dir` with mode 0700; folders that
// exist are left as they are.
Outcome makeFolders(const QString &dir) {
    const QStringList parts = QDir::cleanPath(dir).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString &part : parts) {
        path += QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(path);
        if (::mkdir(name.constData(), 0700) == 0 || errno == EEXIST) {
            struct stat st {};
            if (::stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            errno = ENOTDIR;
        }
        return Failure{QStringLiteral("cannot create the folder %1").arg(path), errno};
    }
    return done();
}

// Puts `root` in place of the file in `dir`: written whole to a new file beside
// it, then renamed over it. The rename replaces whatever name is there, never
// what a link there points to.
Outcome replaceAt(int dir, const Location &where, const QJsonObject &root) {
    const auto fail = [&](const QString &what, int code) {
        ::unlinkat(dir, where.newName.constData(), 0);
        return Failure{QStringLiteral("cannot write %1: %2").arg(where.path, what), code};
    };
    // Left over from a writer that died: only writers holding the lock touch it.
    if (::unlinkat(dir, where.newName.constData(), 0) != 0 && errno != ENOENT)
        return fail(QStringLiteral("cannot remove the old new file"), errno);
    // The answers are the person's own business: nobody else may read them.
    UniqueFd fd(::openat(dir, where.newName.constData(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
    if (!fd.isValid())
        return fail(QStringLiteral("cannot create the new file"), errno);
    if (::fchmod(fd.get(), 0600) != 0)
        return fail(QStringLiteral("cannot make it private"), errno);
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0)
        return fail(QStringLiteral("cannot write the new file"), errno);
    if (fd.close() != 0)
        return fail(QStringLiteral("cannot write the new file"), errno);
    if (::renameat(dir, where.newName.constData(), dir, where.name.constData()) != 0)
        return fail(QStringLiteral("cannot put the new file in place"), errno);
    ::fsync(dir); // the rename itself lasting is nice to have; the answer is in place
    return done();
}

// Takes the writers' lock beside the file; held until the descriptor closes.
Result<UniqueFd> lockAt(int dir, const Location &where) {
    const QString lockPath = QFile::decodeName(where.folder + '/' + where.lockName);
    const QString step = QStringLiteral("cannot lock %1").arg(lockPath);
    UniqueFd fd(::openat(dir, where.lockName.constData(),
                         O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    if (!fd.isValid())
        return errno == ELOOP ? Failure{step + QStringLiteral(": it is a symbolic link")}
                              : Failure{step, errno};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return Failure{step, errno};
    if (std::optional<QString> problem = foreignFile(st, lockPath))
        return Failure{step + QStringLiteral(": ") + *problem};
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return Failure{step, errno};
    }
    return fd;
}

// What a kept file's name says is wrong with it: "folder-access.json.damaged-".
QByteArray keptPrefix(const Location &where, ConsentStore::FileState state) {
    return where.name + (state == ConsentStore::FileState::Damaged ? ".damaged-" : ".unreadable-");
}

// Keeps the file in `dir` beside it, as a second name for the same file, so
// that replacing it loses nothing: "folder-access.json.damaged-20261208-013000",
// with "-2" and on added where an earlier one kept in the same second has the name.
Result<QByteArray> keepAside(int dir, const Location &where, ConsentStore::FileState state) {
    const QByteArray stem = keptPrefix(where, state) +
                            QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss").toLatin1();
    int error = EEXIST;
    for (int n = 1; n <= 100 && error == EEXIST; ++n) {
        const QByteArray name = n == 1 ? stem : stem + '-' + QByteArray::number(n);
        if (::linkat(dir, where.name.constData(), dir, name.constData(), 0) == 0)
            return name;
        error = errno;
    }
    return Failure{QStringLiteral("cannot keep %1 beside it before replacing it").arg(where.path),
                   error};
}

} // namespace

QString answerText(ConsentAnswer answer) {
    switch (answer) {
    case ConsentAnswer::Allowed:
        return kAllowed;
    case ConsentAnswer::Denied:
        return kDenied;
    case ConsentAnswer::NotDecided:
        break;
    }
    return QStringLiteral("not decided");
}

QString keptEntry(const QString &file, const QString &kept, const QString &when) {
    return QStringLiteral("Answers file: %1 could not be used; it was kept as %2 %3")
        .arg(file, kept, when);
}

ConsentStore::ConsentStore(QString filePath, QString appId, QString shownName)
    : m_filePath(std::move(filePath)), m_appId(std::move(appId)),
      m_shownName(std::move(shownName)) {}

QString ConsentStore::defaultPath() {
    QByteArray base = qgetenv("XDG_STATE_HOME");
    if (!base.startsWith('/')) {
        const QByteArray home = homeFolder();
        if (home.isEmpty())
            return {};
        base = (home.endsWith('/') ? home.chopped(1) : home) + "/.local/state";
    }
    if (base.endsWith('/'))
        base.chop(1);
    return QFile::decodeName(base + "/pellim/folder-access.json");
}

namespace {

constexpr char kRecordedKey[] = "guarded";
constexpr char kEntriesKey[] = "entries";
constexpr char kNameKey[] = "name";

ConsentAnswer answerFrom(const QJsonValue &value) {
    if (value.toString() == kAllowed)
        return ConsentAnswer::Allowed;
    if (value.toString() == kDenied)
        return ConsentAnswer::Denied;
    return ConsentAnswer::NotDecided;
}

std::array<ConsentAnswer, 3> answersIn(const QJsonObject &mine) {
    std::array<ConsentAnswer, 3> answers{};
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i)
        answers[i] = answerFrom(mine.value(folderKey(kGuardedFolders[i])));
    return answers;
}

// An entry's path is a key in the file: percent-encoded, so that a name that is
// not UTF-8 survives the JSON, with the slashes left readable.
QString entryKey(const QByteArray &entry) {
    return QString::fromLatin1(entry.toPercentEncoding("/"));
}

std::vector<std::pair<QByteArray, ConsentAnswer>> entriesIn(const QJsonObject &mine) {
    std::vector<std::pair<QByteArray, ConsentAnswer>> entries;
    const QJsonObject all = mine.value(QLatin1String(kEntriesKey)).toObject();
    for (auto it = all.begin(); it != all.end(); ++it) {
        const QByteArray path = QByteArray::fromPercentEncoding(it.key().toUtf8());
        const ConsentAnswer answer = answerFrom(it.value());
        if (path.startsWith('/') && answer != ConsentAnswer::NotDecided)
            entries.emplace_back(path, answer);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<ConsentStore::RecordedFolder> recordedIn(const QJsonObject &mine) {
    std::vector<ConsentStore::RecordedFolder> folders;
    for (const QJsonValue &value : mine.value(QLatin1String(kRecordedKey)).toArray()) {
        const QJsonObject o = value.toObject();
        const std::optional<GuardedFolder> folder = folderFromKey(o.value("folder").toString());
        const QByteArray path =
            QByteArray::fromPercentEncoding(o.value("path").toString().toLatin1());
        if (!folder || !path.startsWith('/'))
            continue; // damaged: guarding nothing is what the settings decide
        folders.push_back({*folder, path,
                           FileIdentity{dev_t(o.value("device").toInteger()),
                                        ino_t(o.value("inode").toInteger())}});
    }
    return folders;
}

QJsonArray recordedArray(const std::vector<ConsentStore::RecordedFolder> &folders) {
    QJsonArray array;
    for (const ConsentStore::RecordedFolder &f : folders)
        array.append(QJsonObject{{"folder", folderKey(f.folder)},
                                 {"path", QString::fromLatin1(f.path.toPercentEncoding("/"))},
                                 {"device", qint64(f.identity.dev)},
                                 {"inode", qint64(f.identity.ino)}});
    return array;
}

// What a reading depends on: the folder and the file as they are now.
struct Stamp {
    struct stat folder {};
    struct stat file {};
    bool fileThere = false;
};

bool same(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mode == b.st_mode &&
           a.st_uid == b.st_uid && a.st_size == b.st_size && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::optional<Stamp> stampOf(const QString &path) {
    if (path.isEmpty())
        return std::nullopt;
    const QByteArray file = QFile::encodeName(path);
    const QByteArray folder = file.left(file.lastIndexOf('/'));
    Stamp stamp;
    if (::lstat(folder.constData(), &stamp.folder) != 0)
        return std::nullopt;
    stamp.fileThere = ::lstat(file.constData(), &stamp.file) == 0;
    if (!stamp.fileThere && errno != ENOENT)
        return std::nullopt;
    return stamp;
}

} // namespace

struct ConsentStore::Cached {
    std::optional<Stamp> stamp;
    Contents contents;
    QJsonObject root; // the whole file, when it could be read
};

namespace {

ConsentStore::Contents contentsOf(const RawFile &raw, const QString &appId, const QString &path) {
    ConsentStore::Contents contents;
    contents.state = raw.state;
    contents.problem = raw.problem;
    if (raw.state != ConsentStore::FileState::Readable)
        return contents;
    const QJsonValue mine = raw.root.value(appId);
    if (mine.isUndefined())
        return contents;
    if (!mine.isObject()) {
        contents.state = ConsentStore::FileState::Damaged;
        contents.problem = QStringLiteral("%1 is damaged").arg(path);
        return contents;
    }
    const QJsonObject answers = mine.toObject();
    contents.recorded = recordedIn(answers);
    contents.answers = answersIn(answers);
    contents.entries = entriesIn(answers);
    return contents;
}

} // namespace

std::shared_ptr<const ConsentStore::Cached> ConsentStore::reading() const {
    // A change made in the same clock tick with the same size would keep its
    // stamp, so a reading less than a second old is never trusted.
    std::optional<Stamp> stamp = stampOf(m_filePath);
    const std::shared_ptr<const Cached> cached = m_cached;
    if (stamp && cached && cached->stamp && same(stamp->folder, cached->stamp->folder) &&
        stamp->fileThere == cached->stamp->fileThere &&
        (!stamp->fileThere || same(stamp->file, cached->stamp->file)) &&
        ::time(nullptr) > stamp->file.st_ctim.tv_sec + 1 &&
        ::time(nullptr) > stamp->folder.st_ctim.tv_sec + 1)
        return cached;
    RawFile raw = readRaw(m_filePath);
    auto fresh = std::make_shared<Cached>();
    fresh->contents = contentsOf(raw, m_appId, m_filePath);
    fresh->root = std::move(raw.root);
    fresh->stamp = std::move(stamp);
    if (fresh->stamp)
        m_cached = fresh;
    return fresh;
}

ConsentStore::Contents ConsentStore::read() const {
    const std::shared_ptr<const Cached> now = reading();
    const Contents &contents = now->contents;
    if (m_report) {
        // The same problem in a file written since is another one.
        QString key = contents.problem;
        if (now->stamp && !key.isEmpty()) {
            const struct stat &file = now->stamp->file;
            key += QStringLiteral("|%1:%2:%3:%4")
                       .arg(file.st_dev)
                       .arg(file.st_ino)
                       .arg(file.st_size)
                       .arg(file.st_mtim.tv_nsec + file.st_mtim.tv_sec * 1000000000LL);
        }
        if (key != m_reported && !contents.problem.isEmpty())
            m_report(contents);
        m_reported = std::move(key);
    }
    return contents;
}

ConsentAnswer ConsentStore::entryAnswer(const QByteArray &entry) const {
    // Through read(), as a folder's answer: a problem with the file is reported
    // whichever question meets it first.
    for (const auto &[path, answer] : read().entries)
        if (path == entry)
            return answer;
    return ConsentAnswer::NotDecided;
}

std::vector<ConsentStore::ProgramAnswers> ConsentStore::programs() const {
    const std::shared_ptr<const Cached> now = reading();
    std::vector<ProgramAnswers> all;
    for (auto it = now->root.begin(); it != now->root.end(); ++it) {
        if (!it.value().isObject())
            continue;
        const QJsonObject o = it.value().toObject();
        ProgramAnswers program{it.key(), o.value(QLatin1String(kNameKey)).toString(), answersIn(o),
                               entriesIn(o)};
        const bool answered =
            !program.entries.empty() ||
            std::any_of(program.answers.begin(), program.answers.end(),
                        [](ConsentAnswer a) { return a != ConsentAnswer::NotDecided; });
        if (!answered)
            continue;
        if (program.isPellim())
            program.name = QStringLiteral("Pellim");
        else if (program.name.isEmpty())
            program.name = program.id.mid(program.id.lastIndexOf('/') + 1);
        all.push_back(std::move(program));
    }
    std::sort(all.begin(), all.end(), [](const ProgramAnswers &a, const ProgramAnswers &b) {
        if (a.isPellim() != b.isPellim())
            return a.isPellim();
        if (const int order = a.name.compare(b.name, Qt::CaseInsensitive); order != 0)
            return order < 0;
        return a.id < b.id;
    });
    return all;
}

template <typename Change> Result<ConsentStore::Stored> ConsentStore::rewrite(Change change) {
    if (m_filePath.isEmpty())
        return Failure{readRaw(m_filePath).problem};
    const Location where = locate(m_filePath);
    if (const Outcome made = makeFolders(QFileInfo(where.folderText).absolutePath()); !made)
        return made.failure();
    if (::mkdir(where.folder.constData(), 0700) != 0 && errno != EEXIST)
        return Failure{QStringLiteral("cannot create the folder %1").arg(where.folderText), errno};
    const auto refusal = [&](const QString &problem) {
        return Failure{
            QStringLiteral("the stored answers are ignored and left as they are: %1").arg(problem)};
    };
    RawFile failure;
    const UniqueFd dir = openFolder(where, failure);
    if (!dir.isValid()) {
        if (failure.state == FileState::Refused)
            return refusal(failure.problem);
        if (failure.state == FileState::Missing)
            return Failure{QStringLiteral("cannot open the folder %1").arg(where.folderText),
                           ENOTDIR};
        return Failure{failure.problem};
    }
    const Result<UniqueFd> lock = lockAt(dir.get(), where);
    if (!lock)
        return lock.failure();
    const RawFile raw = readAt(dir.get(), where);
    if (raw.state == FileState::Refused)
        return refusal(raw.problem);
    // Ours unusable: the file is kept as it was, the other programs' answers stay.
    const bool oursDamaged = raw.state == FileState::Readable && raw.root.contains(m_appId) &&
                             !raw.root.value(m_appId).isObject();
    // Answers that could not be read are still the person's: kept, never written over.
    QByteArray kept;
    if (oursDamaged || raw.state == FileState::Damaged || raw.state == FileState::Unreadable) {
        Result<QByteArray> aside =
            keepAside(dir.get(), where, oursDamaged ? FileState::Damaged : raw.state);
        if (!aside)
            return aside.failure();
        kept = std::move(*aside);
    }
    QJsonObject root = raw.state == FileState::Readable ? raw.root : QJsonObject();
    if (oursDamaged)
        root.remove(m_appId);
    change(root);
    if (const Outcome replaced = replaceAt(dir.get(), where, root); !replaced) {
        if (!kept.isEmpty())
            ::unlinkat(dir.get(), kept.constData(), 0); // the file is still in its place
        return replaced.failure();
    }
    return Stored{kept.isEmpty() ? QString() : QFile::decodeName(where.folder + '/' + kept)};
}

namespace {

// `mine` back in `root`, under `id`, with `name` or else the name it had; a
// program left with nothing but its name is dropped.
void putBack(QJsonObject &root, const QString &id, QJsonObject mine, const QString &name) {
    const QString shown = name.isEmpty() ? mine.value(QLatin1String(kNameKey)).toString() : name;
    mine.remove(QLatin1String(kNameKey));
    if (mine.isEmpty()) {
        root.remove(id);
        return;
    }
    if (!shown.isEmpty())
        mine.insert(QLatin1String(kNameKey), shown);
    root.insert(id, mine);
}

// The object with its answers gone, its name and recorded folders kept.
QJsonObject withoutAnswers(const QJsonObject &mine) {
    QJsonObject kept;
    for (const char *key : {kRecordedKey, kNameKey})
        if (const QJsonValue value = mine.value(QLatin1String(key)); !value.isUndefined())
            kept.insert(QLatin1String(key), value);
    return kept;
}

} // namespace

Result<ConsentStore::Stored> ConsentStore::setAnswer(GuardedFolder folder, ConsentAnswer answer) {
    return rewrite([&](QJsonObject &root) {
        QJsonObject mine = root.value(m_appId).toObject();
        if (answer == ConsentAnswer::NotDecided)
            mine.remove(folderKey(folder));
        else
            mine.insert(folderKey(folder), answerText(answer));
        putBack(root, m_appId, mine, m_shownName);
    });
}

Result<ConsentStore::Stored> ConsentStore::setEntryAnswer(const QByteArray &entry,
                                                          ConsentAnswer answer) {
    if (!entry.startsWith('/'))
        return Failure{QStringLiteral("%1 is not an absolute path").arg(QFile::decodeName(entry))};
    return rewrite([&](QJsonObject &root) {
        QJsonObject mine = root.value(m_appId).toObject();
        QJsonObject entries = mine.value(QLatin1String(kEntriesKey)).toObject();
        if (answer == ConsentAnswer::NotDecided)
            entries.remove(entryKey(entry));
        else
            entries.insert(entryKey(entry), answerText(answer));
        if (entries.isEmpty())
            mine.remove(QLatin1String(kEntriesKey));
        else
            mine.insert(QLatin1String(kEntriesKey), entries);
        putBack(root, m_appId, mine, m_shownName);
    });
}

Result<ConsentStore::Stored> ConsentStore::resetProgram() {
    // The answers go; the folders recorded as guarded stay guarded.
    return rewrite([&](QJsonObject &root) {
        putBack(root, m_appId, withoutAnswers(root.value(m_appId).toObject()), m_shownName);
    });
}

Result<ConsentStore::Stored> ConsentStore::resetEveryProgram() {
    return rewrite([&](QJsonObject &root) {
        for (const QString &id : root.keys()) {
            if (root.value(id).isObject())
                putBack(root, id, withoutAnswers(root.value(id).toObject()), {});
        }
    });
}

Result<ConsentStore::Stored> ConsentStore::record(const std::vector<RecordedFolder> &folders) {
    const std::vector<RecordedFolder> known = read().recorded;
    const bool allKnown = std::all_of(folders.begin(), folders.end(), [&](const RecordedFolder &f) {
        return std::find(known.begin(), known.end(), f) != known.end();
    });
    if (allKnown)
        return Stored{}; // nothing to write: the start stays quick
    return rewrite([&](QJsonObject &root) {
        QJsonObject mine = root.value(m_appId).toObject();
        std::vector<RecordedFolder> all = recordedIn(mine);
        for (const RecordedFolder &f : folders) {
            const auto same = std::find_if(all.begin(), all.end(), [&](const RecordedFolder &r) {
                return r.path == f.path && r.folder == f.folder;
            });
            if (same == all.end())
                all.push_back(f);
            else
                *same = f; // the identity it has now
        }
        mine.insert(kRecordedKey, recordedArray(all));
        putBack(root, m_appId, mine, m_shownName);
    });
}

Result<ConsentStore::Stored> ConsentStore::release(const QByteArray &path) {
    bool found = false;
    Result<Stored> written = rewrite([&](QJsonObject &root) {
        QJsonObject mine = root.value(m_appId).toObject();
        std::vector<RecordedFolder> all = recordedIn(mine);
        const auto gone = std::remove_if(all.begin(), all.end(),
                                         [&](const RecordedFolder &r) { return r.path == path; });
        found = gone != all.end();
        all.erase(gone, all.end());
        mine.insert(kRecordedKey, recordedArray(all));
        putBack(root, m_appId, mine, m_shownName);
    });
    if (written && !found)
        return Failure{
            QStringLiteral("%1 is not a recorded guarded folder").arg(QFile::decodeName(path))};
    return written;
}

QStringList ConsentStore::keptFiles() const {
    if (m_filePath.isEmpty())
        return {};
    const Location where = locate(m_filePath);
    QStringList names =
        QDir(where.folderText)
            .entryList({QFile::decodeName(keptPrefix(where, FileState::Damaged)) + '*',
                        QFile::decodeName(keptPrefix(where, FileState::Unreadable)) + '*'},
                       QDir::Files | QDir::Hidden | QDir::System);
    // By the time in the name, whatever the reason before it.
    const qsizetype stem = where.name.size();
    std::sort(names.begin(), names.end(), [&](const QString &a, const QString &b) {
        return a.mid(a.indexOf('-', stem)) < b.mid(b.indexOf('-', stem));
    });
    for (QString &name : names)
        name.prepend(where.folderText + '/');
    return names;
}

void ConsentStore::reportProblems(std::function<void(const Contents &)> report) {
    m_report = std::move(report);
    m_reported.clear();
    (void)read(); // a problem there is now is reported now
}

} // namespace pellim
