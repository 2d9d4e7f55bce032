// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/ProcessDoors.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <dirent.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

#include <csignal>
#include <cstring>

namespace pellim {

namespace {

// A field of /proc/PID/status ("Tgid", "PPid"), or nothing when the process is gone.
std::optional<pid_t> statusField(pid_t pid, const QByteArray &field) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray prefix = field + ":";
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(prefix))
            return pid_t(line.mid(prefix.size()).trimmed().toInt());
    return std::nullopt;
}

// The fields of /proc/PID/stat after the name in parentheses, which may hold
// anything: the state, the parent, the process group, ...; none when it is gone.
QList<QByteArray> statFields(pid_t pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = file.readAll();
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ');
}

// The process group of `pid`.
std::optional<pid_t> groupOf(pid_t pid) {
    const QList<QByteArray> fields = statFields(pid);
    return fields.size() > 2 ? std::optional(pid_t(fields[2].toInt())) : std::nullopt;
}

// Calls `each` with every process's number in /proc; false when /proc cannot
// be listed.
bool forEachProcess(const std::function<void(pid_t)> &each) {
    const std::unique_ptr<DIR, int (*)(DIR *)> proc(::opendir("/proc"), ::closedir);
    if (!proc)
        return false;
    while (const dirent *entry = ::readdir(proc.get())) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid > 0 && !*end)
            each(pid_t(pid));
    }
    return true;
}

// The process a pidfd of the caller's stands for, from its fdinfo; 0 when the
// descriptor is no pidfd, -1 when the process has ended.
pid_t pidOfPidfd(pid_t caller, int fd) {
    QFile file(QStringLiteral("/proc/%1/fdinfo/%2").arg(caller).arg(fd));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("Pid:"))
            return pid_t(line.mid(4).trimmed().toInt());
    return 0;
}

// Every process's parent, as /proc shows them now; an ended one waiting to be
// reaped (Z) has none.
std::unordered_map<pid_t, pid_t> parents() {
    std::unordered_map<pid_t, pid_t> found;
    forEachProcess([&found](pid_t pid) {
        const QList<QByteArray> fields = statFields(pid);
        if (fields.size() > 1 && fields[0] != "Z")
            found[pid] = pid_t(fields[1].toInt());
    });
    return found;
}

} // namespace

void endProgram(pid_t first) {
    const pid_t guard = ::getpid(), command = ::getppid();
    for (int round = 0; round < 64; ++round) {
        const std::unordered_map<pid_t, pid_t> parent = parents();
        const auto programs = [&](pid_t pid) {
            for (int depth = 0; depth < 4096 && pid > 1; ++depth) {
                const auto up = parent.find(pid);
                if (pid == first || pid == guard || up == parent.end())
                    return pid == first;
                if (up->second == command)
                    return true; // left with the command: the program's, not the guard's
                pid = up->second;
            }
            return false;
        };
        bool any = false;
        for (const auto &[pid, up] : parent)
            if (pid != guard && pid != command && programs(pid))
                any = ::kill(pid, SIGKILL) == 0 || any;
        if (!any)
            return;
    }
}

bool OwnProcesses::own(pid_t pid, pid_t caller) const {
    const std::optional<pid_t> process = statusField(pid, "Tgid");
    const std::optional<pid_t> callerProcess = statusField(caller, "Tgid");
    if (!process || !callerProcess)
        return false;
    if (*process == *callerProcess)
        return true;
    if (m_first <= 0)
        return false;
    // Up through the parents: a process made far below is still one of them.
    pid_t at = *process;
    for (int depth = 0; at > 1 && depth < 4096; ++depth) {
        if (at == m_first)
            return true;
        const std::optional<pid_t> parent = statusField(at, "PPid");
        if (!parent)
            return false;
        at = *parent;
    }
    return false;
}

bool OwnProcesses::groupOwn(pid_t group, pid_t caller) const {
    bool all = true;
    const bool listed = forEachProcess(
        [&](pid_t pid) { all = all && !(groupOf(pid) == group && !own(pid, caller)); });
    return listed && all;
}

Reply OwnProcesses::answerSignal(const HeldCall &call, const unsigned long long args[6],
                                 pid_t callerTid) const {
    const auto reachable = [&](bool allowed) {
        return allowed ? Reply::goingOn() : Reply::result(EPERM);
    };
    if (call.op == HeldOp::SignalPidfd) {
        const pid_t pid = pidOfPidfd(callerTid, int(args[call.target]));
        return pid <= 0 ? Reply::goingOn() : reachable(own(pid, callerTid));
    }
    const pid_t target = pid_t(args[call.target != kNoArg ? call.target : call.thread]);
    if (call.target == kNoArg || target > 0) {
        if (!statusField(target, "Tgid"))
            return Reply::goingOn(); // nobody there: the kernel's ESRCH
        return reachable(own(target, callerTid));
    }
    if (target == -1)
        return Reply::result(EPERM); // every process the person has
    const std::optional<pid_t> group = target == 0 ? groupOf(callerTid) : -target;
    return reachable(group && groupOwn(*group, callerTid));
}

} // namespace pellim
