#include "guard/ConsentStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellim {

namespace {

// The file holds a few lines; anything much bigger is not ours.
constexpr qint64 kMaxFileBytes = 1 << 20;

const QString kAllowed = QStringLiteral("allowed");
const QString kDenied = QStringLiteral("denied");

struct RawFile {
    ConsentStore::FileState state = ConsentStore::FileState::Missing;
    QJsonObject root;
};

// Opened without blocking and checked to be a regular file, so that a FIFO or a
// device put in the file's place cannot hang the program.
RawFile readRaw(const QString &path) {
    RawFile result;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.state = (errno == ENOENT || errno == ENOTDIR) ? ConsentStore::FileState::Missing
                                                             : ConsentStore::FileState::Unreadable;
        return result;
    }
    QByteArray bytes;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    while (ok && bytes.size() <= kMaxFileBytes) {
        char buffer[8192];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes.append(buffer, n);
    }
    ::close(fd);
    if (!ok) {
        result.state = ConsentStore::FileState::Unreadable;
        return result;
    }
    if (bytes.size() > kMaxFileBytes) {
        result.state = ConsentStore::FileState::Damaged;
        return result;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        result.state = ConsentStore::FileState::Damaged;
        return result;
    }
    result.state = ConsentStore::FileState::Readable;
    result.root = doc.object();
    return result;
}

// Creates the missing folders on the way to `dir` with mode 0700; folders that
// exist are left as they are.
bool makeFolders(const QString &dir, QString *error) {
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
        if (error)
            *error = QStringLiteral("cannot create the folder %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

} // namespace

QString folderKey(GuardedFolder folder) {
    switch (folder) {
    case GuardedFolder::Documents:
        return QStringLiteral("documents");
    case GuardedFolder::Desktop:
        return QStringLiteral("desktop");
    case GuardedFolder::Downloads:
        return QStringLiteral("downloads");
    }
    return {};
}

QString folderDisplayName(GuardedFolder folder) {
    switch (folder) {
    case GuardedFolder::Documents:
        return QStringLiteral("Documents");
    case GuardedFolder::Desktop:
        return QStringLiteral("Desktop");
    case GuardedFolder::Downloads:
        return QStringLiteral("Downloads");
    }
    return {};
}

std::optional<GuardedFolder> folderFromKey(const QString &word) {
    for (GuardedFolder folder : kGuardedFolders) {
        if (word.compare(folderKey(folder), Qt::CaseInsensitive) == 0)
            return folder;
    }
    return std::nullopt;
}

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

ConsentStore::ConsentStore(QString filePath, QString appId)
    : m_filePath(std::move(filePath)), m_appId(std::move(appId)) {}

QString ConsentStore::defaultPath() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/pellim/folder-access.json");
}

ConsentStore::Contents ConsentStore::read() const {
    const RawFile raw = readRaw(m_filePath);
    Contents contents;
    contents.state = raw.state;
    if (raw.state != FileState::Readable)
        return contents;
    const QJsonValue mine = raw.root.value(m_appId);
    if (mine.isUndefined())
        return contents;
    if (!mine.isObject()) {
        contents.state = FileState::Damaged;
        return contents;
    }
    const QJsonObject answers = mine.toObject();
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
        const QJsonValue value = answers.value(folderKey(kGuardedFolders[i]));
        if (value.toString() == kAllowed)
            contents.answers[i] = ConsentAnswer::Allowed;
        else if (value.toString() == kDenied)
            contents.answers[i] = ConsentAnswer::Denied;
    }
    return contents;
}

namespace {

bool writeWhole(const QString &path, const QJsonObject &root, QString *error) {
    if (!makeFolders(QFileInfo(path).absolutePath(), error))
        return false;
    QSaveFile file(path);
    const auto fail = [&]() {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    // The answers are the person's own business: nobody else may read them.
    if (::fchmod(file.handle(), 0600) != 0) {
        file.cancelWriting();
        if (error)
            *error = QStringLiteral("cannot write %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size() || !file.commit())
        return fail();
    return true;
}

} // namespace

bool ConsentStore::setAnswer(GuardedFolder folder, ConsentAnswer answer, QString *error) {
    const RawFile raw = readRaw(m_filePath);
    QJsonObject root = raw.state == FileState::Readable ? raw.root : QJsonObject();
    QJsonObject mine = root.value(m_appId).toObject();
    if (answer == ConsentAnswer::NotDecided)
        mine.remove(folderKey(folder));
    else
        mine.insert(folderKey(folder), answerText(answer));
    root.insert(m_appId, mine);
    return writeWhole(m_filePath, root, error);
}

bool ConsentStore::resetAll(QString *error) {
    const RawFile raw = readRaw(m_filePath);
    QJsonObject root = raw.state == FileState::Readable ? raw.root : QJsonObject();
    root.insert(m_appId, QJsonObject());
    return writeWhole(m_filePath, root, error);
}

} // namespace pellim
