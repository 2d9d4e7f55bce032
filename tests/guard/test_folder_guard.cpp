#include "platform/ConsentPrompt.h"
#include "platform/ConsentStore.h"
#include "platform/FolderGuard.h"
#include "platform/Log.h"
#include "support/Modal.h"
#include "support/TestHome.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <deque>
#include <sys/stat.h>
#include <sys/types.h>

using namespace pellim;

namespace {

class FakePrompter final : public ConsentPrompter {
public:
    explicit FakePrompter(std::deque<PromptAnswer> answers = {}) : m_answers(std::move(answers)) {}
    PromptAnswer ask(const ConsentRequest &request) override {
        asked.push_back(request);
        if (m_answers.empty())
            return PromptAnswer::CannotAsk; // refuses without storing anything
        const PromptAnswer a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    std::vector<ConsentRequest> asked;

private:
    std::deque<PromptAnswer> m_answers;
};

int modeOf(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

void link(const QString &target, const QString &at) {
    QVERIFY(QFile::link(target, at));
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
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("how");
        const auto row = [](const char *name, ConsentAnswer stored, PromptAnswer answer) {
            QTest::newRow(name) << int(stored) << int(answer) << QString(name);
        };
        row("stored: allowed", ConsentAnswer::Allowed, PromptAnswer::CannotAsk);
        row("stored: denied", ConsentAnswer::Denied, PromptAnswer::CannotAsk);
        row("asked: allowed", ConsentAnswer::NotDecided, PromptAnswer::Allow);
        row("asked: denied", ConsentAnswer::NotDecided, PromptAnswer::Deny);
        row("could not ask: denied", ConsentAnswer::NotDecided, PromptAnswer::CannotAsk);
    }
    void decisionsAreStoredAndReused() {
        QFETCH(int, stored);
        QFETCH(int, answer);
        QFETCH(QString, how);
        const bool allowed = how.endsWith(": allowed");
        if (ConsentAnswer(stored) != ConsentAnswer::NotDecided)
            QVERIFY(m_store->setAnswer(GuardedFolder::Desktop, ConsentAnswer(stored)));
        const QString path = m_home->desktop() + "/note.txt";
        FakePrompter prompter({PromptAnswer(answer)});
        QCOMPARE(FolderGuard(m_log, prompter).mayAccess(path, FileAccessKind::Write), allowed);
        const bool asked = how.startsWith("asked") || how.startsWith("could not");
        QCOMPARE(prompter.asked.size(), asked ? 1u : 0u);
        if (asked) {
            QCOMPARE(prompter.asked[0].folder, GuardedFolder::Desktop);
            QCOMPARE(prompter.asked[0].kind, FileAccessKind::Write);
            QCOMPARE(prompter.asked[0].path, path);
        }
        QCOMPARE(m_log.entries().size(), 1u);
        const LogEntry &e = m_log.entries().front();
        QCOMPARE(e.subsystem, "org.pellim.FolderGuard");
        QCOMPARE(e.category, "decisions");
        QCOMPARE(e.level, allowed ? LogLevel::Info : LogLevel::Error);
        QCOMPARE(e.message, "Desktop folder, write access to " + path + ": " + how);

        const bool remembered = !how.startsWith("could not");
        QCOMPARE(m_store->answer(GuardedFolder::Desktop),
                 !remembered ? ConsentAnswer::NotDecided
                             : (allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied));
        QCOMPARE(m_store->answer(GuardedFolder::Documents), ConsentAnswer::NotDecided);

        FakePrompter second({PromptAnswer::Allow, PromptAnswer::Allow});
        FolderGuard guard(m_log, second);
        QCOMPARE(guard.mayAccess(path, FileAccessKind::Read), remembered ? allowed : true);
        QCOMPARE(second.asked.size(), remembered ? 0u : 1u);
        QVERIFY(ConsentStore(ConsentStore::defaultPath()).resetAll());
        QVERIFY(guard.mayAccess(path, FileAccessKind::Read));
        QCOMPARE(second.asked.size(), remembered ? 1u : 2u);
    }

    void chosenItemsAreAccessibleUntilExit() {
        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        const QString docs = m_home->documents();
        m_home->makeFolder("home/Documents/Sub/deep");
        guard.grantChosen(docs + "/chosen.txt", false);
        guard.grantChosen(docs + "/Sub", true);

        QVERIFY(guard.mayAccess(docs + "/chosen.txt", FileAccessKind::Write));
        QVERIFY(guard.mayAccess(docs + "/Sub", FileAccessKind::List));
        QVERIFY(guard.mayAccess(docs + "/Sub/deep/new.txt", FileAccessKind::Read));
        QVERIFY(prompter.asked.empty());
        QCOMPARE(m_log.entries().size(), 3u);
        for (const LogEntry &e : m_log.entries()) {
            QCOMPARE(e.level, LogLevel::Info);
            QVERIFY(e.message.endsWith(": chosen in a dialog"));
        }
        // Not the chosen file's neighbour, nor a sibling whose name merely begins alike.
        QVERIFY(!guard.mayAccess(docs + "/other.txt", FileAccessKind::Write));
        QVERIFY(!guard.mayAccess(docs + "/Subway/x.txt", FileAccessKind::Write));
        QVERIFY(!guard.mayAccess(docs, FileAccessKind::List));
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
        row("not yet existing below Documents", "home/Documents/new/deeper/x.txt", "documents");
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
        m_home->makeFolder("elsewhere");
        m_home->makeFolder("home/Documents/Sub");
        m_home->makeFile("home/Documents/real.txt", "text");
        link(m_home->documents(), root + "/into");
        link(m_home->documents() + "/Sub", root + "/into-sub");
        link(m_home->documents() + "/real.txt", root + "/file-link");
        link(root + "/elsewhere", m_home->documents() + "/out");
        link("home/Downloads", root + "/rel");
        link(root + "/loop", root + "/loop");

        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        const bool allowed = guard.mayAccess(root + "/" + underRoot, FileAccessKind::Read);
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
        link(real, m_home->documents());
        QFile dirs(m_home->home() + "/.config/user-dirs.dirs");
        QVERIFY(dirs.open(QIODevice::Append));
        dirs.write("XDG_DOWNLOAD_DIR=\"$HOME/\"\n");
        dirs.close();

        FakePrompter prompter;
        FolderGuard guard(m_log, prompter);
        QVERIFY(!guard.mayAccess(real + "/x.txt", FileAccessKind::Write));
        QCOMPARE(prompter.asked.size(), 1u);
        QCOMPARE(prompter.asked[0].folder, GuardedFolder::Documents);
        QVERIFY(guard.mayAccess(m_home->home() + "/x.txt", FileAccessKind::Write));
        QCOMPARE(prompter.asked.size(), 1u);
    }

    void storeIsPrivate() {
        QVERIFY(QDir().mkpath(m_home->stateHome() + "/pellim"));
        m_home->makeFile("home/.local/state/pellim/folder-access.json", "{}");
        QFile::setPermissions(m_store->filePath(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        QVERIFY(m_store->setAnswer(GuardedFolder::Documents, ConsentAnswer::Allowed));
        QCOMPARE(modeOf(m_store->filePath()), 0600);

        // A store created from nothing: the folders made on the way are private too.
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_home->root() + "/fresh/state"));
        ConsentStore fresh(ConsentStore::defaultPath());
        QVERIFY(fresh.setAnswer(GuardedFolder::Desktop, ConsentAnswer::Denied));
        QCOMPARE(modeOf(fresh.filePath()), 0600);
        QCOMPARE(modeOf(m_home->root() + "/fresh/state/pellim"), 0700);
        QCOMPARE(fresh.answer(GuardedFolder::Desktop), ConsentAnswer::Denied);
    }

    // Whatever lies in the store's place counts as "no answer yet"; the next answer
    // rewrites it whole and keeps what other applications stored.
    void damagedStoreMeansNoAnswer_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("fifo");
        QTest::newRow("garbage") << QByteArray("\xff{ not json") << false;
        QTest::newRow("wrong type")
            << QByteArray(R"({"org.other": {"documents": "denied"}, "org.pellim.Pellim": 5})")
            << false;
        QTest::newRow("unknown words")
            << QByteArray(R"({"org.pellim.Pellim": {"documents": "yes", "desktop": 1}})") << false;
        QTest::newRow("fifo") << QByteArray() << true;
    }
    void damagedStoreMeansNoAnswer() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, fifo);
        const QString path = m_store->filePath();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            m_home->makeFile("home/.local/state/pellim/folder-access.json", bytes);

        FakePrompter prompter({PromptAnswer::Allow});
        FolderGuard guard(m_log, prompter);
        QVERIFY(guard.mayAccess(m_home->documents() + "/x.txt", FileAccessKind::Write));
        QCOMPARE(prompter.asked.size(), 1u);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(root.value("org.pellim.Pellim").toObject().value("documents").toString(),
                 "allowed");
        if (bytes.contains("org.other"))
            QCOMPARE(root.value("org.other").toObject().value("documents").toString(), "denied");
    }

    // The real prompt, answered every way a person can.
    void realPromptAsksAndRemembers_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("Allow") << "Allow" << true;
        QTest::newRow("Don't Allow") << "Don't Allow" << false;
        QTest::newRow("Escape") << "Escape" << false;
        QTest::newRow("Return on the default") << "Return" << false;
        QTest::newRow("closed") << "close" << false;
    }
    void realPromptAsksAndRemembers() {
        QFETCH(QString, how);
        QFETCH(bool, allowed);
        DialogConsentPrompter prompter;
        FolderGuard guard(m_log, prompter);
        const QString path = m_home->desktop() + "/<b>bold</b> name.txt";
        QString title, text, informative, defaultButton;
        Qt::TextFormat informativeFormat = Qt::RichText;
        Qt::WindowModality modality = Qt::NonModal;
        auto answered = test::answerNextModal<QMessageBox>([&](QMessageBox *box) {
            title = box->windowTitle();
            text = box->text();
            informative = box->informativeText();
            defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
            modality = box->windowModality();
            if (auto *label = box->findChild<QLabel *>("qt_msgbox_informativelabel"))
                informativeFormat = label->textFormat();
            if (how == "Escape" || how == "Return")
                QTest::keyClick(box, how == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
            else if (how == "close")
                box->close();
            else
                test::clickButton(box, how);
        });
        QCOMPARE(guard.mayAccess(path, FileAccessKind::Read), allowed);
        QVERIFY(*answered);
        QCOMPARE(title, "Folder Access");
        QCOMPARE(text, "Pellim wants to access your Desktop folder.");
        QVERIFY(informative.contains("read"));
        QVERIFY(informative.contains(path));
        QVERIFY(informative.contains("pellim-consent reset"));
        QCOMPARE(informativeFormat, Qt::PlainText);
        QCOMPARE(defaultButton, "&Don't Allow");
        QCOMPARE(modality, Qt::ApplicationModal);
        QCOMPARE(m_store->answer(GuardedFolder::Desktop),
                 allowed ? ConsentAnswer::Allowed : ConsentAnswer::Denied);
    }

    void mainWindowTakesNoClicksWhilePromptIsUp() {
        QWidget window;
        auto *button = new QPushButton("Go", &window);
        button->resize(100, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy clicks(button, &QPushButton::clicked);
        const auto clickWindow = [&]() {
            QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(50, 20));
        };

        DialogConsentPrompter prompter;
        FolderGuard guard(m_log, prompter);
        auto answered = test::answerNextModal<QMessageBox>([&](QMessageBox *box) {
            clickWindow();
            QTest::qWait(50);
            test::clickButton(box, "Don't Allow");
        });
        QVERIFY(!guard.mayAccess(m_home->documents(), FileAccessKind::List));
        QVERIFY(*answered);
        QCOMPARE(clicks.count(), 0);
        clickWindow(); // the same click reaches the window once the prompt is gone
        QCOMPARE(clicks.count(), 1);
    }

private:
    std::unique_ptr<test::TestHome> m_home;
    std::unique_ptr<ConsentStore> m_store;
    MemoryLogSink m_log;
};

QTEST_MAIN(FolderGuardTest)
#include "test_folder_guard.moc"
