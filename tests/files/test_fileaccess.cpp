#include "files/FileAccess.h"
#include "guard/FolderProtection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

using namespace pellim;

namespace {

// Says no to everything and remembers what it was asked.
class DenyingProtection final : public FolderProtection {
public:
    bool mayAccess(const Walked &, const QByteArray &path, FileAccessKind kind) override {
        asked.append({QFile::decodeName(path), kind});
        return false;
    }
    void grantChosen(const QByteArray &, bool) override {}
    QList<std::pair<QString, FileAccessKind>> asked;
};

constexpr int kSkip = 77;

// Runs `check` in a child process once `enter` (another mount namespace, a lower
// user id) succeeded there: 0 when it held, 1 when not, kSkip when `enter` failed.
int inChild(const std::function<bool()> &enter, const std::function<bool()> &check) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(!enter() ? kSkip : check() ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                           : -1;
}

QByteArray contents(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestFileAccess : public QObject {
    Q_OBJECT

    FileUrl at(const QString &name, bool folder = false) const {
        return FileUrl::fromLocalPath(m_dir.filePath(name), folder);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void writesReplacesAndReads() {
        const FileUrl file = at("a b é.txt");
        QVERIFY(m_files.writeText(file, "a much longer first text"));
        QVERIFY(m_files.writeText(file, "é\n"));
        QCOMPARE(contents(file.path()), QByteArray("\xC3\xA9\n"));
        const auto read = m_files.readText(file, 10);
        QVERIFY(read);
        QCOMPARE(read->text, "é\n");
        QVERIFY(m_files.writeText(file, QString()));
        QCOMPARE(contents(file.path()), QByteArray());
    }

    void failuresAreValues() {
        QVERIFY(!m_files.writeText(at(QString(), true), "x"));
        QVERIFY(!m_files.writeText(FileUrl::fromUserText("/dev/full"), "x"));
        // Neither a name nor a text is altered on its way to the disk.
        QVERIFY(!m_files.writeText(at(QString("cut") + QChar(0) + "x"), "x"));
        QVERIFY(!m_files.writeText(at("t"), QString(QChar(0xD800))));
        QVERIFY(!QFile::exists(m_dir.filePath("cut")) && !QFile::exists(m_dir.filePath("t")));

        // Only regular files are read, and a FIFO without a reader does not block.
        QCOMPARE(mkfifo(QFile::encodeName(m_dir.filePath("fifo")).constData(), 0600), 0);
        QVERIFY(!m_files.readText(at("fifo"), 10));
        QVERIFY(!m_files.writeText(at("fifo"), "x"));
        QVERIFY(!m_files.readText(FileUrl::fromUserText("/dev/null"), 10));
        QVERIFY(!m_files.readText(at(QString(), true), 10));

        // Past the file-size limit the write fails, and this process lives on.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 16;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = m_files.writeText(at("big"), QString(64, 'x'));
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!ok);
    }

    void readOnlyMount() {
        QVERIFY(QDir().mkpath(m_dir.filePath("ro")));
        const QByteArray mountPoint = QFile::encodeName(m_dir.filePath("ro"));
        const int status = inChild(
            [&] {
                return unshare(CLONE_NEWNS) == 0 &&
                       mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                       mount("pellim-ro", mountPoint.constData(), "tmpfs", MS_RDONLY, nullptr) == 0;
            },
            [&] { return !m_files.writeText(at("ro/x"), "x"); });
        if (status == kSkip)
            QSKIP("no private mount namespace here (needs CAP_SYS_ADMIN)");
        QCOMPARE(status, 0);
    }

    // As nobody, since permission bits do not stop root.
    void permissionDenied() {
        const FileUrl secret = at("secret.txt"), closed = at("closed", true);
        QVERIFY(m_files.writeText(secret, "s") && QDir().mkpath(closed.path() + "/inner"));
        QFile::setPermissions(secret.path(), QFile::ReadOwner | QFile::WriteOwner);
        QFile::setPermissions(closed.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        const int status = inChild(
            [] {
                return getuid() != 0 ||
                       (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0);
            },
            [&] {
                return !m_files.readText(secret, 5) && !m_files.writeText(secret, "x") &&
                       !m_files.list(closed) && !m_files.writeText(at("new"), "x");
            });
        if (status == kSkip)
            QSKIP("cannot drop privileges to nobody here");
        QCOMPARE(status, 0);
        QCOMPARE(contents(secret.path()), QByteArray("s"));
    }

    void protectionIsAskedFirst() {
        DenyingProtection deny;
        PosixFileAccess guarded(deny);
        const FileUrl old = at("guarded.txt"), fresh = at("fresh");
        QVERIFY(m_files.writeText(old, "old"));
        QVERIFY(!guarded.writeText(old, "new") && !guarded.readText(old, 5));
        QVERIFY(!guarded.list(at(QString(), true)) && !guarded.writeText(fresh, "x"));
        QCOMPARE(contents(old.path()), QByteArray("old"));
        QVERIFY(!QFile::exists(fresh.path()));
        const QList<std::pair<QString, FileAccessKind>> expected{
            {old.path(), FileAccessKind::Write},
            {old.path(), FileAccessKind::Read},
            {m_dir.path(), FileAccessKind::List},
            {fresh.path(), FileAccessKind::Write}};
        QVERIFY(deny.asked == expected);
    }

    void listsImmediateVisibleEntries() {
        QVERIFY(QDir().mkpath(m_dir.filePath("list me/sub.txt")));
        QVERIFY(QDir().mkpath(m_dir.filePath("list me/.hidden folder")));
        for (const char *name : {"a.txt", "b.text", ".hidden.txt", "é x"})
            QVERIFY(m_files.writeText(at(QString("list me/") + name), "x"));
        QVERIFY(QFile::link(m_dir.filePath("list me/sub.txt"), m_dir.filePath("list me/link")));

        const auto listing = m_files.list(at("list me"));
        QVERIFY(listing);
        QCOMPARE(listing->folder(), at("list me", true));
        QStringList seen; // name, "/" for a folder, extension
        for (std::size_t i = 0; i < listing->size(); ++i) {
            const bool folder = listing->isDirectory(i);
            QCOMPARE(listing->url(i), at("list me/" + listing->name(i), folder));
            seen << listing->name(i) + (folder ? "/ " : " ") + listing->pathExtension(i);
        }
        seen.sort();
        QCOMPARE(seen, (QStringList{"a.txt txt", "b.text text", "link ", "sub.txt/ txt", "é x "}));
        QVERIFY(!m_files.list(at("list me/a.txt", true)));
    }

    // Names that are not UTF-8 are reached exactly, not through a lossy
    // decoding that would name another file or none.
    void namesThatAreNotUtf8() {
        const QByteArray dir = QFile::encodeName(m_dir.filePath("bytes"));
        QVERIFY(QDir().mkpath(m_dir.filePath("bytes")));
        const FileUrl folder = FileUrl::fromLocalBytes(dir, true);
        QVERIFY(m_files.writeText(folder.appendingPathComponent(QByteArray("a\xff.txt")), "raw"));
        QVERIFY(m_files.writeText(folder.appendingPathComponent(QByteArray("a\xEF\xBF\xBD.txt")),
                                  "utf8"));
        const auto listing = m_files.list(folder);
        QVERIFY(listing && listing->size() == 2);
        QStringList read;
        for (std::size_t i = 0; i < listing->size(); ++i)
            read << listing->url(i).encodedPath().mid(dir.size()) + " " +
                        m_files.readText(listing->url(i), 10).value_or(TextPrefix{}).text;
        read.sort();
        QCOMPARE(read, (QStringList{"/a%EF%BF%BD.txt utf8", "/a%FF.txt raw"}));
    }

private:
    QTemporaryDir m_dir;
    UnguardedProtection m_unguarded;
    PosixFileAccess m_files{m_unguarded};
};

QTEST_GUILESS_MAIN(TestFileAccess)
#include "test_fileaccess.moc"
