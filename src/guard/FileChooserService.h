// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/PortalRequest.h"
#include "journal/Log.h"
#include "panels/FileDialogs.h"
#include "sys/Result.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>

class QSocketNotifier;
class QTimer;
typedef struct sd_bus sd_bus;
typedef struct sd_bus_slot sd_bus_slot;
typedef struct sd_bus_message sd_bus_message;

namespace pellim {

// The file chooser portal the guard offers the program on the program's own
// bus (PrivateBus): org.freedesktop.portal.FileChooser, version 3, at
// /org/freedesktop/portal/desktop under org.freedesktop.portal.Desktop. Each
// OpenFile or SaveFile becomes a Request object the caller's Response comes
// from; a sound request is shown by the guard (`onRequest`), whose dialog
// grants the choice before the Response names it. Every other call on the
// bus gets an error at once: there is nothing else here.
// The guard's side is sd-bus, not QtDBus: it serves before the guard has a
// QApplication (from the guard's own poll loop, `pollFd`/`process`), and
// from Qt's event loop once there is one (`serveFromEventLoop`). Nothing in
// it waits for the program.
class FileChooserService {
public:
    // Answers one request: the response (0 chosen, 1 cancelled, 2 otherwise)
    // and what was chosen.
    using Answer = std::function<void(std::uint32_t response, const DialogChoice &choice)>;
    // Shows a request; what it returns is called should the program close the
    // request before it is answered.
    using Show =
        std::function<std::function<void()>(const FileChooserRequest &request, Answer answer)>;

    // Connects to the bus at `address` and asks for the portal's name there,
    // without waiting. `log` gets an entry for every request refused as
    // malformed, naming `program`.
    static Result<std::unique_ptr<FileChooserService>> start(const QByteArray &address,
                                                             LogHandle log, QString program);
    // Waits until the name is the guard's (5 s at most): the program is told
    // of its bus only then, so its first call finds the portal there.
    Outcome owned();
    ~FileChooserService();
    FileChooserService(const FileChooserService &) = delete;
    FileChooserService &operator=(const FileChooserService &) = delete;

    // Called for each sound request, on the thread that processes the bus.
    void onRequest(Show show) { m_show = std::move(show); }

    // Before the event loop: what to poll for, and how long at most (-1: no limit).
    pollfd pollFd() const;
    int timeoutMs() const;
    // Handles what has come in (a bounded amount at a time).
    void process();
    // From now on Qt's event loop serves the bus; call once a QApplication exists.
    void serveFromEventLoop();

    static int call(sd_bus_message *message, void *self, bool save);
    static int close(sd_bus_message *message, void *self);
    static int named(sd_bus_message *reply, void *self);

private:
    FileChooserService(LogHandle log, QString program);
    void respond(const std::string &path, std::uint32_t response, const DialogChoice &choice);
    void rearm();
    void sendEarlyAnswers();

    struct Request {
        sd_bus_slot *slot = nullptr;
        std::string sender;
        std::vector<DialogFilter> filters;
        std::function<void()> close;
    };

    sd_bus *m_bus = nullptr;
    LogHandle m_log;
    QString m_program;
    Show m_show;
    std::map<std::string, Request> m_requests; // by object path
    // Answers made while their request was being handled, sent when due.
    struct Early {
        std::string path;
        std::uint32_t response = 0;
        DialogChoice choice;
        std::uint64_t due = 0; // CLOCK_MONOTONIC, µs
    };
    std::vector<Early> m_early;
    std::string m_handling; // the request being handled now
    unsigned m_lastToken = 0;
    bool m_gone = false;
    int m_named = 0; // 1: the portal's name is the guard's; -1: refused
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    std::unique_ptr<QTimer> m_timer;
};

} // namespace pellim
