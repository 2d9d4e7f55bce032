#pragma once

#include "journal/JournalSink.h"

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>

#include <systemd/sd-journal.h>
#include <unistd.h>

#include <map>
#include <vector>

namespace pellim::test {

// One journal entry as a reader sees it: every field, trusted ones included.
struct JournalFields {
    std::map<QByteArray, QByteArray> fields;
};

// Reads back what this process writes to the local journal under `identifier`
// from the moment the query is made: make it before the code under test logs.
class JournalQuery {
public:
    explicit JournalQuery(const QByteArray &identifier = "pellim") {
        if (sd_journal_open(&m_journal, SD_JOURNAL_LOCAL_ONLY) < 0) {
            m_journal = nullptr;
            return;
        }
        for (const QByteArray &match :
             {"_PID=" + QByteArray::number(qint64(getpid())), "SYSLOG_IDENTIFIER=" + identifier})
            sd_journal_add_match(m_journal, match.constData(), std::size_t(match.size()));
        sd_journal_seek_realtime_usec(m_journal, m_since);
    }
    ~JournalQuery() { sd_journal_close(m_journal); }
    JournalQuery(const JournalQuery &) = delete;
    JournalQuery &operator=(const JournalQuery &) = delete;

    bool isOpen() const { return m_journal != nullptr; }
    // Whether a journal daemon answers on its socket.
    static bool daemonListening() { return JournalSink().journalListening(); }

    // Every matching entry so far, oldest first, once there are `count` of them
    // or `timeoutMs` has passed (entries reach readers asynchronously).
    std::vector<JournalFields> waitForEntries(std::size_t count, int timeoutMs = 15000) {
        const QDeadlineTimer deadline(timeoutMs);
        while (m_journal) {
            while (sd_journal_next(m_journal) > 0) {
                std::uint64_t when = 0;
                if (sd_journal_get_realtime_usec(m_journal, &when) >= 0 && when < m_since)
                    continue;
                JournalFields &entry = m_seen.emplace_back();
                const void *data = nullptr;
                std::size_t length = 0;
                SD_JOURNAL_FOREACH_DATA(m_journal, data, length) {
                    const QByteArray field(static_cast<const char *>(data), qsizetype(length));
                    if (const qsizetype eq = field.indexOf('='); eq > 0)
                        entry.fields[field.left(eq)] = field.mid(eq + 1);
                }
            }
            if (m_seen.size() >= count || deadline.hasExpired())
                break;
            sd_journal_wait(m_journal,
                            std::uint64_t(qMin<qint64>(deadline.remainingTime(), 200)) * 1000);
        }
        return m_seen;
    }

private:
    // The daemon stamps entries on receipt: what this process writes from now on is later.
    const std::uint64_t m_since = std::uint64_t(QDateTime::currentMSecsSinceEpoch()) * 1000;
    sd_journal *m_journal = nullptr;
    std::vector<JournalFields> m_seen;
};

} // namespace pellim::test
