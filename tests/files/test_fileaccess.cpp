#include "files/FileAccess.h"
#include "paths/FolderProtection.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pellim;

namespace {

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
    // Text typed as a location, as shown (every byte outside the unreserved set
    // escaped), and the folder taken from it: the text itself when it ends in "/"
    // or a dot component, else the one holding it. ".." stays, since it may cross
    // a symbolic link. "{cwd}" is the current folder, whose name holds a space.
    void typedText() {
        const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pellim url XXXXXX"));
        QVERIFY(dir.isValid() && QDir::setCurrent(dir.path()));
        const QString cwd = FileUrl::fromLocalPath(QDir::currentPath(), false).encodedPath();
        const char *cases[][3] = {
            {"/x/[a]#b?c%20é\t\x7f😀", "/x/%5Ba%5D%23b%3Fc%2520%C3%A9%09%7F%F0%9F%98%80", "/x/"},
            {"/tmp/a b/", "/tmp/a%20b/", "/tmp/a%20b/"},
            {"//srv/./x", "/srv/x", "/srv/"},
            {"/a/b/../c", "/a/b/../c", "/a/b/../"},
            {"~/x y", "{cwd}/~/x%20y", "{cwd}/~/"},
            {"", "{cwd}/", "{cwd}/"}};
        for (const auto &[text, shown, folder] : cases) {
            const FileUrl typed = FileUrl::fromUserText(QString::fromUtf8(text));
            const FileUrl chosen = typed.isDirectory() ? typed : typed.deletingLastPathComponent();
            QCOMPARE(typed.encodedPath(), QString(shown).replace("{cwd}", cwd));
            QCOMPARE(chosen.encodedPath(), QString(folder).replace("{cwd}", cwd));
        }
    }

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
        // Past the file-size limit the write fails, and this process lives on.
        rlimit saved{}, small{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        small = {16, saved.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = m_files.writeText(at("big"), QString(64, 'x'));
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!ok);
    }

    // Names that are not UTF-8 are listed and reached exactly, not through a lossy
    // decoding that would name another file or none; hidden names are left out.
    void namesThatAreNotUtf8() {
        const QByteArray dir = QFile::encodeName(m_dir.filePath("bytes"));
        const FileUrl folder = FileUrl::fromLocalBytes(dir, true);
        QVERIFY(QDir().mkpath(m_dir.filePath("bytes")));
        const std::pair<QByteArray, QString> files[] = {
            {"a\xff.txt", "raw"}, {"a\xEF\xBF\xBD.txt", "utf8"}, {".hidden.txt", "hidden"}};
        for (const auto &[name, text] : files)
            QVERIFY(m_files.writeText(folder.appendingPathComponent(name), text));
        const auto listing = m_files.list(folder);
        QVERIFY(listing && listing->folder() == folder);
        QStringList seen;
        for (std::size_t i = 0; i < listing->size(); ++i)
            seen << listing->url(i).encodedPath().mid(dir.size()) + " " +
                        m_files.readText(listing->url(i), 9).value_or(TextPrefix{}).text;
        seen.sort();
        QCOMPARE(seen, (QStringList{"/a%EF%BF%BD.txt utf8", "/a%FF.txt raw"}));
        ::unlink(dir + "/a\xff.txt"); // a name QTemporaryDir cannot remove
    }
};

QTEST_GUILESS_MAIN(TestFileAccess)
#include "test_fileaccess.moc"
