#include "confine/Confinement.h"
#include "confine/GuardLink.h"
#include "confine/Supervisor.h"
#include "consent/ConsentPrompter.h"
#include "consent/FolderGuard.h"
#include "support/MemoryLogSink.h"
#include "support/TestHome.h"

#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

using namespace pellim;

namespace {

// Denies the first question, allows the second, cannot ask after that.
struct FakePrompter final : ConsentPrompter {
    PromptAnswer ask(const ConsentRequest &request) override {
        asked.push_back(request.folder);
        return PromptAnswer(asked.size() > 2   ? PromptAnswer::CannotAsk
                            : asked.size() > 1 ? PromptAnswer::Allow
                                               : PromptAnswer::Deny);
    }
    std::vector<GuardedFolder> asked;
};

// What the confined process's raw calls gave: an error's name, or the first
// bytes the returned descriptor reads ("ok" when it reads none).
QByteArray opened(long fd) {
    if (fd < 0)
        return strerrorname_np(errno);
    char buffer[64];
    const ssize_t n = ::read(int(fd), buffer, sizeof buffer);
    ::close(int(fd));
    return n > 0 ? QByteArray(buffer, int(n)) : QByteArray("ok");
}
long sysOpen(const QByteArray &path, int flags = O_RDONLY, int dirfd = AT_FDCWD) {
    return ::syscall(SYS_openat, dirfd, path.constData(), flags | O_CLOEXEC, 0666);
}
QByteArray done(long rc) {
    return rc < 0 ? QByteArray(strerrorname_np(errno)) : "ok";
}
QByteArray write(long fd, const char *text) {
    return done(fd < 0 ? fd : ::write(int(fd), text, std::strlen(text)) + ::close(int(fd)));
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

} // namespace

class ConfinementTest : public QObject {
    Q_OBJECT

private slots:
    // A confined child makes raw calls; this process supervises it with the real
    // guard. Desktop is denied when first asked, Documents allowed, a file in
    // Downloads chosen in a dialog; the guard's state folder is sealed.
    void guardedCallsAreDecidedOthersGoOn() {
        if (const std::optional<QString> why = confinementUnavailable())
            QSKIP(qPrintable(*why));
        test::TestHome t;
        const auto bytes = [](const QString &s) { return QFile::encodeName(s); };
        const QByteArray root = bytes(t.root()), home = bytes(t.home()),
                         docs = bytes(t.documents()), desk = bytes(t.desktop()),
                         down = bytes(t.downloads()), state = home + "/.local/state/pellim";
        t.makeFile("home/Documents/secret.txt", "secret");
        t.makeFile("home/Desktop/secret.txt", "desk");
        t.makeFile("home/Downloads/chosen.txt", "chosen");
        t.makeFile("out/file.txt", "out");
        t.makeFile("moved/file.txt", "moved");
        const QString store = t.makeFile("home/.local/state/pellim/folder-access.json", "{}\n");
        QVERIFY(QFile::link(t.documents(), t.root() + "/into"));

        // An unconfined helper moves root/moved into Desktop when asked. It keeps
        // its own Landlock rule there: only the guard can notice where it went.
        int ask[2], moved[2];
        QVERIFY(::pipe2(ask, O_CLOEXEC) == 0 && ::pipe2(moved, O_CLOEXEC) == 0);
        const auto moveIntoDesktop = [&] {
            char byte = 0;
            return ::write(ask[1], "", 1) == 1 && ::read(moved[0], &byte, 1) == 1;
        };

        struct Step {
            const char *name;
            std::function<QByteArray()> run;
            QByteArray expected;
        };
        const std::vector<Step> steps = {
            {"asked: denied",
             [&] { return opened(sysOpen(desk + "/new.txt", O_WRONLY | O_CREAT)); }, "EPERM"},
            {"stored: denied",
             [&] { return opened(::syscall(SYS_open, (desk + "/secret.txt").data(), O_RDONLY)); },
             "EPERM"},
            {"asked: allowed, made with the caller's umask",
             [&] {
                 ::umask(077);
                 return write(::syscall(SYS_creat, (docs + "/made.txt").data(), 0666), "made");
             },
             "ok"},
            {"entries made and moved in Documents, not Documents itself",
             [&] {
                 QByteArray got = done(::syscall(SYS_mkdir, (docs + "/sub").data(), 0777));
                 got += done(::syscall(SYS_rename, (docs + "/made.txt").data(),
                                       (docs + "/sub/made.txt").data()));
                 return got + done(::syscall(SYS_rename, docs.data(), (root + "/gone").data()));
             },
             "okokEPERM"},
            {"chosen in a dialog", [&] { return opened(sysOpen(down + "/chosen.txt")); }, "chosen"},
            {"link into Documents", [&] { return opened(sysOpen(root + "/into/secret.txt")); },
             "secret"},
            {"dirfd in Documents",
             [&] {
                 return opened(sysOpen("secret.txt", O_RDONLY, int(sysOpen(docs, O_DIRECTORY))));
             },
             "secret"},
            {"/proc/self/cwd into Desktop",
             [&] { return opened(sysOpen("/proc/self/cwd/Desktop/secret.txt")); }, "EPERM"},
            {"the guard's state: read, written, replaced",
             [&] {
                 const QByteArray store = state + "/folder-access.json";
                 return opened(sysOpen(store)) + opened(sysOpen(store, O_WRONLY | O_TRUNC)) +
                        done(::syscall(SYS_rename, (root + "/out/file.txt").data(), store.data()));
             },
             "EPERMEPERMEPERM"},
            {"outside", [&] { return opened(sysOpen(root + "/out/file.txt")); }, "out"},
            {"a folder seen outside, then moved into Desktop",
             [&] {
                 const QByteArray before = opened(sysOpen(root + "/moved/file.txt"));
                 const long held = sysOpen(root + "/moved", O_PATH | O_DIRECTORY);
                 if (!moveIntoDesktop())
                     return QByteArray("not moved");
                 return before + opened(sysOpen(desk + "/moved/file.txt")) +
                        opened(sysOpen("file.txt", O_RDONLY, int(held)));
             },
             "movedEPERMEPERM"},
            {"new file in the home folder",
             [&] {
                 QByteArray got = write(sysOpen(home + "/new.txt", O_WRONLY | O_CREAT), "made");
                 got += opened(sysOpen(home + "/new.txt"));
                 return got + opened(sysOpen(home, O_DIRECTORY));
             },
             "okmadeok"},
            {"path flipped during the call",
             [&] {
                 // No open may ever reach Desktop: what the guard read was decided,
                 // what the kernel reads again meets Landlock.
                 char path[512] = {};
                 const QByteArray safe = root + "/out/file.txt", denied = desk + "/secret.txt";
                 std::atomic<bool> stop = false;
                 std::thread flipper([&] {
                     for (bool toDesk = false; !stop; toDesk = !toDesk) {
                         const QByteArray &p = toDesk ? denied : safe;
                         std::memcpy(path, p.constData(), std::size_t(p.size()) + 1);
                     }
                 });
                 int reads = 0, leaks = 0;
                 for (int i = 0; i < 2000; ++i) {
                     const QByteArray got = opened(::syscall(SYS_open, path, O_RDONLY | O_CLOEXEC));
                     reads += got == "out";
                     leaks += got == "desk";
                 }
                 stop = true;
                 flipper.join();
                 return leaks == 0 && reads > 0 ? QByteArray("safe")
                                                : QByteArray::number(leaks) + " leaks";
             },
             "safe"}};

        int sockets[2]; // the listener, then the child's report
        QVERIFY(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) == 0);
        if (::fork() == 0) {
            char byte = 0;
            ::close(ask[1]);
            if (::read(ask[0], &byte, 1) == 1)
                ::rename(QFile::encodeName(t.root() + "/moved"), desk + "/moved");
            ::_exit(::write(moved[1], "", 1) != 1);
        }
        ::close(ask[0]);
        ::close(moved[1]);
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(60); // a supervisor that never answers must not hang the test
            if (::chdir(home.constData()) != 0)
                ::_exit(2);
            auto confined = confineSelf({docs, desk, down, state});
            QByteArray report;
            if (const UniqueFd *listener = std::get_if<UniqueFd>(&confined)) {
                sendMessage(sockets[1], "listener", listener->get());
                for (const Step &step : steps)
                    report += step.name + QByteArray("\t") + step.run() + "\n";
            } else {
                report = std::get<ConfinementError>(confined).message.toUtf8();
            }
            ::_exit(::write(sockets[1], report.constData(), std::size_t(report.size())) < 0);
        }
        ::close(sockets[1]);
        ::close(ask[1]); // the helper ends once the child has
        ::close(moved[0]);
        UniqueFd listener;
        // Without a listener, the child's first message is its report.
        const QByteArray first = receiveMessage(sockets[0], &listener).value_or(QByteArray());
        const bool confined = listener.isValid();
        MemoryLogSink log;
        FakePrompter prompter;
        FolderGuard guard(log, prompter);
        guard.grantChosen(down + "/chosen.txt", false);
        QString error;
        std::unique_ptr<Supervisor> supervisor =
            listener.isValid() ? Supervisor::create(std::move(listener), guard, {docs, desk, down},
                                                    {state}, &error)
                               : nullptr;
        while (supervisor && supervisor->handleOne() == Supervisor::Result::Answered) {
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QFile pipe;
        QVERIFY(pipe.open(sockets[0], QIODevice::ReadOnly, QFile::AutoCloseHandle));
        const QByteArray report = confined ? pipe.readAll() : first;
        QVERIFY2(supervisor, qPrintable(error + QString::fromUtf8(report)));
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, report.constData());

        QByteArray expected;
        for (const Step &step : steps)
            expected += step.name + QByteArray("\t") + step.expected + "\n";
        QCOMPARE(report, expected);
        QCOMPARE(prompter.asked,
                 (std::vector<GuardedFolder>{GuardedFolder::Desktop, GuardedFolder::Documents}));
        QCOMPARE(QDir(t.desktop()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 (QStringList{"moved", "secret.txt"}));
        QVERIFY(!(QFile::permissions(t.documents() + "/sub/made.txt") & 0x0077)); // umask 077
        QVERIFY(contents(store).contains("\"desktop\": \"denied\"")); // the guard's, not replaced
        for (const QString &made : {t.documents() + "/sub/made.txt", t.home() + "/new.txt"})
            QCOMPARE(contents(made), "made");
    }
};

QTEST_GUILESS_MAIN(ConfinementTest)
#include "test_confinement.moc"
