#include "files/FileUrl.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using pellim::FileUrl;

namespace {
FileUrl url(const char *text) {
    return FileUrl::fromUserText(QString::fromUtf8(text));
}
} // namespace

class TestFileUrl : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // "{cwd}" stands for the current folder, whose name holds a space; a null
    // plain path means the text itself.
    void fromUserText() {
        const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pellim url XXXXXX"));
        QVERIFY(dir.isValid() && QDir::setCurrent(dir.path()));
        const QString cwd = QDir::currentPath();
        const QString cwdEncoded = FileUrl::fromLocalPath(cwd, false).encodedPath();
        const struct {
            const char *text, *plain, *encoded;
            bool folder;
        } cases[] = {{"/x/[a]#b?c%20é\t\x7f😀", nullptr,
                      "/x/%5Ba%5D%23b%3Fc%2520%C3%A9%09%7F%F0%9F%98%80", false},
                     {"/a-._~!$&'()*+,;=:@", nullptr, "/a-._~!$&'()*+,;=:@", false},
                     {"/tmp/a b/", "/tmp/a b", "/tmp/a%20b/", true},
                     {"/", nullptr, "/", true},
                     {"//srv/x", "/srv/x", "/srv/x", false},
                     {"/a//./b///", "/a/b", "/a/b/", true},
                     {"/a/b/../c", nullptr, "/a/b/../c", false}, // ".." may cross a symbolic link
                     {"/tmp/.", "/tmp", "/tmp/", true},
                     {"~/x y", "{cwd}/~/x y", "{cwd}/~/x%20y", false},
                     {"", "{cwd}", "{cwd}/", true}};
        for (const auto &c : cases) {
            const FileUrl u = url(c.text);
            QCOMPARE(u.path(), QString::fromUtf8(c.plain ? c.plain : c.text).replace("{cwd}", cwd));
            QCOMPARE(u.encodedPath(), QString::fromUtf8(c.encoded).replace("{cwd}", cwdEncoded));
            QCOMPARE(u.isDirectory(), c.folder);
        }
    }

    void components() {
        const FileUrl parent = url("/Volumes/Data/Tests").deletingLastPathComponent();
        QCOMPARE(parent, url("/Volumes/Data/"));
        QCOMPARE(url("/a").deletingLastPathComponent(), url("/"));
        QCOMPARE(url("/").deletingLastPathComponent(), url("/"));
        // Whatever ".." resolves to, the folder holding it is one more level up.
        QCOMPARE(url("/a/..").deletingLastPathComponent(), url("/a/../../"));

        const FileUrl file = parent.appendingPathComponent(QStringLiteral("n b.txt"));
        QCOMPARE(file, url("/Volumes/Data/n b.txt"));
        QCOMPARE(file.lastPathComponent(), QStringLiteral("n b.txt"));
        QCOMPARE(url("/").appendingPathComponent(QStringLiteral("x")), url("/x"));
        QVERIFY(parent.appendingPathComponent(QStringLiteral("sub"), true).isDirectory());

        QCOMPARE(url("/a/x.txt/").pathExtension(), QStringLiteral("txt"));
        QCOMPARE(url("/a/x.tar.gz").pathExtension(), QStringLiteral("gz"));
        QVERIFY(url("/a.d/x").pathExtension().isEmpty() && url("/a/x.").pathExtension().isEmpty());
    }

    // A name that is not UTF-8 keeps its bytes: shown with a replacement
    // character, encoded byte for byte, and never the same as the UTF-8 name
    // that reads alike.
    void bytesThatAreNotUtf8() {
        const FileUrl raw = FileUrl::fromLocalBytes("/d/b\xff.txt", false);
        QCOMPARE(raw.pathBytes(), QByteArray("/d/b\xff.txt"));
        QCOMPARE(raw.encodedPath(), QStringLiteral("/d/b%FF.txt"));
        QCOMPARE(raw.path(), QStringLiteral("/d/b\uFFFD.txt"));
        QCOMPARE(raw.pathExtension(), QStringLiteral("txt"));
        QVERIFY(raw != url("/d/b\xEF\xBF\xBD.txt"));
        const FileUrl child = FileUrl::fromLocalBytes("/d\xfe", true).appendingPathComponent(
            QByteArray("x\x80"));
        QCOMPARE(child.encodedPath(), QStringLiteral("/d%FE/x%80"));
        QVERIFY(!FileUrl::fromUserText(QString(QChar(0xD800))).isFaithful());
    }
};

QTEST_GUILESS_MAIN(TestFileUrl)
#include "test_fileurl.moc"
