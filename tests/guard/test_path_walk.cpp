#include "guard/PathWalk.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace pellim;

namespace {

FileIdentity idOf(const QByteArray &path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 ? FileIdentity{st.st_dev, st.st_ino} : FileIdentity{};
}
FileIdentity idOf(int fd) {
    return idOf("/proc/self/fd/" + QByteArray::number(fd));
}

bool writeFile(const QByteArray &path, const QByteArray &bytes) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Short folder names, but deep: spelled out, the path is well past PATH_MAX.
// With `jumps`, a link "j" every kJump levels leads kJump levels down, so a
// short path reaches the bottom. Returns the bottom folder.
const QByteArray kLevel(16, 'd');
constexpr int kDeepLevels = 260, kJump = 26;
UniqueFd digDeep(const QByteArray &top, bool jumps) {
    const QByteArray jump = (kLevel + '/').repeated(kJump).chopped(1);
    UniqueFd at(::open(top.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; level < kDeepLevels && at.isValid(); ++level) {
        if (jumps && level % kJump == 0)
            ::symlinkat(jump.constData(), at.get(), "j");
        ::mkdirat(at.get(), kLevel.constData(), 0755);
        at = UniqueFd(::openat(at.get(), kLevel.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return at;
}

} // namespace

class TestPathWalk : public QObject {
    Q_OBJECT

    QByteArray at(const QByteArray &name) const { return m_root + '/' + name; }

    QTemporaryDir m_tmp;
    QByteArray m_root = QFile::encodeName(m_tmp.path());
    FileIdentity m_docs;
    UniqueFd m_deepInDocs; // a folder in Documents whose path is longer than PATH_MAX

private slots:
    void initTestCase() {
        for (const char *folder : {"Documents", "Documents/sub", "safe", "deep"})
            QVERIFY(::mkdir(at(folder).constData(), 0755) == 0);
        for (const char *file : {"Documents/file.txt", "safe/file.txt"})
            QVERIFY(writeFile(at(file), "keep"));
        m_docs = idOf(at("Documents"));
        const std::pair<QByteArray, QByteArray> links[] = {
            {at("Documents"), "\xff"}, // not UTF-8: lost by any decode into text
            {"\xff", "L"},
            {"Documents/sub", "intoSub"},
            {"../safe", "Documents/exit"},
            {"loop", "loop"}};
        for (const auto &[target, name] : links)
            QVERIFY(::symlink(target.constData(), at(name).constData()) == 0);

        const UniqueFd bottom = digDeep(at("deep"), true);
        QVERIFY(::symlinkat(at("Documents").constData(), bottom.get(), "docs") == 0);
        m_deepInDocs = digDeep(at("Documents"), false);
        const QByteArray magic = "/proc/self/fd/" + QByteArray::number(m_deepInDocs.get());
        QVERIFY(writeFile(magic + "/file.txt", ""));
        char text[1];
        QVERIFY(::readlink(magic.constData(), text, 1) < 0 && errno == ENAMETOOLONG);
    }
    void cleanupTestCase() {
        // Past PATH_MAX QDir cannot remove the deep folders; rm works by descriptors.
        QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), m_tmp.path()});
    }

    void endsInsideDocumentsOrNot_data() {
        QTest::addColumn<QByteArray>("path"); // under the temporary folder unless absolute
        QTest::addColumn<bool>("inside");
        QTest::newRow("links through a name that is not UTF-8") << QByteArray("L/file.txt") << true;
        QTest::newRow("'..' after a link goes up from its target")
            << QByteArray("intoSub/../file.txt") << true;
        QTest::newRow("longer than PATH_MAX once resolved")
            << "deep/" + QByteArray("j/").repeated(kDeepLevels / kJump) + "docs/file.txt" << true;
        QTest::newRow("magic link whose text is too long to read")
            << "/proc/self/fd/" + QByteArray::number(m_deepInDocs.get()) + "/file.txt" << true;
        QTest::newRow("link in Documents leading out") << QByteArray("L/exit/file.txt") << false;
        QTest::newRow("link loop") << QByteArray("loop/file.txt") << false;
    }
    void endsInsideDocumentsOrNot() {
        QFETCH(QByteArray, path);
        QFETCH(bool, inside);
        path = path.startsWith('/') ? path : at(path);
        int error = 0;
        const std::optional<Walked> walked = walkPath(path, AT_FDCWD, &error);
        if (QByteArray(QTest::currentDataTag()) == "link loop") { // fails as in the kernel
            QVERIFY(!walked && error == ELOOP);
            return;
        }
        QVERIFY2(walked, strerror(error));
        QCOMPARE(within(*walked, m_docs), inside);
        // The kernel, given the same path, reaches the same file.
        const UniqueFd byKernel(::open(path.constData(), O_RDONLY | O_CLOEXEC));
        QVERIFY(walked->exists && walked->identity == idOf(byKernel.get()));
    }

    // What is opened is what was walked: a file swapped in between (a link flipped
    // in a race is tried through file access) is neither opened nor truncated.
    void openRefusesWhatWasSwappedIn() {
        const QByteArray secret = at("Documents/file.txt"), victim = at("safe/victim.txt");
        int error = 0;
        // Walked as a harmless file, then renamed over by a hard link to Documents.
        QVERIFY(writeFile(victim, ""));
        const std::optional<Walked> existing = walkPath(victim);
        QVERIFY(existing && existing->exists);
        QVERIFY(::link(secret.constData(), at("safe/swap").constData()) == 0);
        QVERIFY(::rename(at("safe/swap").constData(), victim.constData()) == 0);
        QVERIFY(!openWalked(*existing, O_WRONLY | O_TRUNC, 0, &error).isValid());
        QCOMPARE(error, ESTALE);

        // Missing when walked; the same hard link appears before the create.
        const std::optional<Walked> fresh = walkPath(at("safe/new.txt"));
        QVERIFY(fresh && !fresh->exists);
        QVERIFY(::link(secret.constData(), at("safe/new.txt").constData()) == 0);
        QVERIFY(!openWalked(*fresh, O_WRONLY | O_CREAT | O_TRUNC, 0644, &error).isValid());
        QCOMPARE(error, EEXIST);
        QCOMPARE(QFile(QFile::decodeName(secret)).size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestPathWalk)
#include "test_path_walk.moc"
