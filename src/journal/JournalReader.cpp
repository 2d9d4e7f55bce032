// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/JournalReader.h"

#include "journal/JournalSink.h"
#include "journal/Log.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <poll.h>
#include <sys/stat.h>
#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

namespace pellim {

namespace {

std::uint64_t clockUsec(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u;
}

// The value of field `name` of the current entry without its "NAME=" prefix;
// nullopt when the entry has no such field.
std::optional<QByteArray> fieldOf(sd_journal *j, const char *name) {
    const void *data = nullptr;
    size_t length = 0;
    if (sd_journal_get_data(j, name, &data, &length) < 0)
        return std::nullopt;
    const size_t prefix = std::strlen(name) + 1;
    if (length < prefix)
        return std::nullopt;
    return QByteArray(static_cast<const char *>(data) + prefix, qsizetype(length - prefix));
}

bool addMatch(sd_journal *j, const QByteArray &match) {
    return sd_journal_add_match(j, match.constData(), size_t(match.size())) >= 0;
}

} // namespace

std::optional<std::uint64_t> processStartMonotonicUsec(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The command name in parentheses may itself hold spaces and parentheses;
    // the fields after the last ')' are plain numbers. starttime is field 22,
    // the 20th after the name.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    bool ok = false;
    const qulonglong ticks = fields.at(19).toULongLong(&ok);
    const long perSecond = sysconf(_SC_CLK_TCK);
    if (!ok || perSecond <= 0)
        return std::nullopt;
    // The kernel counts start times on the boot-time clock (which includes time
    // spent suspended); the journal indexes on the monotonic clock (which does
    // not). Carry the start over through the current reading of both; any error
    // makes the start earlier, never later, so no entry of this run is missed.
    const std::uint64_t startBoot = std::uint64_t(ticks) * 1000000u / std::uint64_t(perSecond);
    const std::uint64_t nowBoot = clockUsec(CLOCK_BOOTTIME);
    const std::uint64_t nowMono = clockUsec(CLOCK_MONOTONIC);
    const std::uint64_t age = nowBoot > startBoot ? nowBoot - startBoot : 0;
    const std::uint64_t oneTick = 1000000u / std::uint64_t(perSecond);
    return nowMono > age + oneTick ? nowMono - age - oneTick : 0;
}

void SdJournalReader::Closer::operator()(sd_journal *j) const {
    sd_journal_close(j);
}

SdJournalReader::SdJournalReader(QString socketPath, pid_t pid, pid_t companion)
    : m_socketPath(std::move(socketPath)), m_pid(pid > 0 ? pid : getpid()), m_companion(companion) {
}

SdJournalReader::~SdJournalReader() = default;

std::optional<JournalReadError> SdJournalReader::open() {
    if (m_journal)
        return std::nullopt;
    if (!JournalSink(stderr, m_socketPath).journalListening())
        return JournalReadError{JournalReadError::Reason::NoDaemon, 0};

    sd_journal *raw = nullptr;
    if (const int r = sd_journal_open(&raw, SD_JOURNAL_LOCAL_ONLY); r < 0)
        return JournalReadError{JournalReadError::Reason::OpenFailed, -r};
    std::unique_ptr<sd_journal, Closer> journal(raw);

    if (sd_journal_has_runtime_files(raw) <= 0 && sd_journal_has_persistent_files(raw) <= 0)
        return whyNothingReadable();

    // Watch before reading anything, so that no entry can slip in between the
    // last read and the first wake-up.
    const int fd = sd_journal_get_fd(raw);
    if (fd < 0)
        return JournalReadError{JournalReadError::Reason::OpenFailed, -fd};

    // Messages longer than the default threshold (64 KiB) would come back cut.
    sd_journal_set_data_threshold(raw, 0);

    sd_id128_t boot{};
    const bool haveBoot = sd_id128_get_boot(&boot) >= 0;
    char bootText[SD_ID128_STRING_MAX] = {};
    if (haveBoot)
        sd_id128_to_string(boot, bootText);
    // Matches on different fields must all hold; two on the same field, either.
    if (!addMatch(raw, "_PID=" + QByteArray::number(m_pid)) ||
        (m_companion > 0 && !addMatch(raw, "_PID=" + QByteArray::number(m_companion))) ||
        !addMatch(raw, QByteArray("SYSLOG_IDENTIFIER=") + kSyslogIdentifier) ||
        (haveBoot && !addMatch(raw, QByteArray("_BOOT_ID=") + bootText)))
        return JournalReadError{JournalReadError::Reason::OpenFailed, EINVAL};

    // A process identifier is reused: without the start time, entries of an
    // earlier run that had the same one would show up here.
    const auto start = processStartMonotonicUsec(m_pid);
    if (haveBoot && start)
        sd_journal_seek_monotonic_usec(raw, boot, *start);
    else
        sd_journal_seek_head(raw);

    m_fd = fd;
    m_journal = std::move(journal);
    return std::nullopt;
}

std::optional<JournalReadError> SdJournalReader::whyNothingReadable() const {
    sd_id128_t machine{};
    char machineText[SD_ID128_STRING_MAX] = {};
    if (sd_id128_get_machine(&machine) >= 0)
        sd_id128_to_string(machine, machineText);
    for (const char *base : {"/run/log/journal", "/var/log/journal"}) {
        const QByteArray folder = QByteArray(base) + '/' + machineText;
        struct stat st {};
        if (stat(folder.constData(), &st) == 0 && access(folder.constData(), R_OK | X_OK) != 0 &&
            errno == EACCES)
            return JournalReadError{JournalReadError::Reason::NoPermission, EACCES};
        if (access(base, R_OK | X_OK) != 0 && errno == EACCES)
            return JournalReadError{JournalReadError::Reason::NoPermission, EACCES};
    }
    return JournalReadError{JournalReadError::Reason::NoFiles, ENOENT};
}

int SdJournalReader::wakeFd() const {
    return m_fd;
}

short SdJournalReader::wakeEvents() const {
    if (!m_journal)
        return 0;
    const int events = sd_journal_get_events(m_journal.get());
    return events > 0 ? short(events) : short(POLLIN);
}

std::vector<JournalRecord> SdJournalReader::readNew() {
    std::vector<JournalRecord> records;
    if (!m_journal)
        return records;
    sd_journal *j = m_journal.get();
    // Acknowledges the wake-up; the position in the journal survives rotation.
    sd_journal_process(j);
    while (sd_journal_next(j) > 0) {
        JournalRecord record;
        std::uint64_t usec = 0;
        if (sd_journal_get_realtime_usec(j, &usec) >= 0)
            record.realtimeUsec = std::int64_t(usec);
        bool ok = false;
        const int priority = fieldOf(j, "PRIORITY").value_or("6").toInt(&ok);
        record.priority = ok ? priority : 6;
        record.subsystem = QString::fromUtf8(fieldOf(j, "SUBSYSTEM").value_or(QByteArray()));
        record.category = QString::fromUtf8(fieldOf(j, "CATEGORY").value_or(QByteArray()));
        record.message = QString::fromUtf8(fieldOf(j, "MESSAGE").value_or(QByteArray()));
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace pellim
