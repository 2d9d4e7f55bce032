// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/Log.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace pellim {

// "4,999": a count as the journal's English text writes it.
QString countText(std::uint64_t count);

// Keeps a program that reads thousands of files from writing thousands of
// entries. An entry that may fold is written in full when it is the first of
// its kind, or the first after its kind's last second ended; the same kind
// within the second after it only counts, and the count becomes one entry
// ("… and 4,999 more read accesses in Documents: stored: allowed") once that
// second has ended: written by the next entry through this object, by
// writeEnded, or by writeOpen. What may fold is for the caller to say: a
// denial or a question's answer is written with `write`, always at once.
//
// Not safe from several threads: its owner serialises the calls.
class EntryFolding {
public:
    using Clock = std::chrono::steady_clock;
    // The entry for `more` folded ones.
    using Summary = std::function<QString(std::uint64_t more)>;
    static constexpr Clock::duration kSpan = std::chrono::seconds(1);

    explicit EntryFolding(LogHandle log, std::function<Clock::time_point()> now = &Clock::now);
    ~EntryFolding();
    EntryFolding(const EntryFolding &) = delete;
    EntryFolding &operator=(const EntryFolding &) = delete;

    void write(LogLevel level, const QString &message);
    // `kind` names what counts as the same (program, folder, access, decision).
    void writeFoldable(const QString &kind, const QString &message, Summary summary);
    // Counts one more of `kind` where its second is open, and says so; else
    // nothing is written, and the entry is the caller's to write with
    // writeFoldable. Spares making an entry's text only to fold it.
    bool fold(const QString &kind);
    // Writes the counts whose second has ended; when the next one ends, if any.
    std::optional<Clock::time_point> writeEnded();
    // Writes every count, ended or not: the process is about to end.
    void writeOpen();

private:
    struct Open {
        QString kind;
        Clock::time_point ends;
        std::uint64_t more = 0;
        Summary summary;
    };
    void writeEndedBy(Clock::time_point now);

    LogHandle m_log;
    std::function<Clock::time_point()> m_now;
    std::vector<Open> m_open; // a handful of kinds at a time
};

} // namespace pellim
