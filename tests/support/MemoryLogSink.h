#pragma once

#include "journal/Log.h"

#include <vector>

namespace pellim {

// Keeps entries in memory; tests read them back.
class MemoryLogSink final : public LogSink {
public:
    void write(const LogEntry &entry) override { m_entries.push_back(entry); }
    const std::vector<LogEntry> &entries() const { return m_entries; }
    void clear() { m_entries.clear(); }

private:
    std::vector<LogEntry> m_entries;
};

} // namespace pellim
