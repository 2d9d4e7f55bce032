#include "platform/ConsentPrompt.h"
#include "platform/ConsentStore.h"
#include "platform/FolderGuard.h"
#include "platform/Log.h"
#include "support/TestHome.h"

#include <QFile>
#include <QTest>

using namespace pellim;

// Runs without a QApplication: the real prompt cannot be shown.
class GuardWithoutGuiTest : public QObject {
    Q_OBJECT

private slots:
    void deniesAndStoresNothing() {
        test::TestHome home;
        MemoryLogSink log;
        DialogConsentPrompter prompter;
        FolderGuard guard(log, prompter);
        QVERIFY(!guard.mayAccess(home.documents() + "/x.txt", FileAccessKind::Write));
        QVERIFY(!QFile::exists(ConsentStore::defaultPath()));
        QCOMPARE(log.entries().size(), 1u);
        QCOMPARE(log.entries()[0].level, LogLevel::Error);
        QVERIFY(log.entries()[0].message.endsWith("could not ask: denied"));
    }
};

QTEST_GUILESS_MAIN(GuardWithoutGuiTest)
#include "test_guard_without_gui.moc"
