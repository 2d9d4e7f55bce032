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

// Runs `body` in a child process and returns its exit status (or -1 when the
// child died). Used for what must not touch this process: another mount
// namespace, a lower user id.
int inChild(const std::function<int()> &body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// As an unprivileged user (nobody), since permission bits do not stop root.
int asNobody(const std::function<bool()> &check) {
    return inChild([&] {
        if (getuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            return kSkip;
        return check() ? 0 : 1;
    });
}

QByteArray contents(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestFileAccess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }

    void writesAndReplaces() {
        const FileUrl file =
            FileUrl::fromLocalPath(m_dir.filePath(QStringLiteral("a b é.txt")), false);
        QVERIFY(m_files.writeText(file, QStringLiteral("a much longer first text")));
        QVERIFY(m_files.writeText(file, QStringLiteral("é\n")));
        QCOMPARE(contents(file.path()), QByteArray("\xC3\xA9\n"));
        const auto read = m_files.readText(file, 10);
        QVERIFY(read);
        QCOMPARE(read->text, QStringLiteral("é\n"));
        QVERIFY(m_files.writeText(file, QString()));
        QCOMPARE(contents(file.path()), QByteArray());
    }

    void failedWrites() {
        QVERIFY(!m_files.writeText(
            FileUrl::fromLocalPath(m_dir.filePath(QStringLiteral("missing/x.txt")), false), "x"));
        QVERIFY(!m_files.writeText(FileUrl::fromLocalPath(m_dir.path(), true), "x"));
        QVERIFY(
            !m_files.writeText(FileUrl::fromLocalPath(QStringLiteral("/dev/full"), false), "x"));
        // A name that cannot reach the kernel faithfully is refused, not cut short.
        QVERIFY(!m_files.writeText(
            FileUrl::fromLocalPath(m_dir.filePath(QStringLiteral("cut")) + QChar(0) + "x", false),
            "x"));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("cut"))));
        // Text that has no UTF-8 form is not written altered.
        const FileUrl target = FileUrl::fromLocalPath(m_dir.filePath(QStringLiteral("t")), false);
        QVERIFY(!m_files.writeText(target, QString(QChar(0xD800))));
        QVERIFY(!QFile::exists(target.path()));
    }

    void writeBeyondTheFileSizeLimitFails() {
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 16;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = m_files.writeText(
            FileUrl::fromLocalPath(m_dir.filePath(QStringLiteral("big")), false), QString(64, 'x'));
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!ok); // and this process is still here
    }

    void specialFilesFailAtOnce() {
        const QString fifo = m_dir.filePath(QStringLiteral("fifo.txt"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const FileUrl fifoUrl = FileUrl::fromLocalPath(fifo, false);
        QVERIFY(!m_files.readText(fifoUrl, 10));
        QVERIFY(!m_files.writeText(fifoUrl, "x")); // no reader
        QVERIFY(!m_files.readText(FileUrl::fromLocalPath(QStringLiteral("/dev/null"), false), 10));
        QVERIFY(!m_files.readText(FileUrl::fromLocalPath(m_dir.path(), true), 10));
        QVERIFY(!m_files.readText(
            FileUrl::fromLocalPath(m_dir.filePath(QStringLiteral("missing")), false), 10));
    }

    void readOnlyMount() {
        const QString mountPoint = m_dir.filePath(QStringLiteral("ro"));
        QVERIFY(QDir().mkpath(mountPoint));
        const int status = inChild([&] {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("pellim-ro", QFile::encodeName(mountPoint).constData(), "tmpfs", MS_RDONLY,
                      nullptr) != 0)
                return kSkip;
            return m_files.writeText(FileUrl::fromLocalPath(mountPoint + "/x.txt", false), "x") ? 1
                                                                                                : 0;
        });
        if (status == kSkip)
            QSKIP("no private mount namespace here (needs CAP_SYS_ADMIN)");
        QCOMPARE(status, 0);
    }

    void permissionDenied() {
        const QString secret = m_dir.filePath(QStringLiteral("secret.txt"));
        QVERIFY(m_files.writeText(FileUrl::fromLocalPath(secret, false), "s"));
        QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner);
        const QString closed = m_dir.filePath(QStringLiteral("closed"));
        QVERIFY(QDir().mkpath(closed + "/inner"));
        QFile::setPermissions(closed, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Let nobody reach the temporary folder itself.
        chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        const int status = asNobody([&] {
            return !m_files.readText(FileUrl::fromLocalPath(secret, false), 5) &&
                   !m_files.writeText(FileUrl::fromLocalPath(secret, false), "x") &&
                   !m_files.list(FileUrl::fromLocalPath(closed, true)) &&
                   !m_files.writeText(FileUrl::fromLocalPath(m_dir.filePath("new"), false), "x");
        });
        if (status == kSkip)
            QSKIP("cannot drop privileges to nobody here");
        QCOMPARE(status, 0);
        QCOMPARE(contents(secret), QByteArray("s"));
    }

    void protectionIsAskedFirst() {
        DenyingProtection deny;
        PosixFileAccess guarded(deny);
        const QString path = m_dir.filePath(QStringLiteral("guarded.txt"));
        QVERIFY(m_files.writeText(FileUrl::fromLocalPath(path, false), "old"));
        QVERIFY(!guarded.writeText(FileUrl::fromLocalPath(path, false), "new"));
        QVERIFY(!guarded.readText(FileUrl::fromLocalPath(path, false), 5));
        QVERIFY(!guarded.list(FileUrl::fromLocalPath(m_dir.path(), true)));
        QVERIFY(!guarded.writeText(FileUrl::fromLocalPath(m_dir.filePath("fresh"), false), "x"));
        QCOMPARE(contents(path), QByteArray("old"));
        QVERIFY(!QFile::exists(m_dir.filePath("fresh")));
        QCOMPARE(deny.asked.size(), 4);
        QCOMPARE(deny.asked[0], std::make_pair(path, FileAccessKind::Write));
        QCOMPARE(deny.asked[1], std::make_pair(path, FileAccessKind::Read));
        QCOMPARE(deny.asked[2], std::make_pair(m_dir.path(), FileAccessKind::List));
    }

    void listsImmediateVisibleEntries() {
        const QString folder = m_dir.filePath(QStringLiteral("list me"));
        QVERIFY(QDir().mkpath(folder + "/sub.txt/deeper"));
        QVERIFY(QDir().mkpath(folder + "/.hidden folder"));
        for (const char *name : {"a.txt", "b.text", ".hidden.txt", "é x"})
            QVERIFY(m_files.writeText(FileUrl::fromLocalPath(folder + "/" + name, false), "x"));
        QVERIFY(QFile::link(folder + "/sub.txt", folder + "/link"));

        const auto listing = m_files.list(FileUrl::fromLocalPath(folder, false));
        QVERIFY(listing);
        QCOMPARE(listing->folder().encodedPath(),
                 FileUrl::fromLocalPath(folder, true).encodedPath());
        QMap<QString, std::size_t> byName;
        for (std::size_t i = 0; i < listing->size(); ++i)
            byName.insert(listing->name(i), i);
        QCOMPARE(byName.keys(), (QStringList{"a.txt", "b.text", "link", "sub.txt", "é x"}));
        const std::size_t sub = byName["sub.txt"];
        QVERIFY(listing->isDirectory(sub));
        QCOMPARE(listing->url(sub).encodedPath(),
                 FileUrl::fromLocalPath(folder, true).encodedPath() + "sub.txt/");
        QCOMPARE(listing->pathExtension(sub), QStringLiteral("txt"));
        // A link counts as itself, not as the folder it points to.
        QVERIFY(!listing->isDirectory(byName["link"]));
        QCOMPARE(listing->url(byName["é x"]).path(), folder + "/é x");
        QCOMPARE(listing->pathExtension(byName["b.text"]), QStringLiteral("text"));
        QCOMPARE(listing->pathExtension(byName["é x"]), QString());

        const auto empty = m_files.list(FileUrl::fromLocalPath(folder + "/sub.txt/deeper", true));
        QVERIFY(empty && empty->empty());
        QVERIFY(!m_files.list(FileUrl::fromLocalPath(folder + "/a.txt", true)));
        QVERIFY(!m_files.list(FileUrl::fromLocalPath(folder + "/missing", true)));
    }

private:
    QTemporaryDir m_dir;
    UnguardedProtection m_unguarded;
    PosixFileAccess m_files{m_unguarded};
};

QTEST_GUILESS_MAIN(TestFileAccess)
#include "test_fileaccess.moc"
