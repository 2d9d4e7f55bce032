#include "files/FileUrl.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using pellim::FileUrl;

class TestFileUrl : public QObject {
    Q_OBJECT

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
};

QTEST_GUILESS_MAIN(TestFileUrl)
#include "test_fileurl.moc"
