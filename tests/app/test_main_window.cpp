#include "support/Harness.h"
#include "support/TestHome.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>

using pellim::LogLevel;
using pellim::test::Harness;
using pellim::test::TestHome;

namespace {

// The six tests in the order of the window: button, menu action, label, slot.
struct TestControl {
    const char *button;
    const char *action;
    const char *label;
    const char *slot;
};
const TestControl kTests[] = {
    {"saveIntentButton", "actionSaveIntent", "Save with a dialog…", SLOT(doSaveIntent())},
    {"saveToFolderButton", "actionSaveToFolder", "Save into a chosen folder…",
     SLOT(doSaveToFolder())},
    {"saveConsentButton", "actionSaveConsent", "Save into the protected folder",
     SLOT(doSaveConsent())},
    {"openIntentButton", "actionOpenIntent", "Open with a dialog…", SLOT(doOpenIntent())},
    {"openConsentButton", "actionOpenConsent", "Open from the protected folder",
     SLOT(doOpenConsent())},
    {"openFolderButton", "actionOpenFolder", "Open from a chosen folder…", SLOT(doOpenFolder())},
};

QStringList items(const QComboBox *box) {
    QStringList all;
    for (int i = 0; i < box->count(); ++i)
        all << box->itemText(i);
    return all;
}

// The width a line edit has for its text, by the same rule the style draws it.
int textRoom(const QLineEdit *field) {
    QStyleOptionFrame option;
    option.initFrom(field);
    option.rect = field->contentsRect();
    option.lineWidth = field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth,
                                                                       &option, field)
                                         : 0;
    option.state |= QStyle::State_Sunken;
    const QRect contents =
        field->style()->subElementRect(QStyle::SE_LineEditContents, &option, field);
    const QMargins margins = field->textMargins();
    return contents.width() - margins.left() - margins.right() - 2 * 2; // QLineEdit's own margin
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void launchState();
    void everyAppearanceStartsAfresh();
    void buttonsAndMenusReachTheirSlots();
    void keyboardAndAssistiveAccess();
    void fieldsHoldAFullPreview();
    void sampleTextIsOneLineOf686Ascii();
};

void TestMainWindow::launchState() {
    TestHome home;
    Harness h;
    QVERIFY(h.log.entries().empty()); // nothing before the window appears
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));

    QCOMPARE(h.window.windowTitle(), QStringLiteral("Pellim"));
    QCOMPARE(h.window.openedText->text(), QStringLiteral("[empty]"));
    QCOMPARE(h.window.fileName->text(), QStringLiteral("[no filename]"));
    QCOMPARE(items(h.window.folderList), QStringList({"Documents", "Desktop", "Downloads"}));
    QCOMPARE(h.window.folderList->currentIndex(), 0);
    QCOMPARE(h.window.folderList->currentText(), QStringLiteral("Documents"));

    QCOMPARE(h.log.entries().size(), std::size_t(1));
    const auto &opened = h.log.entries().front();
    QCOMPARE(opened.message, QStringLiteral("Pellim: opened"));
    QCOMPARE(opened.level, LogLevel::Info);
    QCOMPARE(opened.subsystem, QStringLiteral("org.pellim.Pellim"));
    QCOMPARE(opened.category, QStringLiteral("general"));

    // A position in the list is a position in the folder table.
    QCOMPARE(h.window.theSpecDirs.size(), 3);
    QCOMPARE(h.window.theSpecDirs[0].path(), home.documents());
    QCOMPARE(h.window.theSpecDirs[1].path(), home.desktop());
    QCOMPARE(h.window.theSpecDirs[2].path(), home.downloads());
}

void TestMainWindow::everyAppearanceStartsAfresh() {
    TestHome home;
    Harness h;
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));

    // What a test or the person may leave behind.
    h.window.openedText->setText(QStringLiteral("some text"));
    h.window.fileName->setText(QStringLiteral("/somewhere/file.txt"));
    h.window.folderList->setEditText(QStringLiteral("/typed/path"));
    h.window.hide();
    QCOMPARE(h.log.entries().size(), std::size_t(1)); // hiding logs nothing

    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));
    QCOMPARE(h.window.openedText->text(), QStringLiteral("[empty]"));
    QCOMPARE(h.window.fileName->text(), QStringLiteral("[no filename]"));
    QCOMPARE(items(h.window.folderList), QStringList({"Documents", "Desktop", "Downloads"}));
    QCOMPARE(h.window.folderList->currentText(), QStringLiteral("Documents"));
    QCOMPARE(h.log.entries().size(), std::size_t(2));
    QCOMPARE(h.log.entries()[1].message, QStringLiteral("Pellim: opened"));
    QCOMPARE(h.log.entries()[1].level, LogLevel::Info);

    // Restoring a minimised window is not a new appearance: the window system
    // reports it (and follows every first show) with a spontaneous show event,
    // which must leave what a test has shown alone.
    h.window.fileName->setText(QStringLiteral("/kept/file.txt"));
    QShowEvent restored;
    QSpontaneKeyEvent::setSpontaneous(&restored);
    // sendEvent() would clear the flag; deliver it as the window system does.
    static_cast<QObject *>(&h.window)->event(&restored);
    QCOMPARE(h.window.fileName->text(), QStringLiteral("/kept/file.txt"));
    QCOMPARE(h.log.entries().size(), std::size_t(2));
}

void TestMainWindow::buttonsAndMenusReachTheirSlots() {
    TestHome home;
    Harness h;
    int index = 0;
    for (const TestControl &t : kTests) {
        auto *button = h.window.findChild<QPushButton *>(QLatin1String(t.button));
        auto *action = h.window.findChild<QAction *>(QLatin1String(t.action));
        QVERIFY2(button && action, t.button);
        QCOMPARE(button->text(), QString::fromUtf8(t.label));
        QCOMPARE(action->text(), QString::fromUtf8(t.label));
        ++index;
        QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+%1").arg(index)));
        // Each is wired exactly once: the first disconnect finds the
        // connection, a second finds none (a double connection would run a
        // test twice per click).
        QVERIFY2(QObject::disconnect(button, SIGNAL(clicked()), &h.window, t.slot), t.button);
        QVERIFY2(!QObject::disconnect(button, SIGNAL(clicked()), &h.window, t.slot), t.button);
        QVERIFY2(QObject::disconnect(action, SIGNAL(triggered()), &h.window, t.slot), t.action);
        QVERIFY2(!QObject::disconnect(action, SIGNAL(triggered()), &h.window, t.slot), t.action);
    }

    QAction *help = h.window.helpAction();
    QCOMPARE(help->text().remove(QLatin1Char('&')), QStringLiteral("Pellim Help"));
}

void TestMainWindow::keyboardAndAssistiveAccess() {
    TestHome home;
    Harness h;
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));

    // Labels name their controls.
    const std::pair<const char *, QWidget *> labelled[] = {
        {"Protected folder:", h.window.folderList},
        {"Text:", h.window.openedText},
        {"File:", h.window.fileName},
    };
    for (const auto &[text, control] : labelled) {
        QLabel *found = nullptr;
        for (QLabel *label : h.window.findChildren<QLabel *>())
            if (label->text().remove(QLatin1Char('&')) == QLatin1String(text))
                found = label;
        QVERIFY2(found, text);
        QCOMPARE(found->buddy(), control);
    }

    // The Tab key walks the controls in the order they are seen.
    const QStringList expected{"folderList",        "saveIntentButton", "saveToFolderButton",
                               "saveConsentButton", "openIntentButton", "openConsentButton",
                               "openFolderButton",  "openedText",       "fileName"};
    QStringList order;
    QWidget *w = h.window.folderList;
    do {
        // An editable combo box's own line edit is part of the combo box.
        QWidget *control = qobject_cast<QComboBox *>(w->parentWidget()) ? w->parentWidget() : w;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&h.window) &&
            !order.contains(control->objectName()))
            order << control->objectName();
        w = w->nextInFocusChain();
    } while (w != h.window.folderList);
    QCOMPARE(order, expected);

    // Every control can be told apart by assistive technology.
    for (const QString &name : expected) {
        auto *control = h.window.findChild<QWidget *>(name);
        QVERIFY2(control && !control->accessibleName().isEmpty(), qPrintable(name));
    }

    // What is typed into the folder list is never added to it.
    h.window.folderList->setFocus();
    h.window.folderList->lineEdit()->selectAll();
    QTest::keyClicks(h.window.folderList->lineEdit(), QStringLiteral("/tmp"));
    QTest::keyClick(h.window.folderList->lineEdit(), Qt::Key_Return);
    QCOMPARE(h.window.folderList->count(), 3);
}

void TestMainWindow::fieldsHoldAFullPreview() {
    TestHome home;
    Harness h;
    h.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.window));

    // A preview holds at most 80 characters; a reading test's own path is
    // shorter. Both must be readable whole at the default size.
    const QString prose = QStringLiteral("We walked home in the rain, talking about "
                                         "maps, kites and why Mondays feel long.");
    QCOMPARE(prose.size(), 80);
    const QString path =
        QStringLiteral("/home/alexandra/Documents/Pellim1B4E28BA-2FA1-11D2-883F-0016D3CCA427.txt");
    for (QLineEdit *field : {h.window.openedText, h.window.fileName}) {
        for (const QString &text : {prose, path}) {
            const int needed = field->fontMetrics().horizontalAdvance(text);
            QVERIFY2(needed <= textRoom(field), qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                                                               .arg(field->objectName())
                                                               .arg(needed)
                                                               .arg(textRoom(field))));
        }
    }
}

void TestMainWindow::sampleTextIsOneLineOf686Ascii() {
    TestHome home;
    Harness h;
    const QString &text = h.window.textOutput;
    QCOMPARE(text.size(), 686);
    QCOMPARE(text.toUtf8().size(), 686);
    for (const QChar c : text)
        QVERIFY2(c.unicode() >= 0x20 && c.unicode() < 0x7f, "printable ASCII only, no line break");
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
