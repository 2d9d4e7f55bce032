// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace pellim {

// The two levels the program writes. Info maps to journal priority 6, Error to 3.
enum class LogLevel { Info, Error };

// Journal fields an entry carries besides the standard ones, e.g.
// {"PELLIM_PROGRAM", "/usr/bin/npm"}.
using LogFields = std::vector<std::pair<QByteArray, QString>>;

// One entry as it is handed to a sink. `message` is the full MESSAGE text, byte
// for byte; a sink never interprets it as a format.
struct LogEntry {
    LogLevel level = LogLevel::Info;
    QString subsystem; // SUBSYSTEM, e.g. "org.pellim.Pellim"
    QString category;  // CATEGORY, e.g. "general"
    QString message;   // MESSAGE
    LogFields fields = {};
};

// Where entries go. Every entry also carries SYSLOG_IDENTIFIER=pellim.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogEntry &entry) = 0;
};

// A log handle: a sink together with a subsystem, a category and the fields
// every entry of it carries. Cheap to copy; it refers to its sink, which must
// outlive it.
class LogHandle {
public:
    LogHandle(LogSink &sink, QString subsystem, QString category, LogFields fields = {})
        : m_sink(&sink), m_subsystem(std::move(subsystem)), m_category(std::move(category)),
          m_fields(std::move(fields)) {}

    void write(LogLevel level, const QString &message) const {
        m_sink->write(LogEntry{level, m_subsystem, m_category, message, m_fields});
    }
    const QString &subsystem() const { return m_subsystem; }
    const QString &category() const { return m_category; }

private:
    LogSink *m_sink;
    QString m_subsystem;
    QString m_category;
    LogFields m_fields;
};

inline constexpr const char *kAppId = "org.pellim.Pellim";
// The folder guard's entries, whichever process writes them.
inline constexpr const char *kGuardSubsystem = "org.pellim.FolderGuard";
inline constexpr const char *kSyslogIdentifier = "pellim";

} // namespace pellim
