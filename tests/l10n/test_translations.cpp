// The translation chain, once, end to end: under German the main window, Qt's
// own texts and the help page are German, and the journal entries are the same
// English ones as ever.
#include "l10n/Translations.h"
#include "support/WindowFixture.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLocale>
#include <QTranslator>

using namespace pellim;
using namespace pellim::test;

class TestTranslations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() {
        qDeleteAll(qApp->findChildren<QTranslator *>()); // uninstalls them
        QLocale::setDefault(QLocale::c());
    }

    void germanWindowEnglishJournal() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        installTranslations(*qApp);
        TestHome home;
        Harness h;
        h.window.show();
        QCOMPARE(h.window.findChild<QPushButton *>("saveConsentButton")->text(),
                 "In den geschützten Ordner speichern");
        QCOMPARE(h.window.folderList->itemText(0), "Dokumente");
        QDialogButtonBox qtOwn(QDialogButtonBox::Cancel);
        QCOMPARE(qtOwn.button(QDialogButtonBox::Cancel)->text(), "Abbrechen");
        QCOMPARE(localizedResource(":/help/help.html"), ":/help/help_de.html");

        typeReplacing(h.window.folderList->lineEdit(), "/nowhere/");
        click(h, "openConsentButton");
        QCOMPARE(h.window.fileName->text(), "[Inhalt des Ordners /nowhere nicht erhalten]");
        QStringList messages;
        for (const LogEntry &e : h.log.entries())
            messages << e.message;
        QCOMPARE(messages,
                 QStringList({"Pellim: opened", "Pellim: trying to list files in /nowhere",
                              "Pellim: couldn't get contents of /nowhere"}));
    }
};

QTEST_MAIN(TestTranslations)
#include "test_translations.moc"
