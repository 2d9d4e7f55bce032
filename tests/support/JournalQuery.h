#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

struct sd_journal;

namespace pellim::test {

// One journal entry as a reader sees it: every field, trusted ones included.
struct JournalFields {
    std::map<QByteArray, QByteArray> fields;

    QByteArray value(const QByteArray &name) const {
        const auto it = fields.find(name);
        return it == fields.end() ? QByteArray() : it->second;
    }
    bool has(const QByteArray &name) const { return fields.count(name) != 0; }
    QString message() const { return QString::fromUtf8(value("MESSAGE")); }
};

// Reads back what this test process wrote to the local journal: entries with
// _PID of this process and SYSLOG_IDENTIFIER=pellim that the journal received
// after the query was created. Create it before the code under test logs.
class JournalQuery {
public:
    // `identifier` narrows to one SYSLOG_IDENTIFIER; extra "FIELD=value" matches
    // narrow further (e.g. "SUBSYSTEM=org.pellim.FolderGuard").
    explicit JournalQuery(const QByteArray &identifier = "pellim",
                          const std::vector<QByteArray> &extraMatches = {});
    ~JournalQuery();
    JournalQuery(const JournalQuery &) = delete;
    JournalQuery &operator=(const JournalQuery &) = delete;

    // Whether the journal could be opened for reading.
    bool isOpen() const { return m_journal != nullptr; }

    // Waits until at least `count` matching entries have arrived since the query
    // was created, or `timeoutMs` has passed; returns every matching entry seen
    // so far, oldest first. Entries reach readers asynchronously, so the wait is
    // generous by default.
    std::vector<JournalFields> waitForEntries(std::size_t count, int timeoutMs = 15000);

    // Whether a journal daemon answers on its socket (connect() probe: a socket
    // file can exist with nobody behind it).
    static bool daemonListening(const QByteArray &socketPath = "/run/systemd/journal/socket");

private:
    void collect();

    sd_journal *m_journal = nullptr;
    std::uint64_t m_since = 0;
    std::vector<JournalFields> m_seen;
};

} // namespace pellim::test
