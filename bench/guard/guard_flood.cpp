// A confined process that floods the real guard process with dialog
// requests, for run-guard-flood. It starts the guard as Pellim does (the
// folders of the current HOME kept out, the guard showing its windows on
// DISPLAY), prints "guard_pid N", then obeys one command a line on standard
// input:
//
//   flood N   sends N dialog requests, Save and Open by turns, each with the
//             longest label or name a message holds; prints "answered A of N"
//             once the guard's replies have stopped for a second
//   drain     waits until every request sent has its reply (30 s at most);
//             prints "answered A of S"
//
// and ends at the end of its input, which ends the guard.
#include "confine/GuardLink.h"
#include "confine/GuardMessages.h"
#include "consent/KeptOut.h"
#include "guard/GuardProcess.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>
#include <variant>

using namespace pellim;

namespace {

class Flood {
public:
    explicit Flood(int channel) : m_channel(channel) {}

    bool send(int count) {
        // The longest name a Save may propose (NAME_MAX bytes).
        const QString longest(255, QLatin1Char('x'));
        for (int i = 0; i < count; ++i) {
            GuardRequest request;
            request.id = ++m_sent;
            request.kind = i % 2 ? GuardRequestKind::Open : GuardRequestKind::Save;
            request.suggestedName = longest;
            // Replies are read between requests: neither side may wait on a
            // full channel while the other waits on it too.
            if (!sendMessage(m_channel, encodeRequest(request)) || !read(0))
                return false;
        }
        return true;
    }

    // Reads the replies that come within `quietMs` of one another.
    bool read(int quietMs) {
        pollfd ready{m_channel, POLLIN, 0};
        while (::poll(&ready, 1, quietMs) > 0) {
            const std::optional<QByteArray> message = receiveMessage(m_channel);
            if (!message)
                return false;
            if (decodeReply(*message))
                ++m_answered;
        }
        return true;
    }

    int sent() const { return m_sent; }
    int answered() const { return m_answered; }

private:
    int m_channel;
    int m_sent = 0;
    int m_answered = 0;
};

} // namespace

int main(int argc, char **argv) {
    const KeptOutPaths keptOut = keptOutFolders();
    auto kernel = startKernelGuard(keptOut, [&](UniqueFd channel) {
        return runGuardProcess(std::move(channel), argc, argv, keptOut);
    });
    auto *guard = std::get_if<KernelGuard>(&kernel);
    if (!guard) {
        std::fprintf(stderr, "guard_flood: no kernel guard here: %s\n",
                     qPrintable(std::get<NoKernelGuard>(kernel).reason));
        return 77;
    }
    std::printf("guard_pid %d\n", int(guard->guardPid));
    std::fflush(stdout);

    Flood flood(guard->channel.get());
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
