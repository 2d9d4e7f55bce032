#include "platform/FileAccess.h"
#include "platform/FolderProtection.h"

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
    bool mayAccess(const QString &path, FileAccessKind kind) override {
        asked.append({path, kind});
        return false;
    }
    void grantChosen(const QString &, bool) override {}
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
    static FileUrl file(const char *path) { return FileUrl::fromLocalPath(path, false); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void writesReplacesAndReads() {
        const FileUrl file = at(QStringLiteral("a b é.txt"));
        QVERIFY(m_files.writeText(file, QStringLiteral("a much longer first text")));
        QVERIFY(m_files.writeText(file, QStringLiteral("é\n")));
        QCOMPARE(contents(file.path()), QByteArray("\xC3\xA9\n"));
        const auto read = m_files.readText(file, 10);
        QVERIFY(read);
        QCOMPARE(read->text, QStringLiteral("é\n"));
        QVERIFY(m_files.writeText(file, QString()));
        QCOMPARE(contents(file.path()), QByteArray());
    }

    void failuresAreValues() {
        QVERIFY(!m_files.writeText(at(QStringLiteral("missing/x.txt")), "x"));
        QVERIFY(!m_files.writeText(at(QString(), true), "x"));
        QVERIFY(!m_files.writeText(file("/dev/full"), "x"));
        // Neither a name nor a text is altered on its way to the disk.
        QVERIFY(!m_files.writeText(at(QStringLiteral("cut") + QChar(0) + "x"), "x"));
        QVERIFY(!m_files.writeText(at(QStringLiteral("t")), QString(QChar(0xD800))));
        QVERIFY(!QFile::exists(m_dir.filePath("cut")) && !QFile::exists(m_dir.filePath("t")));

        // Only regular files are read, and a FIFO without a reader does not block.
        QCOMPARE(mkfifo(QFile::encodeName(m_dir.filePath("fifo")).constData(), 0600), 0);
        QVERIFY(!m_files.readText(at(QStringLiteral("fifo")), 10));
        QVERIFY(!m_files.writeText(at(QStringLiteral("fifo")), "x"));
        QVERIFY(!m_files.readText(file("/dev/null"), 10));
        QVERIFY(!m_files.readText(at(QString(), true), 10));
        QVERIFY(!m_files.readText(at(QStringLiteral("missing")), 10));

        // Past the file-size limit the write fails, and this process lives on.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 16;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = m_files.writeText(at(QStringLiteral("big")), QString(64, 'x'));
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
            [&] { return !m_files.writeText(at(QStringLiteral("ro/x")), "x"); });
        if (status == kSkip)
            QSKIP("no private mount namespace here (needs CAP_SYS_ADMIN)");
        QCOMPARE(status, 0);
    }

    // As nobody, since permission bits do not stop root.
    void permissionDenied() {
        const FileUrl secret = at(QStringLiteral("secret.txt")), closed = at("closed", true);
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
                       !m_files.list(closed) && !m_files.writeText(at(QStringLiteral("new")), "x");
            });
        if (status == kSkip)
            QSKIP("cannot drop privileges to nobody here");
        QCOMPARE(status, 0);
        QCOMPARE(contents(secret.path()), QByteArray("s"));
    }

    void protectionIsAskedFirst() {
        DenyingProtection deny;
        PosixFileAccess guarded(deny);
        const FileUrl old = at(QStringLiteral("guarded.txt")), fresh = at(QStringLiteral("fresh"));
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
        QVERIFY(QDir().mkpath(m_dir.filePath("list me/sub.txt/deeper")));
        QVERIFY(QDir().mkpath(m_dir.filePath("list me/.hidden folder")));
        for (const char *name : {"a.txt", "b.text", ".hidden.txt", "é x"})
            QVERIFY(m_files.writeText(at(QStringLiteral("list me/") + name), "x"));
        QVERIFY(QFile::link(m_dir.filePath("list me/sub.txt"), m_dir.filePath("list me/link")));

        const auto listing = m_files.list(at(QStringLiteral("list me")));
        QVERIFY(listing);
        QCOMPARE(listing->folder(), at(QStringLiteral("list me"), true));
        QMap<QString, std::size_t> byName;
        for (std::size_t i = 0; i < listing->size(); ++i)
            byName.insert(listing->name(i), i);
        QCOMPARE(byName.keys(), (QStringList{"a.txt", "b.text", "link", "sub.txt", "é x"}));
        const std::size_t sub = byName["sub.txt"];
        QVERIFY(listing->isDirectory(sub));
        QVERIFY(!listing->isDirectory(byName["link"])); // a link counts as itself
        QCOMPARE(listing->url(sub), at(QStringLiteral("list me/sub.txt"), true));
        QCOMPARE(listing->pathExtension(sub), QStringLiteral("txt"));
        QCOMPARE(listing->pathExtension(byName["b.text"]), QStringLiteral("text"));
        QCOMPARE(listing->pathExtension(byName["é x"]), QString());

        const auto empty = m_files.list(at(QStringLiteral("list me/sub.txt/deeper"), true));
        QVERIFY(empty && empty->empty());
        QVERIFY(!m_files.list(at(QStringLiteral("list me/a.txt"), true)));
        QVERIFY(!m_files.list(at(QStringLiteral("list me/missing"), true)));
    }

private:
    QTemporaryDir m_dir;
    UnguardedProtection m_unguarded;
    PosixFileAccess m_files{m_unguarded};
};

QTEST_GUILESS_MAIN(TestFileAccess)
#include "test_fileaccess.moc"
