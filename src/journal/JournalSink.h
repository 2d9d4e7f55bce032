#pragma once

#include "journal/Log.h"

#include <QString>

#include <cstdio>

namespace pellim {

// Control characters (C0, DEL, C1 and the Unicode line and paragraph separators)
// written as escapes, so that text from a file name stays on one line and in one
// column. With `doubleBackslash`, a backslash is doubled too, so an escape in the
// output cannot be confused with the same characters in the name.
QString escapeControlCharacters(const QString &text, bool doubleBackslash);

// Writes entries to the systemd journal with sd_journal_sendv. When no journal
// daemon listens, the entry goes to `fallback` (standard error by default) as one
// line with control characters escaped.
class JournalSink final : public LogSink {
public:
    explicit JournalSink(FILE *fallback = stderr,
                         QString socketPath = QStringLiteral("/run/systemd/journal/socket"));
    void write(const LogEntry &entry) override;

    // Whether a journal daemon answers on the socket right now.
    bool journalListening() const;

    // The one-line form used when the journal is unreachable.
    static QByteArray fallbackLine(const LogEntry &entry);

private:
    FILE *m_fallback;
    QString m_socketPath;
};

} // namespace pellim
