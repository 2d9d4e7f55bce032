#pragma once

#include "platform/Log.h"

#include <QString>

namespace pellim {

// The program's own entries read "Pellim: " followed by the message. The message
// is data, never a format.
inline void activityLog(const LogHandle &log, LogLevel level, const QString &message) {
    log.write(level, QStringLiteral("Pellim: ") + message);
}

} // namespace pellim
