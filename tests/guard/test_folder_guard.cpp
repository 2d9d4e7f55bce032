#include "files/FileAccess.h"
#include "guard/ConsentStore.h"
#include "guard/FolderGuard.h"
#include "guard/PathWalk.h"
#include "journal/Log.h"
#include "panels/ConsentDialog.h"
#include "support/MemoryLogSink.h"
#include "support/Modal.h"
#include "support/TestHome.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace pellim;

namespace {

// Gives the answers it was handed, then CannotAsk.
struct FakePrompter final : ConsentPrompter {
    explicit FakePrompter(std::vector<PromptAnswer> answers = {}) : answers(std::move(answers)) {}
    PromptAnswer ask(const ConsentRequest &request) override {
        asked.push_back(request);
        return asked.size() <= answers.size() ? answers[asked.size() - 1] : PromptAnswer::CannotAsk;
    }
    std::vector<PromptAnswer> answers;
    std::vector<ConsentRequest> asked;
};

// Asks `guard` as file access does: about what the path reaches.
bool asks(FolderGuard &guard, const QString &path, FileAccessKind kind) {
    const QByteArray bytes = QFile::encodeName(path);
    const std::optional<Walked> walked = walkPath(bytes);
    return walked && guard.mayAccess(*walked, bytes, kind);
}

int modeOf(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class FolderGuardTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_home = std::make_unique<test::TestHome>();
        m_store = std::make_unique<ConsentStore>(ConsentStore::defaultPath());
        m_log.clear();
    }
    void cleanup() {
        m_store.reset();
        m_home.reset();
    }

    // Every way a decision is made. The answer is stored, so a second guard (as after
    // a restart) decides without asking, until the answer is reset behind its back.
    void decisionsAreStoredAndReused_data() {
        QTest::addColumn<ConsentAnswer>("stored");
        QTest::addColumn<PromptAnswer>("answer");
        const auto row = [](const char *how, ConsentAnswer stored, PromptAnswer answer) {
            QTest::newRow(how) << stored << answer;
        };
        row("stored: allowed", ConsentAnswer::Allowed, PromptAnswer::CannotAsk);
        row("stored: denied", ConsentAnswer::Denied, PromptAnswer::CannotAsk);
        row("asked: allowed", ConsentAnswer::NotDecided, PromptAnswer::Allow);
        row("asked: denied", ConsentAnswer::NotDecided, PromptAnswer::Deny);
        row("could not ask: denied", ConsentAnswer::NotDecided, PromptAnswer::CannotAsk);
    }
    void decisionsAreStoredAndReused() {
        QFETCH(ConsentAnswer, stored);
        QFETCH(PromptAnswer, answer);
        const QString how = QString::fromLatin1(QTest::currentDataTag());
        const bool allowed = how.endsWith(": allowed");
        const bool asked = stored == ConsentAnswer::NotDecided;
        const bool remembered = answer != PromptAnswer::CannotAsk || !asked;
        if (stored != ConsentAnswer::NotDecided)
            QVERIFY(m_store->setAnswer(GuardedFolder::Desktop, stored));
        const QString path = m_home->desktop() + "/note.txt";
        FakePrompter prompter({answer});
        FolderGuard first(m_log, prompter);
        QCOMPARE(asks(first, path, FileAccessKind::Write), allowed);
        QCOMPARE(prompter.asked.size(), asked ? 1u : 0u);
        for (const ConsentRequest &r : prompter.asked)
            QVERIFY(r.folder == GuardedFolder::Desktop && r.kind == FileAccessKind::Write &&
                    r.path == path);
        QCOMPARE(m_log.entries().size(), 1u);
        const LogEntry &e = m_log.entries().front();
        QCOMPARE(e.subsystem + ' ' + e.category, "org.pellim.FolderGuard decisions");
        QCOMPARE(e.level, allowed ? LogLevel::Info : LogLevel::Error);
        QCOMPARE(e.message, "Desktop folder, write access to " + path + ": " + how);
        QCOMPARE(m_store->answer(GuardedFolder::Desktop),
                 !remembered ? ConsentAnswer::NotDecided
                             : (allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        QCOMPARE(m_store->answer(GuardedFolder::Documents), ConsentAnswer::NotDecided);

        FakePrompter second({PromptAnswer::Allow, PromptAnswer::Allow});
        FolderGuard guard(m_log, second);
        QCOMPARE(asks(guard, path, FileAccessKind::Read), remembered ? allowed : true);
        QCOMPARE(second.asked.size(), remembered ? 0u : 1u);
        QVERIFY(ConsentStore(ConsentStore::defaultPath()).resetAll());
        QVERIFY(asks(guard, path, FileAccessKind::Read));
        QCOMPARE(second.asked.size(), remembered ? 1u : 2u);
    }

    void chosenItemsAreAccessibleUntilExit() {
        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        const QString docs = m_home->documents();
        m_home->makeFolder("home/Documents/Sub/deep");
        m_home->makeFolder("home/Documents/Subway");
        guard.grantChosen(QFile::encodeName(docs + "/chosen.txt"), false);
        guard.grantChosen(QFile::encodeName(docs + "/Sub"), true);
        QVERIFY(asks(guard, docs + "/chosen.txt", FileAccessKind::Write));
        QVERIFY(asks(guard, docs + "/Sub", FileAccessKind::List));
        QVERIFY(asks(guard, docs + "/Sub/deep/new.txt", FileAccessKind::Read));
        QVERIFY(prompter.asked.empty());
        QCOMPARE(m_log.entries().size(), 3u);
        for (const LogEntry &e : m_log.entries())
            QVERIFY(e.level == LogLevel::Info && e.message.endsWith(": chosen in a dialog"));
        // Not the chosen file's neighbour, nor a sibling whose name merely begins alike.
        QVERIFY(!asks(guard, docs + "/other.txt", FileAccessKind::Write));
        QVERIFY(!asks(guard, docs + "/Subway/x.txt", FileAccessKind::Write));
        QVERIFY(!asks(guard, docs, FileAccessKind::List));
        QCOMPARE(prompter.asked.size(), 3u);
    }

    // Which accesses meet the guard, and for which folder (empty: none).
    void targetIsResolvedBeforeJudging_data() {
        QTest::addColumn<QString>("underRoot");
        QTest::addColumn<QString>("folder");
        const auto row = [](const char *name, const char *underRoot, const char *folder) {
            QTest::newRow(name) << QString(underRoot) << QString(folder);
        };
        row("outside", "elsewhere/x.txt", "");
        row("home itself", "home/x.txt", "");
        row("Documents itself", "home/Documents", "documents");
        row("Desktop", "home/Desktop/x.txt", "desktop");
        row("not yet existing in Documents", "home/Documents/new.txt", "documents");
        row("link into Documents", "into/x.txt", "documents");
        row("link to a file in Documents", "file-link", "documents");
        row("link out of Documents", "home/Documents/out/x.txt", "");
        row("dot-dot into Documents", "elsewhere/../home/./Documents/x.txt", "documents");
        row("dot-dot out of Documents", "home/Documents/../x.txt", "");
        // The link is followed first, then "..": physically this is Documents/x.txt.
        row("dot-dot after a link", "into-sub/../x.txt", "documents");
        row("relative link into Downloads", "rel/x.txt", "downloads");
        row("link loop", "loop/x.txt", "");
    }
    void targetIsResolvedBeforeJudging() {
        QFETCH(QString, underRoot);
        QFETCH(QString, folder);
        const QString root = m_home->root();
        const QString docs = m_home->documents();
        m_home->makeFolder("elsewhere");
        m_home->makeFolder("home/Documents/Sub");
        m_home->makeFile("home/Documents/real.txt", "text");
        const std::pair<QString, QString> links[] = {{docs, root + "/into"},
                                                     {docs + "/Sub", root + "/into-sub"},
                                                     {docs + "/real.txt", root + "/file-link"},
                                                     {root + "/elsewhere", docs + "/out"},
                                                     {"home/Downloads", root + "/rel"},
                                                     {root + "/loop", root + "/loop"}};
        for (const auto &[target, at] : links)
            QVERIFY(QFile::link(target, at));

        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        const bool allowed = asks(guard, root + "/" + underRoot, FileAccessKind::Read);
        if (!underRoot.startsWith("loop")) // a loop fails in the walk, as in the kernel
            QCOMPARE(allowed, folder.isEmpty());
        QCOMPARE(prompter.asked.size(), folder.isEmpty() ? 0u : 1u);
        QCOMPARE(m_log.entries().size(), folder.isEmpty() ? 0u : 1u);
        if (!folder.isEmpty())
            QCOMPARE(folderKey(prompter.asked[0].folder), folder);
    }

    // The guarded folder may itself be a link, and a user folder may be the home.
    void guardedFoldersAreComparedResolved() {
        const QString real = m_home->makeFolder("real-docs");
        QVERIFY(QDir(m_home->documents()).removeRecursively());
        QVERIFY(QFile::link(real, m_home->documents()));
        QFile dirs(m_home->home() + "/.config/user-dirs.dirs");
        QVERIFY(dirs.open(QIODevice::Append));
        dirs.write("XDG_DOWNLOAD_DIR=\"$HOME/\"\nXDG_DESKTOP_DIR=\"$HOME/D\xff\"\n");
        dirs.close();

        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        QVERIFY(!asks(guard, real + "/x.txt", FileAccessKind::Write));
        QCOMPARE(prompter.asked.size(), 1u);
        QCOMPARE(prompter.asked[0].folder, GuardedFolder::Documents);
        QVERIFY(asks(guard, m_home->home() + "/x.txt", FileAccessKind::Write));
        QCOMPARE(prompter.asked.size(), 1u);
        // A folder whose name is not UTF-8 is guarded all the same.
        const QByteArray desktop = QFile::encodeName(m_home->home()) + "/D\xff";
        QCOMPARE(::mkdir(desktop.constData(), 0700), 0);
        const std::optional<Walked> inDesktop = walkPath(desktop + "/x.txt");
        QVERIFY(inDesktop &&
                !guard.mayAccess(*inDesktop, desktop + "/x.txt", FileAccessKind::Write));
        QCOMPARE(prompter.asked.size(), 2u);
        QCOMPARE(prompter.asked[1].folder, GuardedFolder::Desktop);
    }

    // Ways past a guard that judged the path's text and let the kernel walk it
    // again. Documents is denied; the attacker names it through links.
    void linksCannotCarryAnAccessPastTheGuard() {
        QVERIFY(m_store->setAnswer(GuardedFolder::Documents, ConsentAnswer::Denied));
        const QByteArray root = QFile::encodeName(m_home->root());
        const QByteArray docs = QFile::encodeName(m_home->documents());
        m_home->makeFile("home/Documents/secret.txt", "secret");
        m_home->makeFile("safe/secret.txt", "safe");
        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        PosixFileAccess files(guard);
        const auto at = [&](const QByteArray &p) {
            return FileUrl::fromLocalBytes(root + p, false);
        };

        // A link whose target is not UTF-8, and a link to that link.
        QCOMPARE(::symlink(docs.constData(), (root + "/\xff").constData()), 0);
        QCOMPARE(::symlink("\xff", (root + "/L").constData()), 0);
        QVERIFY(!files.readText(at("/L/secret.txt"), 10));
        QVERIFY(!files.writeText(at("/L/new.txt"), "x"));
        QCOMPARE(m_log.entries().size(), 2u);

        // A link flipped between a safe folder and Documents while the guard
        // decides: whatever it named at the decision, the access reaches that.
        const QByteArray flip = root + "/flip", next = root + "/flip.next";
        QCOMPARE(::symlink((root + "/safe").constData(), flip.constData()), 0);
        std::atomic<bool> stop = false;
        std::thread flipper([&] {
            for (bool toDocs = true; !stop; toDocs = !toDocs) {
                ::unlink(next.constData());
                ::symlink(toDocs ? docs.constData() : (root + "/safe").constData(),
                          next.constData());
                ::rename(next.constData(), flip.constData());
            }
        });
        int reads = 0, leaks = 0;
        for (int i = 0; i < 400; ++i) {
            const auto text = files.readText(at("/flip/secret.txt"), 10);
            reads += text ? 1 : 0;
            leaks += text && text->text != "safe" ? 1 : 0;
            files.writeText(at("/flip/w" + QByteArray::number(i) + ".txt"), "x");
        }
        stop = true;
        flipper.join();
        QCOMPARE(leaks, 0);
        QVERIFY(reads > 0); // the loop did reach the safe folder
        QCOMPARE(QDir(m_home->documents()).entryList(QDir::Files), QStringList{"secret.txt"});
        QVERIFY(prompter.asked.empty());
    }

    // A store made from nothing is private, and so are the folders made on the way.
    void storeIsPrivate() {
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_home->root() + "/fresh/state"));
        ConsentStore fresh(ConsentStore::defaultPath());
        QVERIFY(fresh.setAnswer(GuardedFolder::Desktop, ConsentAnswer::Denied));
        QCOMPARE(modeOf(fresh.filePath()), 0600);
        QCOMPARE(modeOf(m_home->root() + "/fresh/state/pellim"), 0700);
        QCOMPARE(fresh.answer(GuardedFolder::Desktop), ConsentAnswer::Denied);
    }

    // Whatever lies in the store's place counts as "no answer yet"; the next answer
    // rewrites it whole, private, keeping what other applications stored.
    void damagedStoreMeansNoAnswer_data() {
        QTest::addColumn<QByteArray>("bytes"); // empty: a FIFO
        QTest::newRow("garbage") << QByteArray("\xff{ not json");
        QTest::newRow("wrong type")
            << QByteArray(R"({"org.other": {"documents": "denied"}, "org.pellim.Pellim": 5})");
        QTest::newRow("unknown words")
            << QByteArray(R"({"org.pellim.Pellim": {"documents": "yes", "desktop": 1}})");
        QTest::newRow("fifo") << QByteArray();
    }
    void damagedStoreMeansNoAnswer() {
        QFETCH(QByteArray, bytes);
        const QString path = m_store->filePath();
        if (bytes.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            m_home->makeFile("home/.local/state/pellim/folder-access.json", bytes);
        }
        FakePrompter prompter({PromptAnswer::Allow});
        FolderGuard guard(m_log, prompter);
        QVERIFY(asks(guard, m_home->documents() + "/x.txt", FileAccessKind::Write));
        QCOMPARE(prompter.asked.size(), 1u);

        if (bytes.isEmpty()) { // not a file: left as it is, and nothing stored
            struct stat st {};
            QVERIFY(::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
            QCOMPARE(m_store->answer(GuardedFolder::Documents), ConsentAnswer::NotDecided);
            return;
        }
        QCOMPARE(modeOf(path), 0600);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(root["org.pellim.Pellim"].toObject()["documents"].toString(), "allowed");
        if (bytes.contains("org.other"))
            QCOMPARE(root["org.other"].toObject()["documents"].toString(), "denied");
    }

    // The real prompt, answered every way a person can; only Allow allows.
    void realPromptAsksAndRemembers_data() {
        QTest::addColumn<QString>("how");
        for (const char *how : {"Allow", "Don't Allow", "Escape", "Return", "close"})
            QTest::newRow(how) << QString(how);
    }
    void realPromptAsksAndRemembers() {
        QFETCH(QString, how);
        DialogConsentPrompter prompter;
        FolderGuard guard(m_log, prompter);
        const QString path = m_home->desktop() + "/<b>bold <i>name.txt";
        auto answered = test::answerNextModal<QMessageBox>([&](QMessageBox *box) {
            if (how == "Escape" || how == "Return")
                QTest::keyClick(box, how == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
            else if (how == "close")
                box->close();
            else
                test::clickButton(box, how);
            // Answered first, so that a failure here cannot leave the box up.
            QCOMPARE(box->windowTitle(), "Folder Access");
            QCOMPARE(box->text(), "Pellim wants to access your Desktop folder.");
            const auto *label = box->findChild<QLabel *>("qt_msgbox_informativelabel");
            QVERIFY(label && label->textFormat() == Qt::PlainText); // a name is never markup
            QVERIFY(label->text().contains("read") && label->text().contains(path) &&
                    label->text().contains("pellim-consent reset"));
            QCOMPARE(box->defaultButton()->text(), "&Don't Allow");
            QCOMPARE(box->windowModality(), Qt::ApplicationModal); // the rest takes no clicks
        });
        const bool allowed = how == "Allow";
        QCOMPARE(asks(guard, path, FileAccessKind::Read), allowed);
        QVERIFY(*answered);
        QCOMPARE(m_store->answer(GuardedFolder::Desktop),
                 allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied);
    }

private:
    std::unique_ptr<test::TestHome> m_home;
    std::unique_ptr<ConsentStore> m_store;
    MemoryLogSink m_log;
};

QTEST_MAIN(FolderGuardTest)
#include "test_folder_guard.moc"
