// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/RunningGrants.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <tuple>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pellim {

namespace {

constexpr char kHeader[] = "pellim-grants 1";
constexpr char kGrants[] = ".grants";
constexpr char kDoor[] = ".door";
// Past this a file is not one a guard wrote.
constexpr qsizetype kMostBytes = 1 << 20;
// How long a guard waits for a request once a peer has connected, and a
// client for the guard's answer.
constexpr int kGuardPatienceMs = 500;
constexpr int kClientPatienceMs = 2000;
// A request: 'R', who asks, and the path, in one packet.
constexpr std::size_t kMostRequest = 64 * 1024;

// "<pid>-<start>" from a name of the folder, whatever follows it ("." before
// it: a file being written). Nothing for a name that is not a guard's.
std::optional<std::pair<pid_t, std::uint64_t>> guardOfName(QByteArray name) {
    if (name.startsWith('.'))
        name.remove(0, 1);
    const qsizetype dash = name.indexOf('-');
    const qsizetype dot = name.indexOf('.');
    if (dash <= 0 || dot <= dash)
        return std::nullopt;
    bool pidOk = false, startOk = false;
    const int pid = name.left(dash).toInt(&pidOk);
    const qulonglong start = name.mid(dash + 1, dot - dash - 1).toULongLong(&startOk);
    if (!pidOk || !startOk || pid <= 0)
        return std::nullopt;
    return std::pair{pid_t(pid), std::uint64_t(start)};
}

bool alive(pid_t pid, std::uint64_t started) {
    return processStarted(pid) == started;
}

QByteArray encoded(const QByteArray &bytes) {
    return bytes.toPercentEncoding();
}

// A guard's file as it wrote it, or nothing: every line is known, the guard
// named in it is the one its name says.
std::optional<RunningProgram> parsed(const QByteArray &text, pid_t pid, std::uint64_t started) {
    QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 4 || !lines.back().isEmpty() || lines[0] != kHeader ||
        lines[1] != "guard " + QByteArray::number(pid) + ' ' + QByteArray::number(started))
        return std::nullopt;
    lines.removeLast();
    const QList<QByteArray> program = lines[2].split(' ');
    if (program.size() != 3 || program[0] != "program")
        return std::nullopt;
    RunningProgram running;
    running.guard = pid;
    running.started = started;
    running.id = QString::fromUtf8(QByteArray::fromPercentEncoding(program[1]));
    running.name = QString::fromUtf8(QByteArray::fromPercentEncoding(program[2]));
    if (running.id.isEmpty() || running.name.isEmpty())
        return std::nullopt;
    for (qsizetype i = 3; i < lines.size(); ++i) {
        const QList<QByteArray> chosen = lines[i].split(' ');
        if (chosen.size() != 3 || chosen[0] != "chosen" ||
            (chosen[1] != "file" && chosen[1] != "folder"))
            return std::nullopt;
        const QByteArray path = QByteArray::fromPercentEncoding(chosen[2]);
        if (!path.startsWith('/'))
            return std::nullopt;
        running.chosen.push_back({path, chosen[1] == "folder"});
    }
    return running;
}

// The file `name` in the folder `dir`, if it is a regular file of the person's.
std::optional<QByteArray> readOwn(int dir, const char *name) {
    const UniqueFd fd(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.isValid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || st.st_size > kMostBytes)
        return std::nullopt;
    QByteArray text(qsizetype(st.st_size), Qt::Uninitialized);
    const ssize_t got = ::read(fd.get(), text.data(), std::size_t(text.size()));
    if (got != ssize_t(text.size()))
        return std::nullopt;
    return text;
}

bool waitFor(int fd, short events, int patienceMs) {
    pollfd wait{fd, events, 0};
    int rc;
    do
        rc = ::poll(&wait, 1, patienceMs);
    while (rc < 0 && errno == EINTR);
    return rc == 1 && (wait.revents & events);
}

} // namespace

std::optional<std::uint64_t> processStarted(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The name in parentheses may hold anything; starttime is the 20th field
    // after it.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    const QList<QByteArray> fields =
        close < 0 ? QList<QByteArray>() : line.mid(close + 2).split(' ');
    bool ok = false;
    const qulonglong ticks = fields.size() > 19 ? fields[19].toULongLong(&ok) : 0;
    return ok ? std::optional(std::uint64_t(ticks)) : std::nullopt;
}

Result<QByteArray> RunningGrants::folder(bool make) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.startsWith('/'))
        return Failure{QStringLiteral("there is no runtime folder (XDG_RUNTIME_DIR)")};
    const QByteArray path = runtime + "/pellim-grants";
    if (make && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return Failure{QStringLiteral("cannot make ") + QFile::decodeName(path), errno};
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return Failure{QStringLiteral("cannot reach ") + QFile::decodeName(path), errno};
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
        return Failure{QFile::decodeName(path) +
                       QStringLiteral(" is not a folder only its owner may enter")};
    return path;
}

std::vector<RunningProgram> RunningGrants::programs() const {
    std::vector<RunningProgram> found;
    DIR *dir = ::opendir(m_folder.constData());
    if (!dir)
        return found;
    const std::unique_ptr<DIR, int (*)(DIR *)> owner(dir, ::closedir);
    std::vector<QByteArray> doors;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const std::optional<std::pair<pid_t, std::uint64_t>> guard = guardOfName(name);
        if (!guard)
            continue;
        if (!alive(guard->first, guard->second)) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0); // a guard that is gone
            continue;
        }
        if (name.endsWith(kDoor))
            doors.push_back(m_folder + '/' + name);
        if (name.startsWith('.') || !name.endsWith(kGrants))
            continue;
        const std::optional<QByteArray> text = readOwn(::dirfd(dir), entry->d_name);
        if (std::optional<RunningProgram> program =
                text ? parsed(*text, guard->first, guard->second) : std::nullopt)
            found.push_back(std::move(*program));
    }
    for (RunningProgram &program : found) {
        const QByteArray door = m_folder + '/' + QByteArray::number(program.guard) + '-' +
                                QByteArray::number(program.started) + kDoor;
        if (std::find(doors.begin(), doors.end(), door) != doors.end())
            program.door = door;
    }
    std::sort(found.begin(), found.end(), [](const RunningProgram &a, const RunningProgram &b) {
        return std::tie(a.name, a.guard) < std::tie(b.name, b.guard);
    });
    return found;
}

Outcome RunningGrants::revoke(const RunningProgram &program, const QByteArray &path,
                              RevokedBy by) const {
    const QString whose = QStringLiteral("the guard of ") + program.name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (program.door.isEmpty() || std::size_t(program.door.size()) >= sizeof address.sun_path)
        return Failure{whose + QStringLiteral(" takes no requests")};
    std::memcpy(address.sun_path, program.door.constData(), std::size_t(program.door.size()));
    const UniqueFd s(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.isValid() ||
        ::connect(s.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return Failure{QStringLiteral("cannot reach ") + whose, errno};
    // The door must be that guard's own, not one left in its place.
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(s.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        peer.pid != program.guard || peer.uid != ::geteuid() ||
        !alive(program.guard, program.started))
        return Failure{whose + QStringLiteral(" has ended")};
    const QByteArray request = QByteArray("R") + char(by) + path;
    if (::send(s.get(), request.constData(), std::size_t(request.size()), MSG_NOSIGNAL) !=
        ssize_t(request.size()))
        return Failure{QStringLiteral("cannot ask ") + whose, errno};
    char answer = 0;
    if (!waitFor(s.get(), POLLIN, kClientPatienceMs) || ::recv(s.get(), &answer, 1, 0) != 1)
        return Failure{whose + QStringLiteral(" did not answer")};
    if (answer != 'y')
        return Failure{program.name + QStringLiteral(" holds nothing chosen there")};
    return done();
}

GrantsPublisher::GrantsPublisher(QByteArray folder, Program program, Source source, Revoke revoke)
    : m_folder(std::move(folder)),
      m_base(QByteArray::number(::getpid()) + '-' +
             QByteArray::number(processStarted(::getpid()).value_or(0))),
      m_program(std::move(program)), m_source(std::move(source)), m_revoke(std::move(revoke)) {}

GrantsPublisher::~GrantsPublisher() {
    if (m_serving.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t told = ::write(m_stop.get(), &one, sizeof one);
        m_serving.join();
    }
    withdraw();
}

void GrantsPublisher::withdraw() {
    ::unlink((m_folder + '/' + m_base + kGrants).constData());
    ::unlink((m_folder + '/' + m_base + kDoor).constData());
}

Outcome GrantsPublisher::publish() {
    const std::lock_guard lock(m_mutex);
    const std::vector<ChosenItem> chosen = m_source();
    if (!m_written && chosen.empty())
        return done();
    // Without a door the choices are still shown, only not revoked from outside.
    Outcome door = done();
    if (!m_doorTried) {
        m_doorTried = true;
        door = openDoor();
    }
    QByteArray text =
        QByteArray(kHeader) + "\nguard " + QByteArray(m_base).replace('-', ' ') + '\n';
    text +=
        "program " + encoded(m_program.id.toUtf8()) + ' ' + encoded(m_program.name.toUtf8()) + '\n';
    for (const ChosenItem &item : chosen)
        text +=
            QByteArray("chosen ") + (item.folder ? "folder " : "file ") + encoded(item.path) + '\n';
    QByteArray temporary = m_folder + "/." + m_base + kGrants + ".XXXXXX";
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.isValid())
        return Failure{QStringLiteral("cannot write in ") + QFile::decodeName(m_folder), errno};
    const QByteArray final = m_folder + '/' + m_base + kGrants;
    if (!writeAll(fd.get(), text) || fd.close() != 0 ||
        ::rename(temporary.constData(), final.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return Failure{QStringLiteral("cannot write ") + QFile::decodeName(final), error};
    }
    m_written = true;
    return door;
}

Outcome GrantsPublisher::openDoor() {
    const QByteArray path = m_folder + '/' + m_base + kDoor;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(path.size()) >= sizeof address.sun_path)
        return Failure{QStringLiteral("the runtime folder's name is too long for a socket")};
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    UniqueFd door(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    m_stop = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!door.isValid() || !m_stop.isValid() ||
        ::bind(door.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(door.get(), 4) != 0)
        return Failure{QStringLiteral("cannot open ") + QFile::decodeName(path), errno};
    m_door = std::move(door);
    m_serving = std::thread(&GrantsPublisher::serve, this);
    return done();
}

void GrantsPublisher::serve() {
    for (;;) {
        pollfd ready[2] = {{m_door.get(), POLLIN, 0}, {m_stop.get(), POLLIN, 0}};
        if (::poll(ready, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (ready[1].revents)
            return;
        const UniqueFd connection(
            ::accept4(m_door.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (connection.isValid())
            answer(connection.get());
    }
}

// One request and its answer; a peer of another user, or one that sends
// nothing in time, is dropped unanswered.
void GrantsPublisher::answer(int connection) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        peer.uid != ::geteuid() || !waitFor(connection, POLLIN, kGuardPatienceMs))
        return;
    QByteArray request(qsizetype(kMostRequest), Qt::Uninitialized);
    const ssize_t got = ::recv(connection, request.data(), kMostRequest, MSG_DONTWAIT);
    if (got < 3 || request[0] != 'R' ||
        (request[1] != char(RevokedBy::FolderAccess) && request[1] != char(RevokedBy::Command)))
        return;
    const bool revoked = m_revoke(request.mid(2, got - 2), RevokedBy(request[1]));
    const char reply = revoked ? 'y' : 'n';
    [[maybe_unused]] const ssize_t sent =
        ::send(connection, &reply, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

} // namespace pellim
