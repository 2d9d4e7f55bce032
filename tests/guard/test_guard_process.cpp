// The guard process as Pellim starts it: flooded with dialog requests on
// Pellim's own bus, it shows at most 8 windows at once, every guard's together, and answers each
// request past them at once with a cancel; held up on its GUI thread, it still
// answers held calls and ends with its channel. Each case runs in a process of
// its own (this program with --flood or --stalled): the guard is forked before
// any application object exists, and the process that starts it is confined.
#include "confine/GuardLink.h"
#include "confine/GuardMessages.h"
#include "consent/KeptOut.h"
#include "consent/RunningGrants.h"
#include "files/DialogOptions.h"
#include "guard/BusProxies.h"
#include "guard/GuardProcess.h"
#include "guard/WindowSlots.h"
#include "portal/GuardPortalDialogs.h"
#include "support/MemoryLogSink.h"
#include "support/TestHome.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <variant>

using namespace pellim;

namespace {

// Starts the guard as Pellim does, with Pellim's own bus; the address of that
// bus in `bus`, or "skip" and why printed.
std::variant<KernelGuard, NoKernelGuard> startGuard(int &argc, char **argv, QByteArray *bus) {
    KeptOutPaths keptOut = keptOutFolders();
    const Result<QByteArray> folder =
        BusProxies::makeFolder(QProcessEnvironment::systemEnvironment());
    if (folder)
        keptOut.sealed.push_back(*folder);
    auto kernel = startKernelGuard(keptOut, [&](UniqueFd channel) {
        return runGuardProcess(std::move(channel), argc, argv, keptOut, {},
                               folder ? *folder : QByteArray());
    });
    if (const auto *guard = std::get_if<KernelGuard>(&kernel))
        *bus = decodeBuses(guard->hello).value_or(GuardBuses{}).session;
    else
        std::printf("skip: %s", qPrintable(std::get<NoKernelGuard>(kernel).reason));
    return kernel;
}

// Asks the guard's file chooser for 20 dialogs, Save and Open by turns, as
// Pellim does; prints the ids of those cancelled at once.
int flood(int argc, char **argv) {
    QByteArray bus;
    auto kernel = startGuard(argc, argv, &bus);
    auto *guard = std::get_if<KernelGuard>(&kernel);
    if (!guard)
        return 0;
    QCoreApplication app(argc, argv);
    MemoryLogSink log;
    GuardPortalDialogs dialogs(bus, LogHandle(log, QStringLiteral("t"), QStringLiteral("t")));
    std::printf("cancelled");
    for (int id = 1; id <= 20; ++id) {
        const auto done = [id](int response, std::optional<FileUrl>) {
            std::printf(response == kResponseCancel ? " %d" : " (%d chosen)", id);
        };
        if (id % 2)
            dialogs.beginSave(nullptr, saveOptionsFor(QStringLiteral("t.txt")), done);
        else
            dialogs.beginOpen(nullptr, fileChooserOptions(), done);
    }
    QTimer::singleShot(3000, &app, &QCoreApplication::quit);
    app.exec();
    guard->channel.reset(); // the guard ends with its channel
    return ::waitpid(guard->guardPid, nullptr, 0) == guard->guardPid ? 0 : 1;
}

// The guard's GUI thread waits on a session bus that takes the connection and
// never answers, as a bus Pellim ran could: a held call is answered meanwhile,
// and the guard ends once its channel closes, not when that call would time
// out (25 s). Prints what it saw, or "skip" and why.
int stalled(int argc, char **argv) {
    const QByteArray path = qgetenv("HOME") + "/../bus";
    const UniqueFd stalledBus(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()) + 1);
    if (::bind(stalledBus.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) !=
            0 ||
        ::listen(stalledBus.get(), 1) != 0)
        return 1;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path, 1);
    QByteArray bus;
    auto kernel = startGuard(argc, argv, &bus);
    auto *guard = std::get_if<KernelGuard>(&kernel);
    if (!guard)
        return 0;
    QCoreApplication app(argc, argv);
    MemoryLogSink log;
    GuardPortalDialogs dialogs(bus, LogHandle(log, QStringLiteral("t"), QStringLiteral("t")));
    dialogs.beginSave(nullptr, saveOptionsFor(QStringLiteral("t.txt")),
                      [](int, std::optional<FileUrl>) {});
    // The guard's dialogs connect to the bus, say their first words and wait.
    pollfd connecting{stalledBus.get(), POLLIN, 0};
    if (::poll(&connecting, 1, 30000) != 1)
        return std::printf("the guard never came to the bus"), 0;
    const UniqueFd peer(::accept4(stalledBus.get(), nullptr, nullptr, SOCK_CLOEXEC));
    char said[64];
    if (::read(peer.get(), said, sizeof said) <= 0)
        return std::printf("the guard said nothing on the bus"), 0;
    const UniqueFd file(::open("/etc/passwd", O_RDONLY | O_CLOEXEC)); // held
    pollfd waiting{peer.get(), POLLRDHUP, 0};
    const bool meanwhile = ::poll(&waiting, 1, 0) == 0; // the guard still waits on the bus
    std::printf(file.isValid() && meanwhile ? "answered" : "not answered while it waited");
    const auto closed = std::chrono::steady_clock::now();
    guard->channel.reset();
    int status = 0;
    ::waitpid(guard->guardPid, &status, 0);
    // Generous: a guard that waits for its GUI thread ends only after 25 s.
    const bool soon = std::chrono::steady_clock::now() - closed < std::chrono::seconds(10);
    std::printf(soon && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ", ended" : ", ended late");
    return 0;
}

} // namespace

// What this program says when run again in `mode` (its own process: it
// becomes a confined program with a real guard); "failed" when it fails.
QByteArray childSays(const QString &mode) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {mode});
    if (!child.waitForFinished(60000) || child.exitCode() != 0)
        return "failed: " + child.readAllStandardError();
    return child.readAllStandardOutput();
}

class TestGuardProcess : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The 8 are every guard's together: with another guard's windows on
    // screen (its slots held here), this one shows only what is left.
    void floodShowsEightAndCancelsTheRest_data() {
        QTest::addColumn<int>("elsewhere");
        QTest::addColumn<QByteArray>("cancelled");
        QTest::newRow("alone") << 0 << QByteArray("cancelled 9 10 11 12 13 14 15 16 17 18 19 20");
        QTest::newRow("another guard shows three")
            << 3 << QByteArray("cancelled 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20");
    }
    void floodShowsEightAndCancelsTheRest() {
        QFETCH(int, elsewhere);
        QFETCH(QByteArray, cancelled);
        test::TestHome home;
        const Result<QByteArray> folder = RunningGrants::folder(true);
        QVERIFY(folder);
        WindowSlots other(*folder, 8);
        QCOMPARE(other.hold(elsewhere), elsewhere);
        const QByteArray out = childSays(QStringLiteral("--flood"));
        if (out.startsWith("skip"))
            QSKIP(out.constData());
        QCOMPARE(out, cancelled);
    }

    // The proxies' sockets must fit a socket's path (107 bytes), or the proxy
    // cannot listen and Pellim has no buses at all.
    void proxyFolderFitsItsSockets_data() {
        QTest::addColumn<int>("runtimeLength"); // 0: none set
        QTest::addColumn<bool>("inRuntime");
        QTest::newRow("short runtime folder") << 30 << true;
        QTest::newRow("runtime folder of 90 bytes") << 90 << false;
        QTest::newRow("no runtime folder") << 0 << false;
    }
    void proxyFolderFitsItsSockets() {
        QFETCH(int, runtimeLength);
        QFETCH(bool, inRuntime);
        QTemporaryDir root(QStringLiteral("/tmp/pf-XXXXXX"));
        QByteArray runtime = QFile::encodeName(root.path()) + '/';
        runtime += QByteArray(std::max(0, runtimeLength - int(runtime.size())), 'r');
        QVERIFY(QDir().mkpath(QFile::decodeName(runtime)));
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/run/none"));
        if (runtimeLength)
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QFile::decodeName(runtime));
        const Result<QByteArray> folder = BusProxies::makeFolder(environment);
        QVERIFY2(folder, folder ? "" : qPrintable(folder.failure().text()));
        const auto removed = qScopeGuard([&] { ::rmdir(folder->constData()); });
        QVERIFY2((*folder + "/accessibility").size() <= 107, folder->constData());
        QCOMPARE(folder->startsWith(runtime + '/'), inRuntime);
        struct stat st {};
        QVERIFY(::stat(folder->constData(), &st) == 0 && S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 0777, 0700u);
    }

    void answersWhileItsWindowsWait() {
        test::TestHome home;
        const QByteArray out = childSays(QStringLiteral("--stalled"));
        if (out.startsWith("skip"))
            QSKIP(out.constData());
        QCOMPARE(out, QByteArray("answered, ended"));
    }
};

int main(int argc, char **argv) {
    const bool flooding = argc > 1 && std::strcmp(argv[1], "--flood") == 0;
    if (flooding || (argc > 1 && std::strcmp(argv[1], "--stalled") == 0)) {
        const int status = flooding ? flood(argc, argv) : stalled(argc, argv);
        // Confined, and with the guard gone, no leak check could open a file.
        std::fflush(stdout);
        ::_exit(status);
    }
    QCoreApplication app(argc, argv);
    TestGuardProcess test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_guard_process.moc"
