// Arbitrary bytes in place of the stored-answers file: reading never crashes,
// and storing an answer over whatever was there leaves a file that reads back
// that answer, keeping the other folders' answers of a file that parsed.
#include "FuzzCheck.h"
#include "guard/ConsentStore.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>

using pellim::ConsentAnswer;
using pellim::ConsentStore;
using pellim::GuardedFolder;
using pellim::kGuardedFolders;

namespace {

// One folder for the whole run, on a memory file system where there is one,
// since every input writes the file twice.
const QString &storePath() {
    static const std::unique_ptr<QTemporaryDir> dir = [] {
        const QString shm = QStringLiteral("/dev/shm");
        const QString base = QDir(shm).exists() ? shm : QDir::tempPath();
        return std::make_unique<QTemporaryDir>(base + QStringLiteral("/pellim-fuzz-XXXXXX"));
    }();
    static const QString path = dir->filePath(QStringLiteral("state/pellim/folder-access.json"));
    return path;
}

void writeRaw(const QString &path, const QByteArray &bytes) {
    // The store trusts only a folder nobody else may write to, whatever the umask.
    const QString folder = QFileInfo(path).absolutePath();
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1)
        return 0;
    // The first byte picks the folder and the answer to store; the rest is the file.
    const GuardedFolder folder = kGuardedFolders[data[0] % 3];
    const ConsentAnswer answer = static_cast<ConsentAnswer>((data[0] / 3) % 3);
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const QString &path = storePath();
    writeRaw(path, bytes);
    ConsentStore store(path);
    const ConsentStore::Contents before = store.read();
    FUZZ_CHECK(before.state == ConsentStore::FileState::Readable ||
               before.state == ConsentStore::FileState::Damaged);
    if (before.state == ConsentStore::FileState::Damaged) {
        for (GuardedFolder f : kGuardedFolders)
            FUZZ_CHECK(before.answer(f) == ConsentAnswer::NotDecided);
    }

    QString error;
    FUZZ_CHECK(store.setAnswer(folder, answer, &error));
    const ConsentStore::Contents after = store.read();
    FUZZ_CHECK(after.state == ConsentStore::FileState::Readable);
    FUZZ_CHECK(after.answer(folder) == answer);
    for (GuardedFolder f : kGuardedFolders) {
        if (f != folder && before.state == ConsentStore::FileState::Readable)
            FUZZ_CHECK(after.answer(f) == before.answer(f));
    }

    FUZZ_CHECK(store.resetAll(&error));
    for (GuardedFolder f : kGuardedFolders)
        FUZZ_CHECK(store.read().answer(f) == ConsentAnswer::NotDecided);
    return 0;
}
