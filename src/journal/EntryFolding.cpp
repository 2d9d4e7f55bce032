// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/EntryFolding.h"

#include <algorithm>

namespace pellim {

QString countText(std::uint64_t count) {
    QString digits = QString::number(count);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits;
}

EntryFolding::EntryFolding(LogHandle log, std::function<Clock::time_point()> now)
    : m_log(std::move(log)), m_now(std::move(now)) {}

EntryFolding::~EntryFolding() {
    writeOpen();
}

void EntryFolding::write(LogLevel level, const QString &message) {
    // Counts that ended before this entry come before it.
    if (!m_open.empty())
        writeEndedBy(m_now());
    m_log.write(level, message);
}

bool EntryFolding::fold(const QString &kind) {
    if (m_open.empty())
        return false;
    writeEndedBy(m_now());
    const auto open =
        std::find_if(m_open.begin(), m_open.end(), [&](const Open &o) { return o.kind == kind; });
    if (open == m_open.end())
        return false;
    ++open->more;
    return true;
}

void EntryFolding::writeFoldable(const QString &kind, const QString &message, Summary summary) {
    if (fold(kind))
        return;
    m_log.write(LogLevel::Info, message);
    m_open.push_back(Open{kind, m_now() + kSpan, 0, std::move(summary)});
}

std::optional<EntryFolding::Clock::time_point> EntryFolding::writeEnded() {
    if (m_open.empty())
        return std::nullopt;
    writeEndedBy(m_now());
    std::optional<Clock::time_point> next;
    for (const Open &o : m_open)
        next = next ? std::min(*next, o.ends) : o.ends;
    return next;
}

void EntryFolding::writeOpen() {
    writeEndedBy(Clock::time_point::max());
}

void EntryFolding::writeEndedBy(Clock::time_point now) {
    // In the order their seconds began, which is the order of their first entries.
    const auto ended = std::stable_partition(m_open.begin(), m_open.end(),
                                             [now](const Open &o) { return o.ends > now; });
    for (auto o = ended; o != m_open.end(); ++o) {
        if (o->more > 0)
            m_log.write(LogLevel::Info, o->summary(o->more));
    }
    m_open.erase(ended, m_open.end());
}

} // namespace pellim
