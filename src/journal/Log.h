// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace pellim {

// The two levels the program writes. Info maps to journal priority 6, Error to 3.
enum class LogLevel { Info, Error };

// One entry as it is handed to a sink. `message` is the full MESSAGE text, byte
// for byte; a sink never interprets it as a format.
struct LogEntry {
    LogLevel level = LogLevel::Info;
    QString subsystem; // SUBSYSTEM, e.g. "org.pellim.Pellim"
    QString category;  // CATEGORY, e.g. "general"
    QString message;   // MESSAGE
};

// Where entries go. Every entry also carries SYSLOG_IDENTIFIER=pellim.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogEntry &entry) = 0;
};

// A log handle: a sink together with a subsystem and a category. Cheap to copy;
// it refers to its sink, which must outlive it.
class LogHandle {
public:
    LogHandle(LogSink &sink, QString subsystem, QString category)
        : m_sink(&sink), m_subsystem(std::move(subsystem)), m_category(std::move(category)) {}

    void write(LogLevel level, const QString &message) const {
        m_sink->write(LogEntry{level, m_subsystem, m_category, message});
    }
    const QString &subsystem() const { return m_subsystem; }
    const QString &category() const { return m_category; }

private:
    LogSink *m_sink;
    QString m_subsystem;
    QString m_category;
};

inline constexpr const char *kAppId = "org.pellim.Pellim";
// The folder guard's entries, whichever process writes them.
inline constexpr const char *kGuardSubsystem = "org.pellim.FolderGuard";
inline constexpr const char *kSyslogIdentifier = "pellim";

} // namespace pellim
