#include "platform/FileUrl.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using pellim::FileUrl;

class TestFileUrl : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        m_cwd = QDir::currentPath();
    }
    void cleanupTestCase() { QDir::setCurrent(m_saved); }

    void fromUserText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("plain"); // "{cwd}" stands for the current folder
        QTest::addColumn<QString>("encoded");
        QTest::addColumn<bool>("folder");

        QTest::newRow("space") << "/tmp/a b"
                               << "/tmp/a b"
                               << "/tmp/a%20b" << false;
        QTest::newRow("percent stays literal") << "/tmp/a%20b"
                                               << "/tmp/a%20b"
                                               << "/tmp/a%2520b" << false;
        QTest::newRow("e acute") << "/tmp/é"
                                 << "/tmp/é"
                                 << "/tmp/%C3%A9" << false;
        QTest::newRow("brackets, hash, query") << "/x/[a]#b?c"
                                               << "/x/[a]#b?c"
                                               << "/x/%5Ba%5D%23b%3Fc" << false;
        QTest::newRow("kept sub-delimiters") << "/a-._~!$&'()*+,;=:@"
                                             << "/a-._~!$&'()*+,;=:@"
                                             << "/a-._~!$&'()*+,;=:@" << false;
        QTest::newRow("controls and non-BMP")
            << QString::fromUtf8("/\t\x7f\xF0\x9F\x98\x80")
            << QString::fromUtf8("/\t\x7f\xF0\x9F\x98\x80") << "/%09%7F%F0%9F%98%80" << false;
        QTest::newRow("folder keeps its slash") << "/tmp/a b/"
                                                << "/tmp/a b"
                                                << "/tmp/a%20b/" << true;
        QTest::newRow("root") << "/"
                              << "/"
                              << "/" << true;
        QTest::newRow("leading double slash is no host") << "//srv/x"
                                                         << "/srv/x"
                                                         << "/srv/x" << false;
        QTest::newRow("repeated slashes and dots") << "/a//./b///"
                                                   << "/a/b"
                                                   << "/a/b/" << true;
        QTest::newRow("dot-dot kept for symlinks") << "/a/b/../c"
                                                   << "/a/b/../c"
                                                   << "/a/b/../c" << false;
        QTest::newRow("trailing dot names a folder") << "/tmp/."
                                                     << "/tmp"
                                                     << "/tmp/" << true;
        QTest::newRow("relative") << "x y"
                                  << "{cwd}/x y"
                                  << "{cwd}/x%20y" << false;
        QTest::newRow("tilde is a name") << "~/x"
                                         << "{cwd}/~/x"
                                         << "{cwd}/~/x" << false;
        QTest::newRow("empty is the current folder") << ""
                                                     << "{cwd}"
                                                     << "{cwd}/" << true;
    }
    void fromUserText() {
        QFETCH(QString, text);
        QFETCH(QString, plain);
        QFETCH(QString, encoded);
        QFETCH(bool, folder);
        const QString cwdEncoded = FileUrl::fromLocalPath(m_cwd, false).encodedPath();
        const FileUrl url = FileUrl::fromUserText(text);
        QCOMPARE(url.path(), QString(plain).replace(QLatin1String("{cwd}"), m_cwd));
        QCOMPARE(url.encodedPath(), QString(encoded).replace(QLatin1String("{cwd}"), cwdEncoded));
        QCOMPARE(url.isDirectory(), folder);
    }

    void components() {
        const FileUrl tests = FileUrl::fromUserText(QStringLiteral("/Volumes/Data/Tests"));
        const FileUrl parent = tests.deletingLastPathComponent();
        QCOMPARE(parent, FileUrl::fromUserText(QStringLiteral("/Volumes/Data/")));
        QCOMPARE(parent.encodedPath(), QStringLiteral("/Volumes/Data/"));
        QCOMPARE(FileUrl::fromUserText(QStringLiteral("/a")).deletingLastPathComponent().path(),
                 QStringLiteral("/"));
        QCOMPARE(FileUrl::fromUserText(QStringLiteral("/")).deletingLastPathComponent().path(),
                 QStringLiteral("/"));
        // Whatever ".." resolves to, the folder holding it is one more level up.
        QCOMPARE(FileUrl::fromUserText(QStringLiteral("/a/..")).deletingLastPathComponent().path(),
                 QStringLiteral("/a/../.."));

        const FileUrl file = parent.appendingPathComponent(QStringLiteral("n b.txt"));
        QCOMPARE(file.path(), QStringLiteral("/Volumes/Data/n b.txt"));
        QVERIFY(!file.isDirectory());
        QCOMPARE(file.lastPathComponent(), QStringLiteral("n b.txt"));
        QCOMPARE(FileUrl::fromUserText(QStringLiteral("/")).appendingPathComponent("x").path(),
                 QStringLiteral("/x"));
        QVERIFY(parent.appendingPathComponent(QStringLiteral("sub"), true).isDirectory());
    }

    void extension() {
        auto extension = [](const char *text) {
            return FileUrl::fromUserText(QString::fromUtf8(text)).pathExtension();
        };
        QCOMPARE(extension("/a/x.txt/"), QStringLiteral("txt"));
        QCOMPARE(extension("/a/x.tar.gz"), QStringLiteral("gz"));
        QCOMPARE(extension("/a.d/x"), QString());
        QCOMPARE(extension("/a/x."), QString());
    }

private:
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/pellim url XXXXXX")};
    QString m_saved;
    QString m_cwd;
};

QTEST_GUILESS_MAIN(TestFileUrl)
#include "test_fileurl.moc"
