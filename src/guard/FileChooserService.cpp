// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/FileChooserService.h"

#include "portal/PortalResponse.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <systemd/sd-bus.h>

namespace pellim {

namespace {

constexpr char kName[] = "org.freedesktop.portal.Desktop";
constexpr char kObject[] = "/org/freedesktop/portal/desktop";
constexpr char kChooser[] = "org.freedesktop.portal.FileChooser";
constexpr char kRequest[] = "org.freedesktop.portal.Request";
constexpr std::uint32_t kVersion = 3;
// Owning the name waits for the daemon, which the guard has just started.
constexpr std::uint64_t kStartPatienceUs = 5 * 1000 * 1000;
// Messages handled per wake-up: a program that floods its bus does not keep
// the guard's windows from being drawn.
constexpr int kBatch = 64;
constexpr std::uint32_t kOtherwise = 2;
// An answer made while its request is still being handled (malformed, no
// display, no room on screen) waits this long: Qt's client listens for the
// Response only once the call's reply has reached it, and would never hear one
// sent straight after the reply.
constexpr std::uint64_t kEarlyAnswerDelayUs = 250 * 1000;

std::uint64_t nowUs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1000000 + std::uint64_t(now.tv_nsec) / 1000;
}

int version(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *,
            sd_bus_error *) {
    return sd_bus_message_append(reply, "u", kVersion);
}

int openFile(sd_bus_message *message, void *self, sd_bus_error *) {
    return FileChooserService::call(message, self, false);
}

int saveFile(sd_bus_message *message, void *self, sd_bus_error *) {
    return FileChooserService::call(message, self, true);
}

int nameReply(sd_bus_message *reply, void *self, sd_bus_error *) {
    return FileChooserService::named(reply, self);
}

int closeRequest(sd_bus_message *message, void *self, sd_bus_error *) {
    return FileChooserService::close(message, self);
}

const sd_bus_vtable kChooserTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("version", "u", version, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("OpenFile", "ssa{sv}", "o", openFile, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SaveFile", "ssa{sv}", "o", saveFile, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable kRequestTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Close", "", "", closeRequest, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("Response", "ua{sv}", 0),
    SD_BUS_VTABLE_END,
};

Failure busFailure(const char *step, int rc) {
    return Failure{QString::fromLatin1(step), -rc};
}

} // namespace

FileChooserService::FileChooserService(LogHandle log, QString program)
    : m_log(std::move(log)), m_program(std::move(program)) {}

Result<std::unique_ptr<FileChooserService>>
FileChooserService::start(const QByteArray &address, LogHandle log, QString program) {
    std::unique_ptr<FileChooserService> service(
        new FileChooserService(std::move(log), std::move(program)));
    sd_bus *bus = nullptr;
    int rc = sd_bus_new(&bus);
    if (rc < 0)
        return busFailure("cannot make a bus connection", rc);
    service->m_bus = bus;
    if ((rc = sd_bus_set_address(bus, address.constData())) < 0 ||
        (rc = sd_bus_set_bus_client(bus, 1)) < 0 ||
        (rc = sd_bus_set_method_call_timeout(bus, kStartPatienceUs)) < 0 ||
        (rc = sd_bus_start(bus)) < 0)
        return busFailure("cannot connect to the program's bus", rc);
    if ((rc = sd_bus_add_object_vtable(bus, nullptr, kObject, kChooser, kChooserTable,
                                       service.get())) < 0)
        return busFailure("cannot offer the file chooser", rc);
    // Never given up: with no replacement allowed, nobody else can own it
    // while the guard lives. Asked now, answered while the program confines
    // itself.
    if ((rc = sd_bus_request_name_async(bus, nullptr, kName, 0, nameReply, service.get())) < 0)
        return busFailure("cannot own the file chooser portal's name", rc);
    return service;
}

int FileChooserService::named(sd_bus_message *reply, void *self) {
    constexpr std::uint32_t kPrimaryOwner = 1;
    std::uint32_t owner = 0;
    const bool owned = !sd_bus_message_is_method_error(reply, nullptr) &&
                       sd_bus_message_read(reply, "u", &owner) > 0 && owner == kPrimaryOwner;
    static_cast<FileChooserService *>(self)->m_named = owned ? 1 : -1;
    return 1;
}

Outcome FileChooserService::owned() {
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    while (m_named == 0) {
        int rc = sd_bus_process(m_bus, nullptr);
        if (rc > 0)
            continue;
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t spent = std::uint64_t(now.tv_sec - start.tv_sec) * 1000000 +
                                    std::uint64_t(now.tv_nsec / 1000) -
                                    std::uint64_t(start.tv_nsec / 1000);
        if (rc == 0 && spent < kStartPatienceUs)
            rc = sd_bus_wait(m_bus, kStartPatienceUs - spent);
        if (rc < 0)
            return busFailure("cannot own the file chooser portal's name", rc);
        if (rc == 0 && spent >= kStartPatienceUs)
            return Failure{QStringLiteral("its bus did not answer within 5 s")};
    }
    if (m_named < 0)
        return Failure{QStringLiteral("cannot own the file chooser portal's name")};
    return done();
}

FileChooserService::~FileChooserService() {
    for (auto &[path, request] : m_requests)
        sd_bus_slot_unref(request.slot);
    sd_bus_flush_close_unref(m_bus);
}

pollfd FileChooserService::pollFd() const {
    const int events = m_gone ? 0 : sd_bus_get_events(m_bus);
    return pollfd{m_gone ? -1 : sd_bus_get_fd(m_bus), short(events < 0 ? 0 : events), 0};
}

int FileChooserService::timeoutMs() const {
    std::uint64_t until = 0;
    if (m_gone || sd_bus_get_timeout(m_bus, &until) <= 0)
        until = UINT64_MAX;
    for (const Early &early : m_early)
        until = std::min(until, early.due);
    if (m_gone || until == UINT64_MAX)
        return -1;
    const std::uint64_t now = nowUs();
    return until <= now ? 0 : int(std::min<std::uint64_t>((until - now + 999) / 1000, 60000));
}

void FileChooserService::process() {
    if (m_gone)
        return;
    sendEarlyAnswers();
    int rc = 1;
    for (int handled = 0; handled < kBatch && rc > 0; ++handled)
        rc = sd_bus_process(m_bus, nullptr);
    if (rc < 0) {
        // The daemon is the guard's own child: it ends only when killed.
        m_gone = true;
        m_log.write(LogLevel::Error,
                    QStringLiteral("Folder guard: the file chooser of %1 is gone: %2")
                        .arg(m_program, errnoText(-rc)));
    }
    rearm();
}

void FileChooserService::serveFromEventLoop() {
    if (m_read || m_gone)
        return;
    const int fd = sd_bus_get_fd(m_bus);
    m_read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    m_write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    m_timer = std::make_unique<QTimer>();
    m_timer->setSingleShot(true);
    for (QObject *source :
         {static_cast<QObject *>(m_read.get()), static_cast<QObject *>(m_write.get())})
        QObject::connect(static_cast<QSocketNotifier *>(source), &QSocketNotifier::activated,
                         source, [this] { process(); });
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { process(); });
    rearm();
}

// After each turn: write only while something waits to go out, and come back
// when sd-bus has a deadline or messages already read.
void FileChooserService::rearm() {
    if (!m_read)
        return;
    if (m_gone) {
        m_read->setEnabled(false);
        m_write->setEnabled(false);
        m_timer->stop();
        return;
    }
    const int events = sd_bus_get_events(m_bus);
    m_write->setEnabled(events > 0 && (events & POLLOUT));
    const int wait = timeoutMs();
    if (wait < 0)
        m_timer->stop();
    else
        m_timer->start(wait);
}

int FileChooserService::call(sd_bus_message *message, void *self, bool save) {
    auto *service = static_cast<FileChooserService *>(self);
    const char *sender = sd_bus_message_get_sender(message);
    if (!sender)
        return -EINVAL;
    Result<FileChooserRequest> request = readFileChooserRequest(message, save);
    const QString token = request && !request->token.isEmpty()
                              ? request->token
                              : QStringLiteral("pellim%1").arg(++service->m_lastToken);
    const std::string path = portalRequestPath(QString::fromUtf8(sender), token).toStdString();
    if (service->m_requests.count(path) != 0)
        return sd_bus_reply_method_errorf(message, "org.freedesktop.portal.Error.Failed",
                                          "A request with this handle_token is still open");
    Request &made = service->m_requests[path];
    made.sender = sender;
    int rc = sd_bus_add_object_vtable(service->m_bus, &made.slot, path.c_str(), kRequest,
                                      kRequestTable, service);
    if (rc >= 0)
        rc = sd_bus_reply_method_return(message, "o", path.c_str());
    if (rc < 0) {
        sd_bus_slot_unref(made.slot);
        service->m_requests.erase(path);
        return rc;
    }
    service->m_handling = path;
    const struct Handled {
        FileChooserService *service;
        ~Handled() { service->m_handling.clear(); }
    } handled{service};
    if (!request) {
        service->m_log.write(LogLevel::Error,
                             QStringLiteral("Folder guard: refused %1's file dialog request: %2")
                                 .arg(service->m_program, request.failure().text()));
        service->respond(path, kOtherwise, {});
        return 1;
    }
    made.filters = request->filters;
    if (!service->m_show) {
        service->respond(path, kOtherwise, {});
        return 1;
    }
    std::function<void()> close = service->m_show(
        *request, [service, path](std::uint32_t response, const DialogChoice &choice) {
            service->respond(path, response, choice);
        });
    if (const auto shown = service->m_requests.find(path); shown != service->m_requests.end())
        shown->second.close = std::move(close);
    return 1;
}

int FileChooserService::close(sd_bus_message *message, void *self) {
    auto *service = static_cast<FileChooserService *>(self);
    const auto found = service->m_requests.find(sd_bus_message_get_path(message));
    // Only the program that asked may close its request; no Response follows.
    if (found != service->m_requests.end() &&
        found->second.sender == sd_bus_message_get_sender(message)) {
        const std::function<void()> closeDialog = std::move(found->second.close);
        sd_bus_slot_unref(found->second.slot);
        service->m_requests.erase(found);
        if (closeDialog)
            closeDialog(); // its answer finds the request gone
    }
    return sd_bus_reply_method_return(message, "");
}

// The Response goes to the caller alone, and the Request object goes with it.
// A request closed or answered before is not answered again.
void FileChooserService::respond(const std::string &path, std::uint32_t response,
                                 const DialogChoice &choice) {
    const auto found = m_requests.find(path);
    if (found == m_requests.end() || m_gone)
        return;
    if (path == m_handling) {
        m_early.push_back(Early{path, response, choice, nowUs() + kEarlyAnswerDelayUs});
        rearm();
        return;
    }
    sd_bus_message *signal = nullptr;
    int rc = sd_bus_message_new_signal(m_bus, &signal, path.c_str(), kRequest, "Response");
    if (rc >= 0) {
        rc = sd_bus_message_set_destination(signal, found->second.sender.c_str());
        rc = rc < 0 ? rc
                    : appendResponse(signal, response, choice.chosen, choice.filter,
                                     found->second.filters);
        rc = rc < 0 ? rc : sd_bus_send(m_bus, signal, nullptr);
    }
    sd_bus_message_unref(signal);
    if (rc < 0)
        m_log.write(LogLevel::Error,
                    QStringLiteral("Folder guard: cannot answer %1's file dialog request: %2")
                        .arg(m_program, errnoText(-rc)));
    sd_bus_slot_unref(found->second.slot);
    m_requests.erase(found);
    rearm();
}

// The answers made early whose wait is over.
void FileChooserService::sendEarlyAnswers() {
    const std::uint64_t now = nowUs();
    std::vector<Early> due;
    std::erase_if(m_early, [&](Early &early) {
        if (early.due > now)
            return false;
        due.push_back(std::move(early));
        return true;
    });
    for (const Early &early : due)
        respond(early.path, early.response, early.choice);
}

} // namespace pellim
