#include "support/JournalQuery.h"

#include <QDeadlineTimer>

#include <systemd/sd-journal.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace pellim::test {

namespace {

std::uint64_t realtimeNowUsec() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u;
}

} // namespace

JournalQuery::JournalQuery(const QByteArray &identifier,
                           const std::vector<QByteArray> &extraMatches) {
    // Entries are stamped by the daemon on receipt, so anything this process
    // writes from now on carries a later time than this.
    m_since = realtimeNowUsec();
    if (sd_journal_open(&m_journal, SD_JOURNAL_LOCAL_ONLY) < 0) {
        m_journal = nullptr;
        return;
    }
    const QByteArray pid = "_PID=" + QByteArray::number(qint64(getpid()));
    const QByteArray ident = "SYSLOG_IDENTIFIER=" + identifier;
    sd_journal_add_match(m_journal, pid.constData(), size_t(pid.size()));
    sd_journal_add_match(m_journal, ident.constData(), size_t(ident.size()));
    for (const QByteArray &m : extraMatches)
        sd_journal_add_match(m_journal, m.constData(), size_t(m.size()));
    sd_journal_seek_realtime_usec(m_journal, m_since);
}

JournalQuery::~JournalQuery() {
    if (m_journal)
        sd_journal_close(m_journal);
}

void JournalQuery::collect() {
    while (sd_journal_next(m_journal) > 0) {
        std::uint64_t when = 0;
        if (sd_journal_get_realtime_usec(m_journal, &when) >= 0 && when < m_since)
            continue;
        JournalFields record;
        const void *data = nullptr;
        size_t length = 0;
        sd_journal_restart_data(m_journal);
        while (sd_journal_enumerate_data(m_journal, &data, &length) > 0) {
            const QByteArray field(static_cast<const char *>(data), qsizetype(length));
            const qsizetype eq = field.indexOf('=');
            if (eq > 0)
                record.fields[field.left(eq)] = field.mid(eq + 1);
        }
        m_seen.push_back(std::move(record));
    }
}

std::vector<JournalFields> JournalQuery::waitForEntries(std::size_t count, int timeoutMs) {
    if (!m_journal)
        return m_seen;
    QDeadlineTimer deadline(timeoutMs);
    collect();
    while (m_seen.size() < count && !deadline.hasExpired()) {
        const qint64 left = deadline.remainingTime();
        sd_journal_wait(m_journal, std::uint64_t(qMin<qint64>(left, 200)) * 1000u);
        collect();
    }
    return m_seen;
}

bool JournalQuery::daemonListening(const QByteArray &socketPath) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(socketPath.size()) >= sizeof(address.sun_path)) {
        close(fd);
        return false;
    }
    std::memcpy(address.sun_path, socketPath.constData(), std::size_t(socketPath.size()));
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&address),
                              socklen_t(sizeof(address))) == 0;
    close(fd);
    return ok;
}

} // namespace pellim::test
