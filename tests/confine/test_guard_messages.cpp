// SPDX-License-Identifier: GPL-3.0-or-later
// The messages between Pellim and its guard: the guard reads what a possibly
// hostile Pellim wrote, and Pellim reads the guard's replies. Links the core alone.
#include "confine/GuardMessages.h"

#include <QDataStream>
#include <QIODevice>
#include <QTest>

using namespace pellim;

namespace {

QByteArray saveRequest(const QString &name, const QByteArray &exported = {}) {
    GuardRequest request;
    request.kind = GuardRequestKind::Save;
    request.id = 7;
    request.window = 0x2a00005;
    request.exported = exported;
    request.suggestedName = name;
    return encodeRequest(request);
}

// An Open request as an older, label-carrying Pellim would have written it.
QByteArray labelledOpen(const QString &label) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << quint8(GuardRequestKind::Open) << quint32(7) << quint64(0x2a00005) << QByteArray()
        << label << quint8(OpenPurpose::ReadFile);
    return message;
}

QByteArray reply(int response, bool chosen, const QByteArray &path, bool trailing = false) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << quint8(0x80) << quint32(3) << qint32(response) << chosen;
    if (chosen)
        out << path << false;
    if (trailing)
        out << quint8(0);
    return message;
}

} // namespace

class GuardMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void requests_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("accepted");
        const QByteArray save = saveRequest("Pellim.txt");
        QTest::newRow("a save request") << save << true;
        QTest::newRow("a field missing") << save.left(save.size() - 2) << false;
        QTest::newRow("bytes left over") << save + "x" << false;
        QByteArray unknown = save;
        unknown[0] = char(9);
        QTest::newRow("an unknown kind") << unknown << false;
        QTest::newRow("oversized") << saveRequest(QString(kMaxGuardMessage, 'a')) << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("a name with a slash") << saveRequest("/home/a/Documents/x.txt") << false;
        QTest::newRow("a name that is a folder") << saveRequest("..") << false;
        QTest::newRow("no name") << saveRequest("") << false;
        QTest::newRow("a name past NAME_MAX") << saveRequest(QString(256, 'a')) << false;
        QTest::newRow("a label in a request") << labelledOpen("Cancel") << false;
        // The handle the guard hands its compositor: a short printable word.
        QTest::newRow("Pellim's window exported")
            << saveRequest("Pellim.txt", "0f3c1a2e-5b7d-4e21") << true;
        QTest::newRow("a handle with a space") << saveRequest("Pellim.txt", "0f3c 1a2e") << false;
        QTest::newRow("a handle with a control character")
            << saveRequest("Pellim.txt", "0f3c\n1a2e") << false;
        QTest::newRow("a handle past its bound")
            << saveRequest("Pellim.txt", QByteArray(kMaxExportedHandle + 1, 'a')) << false;
    }
    void requests() {
        QFETCH(QByteArray, message);
        QFETCH(bool, accepted);
        const std::optional<GuardRequest> request = decodeRequest(message);
        QCOMPARE(request.has_value(), accepted);
        if (request) {
            QCOMPARE(request->kind, GuardRequestKind::Save);
            QCOMPARE(request->id, 7u);
            QCOMPARE(request->window, 0x2a00005u);
            QCOMPARE(request->suggestedName, QStringLiteral("Pellim.txt"));
            QVERIFY(request->exported.isEmpty() || request->exported == "0f3c1a2e-5b7d-4e21");
        }
    }

    void replies_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("a chosen file") << reply(kResponseOK, true, "/home/a/\xff.txt") << true;
        QTest::newRow("a cancel") << reply(kResponseCancel, false, {}) << true;
        QTest::newRow("a relative path") << reply(kResponseOK, true, "a/b.txt") << false;
        QTest::newRow("an OK without a location") << reply(kResponseOK, false, {}) << false;
        QTest::newRow("a cancel with a location") << reply(kResponseCancel, true, "/a") << false;
        QTest::newRow("bytes left over") << reply(kResponseOK, true, "/a", true) << false;
        QTest::newRow("a request, not a reply") << saveRequest("a.txt") << false;
        QTest::newRow("oversized")
            << reply(kResponseOK, true, "/" + QByteArray(kMaxGuardMessage, 'a')) << false;
    }
    void replies() {
        QFETCH(QByteArray, message);
        QFETCH(bool, accepted);
        const std::optional<GuardReply> decoded = decodeReply(message);
        QCOMPARE(decoded.has_value(), accepted);
        if (decoded && decoded->chosen) // the name's bytes arrive as they were, not as text
            QCOMPARE(decoded->chosen->pathBytes(), QByteArray("/home/a/\xff.txt"));
    }
};

QTEST_GUILESS_MAIN(GuardMessagesTest)
#include "test_guard_messages.moc"
