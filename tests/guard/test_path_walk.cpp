#include "guard/PathWalk.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstring>
#include <thread>

using namespace pellim;

namespace {

FileIdentity identityOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? FileIdentity{st.st_dev, st.st_ino} : FileIdentity{};
}

FileIdentity identityOf(const QByteArray &path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 ? FileIdentity{st.st_dev, st.st_ino} : FileIdentity{};
}

bool writeFile(const QByteArray &path, const QByteArray &bytes) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Short folder names, but deep: spelled out, the path is well past PATH_MAX.
const QByteArray kLevel(16, 'd');
constexpr int kDeepLevels = 260;
constexpr int kJump = 26;

// Folders `kDeepLevels` deep below `dir`; with `jumps`, a link "j" every kJump
// levels leads kJump levels down, so a short path reaches the bottom. Returns
// the bottom folder.
UniqueFd digDeep(int dir, bool jumps) {
    const QByteArray jump = (kLevel + '/').repeated(kJump).chopped(1);
    UniqueFd at(::openat(dir, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
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

private slots:
    void initTestCase();
    void cleanupTestCase();
    void endsInsideDocumentsOrNot_data();
    void endsInsideDocumentsOrNot();
    void magicLinkIntoAnotherMountNamespace();
    void openRefusesWhatWasSwappedIn();
    void flippingLinkNeverOpensDocuments();

private:
    QByteArray at(const QByteArray &name) const { return m_root + '/' + name; }

    QTemporaryDir m_tmp;
    QByteArray m_root;
    FileIdentity m_docs;
    UniqueFd m_deepInDocs; // a folder in Documents whose path is longer than PATH_MAX
};

void TestPathWalk::initTestCase() {
    QVERIFY(m_tmp.isValid());
    m_root = QFile::encodeName(m_tmp.path());
    for (const char *folder : {"Documents", "Documents/sub", "Documents2", "safe", "deep", "empty"})
        QVERIFY(::mkdir(at(folder).constData(), 0755) == 0);
    for (const char *file : {"Documents/file.txt", "Documents2/file.txt", "safe/file.txt"})
        QVERIFY(writeFile(at(file), "keep"));
    m_docs = identityOf(at("Documents"));

    const std::array<std::pair<QByteArray, QByteArray>, 6> links{{
        {at("Documents"), "plain"},
        {at("Documents"), "\xff"}, // not UTF-8: lost by any decode into text
        {"\xff", "L"},
        {"Documents/sub", "intoSub"},
        {"../safe", "Documents/exit"},
        {at("safe"), "out"},
    }};
    for (const auto &[target, name] : links)
        QVERIFY(::symlink(target.constData(), at(name).constData()) == 0);

    const UniqueFd deep(::open(at("deep").constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const UniqueFd bottom = digDeep(deep.get(), true);
    QVERIFY(bottom.isValid());
    QVERIFY(::symlinkat(at("Documents").constData(), bottom.get(), "docs") == 0);
    QVERIFY(at("deep/").size() + (kLevel.size() + 1) * kDeepLevels > PATH_MAX);

    const UniqueFd docs(::open(at("Documents").constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    m_deepInDocs = digDeep(docs.get(), false);
    QVERIFY(m_deepInDocs.isValid());
    const QByteArray magic = "/proc/self/fd/" + QByteArray::number(m_deepInDocs.get());
    QVERIFY(writeFile(magic + "/file.txt", ""));
    char text[1];
    QVERIFY(::readlink(magic.constData(), text, 1) < 0 && errno == ENAMETOOLONG);
}

void TestPathWalk::cleanupTestCase() {
    // Past PATH_MAX QDir cannot remove the deep folders; rm works by descriptors.
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), m_tmp.path()});
}

void TestPathWalk::endsInsideDocumentsOrNot_data() {
    QTest::addColumn<QByteArray>("path"); // under the temporary folder unless absolute
    QTest::addColumn<bool>("inside");

    QTest::newRow("link") << QByteArray("plain/file.txt") << true;
    QTest::newRow("chain through a name that is not UTF-8") << QByteArray("L/file.txt") << true;
    QTest::newRow("'..' after a link goes up from its target")
        << QByteArray("intoSub/../file.txt") << true;
    QTest::newRow("longer than PATH_MAX once resolved")
        << "deep/" + QByteArray("j/").repeated(kDeepLevels / kJump) + "docs/file.txt" << true;
    QTest::newRow("magic link whose text is too long to read")
        << "/proc/self/fd/" + QByteArray::number(m_deepInDocs.get()) + "/file.txt" << true;
    QTest::newRow("sibling with a longer name") << QByteArray("Documents2/file.txt") << false;
    QTest::newRow("link to the outside") << QByteArray("out/file.txt") << false;
    QTest::newRow("link in Documents leading out") << QByteArray("plain/exit/file.txt") << false;
}

void TestPathWalk::endsInsideDocumentsOrNot() {
    QFETCH(QByteArray, path);
    QFETCH(bool, inside);
    if (!path.startsWith('/'))
        path = at(path);
    int error = 0;
    const std::optional<Walked> walked = walkPath(path, AT_FDCWD, &error);
    QVERIFY2(walked, qPrintable(QString::fromLocal8Bit(strerror(error))));
    QCOMPARE(within(*walked, m_docs), inside);

    // The kernel, given the same path, reaches the same file.
    const UniqueFd byKernel(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    QVERIFY(byKernel.isValid());
    QVERIFY(walked->exists && walked->identity == identityOf(byKernel.get()));

    // Documents lies inside the temporary folder: the nearer one decides.
    const std::array guarded{identityOf(m_root), m_docs};
    QVERIFY(innermost(*walked, guarded) == (inside ? m_docs : guarded[0]));
}

void TestPathWalk::magicLinkIntoAnotherMountNamespace() {
    // A child in its own mount namespace mounts Documents over an empty folder
    // and works in it: its cwd link names the empty folder, yet leads into Documents.
    const QByteArray docs = at("Documents"), empty = at("empty");
    int ready[2];
    QVERIFY(::pipe2(ready, O_CLOEXEC) == 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const char ok =
            ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount(docs.constData(), empty.constData(), nullptr, MS_BIND, nullptr) == 0 &&
            ::chdir(empty.constData()) == 0;
        if (::write(ready[1], &ok, 1) == 1)
            ::pause(); // until killed
        ::_exit(0);
    }
    ::close(ready[1]);
    const auto reap = qScopeGuard([&] {
        ::close(ready[0]);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    });
    char ok = 0;
    if (::read(ready[0], &ok, 1) != 1 || !ok)
        QSKIP("no user and mount namespaces here");

    const QByteArray cwd = "/proc/" + QByteArray::number(child) + "/cwd";
    char text[PATH_MAX] = {};
    QVERIFY(::readlink(cwd.constData(), text, sizeof text - 1) > 0);
    QVERIFY(identityOf(QByteArray(text)) != m_docs); // a follower of the text is misled

    const std::optional<Walked> walked = walkPath(cwd + "/file.txt");
    QVERIFY(walked && within(*walked, m_docs));
}

void TestPathWalk::openRefusesWhatWasSwappedIn() {
    const QByteArray secret = at("Documents/file.txt"), victim = at("safe/victim.txt");
    int error = 0;

    // A link on the way turned to Documents after the walk: the open goes where the walk went.
    QVERIFY(::symlink(at("safe").constData(), at("turn").constData()) == 0);
    const std::optional<Walked> turned = walkPath(at("turn/file.txt"));
    QVERIFY(turned && !within(*turned, m_docs));
    QVERIFY(::unlink(at("turn").constData()) == 0);
    QVERIFY(::symlink(at("Documents").constData(), at("turn").constData()) == 0);
    const UniqueFd fd = openWalked(*turned, O_RDONLY);
    QVERIFY(fd.isValid() && identityOf(fd.get()) == identityOf(at("safe/file.txt")));

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

    struct stat st {};
    QVERIFY(::stat(secret.constData(), &st) == 0);
    QCOMPARE(st.st_size, off_t(4)); // never truncated
}

void TestPathWalk::flippingLinkNeverOpensDocuments() {
    const QByteArray link = at("flip"), next = at("flip.next");
    const QByteArray targets[2] = {at("safe"), at("Documents")};
    const FileIdentity secret = identityOf(at("Documents/file.txt"));
    QVERIFY(::symlink(targets[0].constData(), link.constData()) == 0);

    int outside = 0, inside = 0, leaked = 0;
    {
        std::jthread flipper([&](std::stop_token stop) {
            for (int i = 0; !stop.stop_requested(); ++i) {
                ::symlink(targets[i % 2].constData(), next.constData());
                ::rename(next.constData(), link.constData());
            }
        });
        for (int i = 0; i < 2000; ++i) {
            const std::optional<Walked> walked = walkPath(link + "/file.txt");
            if (!walked)
                continue;
            const bool decidedOutside = !within(*walked, m_docs);
            ++(decidedOutside ? outside : inside);
            const UniqueFd fd = openWalked(*walked, O_RDONLY);
            if (decidedOutside && fd.isValid() && identityOf(fd.get()) == secret)
                ++leaked;
        }
    }
    QCOMPARE(leaked, 0);
    QVERIFY(outside > 0 && inside > 0); // the link really flipped under the walks
}

QTEST_GUILESS_MAIN(TestPathWalk)
#include "test_path_walk.moc"
