// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "paths/KeptOutPaths.h"
#include "sys/Descriptor.h"
#include "sys/Result.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include <sys/types.h>

class QSocketNotifier;

namespace pellim {

// Pellim is confined; its calls into the kept-out folders wait for the guard
// process, which `channel` leads to.
struct KernelGuard {
    UniqueFd channel;
    pid_t guardPid = -1;
    QByteArray hello; // the guard's first message, sent once it took the listener
};

// Pellim is not confined; `reason` says why. Only a kernel that lacks what the
// guard needs (`featureMissing`) leaves Pellim to check in its own process:
// any other failure (a folder that cannot be read, a call that failed) could
// have been brought about by something Pellim did at an earlier run, so it
// must stop Pellim rather than weaken the guard.
struct NoKernelGuard {
    QString reason;
    bool featureMissing = false;
};

// Starts the guard process and confines the calling one. Call it before any
// thread exists. The guard is a fork that runs `guardMain` with its end of the
// channel and exits with what it returns; it ends when the caller ends. The
// caller keeps its process id, and the guard first takes the seccomp listener
// (takeListener), then answers with its first message, which `hello` holds. `keptOut` is what the
// caller is confined with (confineSelf) and the guard decides on.
std::variant<KernelGuard, NoKernelGuard>
startKernelGuard(const KeptOutPaths &keptOut,
                 const std::function<int(UniqueFd channel)> &guardMain);

// Pellim's side of `pellim-guard run`. Run by the guard, Pellim finds the
// guard's channel in its environment (kGuardChannelVariable), checks that it
// is a channel to its parent, takes it out of the environment and reads the
// guard's first message. Not run by it and the kernel can confine, Pellim
// execs the pellim-guard installed beside it to run it (this returns only if
// that fails); the kernel cannot confine, and Pellim guards in its own process.
std::variant<KernelGuard, NoKernelGuard> joinKernelGuard(int argc, char **argv);

// One message over a SOCK_SEQPACKET channel, with at most one descriptor.
// Without one it goes out with send(), which a confined process makes freely;
// with one it takes sendmsg(), which the confinement holds.
bool sendMessage(int channel, const QByteArray &message, int descriptor = -1);

// A confined process cannot hand over its own listener: sendmsg is held, and
// nobody answers yet. It names the listener's number instead, and the guard
// takes the descriptor out of the process (pidfd_getfd; the guard may trace
// it). The confined process must keep its listener open until the guard says
// it has it, and close it then: with its listener, a process could answer its
// own calls.
bool offerListener(int channel, int listener);
// The listener that process `from` offered on `channel`; invalid when none came
// or it could not be taken (`error` then says why, 0 at the end of the channel).
UniqueFd takeListener(int channel, pid_t from, int *error = nullptr);
// The same for an offer already received; invalid (EPROTO) when `message` is none.
UniqueFd listenerOffered(const QByteArray &message, pid_t from, int *error = nullptr);
// The next message; nothing at the end of the channel or on an error (errno
// says which: 0 at the end). A descriptor sent along goes to `descriptor`.
std::optional<QByteArray> receiveMessage(int channel, UniqueFd *descriptor = nullptr);

// The channel on the GUI thread: messages arrive as signals, and its end (the
// other process gone) is reported once.
class GuardChannel final : public QObject {
    Q_OBJECT

public:
    explicit GuardChannel(UniqueFd channel, QObject *parent = nullptr);
    ~GuardChannel() override;

    // Never waits for the other process: a message its queue has no room for
    // fails (EAGAIN), as does one after the end.
    [[nodiscard]] Outcome send(const QByteArray &message);
    // The channel, no longer watched: it stays open for as long as its taker
    // keeps it.
    UniqueFd takeDescriptor();

Q_SIGNALS:
    void received(const QByteArray &message);
    // The other end is gone, or the channel failed; `error` is 0 at a plain end.
    void closed(int error);

private:
    void readReady();

    UniqueFd m_channel;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace pellim
