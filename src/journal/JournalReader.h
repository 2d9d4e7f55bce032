// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <sys/types.h>

struct sd_journal;

namespace pellim {

// One journal entry as the Activity window shows it.
struct JournalRecord {
    std::int64_t realtimeUsec = 0; // when the journal received it, microseconds since the epoch
    int priority = 6;              // PRIORITY: 6 info, 3 error
    QString subsystem;             // SUBSYSTEM
    QString category;              // CATEGORY
    QString message;               // MESSAGE, as recorded
};

// Why the journal cannot be read. A value, never thrown.
struct JournalReadError {
    enum class Reason {
        NoDaemon,     // no journal daemon answers on its socket
        NoPermission, // journal files exist but this user may not read them
        NoFiles,      // the daemon runs but no journal file can be found
        OpenFailed,   // sd_journal_open failed; errorCode holds the errno
    };
    Reason reason = Reason::OpenFailed;
    int errorCode = 0;
};

// Follows the entries this process writes to the journal, oldest first, from the
// start of the run. Callers watch wakeFd() for wakeEvents() and then call
// readNew(); nothing here polls.
class JournalReader {
public:
    virtual ~JournalReader() = default;

    // Opens the journal. May be called again after a failure (the daemon may have
    // been started meanwhile); after a success it does nothing and succeeds.
    virtual std::optional<JournalReadError> open() = 0;

    // The descriptor that becomes ready when the journal changes; -1 when closed.
    virtual int wakeFd() const = 0;
    // The poll(2) events to watch wakeFd() for (POLLIN in practice).
    virtual short wakeEvents() const = 0;

    // Acknowledges a wake-up and returns the entries that arrived since the last
    // call (on the first call: every entry of this run so far).
    virtual std::vector<JournalRecord> readNew() = 0;
};

// The real reader over sd_journal_*: matches _PID of `pid` (or of `companion`,
// the guard process `pid` started), SYSLOG_IDENTIFIER pellim and the current
// boot, from the moment `pid` started.
class SdJournalReader final : public JournalReader {
public:
    explicit SdJournalReader(QString socketPath = QStringLiteral("/run/systemd/journal/socket"),
                             pid_t pid = 0 /* this process */, pid_t companion = 0 /* none */);
    ~SdJournalReader() override;
    SdJournalReader(const SdJournalReader &) = delete;
    SdJournalReader &operator=(const SdJournalReader &) = delete;

    std::optional<JournalReadError> open() override;
    int wakeFd() const override;
    short wakeEvents() const override;
    std::vector<JournalRecord> readNew() override;

private:
    struct Closer {
        void operator()(sd_journal *j) const;
    };
    std::optional<JournalReadError> whyNothingReadable() const;

    QString m_socketPath;
    pid_t m_pid;
    pid_t m_companion;
    std::unique_ptr<sd_journal, Closer> m_journal;
    int m_fd = -1;
};

// The start of process `pid` on the monotonic clock of this boot, in
// microseconds; nullopt when /proc cannot tell.
std::optional<std::uint64_t> processStartMonotonicUsec(pid_t pid);

} // namespace pellim
