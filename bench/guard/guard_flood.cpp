// A confined process that floods the real guard process with dialog
// requests, for run-guard-flood. It starts the guard as Pellim does (the
// folders of the current HOME kept out, the guard showing its windows on
// DISPLAY), prints "guard_pid N", then obeys one command a line on standard
// input:
//
//   flood N   asks the guard's file chooser on Pellim's own bus for N
//             dialogs, as Pellim does, Save and Open by turns, each Save with
//             the longest name a request may propose; prints "answered A of N"
//             once the guard's answers have stopped for a second
//   drain     waits until every request sent has its reply (30 s at most);
//             prints "answered A of S"
//
// and ends at the end of its input, which ends the guard.
#include "confine/GuardLink.h"
#include "confine/GuardMessages.h"
#include "consent/KeptOut.h"
#include "files/DialogOptions.h"
#include "guard/BusProxies.h"
#include "guard/GuardProcess.h"
#include "portal/GuardPortalDialogs.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcessEnvironment>
#include <QTimer>

#include <sys/wait.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

using namespace pellim;

namespace {

// The entries of Pellim's side are not what is measured.
class NoLog final : public LogSink {
public:
    void write(const LogEntry &) override {}
};

class Flood {
public:
    Flood(const QByteArray &bus, pid_t guard)
        : m_dialogs(bus, LogHandle(m_log, QStringLiteral("bench"), QStringLiteral("bench"))),
          m_guard(guard) {}

    bool send(int count) {
        // The longest name a Save may propose (NAME_MAX bytes).
        const QString longest(255, QLatin1Char('x'));
        const auto answered = [this](int, std::optional<FileUrl>) { ++m_answered; };
        for (int i = 0; i < count; ++i, ++m_sent) {
            if (i % 2)
                m_dialogs.beginOpen(nullptr, fileChooserOptions(), answered);
            else
                m_dialogs.beginSave(nullptr, saveOptionsFor(longest), answered);
        }
        return read(0);
    }

    // Takes the answers that come within `quietMs` of one another; false
    // once the guard is gone.
    bool read(int quietMs) {
        int seen = -1;
        while (seen != m_answered) {
            seen = m_answered;
            QEventLoop wait;
            QTimer::singleShot(quietMs, &wait, &QEventLoop::quit);
            wait.exec();
        }
        return ::waitpid(m_guard, nullptr, WNOHANG) == 0; // its child, confined apart
    }

    int sent() const { return m_sent; }
    int answered() const { return m_answered; }

private:
    NoLog m_log;
    GuardPortalDialogs m_dialogs;
    pid_t m_guard;
    int m_sent = 0;
    int m_answered = 0;
};

} // namespace

int main(int argc, char **argv) {
    KeptOutPaths keptOut = keptOutFolders();
    const Result<QByteArray> folder =
        BusProxies::makeFolder(QProcessEnvironment::systemEnvironment());
    if (!folder) {
        std::fprintf(stderr, "guard_flood: no folder for the buses: %s\n",
                     qPrintable(folder.failure().text()));
        return 1;
    }
    keptOut.sealed.push_back(*folder);
    auto kernel = startKernelGuard(keptOut, [&](UniqueFd channel) {
        return runGuardProcess(std::move(channel), argc, argv, keptOut, {}, *folder);
    });
    auto *guard = std::get_if<KernelGuard>(&kernel);
    if (!guard) {
        std::fprintf(stderr, "guard_flood: no kernel guard here: %s\n",
                     qPrintable(std::get<NoKernelGuard>(kernel).reason));
        return 77;
    }
    std::printf("guard_pid %d\n", int(guard->guardPid));
    std::fflush(stdout);

    QCoreApplication app(argc, argv);
    Flood flood(decodeBuses(guard->hello).value_or(GuardBuses{}).session, guard->guardPid);
    std::string command;
    int count = 0;
    while (std::cin >> command) {
        bool ok = true;
        if (command == "flood" && std::cin >> count) {
            const int before = flood.answered();
            ok = flood.send(count) && flood.read(1000);
            std::printf("answered %d of %d\n", flood.answered() - before, count);
        } else if (command == "drain") {
            for (int waited = 0; ok && flood.answered() < flood.sent() && waited < 30; ++waited)
                ok = flood.read(1000);
            std::printf("answered %d of %d\n", flood.answered(), flood.sent());
        } else {
            std::fprintf(stderr, "guard_flood: unknown command %s\n", command.c_str());
            return 2;
        }
        std::fflush(stdout);
        if (!ok) {
            std::fprintf(stderr, "guard_flood: the guard is gone\n");
            return 1;
        }
    }
    return 0;
}
