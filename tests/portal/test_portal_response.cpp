// SPDX-License-Identifier: GPL-3.0-or-later
// What the file chooser portal answers, read into the one path the guard
// grants: an answer the guard misreads grants a file nobody chose.
#include "portal/PortalResponse.h"

#include <QTest>

using namespace pellim;

Q_DECLARE_METATYPE(pellim::PortalOutcome)

namespace {

class PortalResponseTest : public QObject {
    Q_OBJECT

private slots:
    void uriToBytes_data();
    void uriToBytes();
    void response_data();
    void response();
    void requestPath();
};

void PortalResponseTest::uriToBytes_data() {
    QTest::addColumn<QString>("uri");
    QTest::addColumn<bool>("local");
    QTest::addColumn<QByteArray>("path");
    const auto row = [](const char *name, const QString &uri, const QByteArray &path) {
        QTest::newRow(name) << uri << true << path;
    };
    const auto refused = [](const char *name, const QString &uri) {
        QTest::newRow(name) << uri << false << QByteArray();
    };
    row("plain", QStringLiteral("file:///home/a/Documents/n.txt"), "/home/a/Documents/n.txt");
    row("escapes as bytes, not UTF-8", QStringLiteral("file:///home/a/b%FF%fe.txt"),
        "/home/a/b\xff\xfe.txt");
    row("escaped UTF-8", QStringLiteral("file:///home/a/%C3%A9.txt"), "/home/a/\xc3\xa9.txt");
    row("raw UTF-8 (IRI)", QStringLiteral("file:///home/a/\u00e9.txt"), "/home/a/\xc3\xa9.txt");
    row("percent, hash, question mark escaped", QStringLiteral("file:///a/100%25%20%23%3F"),
        "/a/100% #?");
    row("localhost", QStringLiteral("FILE://LocalHost/a"), "/a");
    refused("another scheme", QStringLiteral("http://host/a"));
    refused("a bare path", QStringLiteral("/home/a/b"));
    refused("another host", QStringLiteral("file://elsewhere/a"));
    refused("no path", QStringLiteral("file://"));
    refused("escaped NUL", QStringLiteral("file:///a%00b"));
    refused("short escape", QStringLiteral("file:///a%4"));
    refused("bad escape", QStringLiteral("file:///a%G1"));
    refused("query", QStringLiteral("file:///a?b"));
    refused("fragment", QStringLiteral("file:///a#b"));
}

void PortalResponseTest::uriToBytes() {
    QFETCH(QString, uri);
    QFETCH(bool, local);
    QFETCH(QByteArray, path);
    const std::optional<QByteArray> got = localPathOfUri(uri);
    QCOMPARE(got.has_value(), local);
    if (local)
        QCOMPARE(*got, path);
}

void PortalResponseTest::response_data() {
    QTest::addColumn<uint>("response");
    QTest::addColumn<QStringList>("uris");
    QTest::addColumn<PortalOutcome>("outcome");
    QTest::addColumn<QByteArray>("path");
    const QStringList one{QStringLiteral("file:///home/a/x%FF")};
    QTest::newRow("chosen") << 0u << one << PortalOutcome::Chosen << QByteArray("/home/a/x\xff");
    QTest::newRow("cancelled, uris ignored")
        << 1u << one << PortalOutcome::Cancelled << QByteArray();
    QTest::newRow("closed") << 2u << one << PortalOutcome::Closed << QByteArray();
    QTest::newRow("unknown code") << 7u << one << PortalOutcome::Ended << QByteArray();
    QTest::newRow("success without uris")
        << 0u << QStringList() << PortalOutcome::NoLocalFile << QByteArray();
    QTest::newRow("two where one was asked")
        << 0u << QStringList{one.front(), QStringLiteral("file:///b")} << PortalOutcome::NoLocalFile
        << QByteArray();
    QTest::newRow("not a local file") << 0u << QStringList{QStringLiteral("sftp://h/a")}
                                      << PortalOutcome::NoLocalFile << QByteArray();
}

void PortalResponseTest::response() {
    QFETCH(uint, response);
    QFETCH(QStringList, uris);
    QFETCH(PortalOutcome, outcome);
    QFETCH(QByteArray, path);
    const PortalAnswer answer = readPortalResponse(response, uris);
    QCOMPARE(answer.outcome, outcome);
    QCOMPARE(answer.path, path);
}

void PortalResponseTest::requestPath() {
    QCOMPARE(portalRequestPath(QStringLiteral(":1.42"), QStringLiteral("pellim3")),
             QStringLiteral("/org/freedesktop/portal/desktop/request/1_42/pellim3"));
}

} // namespace

QTEST_GUILESS_MAIN(PortalResponseTest)
#include "test_portal_response.moc"
