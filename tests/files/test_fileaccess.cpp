#include "files/FileAccess.h"
#include "guard/FolderProtection.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pellim;

namespace {

// Says no to everything and remembers what it was asked.
struct DenyingProtection final : FolderProtection {
    bool mayAccess(const Walked &, const QByteArray &path, FileAccessKind kind) override {
        asked.append({QFile::decodeName(path), kind});
        return false;
    }
    void grantChosen(const QByteArray &, bool) override {}
    QList<std::pair<QString, FileAccessKind>> asked;
};

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

    QTemporaryDir m_dir;
    UnguardedProtection m_unguarded;
    PosixFileAccess m_files{m_unguarded};

private Q_SLOTS:
    // A shorter text leaves nothing of the longer one before it.
    void writesReplacesAndReads() {
        const FileUrl file = at("a b é.txt");
        QVERIFY(m_files.writeText(file, "a much longer first text") &&
                m_files.writeText(file, "é\n"));
        QCOMPARE(contents(file.path()), QByteArray("\xC3\xA9\n"));
        const auto read = m_files.readText(file, 10);
        QVERIFY(read && read->text == "é\n");
        QVERIFY(m_files.writeText(file, QString()));
        QCOMPARE(contents(file.path()), QByteArray());
    }

    void failuresAreValues() {
        QVERIFY(!m_files.writeText(at(QString(), true), "x"));
        QVERIFY(!m_files.writeText(FileUrl::fromUserText("/dev/full"), "x"));
        // Neither a name nor a text is altered on its way to the disk.
        QVERIFY(QDir().mkpath(m_dir.filePath("quiet")));
        QVERIFY(!m_files.writeText(at(QString("quiet/cut") + QChar(0) + "x"), "x"));
        QVERIFY(!m_files.writeText(at(QString("quiet/s") + QChar(0xD800)), "x"));
        QVERIFY(!m_files.writeText(at("quiet/t"), QString(QChar(0xD800))));
        QVERIFY(QDir(m_dir.filePath("quiet")).isEmpty());
        // Only regular files are read, and a FIFO without a reader does not block.
        QCOMPARE(mkfifo(QFile::encodeName(m_dir.filePath("fifo")).constData(), 0600), 0);
        QVERIFY(!m_files.readText(at("fifo"), 10) && !m_files.writeText(at("fifo"), "x"));
        QVERIFY(!m_files.readText(FileUrl::fromUserText("/dev/null"), 10));
        QVERIFY(!m_files.readText(at(QString(), true), 10));
        // Past the file-size limit the write fails, and this process lives on.
        rlimit saved{}, small{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        small = {16, saved.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = m_files.writeText(at("big"), QString(64, 'x'));
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!ok);
    }

    // Asked about the access it is about to make, and when refused, makes none.
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

    // Immediate entries only, hidden ones left out, a link counted as a link.
    // Names that are not UTF-8 are reached exactly, not through a lossy decoding
    // that would name another file or none.
    void listsAndReachesEveryName() {
        QVERIFY(QDir().mkpath(m_dir.filePath("list/sub.txt/inner")) &&
                QDir().mkpath(m_dir.filePath("list/.hidden folder")));
        const QByteArray dir = QFile::encodeName(m_dir.filePath("list"));
        const FileUrl folder = FileUrl::fromLocalBytes(dir, true);
        const std::pair<QByteArray, QString> files[] = {{"a.txt", "plain"},
                                                        {".hidden.txt", "hidden"},
                                                        {"a\xff.txt", "raw"},
                                                        {"a\xEF\xBF\xBD.txt", "utf8"}};
        for (const auto &[name, text] : files)
            QVERIFY(m_files.writeText(folder.appendingPathComponent(name), text));
        QVERIFY(QFile::link(m_dir.filePath("list/sub.txt"), m_dir.filePath("list/link")));

        const auto listing = m_files.list(folder);
        QVERIFY(listing && listing->folder() == folder);
        QStringList seen; // encoded name (a folder's ends in "/"), extension, what it holds
        for (std::size_t i = 0; i < listing->size(); ++i)
            seen << listing->url(i).encodedPath().mid(dir.size() + 1) + " " +
                        listing->pathExtension(i) + " " +
                        m_files.readText(listing->url(i), 9).value_or(TextPrefix{}).text;
        seen.sort();
        QCOMPARE(seen, (QStringList{"a%EF%BF%BD.txt txt utf8", "a%FF.txt txt raw",
                                    "a.txt txt plain", "link  ", "sub.txt/ txt "}));
        ::unlink(dir + "/a\xff.txt"); // a name QTemporaryDir cannot remove
    }
};

QTEST_GUILESS_MAIN(TestFileAccess)
#include "test_fileaccess.moc"
