#include "consent/ConsentCommand.h"
#include "consent/ConsentPrompter.h"
#include "consent/ConsentStore.h"
#include "consent/FolderGuard.h"
#include "consent/RunningGrants.h"
#include "panels/ErrorColour.h"
#include "panels/FolderAccessWindow.h"
#include "support/MemoryLogSink.h"
#include "support/TestHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QTest>
#include <QTextStream>

#include <cmath>

using namespace pellim;

namespace {

QAbstractButton *button(const QWidget &window, const QString &accessibleName) {
    for (QAbstractButton *b : window.findChildren<QAbstractButton *>())
        if (b->accessibleName() == accessibleName)
            return b;
    qFatal("no button named %s", qPrintable(accessibleName));
}

// The answers of Documents, Desktop and Downloads as the window shows them.
QStringList shown(const QWidget &window) {
    QStringList result;
    for (GuardedFolder folder : kGuardedFolders)
        result << window.findChild<QLabel *>("answer-" + folderKey(folder))->text();
    return result;
}

// The programs' rows, top to bottom, by their ids.
QStringList shownPrograms(const QWidget &window) {
    QList<QWidget *> rows;
    for (QWidget *w : window.findChild<QWidget *>("programs")->findChildren<QWidget *>())
        if (w->objectName().startsWith("program:") && w->isVisible())
            rows << w;
    std::sort(rows.begin(), rows.end(), [](QWidget *a, QWidget *b) { return a->y() < b->y(); });
    QStringList ids;
    for (QWidget *w : rows)
        ids << w->objectName().mid(8);
    return ids;
}

// "info: message" or "error: message"; one on another handle than the guard's stands out.
QStringList entries(const MemoryLogSink &journal) {
    QStringList result;
    for (const LogEntry &e : journal.entries())
        result << (e.subsystem + "/" + e.category == "org.pellim.FolderGuard/decisions"
                       ? (e.level == LogLevel::Info ? "info: " : "error: ") + e.message
                       : "elsewhere: " + e.message);
    return result;
}

} // namespace

class FolderAccessTest : public QObject {
    Q_OBJECT

private slots:
    // A button pressed in the window, or the same change made with
    // pellim-consent: stored, shown, and written to the journal in the same words.
    void change_data() {
        QTest::addColumn<QString>("press"); // a button, or "pellim-consent …"
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("logged");
        const QString set = "info: %1 folder: set to %2 in Folder Access";
        const QString tool = "info: %1 folder: set to %2 with pellim-consent";
        const QString none = "Not decided";
        QTest::newRow("allow") << "Allow Documents" << QStringList{"Allowed", "Allowed", "Denied"}
                               << QStringList{set.arg("Documents", "allowed")};
        QTest::newRow("deny") << "Deny Desktop" << QStringList{none, "Denied", "Denied"}
                              << QStringList{set.arg("Desktop", "denied")};
        QTest::newRow("reset") << "Reset Downloads" << QStringList{none, "Allowed", none}
                               << QStringList{set.arg("Downloads", "not decided")};
        // One entry for each folder it changed, and none for the others.
        QTest::newRow("reset all")
            << "Reset All" << QStringList(3, none)
            << QStringList{set.arg("Desktop", "not decided"), set.arg("Downloads", "not decided")};
        // Nothing changes, the window says why, and nothing is logged as done.
        QTest::newRow("failed") << "Allow Documents" << QStringList{none, "Allowed", "Denied"}
                                << QStringList{"error: Documents folder: could not be set to "
                                               "allowed in Folder Access: %1"};
        QTest::newRow("pellim-consent deny")
            << "pellim-consent deny documents" << QStringList{"Denied", "Allowed", "Denied"}
            << QStringList{tool.arg("Documents", "denied")};
        QTest::newRow("pellim-consent reset all")
            << "pellim-consent reset all" << QStringList(3, none)
            << QStringList{tool.arg("Desktop", "not decided"),
                           tool.arg("Downloads", "not decided")};
        QTest::newRow("pellim-consent failed")
            << "pellim-consent allow documents" << QStringList{none, "Allowed", "Denied"}
            << QStringList{"error: Documents folder: could not be set to allowed with "
                           "pellim-consent: %1"};
    }
    void change() {
        QFETCH(QString, press);
        QFETCH(QStringList, after);
        QFETCH(QStringList, logged);
        const bool lockBroken = logged[0].startsWith("error: "); // the row where writes fail
        test::TestHome home;
        ConsentStore store(ConsentStore::defaultPath());
        QVERIFY(store.setAnswer(GuardedFolder::Desktop, ConsentAnswer::Allowed));
        QVERIFY(store.setAnswer(GuardedFolder::Downloads, ConsentAnswer::Denied));
        QString why; // a folder in the lock's place: every write fails, for this reason
        const QString lock = QFileInfo(store.filePath()).path() + "/folder-access.lock";
        if (lockBroken && QFile::remove(lock) && QDir().mkdir(lock)) {
            const Result<ConsentStore::Stored> failed =
                store.setAnswer(GuardedFolder::Documents, ConsentAnswer::Allowed);
            QVERIFY(!failed);
            why = failed.failure().text();
        }
        MemoryLogSink journal;
        FolderAccessWindow window(journal, nullptr, store.filePath());
        window.show();
        QCOMPARE(shown(window), QStringList({"Not decided", "Allowed", "Denied"}));
        // A button that would change nothing cannot be pressed.
        QVERIFY(!button(window, "Allow Desktop")->isEnabled());
        QVERIFY(!button(window, "Reset Documents")->isEnabled());

        const bool tool = press.startsWith("pellim-consent ");
        if (tool) {
            QString out, err;
            QTextStream outStream(&out), errStream(&err);
            runConsentCommand(press.split(' '), store, journal, outStream, errStream);
        } else {
            QTest::mouseClick(button(window, press), Qt::LeftButton);
        }
        QTRY_COMPARE(shown(window), after);
        for (std::size_t i = 0; i < kGuardedFolders.size(); ++i)
            QCOMPARE(answerText(store.answer(kGuardedFolders[i])), after[int(i)].toLower());
        QCOMPARE(entries(journal), lockBroken ? QStringList{logged[0].arg(why)} : logged);
        const auto *failure = window.findChild<QLabel *>("failure"); // says why, and only then
        QCOMPARE(failure->isVisible() && failure->text().contains(why), lockBroken && !tool);
    }

    // The guard of sh shows every program with an answer, its own first and
    // Pellim always; each button changes its own program's answers, in entries
    // that name the program (Pellim's read as they always have).
    void perProgram_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<QStringList>("logged");   // in Folder Access, each
        QTest::addColumn<QStringList>("programs"); // their rows after, top to bottom
        QTest::addColumn<QString>("answer");       // a label's name = its text after
        const QString dash = "/usr/bin/dash", pellim = "org.pellim.Pellim", git = "/usr/bin/git";
        const auto row = [](const char *tag, const char *press, QStringList logged,
                            QStringList programs, const char *answer) {
            QTest::newRow(tag) << QString(press) << logged << programs << QString(answer);
        };
        row("sh's folder", "Allow Desktop for sh", {"sh: Desktop folder: set to allowed"},
            {dash, pellim, git}, "answer-desktop=Allowed");
        row("Pellim's folder", "Deny Documents", {"Documents folder: set to denied"},
            {dash, pellim, git}, "answer-documents:org.pellim.Pellim=Denied");
        row("git's entry", "Deny ~/.gitconfig for git", {"git: ~/.gitconfig: set to denied"},
            {dash, pellim, git}, "answer-~/.gitconfig:/usr/bin/git=Denied");
        row("git's last answer", "Reset ~/.gitconfig for git",
            {"git: ~/.gitconfig: set to not decided"}, {dash, pellim}, "answer-documents=Denied");
        row("sh reset: still shown", "Reset every answer of sh",
            {"sh: Documents folder: set to not decided"}, {dash, pellim, git},
            "answer-documents=Not decided");
        row("Reset All", "Reset All",
            {"Desktop folder: set to not decided", "git: ~/.gitconfig: set to not decided",
             "sh: Documents folder: set to not decided"},
            {dash, pellim}, "answer-desktop:org.pellim.Pellim=Not decided");
    }
    void perProgram() {
        QFETCH(QString, press);
        QFETCH(QStringList, logged);
        QFETCH(QStringList, programs);
        QFETCH(QString, answer);
        test::TestHome home;
        const QString path = ConsentStore::defaultPath();
        QVERIFY(ConsentStore(path).setAnswer(GuardedFolder::Desktop, ConsentAnswer::Allowed));
        QVERIFY(ConsentStore(path, "/usr/bin/dash", "sh")
                    .setAnswer(GuardedFolder::Documents, ConsentAnswer::Denied));
        QVERIFY(ConsentStore(path, "/usr/bin/git", "git")
                    .setEntryAnswer(QFile::encodeName(home.home() + "/.gitconfig"),
                                    ConsentAnswer::Allowed));
        MemoryLogSink journal;
        FolderAccessWindow window(journal, nullptr, path, true,
                                  Program{"/usr/bin/dash", "sh", "/usr/bin/dash"});
        window.show();
        QTest::mouseClick(button(window, press), Qt::LeftButton);
        QTRY_COMPARE(shownPrograms(window), programs);
        // Another program's entries carry its file, as the guard's own do.
        QStringList files, wanted;
        for (const LogEntry &e : journal.entries())
            files << (e.fields.empty() ? "" : e.fields[0].first + '=' + e.fields[0].second);
        for (QString &line : logged) {
            wanted << (line.startsWith("git: ")  ? "PELLIM_PROGRAM=/usr/bin/git"
                       : line.startsWith("sh: ") ? "PELLIM_PROGRAM=/usr/bin/dash"
                                                 : "");
            line = "info: " + line + " in Folder Access";
        }
        QCOMPARE(entries(journal), logged);
        QCOMPARE(files, wanted);
        const auto *label = window.findChild<QLabel *>(answer.section('=', 0, 0));
        QVERIFY(label);
        QCOMPARE(label->text(), answer.section('=', 1));
    }

    // Error text is red that reads on the theme's background, light or dark.
    void errorRedReads_data() {
        QTest::addColumn<QColor>("background");
        QTest::newRow("light") << QColor(Qt::white);
        QTest::newRow("grey") << QColor(0xef, 0xef, 0xef);
        QTest::newRow("dark") << QColor(0x24, 0x24, 0x24);
        QTest::newRow("black") << QColor(Qt::black);
    }
    void errorRedReads() {
        QFETCH(QColor, background);
        QPalette palette;
        palette.setColor(QPalette::Base, background);
        const QColor red = errorTextColour(palette, QPalette::Base);
        const auto luminance = [](const QColor &c) {
            const auto linear = [](double v) {
                return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) +
                   0.0722 * linear(c.blueF());
        };
        const double a = luminance(red), b = luminance(background);
        QVERIFY2((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05) >= 4.5, qPrintable(red.name()));
        QVERIFY2(red.hslHue() >= 340 && red.red() > red.green() + 40, qPrintable(red.name()));
    }

    // A folder's mnemonic moves to its row and changes nothing: QLabel would
    // click its button buddy, Allow, a moment later.
    void mnemonicOnlyMoves() {
        test::TestHome home;
        MemoryLogSink journal;
        FolderAccessWindow window(journal);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_D, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), button(window, "Allow Documents"));
        QTest::qWait(300);
        QCOMPARE(shown(window)[0], "Not decided");
        QVERIFY(journal.entries().empty());
    }

    // A folder guarded at an earlier start that the settings no longer name is
    // listed with a Release button, which lets it go and says so.
    void releasesAFolderGuardedBefore() {
        test::TestHome home;
        const QString old = home.home() + "/Old";
        ConsentStore store(ConsentStore::defaultPath());
        QVERIFY(
            store.record({{GuardedFolder::Documents, QFile::encodeName(old), FileIdentity{1, 2}}}));
        MemoryLogSink journal;
        FolderAccessWindow window(journal);
        window.show();
        QVERIFY(window.findChild<QWidget *>("recorded")->isVisible());
        button(window, "Release " + old)->click();
        QVERIFY(store.read().recorded.empty());
        QCOMPARE(entries(journal),
                 QStringList{"info: " + old + ": released in Folder Access; no longer guarded"});
        QVERIFY(!window.findChild<QWidget *>("recorded")->isVisible());
    }

    // What a dialog choice opens in a guarded folder shows, as soon as it is
    // made, beside the stored answer it overrides until Pellim quits.
    void grantsInForce_data() {
        QTest::addColumn<QString>("chosen"); // under the home; a trailing slash: a folder
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("line"); // @: the home
        QTest::newRow("a file in it") << "Documents/letter.txt"
                                      << "Denied"
                                      << "Chosen in a dialog, open until Pellim quits: "
                                         "@/Documents/letter.txt";
        QTest::newRow("a name to save as") << "Documents/new.txt"
                                           << "Denied"
                                           << "Chosen in a dialog, open until Pellim quits: "
                                              "@/Documents/new.txt";
        QTest::newRow("the folder itself")
            << "Documents/"
            << "Open"
            << "The folder was chosen in a dialog: it is open until Pellim quits. The stored "
               "answer: Denied.";
        QTest::newRow("the home around it") << "/"
                                            << "Denied"
                                            << ""; // opens none of it
    }
    void grantsInForce() {
        QFETCH(QString, chosen);
        QFETCH(QString, answer);
        QFETCH(QString, line);
        test::TestHome home;
        home.makeFile("home/Documents/letter.txt", "x");
        QVERIFY(ConsentStore(ConsentStore::defaultPath())
                    .setAnswer(GuardedFolder::Documents, ConsentAnswer::Denied));
        struct : ConsentPrompter {
            PromptAnswer ask(const ConsentRequest &) override { return PromptAnswer::CannotAsk; }
        } prompter;
        MemoryLogSink journal;
        FolderGuard guard(journal, prompter);
        FolderAccessWindow window(journal, &guard);
        guard.onGrant([&] { // as the guard's owner wires it
            QMetaObject::invokeMethod(&window, &FolderAccessWindow::refresh, Qt::QueuedConnection);
        });
        window.show();
        const QString path = QDir::cleanPath(home.home() + '/' + chosen);
        guard.grantChosen(QFile::encodeName(path), chosen.endsWith('/'));
        QCoreApplication::processEvents(); // the refresh it queued
        QTRY_COMPARE(shown(window)[0], answer);
        const auto *note = window.findChild<QLabel *>("chosen-documents");
        QTRY_COMPARE(note->isVisible() ? note->text() : "",
                     QString(line).replace('@', home.home()));
        QCOMPARE(shown(window), QStringList({answer, "Not decided", "Not decided"}));
    }

    // Another program, running under a guard of its own with no answer stored,
    // gets a row while it has a dialog's choice; Revoke takes the choice back
    // in that guard, and the row goes.
    void revokesAnotherProgramsChoice() {
        test::TestHome home;
        const QString letter = home.makeFile("home/Documents/letter.txt", "x");
        const Result<QByteArray> folder = RunningGrants::folder(true);
        QVERIFY(folder);
        struct : ConsentPrompter {
            PromptAnswer ask(const ConsentRequest &) override { return PromptAnswer::CannotAsk; }
        } prompter;
        MemoryLogSink journal;
        const Program zed{"/usr/bin/zed", "zed", "/usr/bin/zed"};
        FolderGuard theirs(journal, prompter, zed);
        GrantsPublisher published(
            *folder, zed, [&] { return theirs.chosenItems(); },
            [&](const QByteArray &path, RevokedBy) {
                return theirs.revokeChosen(path, "in Folder Access");
            });
        theirs.onGrant([&] { QVERIFY(published.publish()); });
        FolderAccessWindow window(journal);
        window.show();
        theirs.grantChosen(QFile::encodeName(letter), false);
        QTRY_COMPARE(shownPrograms(window), QStringList({"org.pellim.Pellim", "/usr/bin/zed"}));
        QTest::mouseClick(button(window, "Revoke " + letter + " for zed"), Qt::LeftButton);
        QVERIFY(theirs.chosenItems().empty());
        QTRY_COMPARE(shownPrograms(window), QStringList({"org.pellim.Pellim"}));
        QCOMPARE(entries(journal).last(), "info: zed: " + letter +
                                              ": chosen in a dialog, no longer open: revoked in "
                                              "Folder Access");
    }

    // A damaged answers file is named in red; the next change, from the window
    // or pellim-consent, first keeps it beside the new one, never over an
    // earlier one, and the window, the tool and the journal say where.
    void damagedFileIsKept_data() {
        QTest::addColumn<QString>("press");
        QTest::newRow("in the window") << "Deny Desktop";
        QTest::newRow("Reset All") << "Reset All";
        QTest::newRow("pellim-consent") << "pellim-consent deny desktop";
    }
    void damagedFileIsKept() {
        QFETCH(QString, press);
        test::TestHome home;
        const QByteArray damaged = R"({"org.pellim.Pellim": {"documents": "allowed", )";
        const QString path = home.makeFile("home/.local/state/pellim/folder-access.json", damaged);
        // Names taken already, as by a damage kept a moment ago: left as they are.
        const QDateTime now = QDateTime::currentDateTime();
        QStringList earlier;
        for (int s = 0; s < 3; ++s)
            earlier << home.makeFile("home/.local/state/pellim/folder-access.json.damaged-" +
                                         now.addSecs(s).toString("yyyyMMdd-HHmmss"),
                                     "earlier");
        MemoryLogSink journal;
        FolderAccessWindow window(journal);
        window.show();
        const auto *problem = window.findChild<QLabel *>("problem");
        const auto *kept = window.findChild<QLabel *>("kept");
        QVERIFY(problem->isVisible() && problem->text().contains(path + " is damaged"));
        QCOMPARE(problem->palette().color(QPalette::WindowText),
                 errorTextColour(window.palette(), QPalette::Window));
        QCOMPARE(shown(window), QStringList(3, "Not decided"));

        QString out, err;
        if (press.startsWith("pellim-consent ")) {
            QTextStream outStream(&out), errStream(&err);
            ConsentStore store(path);
            runConsentCommand(press.split(' '), store, journal, outStream, errStream);
        } else {
            QTest::mouseClick(button(window, press), Qt::LeftButton);
        }
        QTRY_VERIFY(!problem->isVisible());
        const QStringList all = ConsentStore(path).keptFiles();
        QCOMPARE(all.size(), earlier.size() + 1);
        const QString keptAs = *std::find_if(
            all.begin(), all.end(), [&](const QString &f) { return !earlier.contains(f); });
        for (const QString &file : all) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), file == keptAs ? damaged : QByteArray("earlier"));
        }
        QVERIFY2(kept->isVisible() && kept->text().contains(keptAs), qPrintable(kept->text()));
        const QStringList logged = entries(journal);
        QVERIFY2(logged.value(0).startsWith("error: Answers file: " + path +
                                            " could not be used; it was kept as " + keptAs),
                 qPrintable(logged.join('\n')));
        QCOMPARE(err.contains(keptAs), press.startsWith("pellim-consent "));
    }

    // pellim-consent writes while the window is open, the first time before the
    // store's folder even exists: the window follows.
    void followsAnotherWriter() {
        test::TestHome home;
        MemoryLogSink journal;
        FolderAccessWindow window(journal);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window)); // no refresh on activation hereafter
        ConsentStore other(ConsentStore::defaultPath());
        QVERIFY(other.setAnswer(GuardedFolder::Desktop, ConsentAnswer::Denied));
        QTRY_COMPARE(shown(window)[1], "Denied");
        QVERIFY(other.setAnswer(GuardedFolder::Desktop, ConsentAnswer::Allowed));
        QTRY_COMPARE(shown(window)[1], "Allowed");
    }
};

QTEST_MAIN(FolderAccessTest)
#include "test_folder_access.moc"
