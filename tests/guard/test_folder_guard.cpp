#include "files/FileAccess.h"
#include "guard/FolderGuard.h"
#include "panels/ConsentDialog.h"
#include "support/MemoryLogSink.h"
#include "support/Modal.h"
#include "support/TestHome.h"

#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace pellim;

namespace {

// Gives the answers it was handed, then CannotAsk.
struct FakePrompter final : ConsentPrompter {
    explicit FakePrompter(std::vector<PromptAnswer> a = {}) : answers(std::move(a)) {}
    PromptAnswer ask(const ConsentRequest &request) override {
        asked.push_back(request);
        return asked.size() <= answers.size() ? answers[asked.size() - 1] : PromptAnswer::CannotAsk;
    }
    std::vector<PromptAnswer> answers;
    std::vector<ConsentRequest> asked;
};

// Asks `guard` as file access does: about what the path reaches.
bool asks(FolderGuard &guard, const QString &path, FileAccessKind kind = FileAccessKind::Write) {
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

    std::unique_ptr<test::TestHome> m_home;
    std::unique_ptr<ConsentStore> m_store;
    MemoryLogSink m_log;

private slots:
    void init() {
        m_home = std::make_unique<test::TestHome>();
        m_store = std::make_unique<ConsentStore>(ConsentStore::defaultPath());
        m_log.clear();
    }
    void cleanup() { m_store.reset(), m_home.reset(); }

    // Every way a decision is made, and its entry. The answer is stored, privately,
    // so a second guard (as after a restart) does not ask again until it is reset.
    void decisionsAreStoredAndReused_data() {
        QTest::addColumn<ConsentAnswer>("stored");
        QTest::addColumn<PromptAnswer>("answer");
        QTest::newRow("stored: allowed") << ConsentAnswer::Allowed << PromptAnswer::CannotAsk;
        QTest::newRow("stored: denied") << ConsentAnswer::Denied << PromptAnswer::CannotAsk;
        QTest::newRow("asked: allowed") << ConsentAnswer::NotDecided << PromptAnswer::Allow;
        QTest::newRow("asked: denied") << ConsentAnswer::NotDecided << PromptAnswer::Deny;
        QTest::newRow("could not ask: denied")
            << ConsentAnswer::NotDecided << PromptAnswer::CannotAsk;
    }
    void decisionsAreStoredAndReused() {
        QFETCH(ConsentAnswer, stored);
        QFETCH(PromptAnswer, answer);
        const QString how = QString::fromLatin1(QTest::currentDataTag());
        const bool allowed = how.endsWith(": allowed"), asked = stored == ConsentAnswer::NotDecided;
        const bool remembered = answer != PromptAnswer::CannotAsk || !asked;
        if (!asked)
            QVERIFY(m_store->setAnswer(GuardedFolder::Desktop, stored));
        const QString path = m_home->desktop() + "/note.txt";
        FakePrompter prompter({answer});
        FolderGuard first(m_log, prompter);
        QCOMPARE(asks(first, path), allowed);
        QCOMPARE(prompter.asked.size(), asked ? 1u : 0u);
        QCOMPARE(m_log.entries().size(), 1u);
        const LogEntry &e = m_log.entries().front();
        QCOMPARE(e.subsystem + ' ' + e.category, "org.pellim.FolderGuard decisions");
        QCOMPARE(e.level, allowed ? LogLevel::Info : LogLevel::Error);
        QCOMPARE(e.message, "Desktop folder, write access to " + path + ": " + how);
        QCOMPARE(m_store->answer(GuardedFolder::Desktop),
                 !remembered ? ConsentAnswer::NotDecided
                             : (allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        QCOMPARE(m_store->answer(GuardedFolder::Documents), ConsentAnswer::NotDecided);
        if (remembered) // nobody else may read the answers
            QVERIFY(modeOf(m_store->filePath()) == 0600 &&
                    modeOf(QFileInfo(m_store->filePath()).path()) == 0700);

        FakePrompter second({PromptAnswer::Allow, PromptAnswer::Allow});
        FolderGuard guard(m_log, second);
        QCOMPARE(asks(guard, path, FileAccessKind::Read), remembered ? allowed : true);
        QCOMPARE(second.asked.size(), remembered ? 0u : 1u);
        QVERIFY(ConsentStore(ConsentStore::defaultPath()).resetAll());
        QVERIFY(asks(guard, path, FileAccessKind::Read));
        QCOMPARE(second.asked.size(), remembered ? 1u : 2u);
    }

    // Granted in memory only: the chosen file (here a new name from a Save dialog)
    // and the chosen folder's subtree, nothing beside them.
    void chosenItemsAreAccessibleUntilExit() {
        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        const QString docs = m_home->documents();
        m_home->makeFolder("home/Documents/Sub/deep");
        m_home->makeFolder("home/Documents/Subway");
        guard.grantChosen(QFile::encodeName(docs + "/chosen.txt"), false);
        guard.grantChosen(QFile::encodeName(docs + "/Sub"), true);
        for (const char *granted : {"/chosen.txt", "/Sub", "/Sub/deep/new.txt"})
            QVERIFY2(asks(guard, docs + granted), granted);
        QVERIFY(prompter.asked.empty() && m_log.entries().size() == 3u);
        for (const LogEntry &e : m_log.entries())
            QVERIFY(e.level == LogLevel::Info && e.message.endsWith(": chosen in a dialog"));
        for (const char *other : {"/other.txt", "/Subway/x.txt", ""})
            QVERIFY2(!asks(guard, docs + other), other);
        QCOMPARE(prompter.asked.size(), 3u);
    }

    // Which folder decides, by what the path reaches: Documents is a link to
    // real-docs, Downloads is the home itself (so not guarded), Desktop's name is
    // not UTF-8. The entry names the path as given and where it resolves to.
    void guardedFolderIsFoundByIdentity_data() {
        QTest::addColumn<QByteArray>("path"); // under the temporary root
        QTest::addColumn<QString>("entry");   // before ": could not ask: denied"; "": none
        QTest::newRow("the home") << QByteArray("home/x.txt") << "";
        QTest::newRow("Documents by its real name")
            << QByteArray("real-docs/x.txt")
            << "Documents folder, write access to @/real-docs/x.txt";
        QTest::newRow("through the link")
            << QByteArray("home/Documents/x.txt")
            << "Documents folder, write access to "
               "@/home/Documents/x.txt (resolves to @/real-docs/x.txt)";
        QTest::newRow("Desktop named in bytes")
            << QByteArray("home/D\xff/x.txt")
            << "Desktop folder, write access to @/home/D\uFFFD/x.txt";
    }
    void guardedFolderIsFoundByIdentity() {
        QFETCH(QByteArray, path);
        QFETCH(QString, entry);
        QVERIFY(QDir(m_home->documents()).removeRecursively());
        QVERIFY(QFile::link(m_home->makeFolder("real-docs"), m_home->documents()));
        m_home->makeFile("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n"
                                                        "XDG_DOWNLOAD_DIR=\"$HOME/\"\n"
                                                        "XDG_DESKTOP_DIR=\"$HOME/D\xff\"\n");
        QCOMPARE(::mkdir((QFile::encodeName(m_home->home()) + "/D\xff").constData(), 0700), 0);
        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        const QByteArray bytes = QFile::encodeName(m_home->root()) + '/' + path;
        const std::optional<Walked> walked = walkPath(bytes);
        QVERIFY(walked);
        QCOMPARE(guard.mayAccess(*walked, bytes, FileAccessKind::Write), entry.isEmpty());
        QStringList entries;
        for (const LogEntry &e : m_log.entries())
            entries << e.message;
        entry.replace('@', m_home->root());
        QCOMPARE(entries,
                 entry.isEmpty() ? QStringList() : QStringList(entry + ": could not ask: denied"));
        ::rmdir(QFile::encodeName(m_home->home()) + "/D\xff"); // a name QTemporaryDir cannot remove
    }

    // A link flipped between a safe folder and Documents (denied) while the guard
    // decides: whatever it named at the decision, the access reaches that.
    void flippedLinkCannotCarryAnAccessPastTheGuard() {
        QVERIFY(m_store->setAnswer(GuardedFolder::Documents, ConsentAnswer::Denied));
        const QByteArray root = QFile::encodeName(m_home->root());
        const QByteArray targets[2] = {root + "/safe", QFile::encodeName(m_home->documents())};
        m_home->makeFile("home/Documents/secret.txt", "secret");
        m_home->makeFile("safe/secret.txt", "safe");
        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        PosixFileAccess files(guard);
        const QByteArray flip = root + "/flip", next = root + "/flip.next";
        QCOMPARE(::symlink(targets[0].constData(), flip.constData()), 0);
        std::atomic<bool> stop = false;
        std::thread flipper([&] {
            for (int i = 1; !stop; ++i) {
                ::unlink(next.constData());
                ::symlink(targets[i % 2].constData(), next.constData());
                ::rename(next.constData(), flip.constData());
            }
        });
        int reads = 0, leaks = 0;
        for (int i = 0; i < 1000; ++i) {
            const auto text =
                files.readText(FileUrl::fromLocalBytes(flip + "/secret.txt", false), 9);
            reads += text ? 1 : 0;
            leaks += text && text->text != "safe" ? 1 : 0;
            files.writeText(FileUrl::fromLocalBytes(flip + "/w" + QByteArray::number(i), false),
                            "x");
        }
        stop = true;
        flipper.join();
        QCOMPARE(leaks, 0);
        QVERIFY(reads > 0 && !m_log.entries().empty()); // it did flip under the guard
        QCOMPARE(QDir(m_home->documents()).entryList(QDir::Files), QStringList{"secret.txt"});
    }

    // Whatever lies in the store's place counts as "no answer yet"; the next answer
    // rewrites it whole, private, keeping what other applications stored. A FIFO
    // neither hangs the guard nor is replaced.
    void damagedStoreMeansNoAnswer_data() {
        QTest::addColumn<QByteArray>("bytes"); // empty: a FIFO
        QTest::newRow("garbage") << QByteArray("\xff{ not json");
        QTest::newRow("wrong type")
            << QByteArray(R"({"org.other": {"documents": "denied"}, "org.pellim.Pellim": 5})");
        QTest::newRow("fifo") << QByteArray();
    }
    void damagedStoreMeansNoAnswer() {
        QFETCH(QByteArray, bytes);
        const QString path = m_home->makeFile("home/.local/state/pellim/folder-access.json", bytes);
        if (bytes.isEmpty())
            QVERIFY(QFile::remove(path) &&
                    ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        FakePrompter prompter({PromptAnswer::Allow});
        FolderGuard guard(m_log, prompter);
        QVERIFY(asks(guard, m_home->documents() + "/x.txt") && prompter.asked.size() == 1);
        struct stat st {};
        QVERIFY(::lstat(QFile::encodeName(path).constData(), &st) == 0);
        QCOMPARE(bytes.isEmpty() ? S_ISFIFO(st.st_mode) : int(st.st_mode & 0777) == 0600, true);
        QCOMPARE(m_store->answer(GuardedFolder::Documents),
                 bytes.isEmpty() ? ConsentAnswer::NotDecided : ConsentAnswer::Allowed);
        if (bytes.contains("org.other"))
            QCOMPARE(ConsentStore(path, "org.other").answer(GuardedFolder::Documents),
                     ConsentAnswer::Denied);
    }

    // The real prompt, answered every way a person can; only Allow allows. It
    // takes every click meanwhile, and a name in it is never markup.
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
            const auto *label = box->findChild<QLabel *>("qt_msgbox_informativelabel");
            const bool shown = box->windowModality() == Qt::ApplicationModal && label &&
                               label->textFormat() == Qt::PlainText &&
                               label->text().contains(path) &&
                               box->text().contains("your Desktop folder");
            if (how == "Escape" || how == "Return")
                QTest::keyClick(box, how == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
            else
                how == "close" ? void(box->close()) : void(test::clickButton(box, how));
            QVERIFY(shown); // checked once answered, so that a failure cannot leave it up
        });
        const bool allowed = how == "Allow";
        QCOMPARE(asks(guard, path, FileAccessKind::Read), allowed);
        QVERIFY(*answered);
        QCOMPARE(m_store->answer(GuardedFolder::Desktop),
                 allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied);
    }
};

QTEST_MAIN(FolderGuardTest)
#include "test_folder_guard.moc"
