// SPDX-License-Identifier: GPL-3.0-or-later
// The messages between Pellim and its guard: the guard reads what a possibly
// hostile Pellim wrote. Links the core alone.
#include "confine/GuardMessages.h"

#include <QTest>

using namespace pellim;

namespace {

QByteArray folderAccess(const QByteArray &exported = {}) {
    GuardRequest request;
    request.kind = GuardRequestKind::FolderAccess;
    request.window = 0x2a00005;
    request.exported = exported;
    return encodeRequest(request);
}

} // namespace

class GuardMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void requests_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("accepted");
        const QByteArray asked = folderAccess();
        QTest::newRow("Folder Access") << asked << true;
        QTest::newRow("a field missing") << asked.left(asked.size() - 2) << false;
        QTest::newRow("bytes left over") << asked + "x" << false;
        QByteArray unknown = asked;
        unknown[0] = char(3); // once a Save dialog's: dialogs are asked on the bus now
        QTest::newRow("an unknown kind") << unknown << false;
        QTest::newRow("oversized") << folderAccess(QByteArray(kMaxGuardMessage, 'a')) << false;
        QTest::newRow("empty") << QByteArray() << false;
        // The handle the guard hands its compositor: a short printable word.
        QTest::newRow("Pellim's window exported") << folderAccess("0f3c1a2e-5b7d-4e21") << true;
        QTest::newRow("a handle with a space") << folderAccess("0f3c 1a2e") << false;
        QTest::newRow("a handle with a control character") << folderAccess("0f3c\n1a2e") << false;
        QTest::newRow("a handle past its bound")
            << folderAccess(QByteArray(kMaxExportedHandle + 1, 'a')) << false;
    }
    void requests() {
        QFETCH(QByteArray, message);
        QFETCH(bool, accepted);
        const std::optional<GuardRequest> request = decodeRequest(message);
        QCOMPARE(request.has_value(), accepted);
        if (request) {
            QCOMPARE(request->kind, GuardRequestKind::FolderAccess);
            QCOMPARE(request->window, 0x2a00005u);
            QVERIFY(request->exported.isEmpty() || request->exported == "0f3c1a2e-5b7d-4e21");
        }
    }
};

QTEST_GUILESS_MAIN(GuardMessagesTest)
#include "test_guard_messages.moc"
