#include "support/Harness.h"
#include "support/TestHome.h"

#include <QTest>

class TestSkeleton : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void buildsAWindow() {
        pellim::test::TestHome home;
        pellim::test::Harness h;
        QCOMPARE(h.window.gen_log.category(), QStringLiteral("general"));
    }
};

QTEST_MAIN(TestSkeleton)
#include "test_skeleton.moc"
