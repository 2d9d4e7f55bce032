// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/Confinement.h"
#include "confine/HeldCalls.h"
#include "confine/ProcessDoors.h"
#include "confine/SocketDoors.h"
#include "paths/FolderProtection.h"
#include "paths/PathWalk.h"

#include <QByteArray>
#include <QString>

#include "confine/CallReader.h"

#include <cstdint>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <time.h>
#include <unordered_map>
#include <vector>

struct seccomp_notif;

namespace pellim {

struct Reply;

// Answers the calls a process confined by confineSelf sends to its listener.
// Each call is judged on what its path reaches, walked here through descriptors:
// - inside a guarded folder: `protection` decides; allowed, the call is done here
//   on the walked folder (an open's descriptor is handed to the caller), so a
//   path the caller changes meanwhile changes nothing; denied, it fails with
//   EPERM and nothing is touched;
// - inside a sealed folder (the guard's own state): EPERM, nobody is asked;
// - renaming or removing a kept-out folder or one above it: EPERM, since that
//   would take the kept-out folder away from the place the desktop names;
// - elsewhere, where Landlock allows it: the call goes on in the caller, where a
//   path changed meanwhile meets Landlock;
// - elsewhere, where Landlock refuses (a new entry in, or a listing of, a folder
//   above a kept-out one; anything under an entry made there since the start):
//   done here once `protection` agrees, which asks only about a guarded folder
//   that did not exist at the start.
// A call that cannot be read or walked goes on in the caller too: the kernel
// then gives its error, and Landlock keeps the folders out of reach. Truncate
// goes on only where Landlock refuses it (ABI 3, Linux 6.2); on an older one
// the guard does it or fails it.
//
// Most calls are opens outside the kept-out folders, in folders met before: the
// kernel resolves an open's folder in one call and the chain above it is the one
// remembered (FolderChains, forgotten as soon as anything on it moves or a mount
// changes), so that such an open goes on after a handful of calls. Anything
// else, or anything not remembered, is walked in full.
//
// One thread calls handleOne over and over, and nothing else of it; it never
// waits for the person. A call that needs them waits unanswered in the kernel
// while `protection` asks; the thread goes on answering the others, and
// decides the waiting ones when the protection says the question was answered
// (whenAnswered, on any thread, wakes handleOne).
class Supervisor {
public:
    enum class Result { Answered, Gone, Failed };

    // How the kept-out folders lie, as the supervisor needs it.
    struct Map {
        ConfinementLayout layout;
        std::vector<FileIdentity> sealed;
        std::vector<UniqueFd> ruled; // with `keepRuled`: each entry given a rule
    };
    // Made apart from create, a guard can map while its program maps the same
    // folders to confine itself, each on a CPU of its own. Two maps made at
    // different moments may differ, as they always could: where the guard's
    // map wrongly counts an entry as covered by a rule, the call it lets go on
    // meets the program's own rules, which refuse it.
    static std::optional<Map> mapFolders(const KeptOutPaths &paths, QString *error = nullptr,
                                         bool keepRuled = false);
    // `paths` must be what the process was confined with; `mapped`, where given,
    // mapFolders(paths). Nothing when the folders cannot be mapped; `error` says
    // why. `sockets`: what the process may connect to besides the network
    // (SocketDoors).
    static std::unique_ptr<Supervisor> create(UniqueFd listener, FolderProtection &protection,
                                              const KeptOutPaths &paths, QString *error = nullptr,
                                              std::vector<AllowedSocket> sockets = {},
                                              std::optional<Map> mapped = std::nullopt);
    ~Supervisor();
    Supervisor(const Supervisor &) = delete;
    Supervisor &operator=(const Supervisor &) = delete;

    int listener() const { return m_listener.get(); }
    SocketDoors &sockets() { return m_sockets; }
    // The confined program's first process: it and its descendants are the
    // ones signals and the links in /proc/PID/ may reach.
    void setFirstProcess(pid_t first) { m_own.setFirst(first); }

    // Waits for one call and answers it, or for a question's answer and decides
    // the calls that waited for it. Gone once no confined process is left, or
    // `endsWith` hangs up; Failed (errno in `error`) when the listener cannot be
    // read.
    Result handleOne(int *error = nullptr);
    // A descriptor whose hang-up also means the confined process is gone: the
    // guard's channel to it. Taken as a duplicate, so that it cannot be closed
    // and its number reused under handleOne.
    void endWith(int descriptor);
    // From any thread: handleOne returns, and decides the waiting calls again.
    void wake();
    // Where the program's opens are left to Landlock (CallsHeld::UnseenByLandlock):
    // a Landlock rule follows its entry wherever it is moved, so an entry with
    // one that the person moves into a kept-out folder, or renames to a guarded
    // folder's name, while the program runs would be open to it there,
    // unasked. handleOne watches each entry of the map (mapped with
    // `keepRuled`) that the person may read, and calls `movedIn` with where
    // one went, once. False when they cannot be watched (then nothing is).
    [[nodiscard]] bool watchMovesIn(std::function<void(const QByteArray &)> movedIn);

    // Which way the answered calls went, for the benchmarks: the cost of a
    // held call depends on it.
    struct Counts {
        std::uint64_t goneOn = 0;   // went on in the caller
        std::uint64_t quick = 0;    // of those, opens judged without a walk
        std::uint64_t doneHere = 0; // done by the guard: a descriptor handed over, ...
        std::uint64_t failed = 0;   // answered with an error: refused, or as the kernel would
        std::uint64_t doors = 0;    // of all, connects, sends and signals
    };
    const Counts &counts() const { return m_counts; }

private:
    struct Side;
    enum class Verdict { GoOn, DoHere, Deny, Later };
    // A call that waits for the question on screen to be answered.
    struct Waiting {
        std::uint64_t id;
        std::unique_ptr<HeldRequest> request;
        ThreadStatus caller;
    };
    // Far more than Pellim's threads ever hold at once.
    static constexpr std::size_t kMaxWaiting = 256;

    Supervisor(UniqueFd listener, FolderProtection &protection, ConfinementLayout layout,
               std::vector<FileIdentity> sealed, std::vector<AllowedSocket> sockets);
    void answer(const seccomp_notif &notification);
    void lookAtMoves();
    void send(std::uint64_t id, Reply &reply);
    void decideWaiting();
    void lookAhead(nfds_t watched);
    std::optional<Walked> walkQuickly(const QByteArray &path, int start, int *missing);
    bool goesOn(const Walked &object, FileAccessKind kind) const;
    Reply decide(HeldRequest &request, const ThreadStatus &caller, std::optional<Walked> quick,
                 bool retried = false);
    bool ownPlace(const Walked &object) const;
    bool readOnlyItem(const Walked &walked) const;
    // The read-only names that did not exist at the start, by their folder.
    struct NameFolder {
        FileIdentity identity;
        std::vector<std::size_t> names; // in m_layout.readOnlyNames
        std::vector<std::optional<FileIdentity>> found;
        timespec changed;
        bool settled; // unchanged for over two seconds when last looked up
    };
    const std::vector<std::optional<FileIdentity>> &namesFound(NameFolder &folder) const;
    std::optional<QByteArray> settingsPlace(const Walked &walked) const;
    Verdict askSettingsPlace(const Side &side);
    bool inReadOnlyPart(const Walked &walked) const;
    bool homeEntryReadOnly(FileIdentity entry) const;
    bool writablePlace(const Walked &walked) const;
    Verdict judge(const Side &side, FileAccessKind kind);
    Verdict ask(const Side &side, FileAccessKind kind);
    bool ruled(FileIdentity id) const;
    bool covered(const Walked &walked, bool entry) const;
    bool coveredToRead(const Walked &walked) const;

    HeldCallTable m_calls;
    std::deque<Waiting> m_waiting;
    UniqueFd m_listener;
    UniqueFd m_wake; // an eventfd: a question was answered
    int m_wakeError = 0;
    UniqueFd m_endsWith;
    // The entries with a rule, and the watch on their moves (watchMovesIn).
    std::vector<UniqueFd> m_ruled;
    UniqueFd m_moves;
    std::unordered_map<int, std::size_t> m_moveWatches; // watch: index in m_ruled
    std::function<void(const QByteArray &)> m_movedIn;
    FolderProtection &m_protection;
    ConfinementLayout m_layout;
    std::vector<FileIdentity> m_sealed;
    FolderChains m_chains;
    UniqueFd m_home;                 // where an entry made since the start is looked up by name
    QByteArray m_realHome;           // the home as the file system names it
    std::vector<QByteArray> m_bases; // the XDG bases in it, likewise, the deepest first
    // What homeEntryReadOnly found: the entry's name in the home then, and
    // whether that name is read-only by rule. Kept only while the name still
    // leads to that entry: one renamed, or a number reused, is looked up again.
    struct HomeEntry {
        QByteArray name;
        bool readOnly;
    };
    mutable std::unordered_map<FileIdentity, HomeEntry, FileIdentityHash> m_homeEntries;
    SocketDoors m_sockets;
    OwnProcesses m_own;
    mode_t m_ownUmask = 0;
    // What the last look ahead saw, for the next round (lookAhead).
    bool m_lookedAhead = false;
    short m_ahead[4] = {};
    bool m_truncateGoesOn = true;
    Counts m_counts;
    Pidfds m_pidfds;
    mutable std::vector<NameFolder> m_nameFolders;
    // Whether the last look ahead found a call waiting, and the rounds since.
    bool m_aheadFound = false;
    unsigned m_sinceLook = 0;
};

} // namespace pellim
