// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/JournalSink.h"

#include "sys/Descriptor.h"

#include <QDateTime>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>

namespace pellim {

namespace {

// Whether a memfd may be executed (Linux 6.3; older kernels refuse both flags).
// A memfd made with MFD_NOEXEC_SEAL carries F_SEAL_EXEC as well, and Debian
// 12's journald (systemd 252) takes a memfd from a user other than root only
// when its seals are exactly the four below: it would drop the entry unseen.
// So MFD_EXEC, which adds no seal; then no flag (an older kernel); then
// MFD_NOEXEC_SEAL, where vm.memfd_noexec=2 refuses both others.
constexpr std::array<unsigned int, 3> kMemfdExecFlags = {0x0010U, 0U, 0x0008U};

const char *levelName(LogLevel level) {
    return level == LogLevel::Error ? "error" : "info";
}

QByteArray escapedForLine(const QString &text) {
    return escapeControlCharacters(text, true).toUtf8();
}

int openSocket() {
    return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

std::optional<sockaddr_un> addressOf(const QString &socketPath) {
    const QByteArray path = socketPath.toLocal8Bit();
    sockaddr_un address{};
    if (path.isEmpty() || std::size_t(path.size()) >= sizeof(address.sun_path))
        return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    return address;
}

void appendField(QByteArray &out, const char *name, const QByteArray &value) {
    out += name;
    if (!value.contains('\n')) {
        out += '=';
        out += value;
        out += '\n';
        return;
    }
    // A line feed would end the field early, so the value goes with its length.
    out += '\n';
    auto length = std::uint64_t(value.size());
    for (int i = 0; i < 8; ++i, length >>= 8)
        out += char(length & 0xffU);
    out += value;
    out += '\n';
}

constexpr std::array<const char *, 5> kOwnFields = {"MESSAGE", "PRIORITY", "SYSLOG_IDENTIFIER",
                                                    "SUBSYSTEM", "CATEGORY"};

// A name the journal takes as it is: upper-case letters, digits and '_', at most
// 64 bytes, not starting with a digit or with '_' (the daemon's own, trusted
// fields). Nor one of the five every entry has: an extra MESSAGE would make a
// second message of the entry.
bool extraFieldName(const QByteArray &name) {
    if (name.isEmpty() || name.size() > 64 || name[0] == '_' || (name[0] >= '0' && name[0] <= '9'))
        return false;
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return std::none_of(kOwnFields.begin(), kOwnFields.end(),
                        [&](const char *own) { return name == own; });
}

// The entry in the journal's native form: these five fields, then the entry's
// extra ones whose names the journal takes. The readers rely on them, and no
// source location is wanted.
QByteArray nativeEntry(const LogEntry &entry) {
    QByteArray out;
    appendField(out, kOwnFields[0], entry.message.toUtf8());
    appendField(out, kOwnFields[1], entry.level == LogLevel::Error ? "3" : "6");
    appendField(out, kOwnFields[2], kSyslogIdentifier);
    appendField(out, kOwnFields[3], entry.subsystem.toUtf8());
    appendField(out, kOwnFields[4], entry.category.toUtf8());
    for (const auto &[name, value] : entry.fields)
        if (extraFieldName(name))
            appendField(out, name.constData(), value.toUtf8());
    return out;
}

// How long, in milliseconds, an entry waits for room in a full queue.
constexpr int kPatienceMs = 200;

// Sent on the connected socket, with no address: a confined process may not
// name an address on a local socket, and a datagram carries its sender's
// process id either way.
// One iovec and nothing else goes out with send(), which is not held at all:
// even a confined Pellim whose guard has died can say so.
bool sendOnce(int fd, const msghdr &message) {
    const bool plain = message.msg_iovlen == 1 && !message.msg_control;
    // MSG_DONTWAIT: a full queue answers EAGAIN instead of waiting for the daemon.
    for (;;) {
        const ssize_t sent = plain ? ::send(fd, message.msg_iov->iov_base, message.msg_iov->iov_len,
                                            MSG_DONTWAIT | MSG_NOSIGNAL)
                                   : ::sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool connectTo(int fd, const sockaddr_un &address) {
    return ::connect(fd, reinterpret_cast<const sockaddr *>(&address), socklen_t(sizeof address)) ==
           0;
}

// An entry larger than a datagram may be goes in a sealed memfd passed with
// SCM_RIGHTS, the way the journal's own client does it; the daemon reads only
// sealed ones, since the sender could change them under it otherwise.
bool sendAsMemfd(int fd, const QByteArray &entry) {
    int memfd = -1;
    for (const unsigned int exec : kMemfdExecFlags) {
        memfd = ::memfd_create("pellim-journal", MFD_CLOEXEC | MFD_ALLOW_SEALING | exec);
        if (memfd >= 0 || (errno != EINVAL && errno != EACCES))
            break;
    }
    const UniqueFd data(memfd);
    if (data.get() < 0)
        return false;
    if (!writeAll(data.get(), entry))
        return false;
    constexpr int sealed = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
    if (::fcntl(data.get(), F_ADD_SEALS, sealed) < 0)
        return false;

    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    const int passed = data.get();
    std::memcpy(CMSG_DATA(header), &passed, sizeof passed);
    return sendOnce(fd, message);
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
    : m_fallback(fallback), m_socketPath(std::move(socketPath)), m_socket(openSocket()) {}

JournalSink::~JournalSink() {
    if (m_socket >= 0)
        ::close(m_socket);
}

bool JournalSink::journalListening() const {
    // A socket file can outlive its daemon, so only a connect() tells. This is
    // a datagram socket: connect() only checks that someone is bound there and
    // never waits.
    const auto address = addressOf(m_socketPath);
    if (!address)
        return false;
    const UniqueFd fd(openSocket());
    return fd.get() >= 0 && ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&*address),
                                      socklen_t(sizeof *address)) == 0;
}

bool JournalSink::send(const QByteArray &entry) const {
    const auto address = addressOf(m_socketPath);
    if (!address)
        return false;
    // The socket is made once; should that have failed (no descriptors left at
    // start-up), each entry tries with one of its own.
    const UniqueFd own(m_socket >= 0 ? -1 : openSocket());
    const int fd = m_socket >= 0 ? m_socket : own.get();
    if (fd < 0)
        return false;
    // Connected once. A daemon started again since has a new socket at the same
    // path: the old one refuses (ECONNREFUSED), and the path is connected again.
    const bool shared = fd == m_socket;
    if ((!shared || !m_connected) && !connectTo(fd, *address))
        return false;
    if (shared)
        m_connected = true;

    iovec part{const_cast<char *>(entry.constData()), std::size_t(entry.size())};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    bool sent = sendOnce(fd, message);
    if (!sent && (errno == ECONNREFUSED || errno == ENOTCONN) && connectTo(fd, *address))
        sent = sendOnce(fd, message);
    if (sent) {
        m_stalled = false;
        return true;
    }
    if (errno == EAGAIN && !m_stalled) {
        // A full queue. A daemon that is reading empties it within a few
        // milliseconds, as in a burst of a hundred entries from one folder
        // pick; one that has stopped never does. Wait a little for the first
        // kind, and only once for the second: until it takes an entry again,
        // the next ones go straight to the fallback.
        for (int waited = 0; waited < kPatienceMs; ++waited) {
            const timespec pause{0, 1000 * 1000};
            ::nanosleep(&pause, nullptr);
            if (sendOnce(fd, message))
                return true;
            if (errno != EAGAIN)
                break;
        }
        m_stalled = true;
        return false;
    }
    // EMSGSIZE: larger than the socket's send buffer. ENOBUFS: the kernel could
    // not find that much memory for one datagram. A memfd needs neither. Every
    // other error (EAGAIN from a daemon that is not reading, ECONNREFUSED from
    // one that is gone) means the daemon will not take the entry now.
    if (errno == EMSGSIZE || errno == ENOBUFS)
        return sendAsMemfd(fd, entry);
    return false;
}

void JournalSink::write(const LogEntry &entry) {
    if (send(nativeEntry(entry)) || !m_fallback)
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
