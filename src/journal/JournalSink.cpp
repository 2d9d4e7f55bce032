#include "journal/JournalSink.h"

// The journal header adds CODE_FILE, CODE_LINE and CODE_FUNC to every entry
// unless told not to; entries carry only the fields the log readers rely on.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <QDateTime>

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace pellim {

namespace {

QByteArray priorityField(LogLevel level) {
    return level == LogLevel::Error ? QByteArrayLiteral("PRIORITY=3")
                                    : QByteArrayLiteral("PRIORITY=6");
}

const char *levelName(LogLevel level) {
    return level == LogLevel::Error ? "error" : "info";
}

QByteArray escapedForLine(const QString &text) {
    return escapeControlCharacters(text, true).toUtf8();
}

} // namespace

QString escapeControlCharacters(const QString &text, bool doubleBackslash) {
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\' && doubleBackslash)
            out += QLatin1String("\\\\");
        else if (u == u'\n')
            out += QLatin1String("\\n");
        else if (u == u'\r')
            out += QLatin1String("\\r");
        else if (u == u'\t')
            out += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else if ((u >= 0x80 && u <= 0x9f) || u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        else
            out += c; // surrogate halves stay paired: the whole text is encoded at once
    }
    return out;
}

JournalSink::JournalSink(FILE *fallback, QString socketPath)
    : m_fallback(fallback), m_socketPath(std::move(socketPath)) {}

bool JournalSink::journalListening() const {
    // A socket file can outlive its daemon, so only a connect() tells. This is
    // a datagram socket: connect() only checks that someone is bound there and
    // never waits.
    const QByteArray path = m_socketPath.toLocal8Bit();
    sockaddr_un address{};
    if (path.isEmpty() || std::size_t(path.size()) >= sizeof(address.sun_path))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const bool listening = ::connect(fd, reinterpret_cast<const sockaddr *>(&address),
                                     socklen_t(sizeof(address))) == 0;
    ::close(fd);
    return listening;
}

void JournalSink::write(const LogEntry &entry) {
    // sd_journal_sendv drops an entry without a word when the socket file is
    // missing, and fails when a stale one refuses; either way the entry must
    // still be seen somewhere.
    if (journalListening()) {
        const QByteArray message = "MESSAGE=" + entry.message.toUtf8();
        const QByteArray priority = priorityField(entry.level);
        const QByteArray identifier = QByteArray("SYSLOG_IDENTIFIER=") + kSyslogIdentifier;
        const QByteArray subsystem = "SUBSYSTEM=" + entry.subsystem.toUtf8();
        const QByteArray category = "CATEGORY=" + entry.category.toUtf8();
        const std::array<const QByteArray *, 5> fields{&message, &priority, &identifier, &subsystem,
                                                       &category};
        std::array<iovec, 5> iov{};
        for (std::size_t i = 0; i < fields.size(); ++i) {
            iov[i].iov_base = const_cast<char *>(fields[i]->constData());
            iov[i].iov_len = std::size_t(fields[i]->size());
        }
        if (sd_journal_sendv(iov.data(), int(iov.size())) >= 0)
            return;
    }
    if (!m_fallback)
        return;
    const QByteArray line = fallbackLine(entry);
    // One write per entry, so that lines from elsewhere do not interleave with it.
    std::fwrite(line.constData(), 1, std::size_t(line.size()), m_fallback);
    std::fflush(m_fallback);
}

QByteArray JournalSink::fallbackLine(const LogEntry &entry) {
    QByteArray line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8();
    line += ' ';
    line += levelName(entry.level);
    line += ' ';
    line += escapedForLine(entry.subsystem);
    line += ' ';
    line += escapedForLine(entry.category);
    line += ' ';
    line += escapedForLine(entry.message);
    line += '\n';
    return line;
}

} // namespace pellim
