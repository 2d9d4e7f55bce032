// Arbitrary bytes in place of the stored-answers file, which any program of the
// person's may write: reading never crashes and a damaged file means no answers;
// storing an answer over it keeps a damaged file beside it and leaves a file
// that reads back that answer and keeps the other folders' answers of a file
// that parsed; a reset clears them all.
#include "FuzzCheck.h"
#include "consent/ConsentStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace pellim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1)
        return 0;
    // The first byte picks the folder and the answer to store; the rest is the file.
    const GuardedFolder folder = kGuardedFolders[data[0] % 3];
    const auto answer = static_cast<ConsentAnswer>((data[0] / 3) % 3);
    static const QTemporaryDir dir; // point TMPDIR at a memory file system for speed
    // The store trusts only a folder nobody else may write to, whatever the umask.
    FUZZ_CHECK(QDir(dir.path()).mkpath("pellim") &&
               QFile::setPermissions(dir.filePath("pellim"),
                                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QFile file(dir.filePath("pellim/folder-access.json"));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(reinterpret_cast<const char *>(data + 1), qint64(size - 1)) ==
                   qint64(size - 1));
    file.close();

    ConsentStore store(file.fileName());
    const ConsentStore::Contents before = store.read();
    const bool parsed = before.state == ConsentStore::FileState::Readable;
    FUZZ_CHECK(parsed || before.state == ConsentStore::FileState::Damaged);
    const Result<ConsentStore::Stored> stored = store.setAnswer(folder, answer);
    FUZZ_CHECK(stored);
    // A damaged file is kept beside the new one, whole.
    if (!parsed) {
        QFile kept(stored->kept);
        FUZZ_CHECK(kept.open(QIODevice::ReadOnly) &&
                   kept.readAll() ==
                       QByteArray(reinterpret_cast<const char *>(data + 1), qint64(size - 1)) &&
                   kept.remove());
    }
    const ConsentStore::Contents after = store.read();
    FUZZ_CHECK(after.state == ConsentStore::FileState::Readable && after.answer(folder) == answer);
    for (const GuardedFolder f : kGuardedFolders) {
        FUZZ_CHECK(parsed || before.answer(f) == ConsentAnswer::NotDecided);
        FUZZ_CHECK(f == folder || !parsed || after.answer(f) == before.answer(f));
    }
    FUZZ_CHECK(store.resetProgram());
    for (const GuardedFolder f : kGuardedFolders)
        FUZZ_CHECK(store.read().answer(f) == ConsentAnswer::NotDecided);
    return 0;
}
