// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/Log.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdio>

namespace pellim {

// Control characters (C0, DEL, C1 and the Unicode line and paragraph separators)
// written as escapes, so that text from a file name stays on one line and in one
// column. With `doubleBackslash`, a backslash is doubled too, so an escape in the
// output cannot be confused with the same characters in the name.
QString escapeControlCharacters(const QString &text, bool doubleBackslash);

// Writes entries to the systemd journal in its native datagram protocol, on a
// non-blocking socket connected to the daemon's: logging happens on the window's thread, and a
// daemon that is alive but not reading must not freeze it. A full queue is waited on for at most
// 200 ms, and only until the daemon once fails to make room; from then on until it takes an entry
// again, nothing waits. An entry the daemon does not take (no daemon, a stale socket, a stalled
// queue, any other error) goes to `fallback` (standard error by default) as one line with control
// characters escaped. Safe to call from several threads.
class JournalSink final : public LogSink {
public:
    explicit JournalSink(FILE *fallback = stderr,
                         QString socketPath = QStringLiteral("/run/systemd/journal/socket"));
    ~JournalSink() override;
    JournalSink(const JournalSink &) = delete;
    JournalSink &operator=(const JournalSink &) = delete;

    void write(const LogEntry &entry) override;

    // Whether a journal daemon answers on the socket right now.
    bool journalListening() const;

    // The one-line form used when the journal does not take an entry.
    static QByteArray fallbackLine(const LogEntry &entry);

private:
    // Whether the daemon took the entry; never waits.
    bool send(const QByteArray &entry) const;

    FILE *m_fallback;
    QString m_socketPath;
    mutable std::atomic<bool> m_stalled = false;
    int m_socket = -1;
    mutable std::atomic<bool> m_connected = false;
};

} // namespace pellim
