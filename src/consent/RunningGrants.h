// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/Program.h"
#include "sys/Descriptor.h"
#include "sys/Result.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace pellim {

// An item a file dialog granted a running program, open until it quits.
struct ChosenItem {
    QByteArray path; // as the guard's walk resolved it
    bool folder = false;
    bool operator==(const ChosenItem &) const = default;
};

// A program running under a guard of its own, as that guard published it.
struct RunningProgram {
    QString id;   // the key of its answers (Program::id)
    QString name; // as the person is shown it
    pid_t guard = 0;
    std::uint64_t started = 0; // the guard's start, in clock ticks since boot
    std::vector<ChosenItem> chosen;
    QByteArray door; // the guard's socket that takes a revoke; empty: none
};

// Who asks a guard to revoke, for the guard's own entry.
enum class RevokedBy : char { FolderAccess = 'F', Command = 'C' };

// What every running guard granted its program in a dialog, for Folder Access
// and pellim-consent, which run in other processes: one file per guard in a
// folder of the runtime folder that only the person may enter, kept out of
// every confined program's reach (keptOutFolders seals it before any program
// is confined). A guard is named by its pid and its start time together, so a
// pid reused by another process is not taken for it; the file of a guard that
// is gone is left out, and removed, by whoever reads the folder next.
class RunningGrants {
public:
    // $XDG_RUNTIME_DIR/pellim-grants, made (0700) with `make` where it is
    // missing; a failure where there is no runtime folder, or the folder is not
    // a folder only the person may enter.
    static Result<QByteArray> folder(bool make = false);

    explicit RunningGrants(QByteArray folder) : m_folder(std::move(folder)) {}

    // The programs whose guards run now, by name; a file that is not sound is
    // left out.
    std::vector<RunningProgram> programs() const;
    // Asks `program`'s guard to revoke what was chosen as `path`: its next call
    // there is decided as if it had never been chosen. Waits at most two
    // seconds for the guard, which must be the process that published it.
    Outcome revoke(const RunningProgram &program, const QByteArray &path, RevokedBy by) const;

private:
    QByteArray m_folder;
};

// One guard's part of that folder: its program and what it was granted,
// rewritten whole (a new file renamed into place) at each publish, and a
// listening socket, its door, where another process of the person's may ask
// for one item to be revoked. Nothing is written until there is something to
// show. The door is served on a thread of its own that never waits more than
// half a second on a peer: one that sends nothing in that time is dropped.
class GrantsPublisher {
public:
    using Source = std::function<std::vector<ChosenItem>()>;
    // Revokes `path`; false when nothing chosen was there.
    using Revoke = std::function<bool(const QByteArray &path, RevokedBy by)>;

    GrantsPublisher(QByteArray folder, Program program, Source source, Revoke revoke);
    ~GrantsPublisher();
    GrantsPublisher(const GrantsPublisher &) = delete;
    GrantsPublisher &operator=(const GrantsPublisher &) = delete;

    // Writes what `source` gives now; the first time there is anything, the
    // door opens too (a failure to open it is returned once, after the file
    // is written). Safe from any thread.
    Outcome publish();
    // Takes the file and the door away: for a process about to end, from any
    // thread; nothing else is done.
    void withdraw();

private:
    Outcome openDoor();
    void serve();
    void answer(int connection);

    QByteArray m_folder;
    QByteArray m_base; // "<pid>-<start>"
    Program m_program;
    Source m_source;
    Revoke m_revoke;
    std::mutex m_mutex;
    bool m_written = false;
    bool m_doorTried = false;
    UniqueFd m_door;
    UniqueFd m_stop;
    std::thread m_serving;
};

// When `pid` started, in clock ticks since boot; nothing when it is gone.
std::optional<std::uint64_t> processStarted(pid_t pid);

} // namespace pellim
