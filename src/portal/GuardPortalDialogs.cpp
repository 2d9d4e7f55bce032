// SPDX-License-Identifier: GPL-3.0-or-later
#include "portal/GuardPortalDialogs.h"

#include "files/FileUrl.h"
#include "panels/GuardWindow.h"
#include "portal/PortalResponse.h"
#include "portal/ResponseListener.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace pellim {

namespace {

const QString kConnection = QStringLiteral("pellim-guard-portal");
// The guard takes a request at once; a guard that has not within this long
// will not, and the person hears of it rather than waiting on nothing.
constexpr int kAnswerMs = 5000;

} // namespace

struct GuardPortalDialogs::Pending {
    std::uint64_t serial = 0;
    bool folder = false;
    QString what; // "the Save dialog", for the entry
    QString request;
    DialogCompletion completion;
    std::unique_ptr<ResponseListener> listener;
    // The connection that took the request (from its reply), the only one
    // believed; a Response heard before that waits here.
    QString owner;
    std::optional<QDBusMessage> early;
};

struct GuardPortalDialogs::Bus {
    explicit Bus(const QByteArray &address)
        : connection(QDBusConnection::connectToBus(QString::fromLatin1(address), kConnection)) {}
    ~Bus() {
        for (const auto &dialog : pending)
            disconnect(*dialog);
        QDBusConnection::disconnectFromBus(kConnection);
    }
    void disconnect(Pending &dialog) {
        if (dialog.listener)
            connection.disconnect(QString(), dialog.request, kPortalRequest,
                                  QStringLiteral("Response"), dialog.listener.get(),
                                  SLOT(response(QDBusMessage)));
    }
    Pending *find(std::uint64_t serial) const {
        const auto found = std::find_if(pending.begin(), pending.end(),
                                        [serial](const auto &p) { return p->serial == serial; });
        return found == pending.end() ? nullptr : found->get();
    }
    // The dialog `serial` names while it waits for its answer, taken from
    // those waiting; none once it has had one.
    std::unique_ptr<Pending> take(std::uint64_t serial) {
        const auto found = std::find_if(pending.begin(), pending.end(),
                                        [serial](const auto &p) { return p->serial == serial; });
        if (found == pending.end())
            return nullptr;
        std::unique_ptr<Pending> taken = std::move(*found);
        pending.erase(found);
        disconnect(*taken);
        return taken;
    }

    QDBusConnection connection;
    std::vector<std::unique_ptr<Pending>> pending;
    // Receives every reply: the replies of dialogs still asked for go with it.
    QObject context;
};

GuardPortalDialogs::GuardPortalDialogs(QByteArray address, LogHandle log)
    : m_address(std::move(address)), m_log(std::move(log)) {}

GuardPortalDialogs::~GuardPortalDialogs() = default;

void GuardPortalDialogs::beginSave(QWidget *parent, const SaveDialogOptions &options,
                                   DialogCompletion completion) {
    auto dialog = std::make_unique<Pending>();
    dialog->what = QStringLiteral("the Save dialog");
    dialog->completion = std::move(completion);
    QVariantMap asked;
    if (!options.suggestedName.isEmpty())
        asked.insert(QStringLiteral("current_name"), options.suggestedName);
    call(std::move(dialog), QStringLiteral("SaveFile"), dialogTitle(options), asked, parent);
}

void GuardPortalDialogs::beginOpen(QWidget *parent, const OpenDialogOptions &options,
                                   DialogCompletion completion) {
    auto dialog = std::make_unique<Pending>();
    dialog->folder = options.canChooseDirectories && !options.canChooseFiles;
    dialog->what =
        dialog->folder ? QStringLiteral("the folder dialog") : QStringLiteral("the Open dialog");
    dialog->completion = std::move(completion);
    QVariantMap asked;
    if (dialog->folder)
        asked.insert(QStringLiteral("directory"), true);
    call(std::move(dialog), QStringLiteral("OpenFile"), dialogTitle(options), asked, parent);
}

// The title is the one the guard knows Pellim's dialog by; the guard shapes
// the dialog from it, and from the suggested name, and from nothing else.
void GuardPortalDialogs::call(std::unique_ptr<Pending> dialog, const QString &method,
                              const QString &title, QVariantMap options, QWidget *parent) {
    if (!m_bus)
        m_bus = std::make_unique<Bus>(m_address);
    dialog->serial = ++m_lastSerial;
    const std::uint64_t serial = dialog->serial;
    const QString token = QStringLiteral("pellim%1").arg(serial);
    Pending &asked = *m_bus->pending.emplace_back(std::move(dialog));
    // A failure is heard later, as from a dialog: the caller has not yet returned.
    const auto fail = [this, serial](QString why) {
        QTimer::singleShot(0, &m_bus->context, [this, serial, why] { failed(serial, why); });
    };
    if (!m_bus->connection.isConnected()) {
        fail(m_address.isEmpty() ? QStringLiteral("Pellim has no session bus")
                                 : m_bus->connection.lastError().message());
        return;
    }
    asked.request = portalRequestPath(m_bus->connection.baseService(), token);
    // Listening before the call: the Response may come before the call's
    // reply. From any sender: naming the portal's well-known name would have
    // QtDBus ask for its owner, and wait for the answer.
    asked.listener = std::make_unique<ResponseListener>(
        [this, serial](const QDBusMessage &m) { heard(serial, m); });
    if (!m_bus->connection.connect(QString(), asked.request, kPortalRequest,
                                   QStringLiteral("Response"), asked.listener.get(),
                                   SLOT(response(QDBusMessage)))) {
        asked.listener.reset();
        fail(QStringLiteral("cannot listen for its answer"));
        return;
    }
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("modal"), false);
    QDBusMessage message =
        QDBusMessage::createMethodCall(kPortalService, kPortalObject, kPortalChooser, method);
    message << portalParentOf(parent) << title << options;
    auto *watcher = new QDBusPendingCallWatcher(m_bus->connection.asyncCall(message, kAnswerMs),
                                                &m_bus->context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_bus->context,
                     [this, serial, watcher] {
                         watcher->deleteLater();
                         replied(serial, *watcher);
                     });
}

// The call's reply names the connection that took the request.
void GuardPortalDialogs::replied(std::uint64_t serial, const QDBusPendingCall &call) {
    const QDBusPendingReply<QDBusObjectPath> reply = call;
    Pending *dialog = m_bus->find(serial);
    if (!dialog)
        return;
    if (reply.isError()) {
        // A request the guard takes after all must not show a dialog whose
        // answer nobody hears.
        m_bus->connection.send(QDBusMessage::createMethodCall(
            kPortalService, dialog->request, kPortalRequest, QStringLiteral("Close")));
        failed(serial, reply.error().type() == QDBusError::NoReply
                           ? QStringLiteral("it did not answer within 5 s")
                           : reply.error().name());
        return;
    }
    dialog->owner = reply.reply().service();
    if (const std::optional<QDBusMessage> early = std::exchange(dialog->early, std::nullopt))
        heard(serial, *early);
}

// A Response is believed only from the connection that took the request.
void GuardPortalDialogs::heard(std::uint64_t serial, const QDBusMessage &message) {
    Pending *dialog = m_bus->find(serial);
    if (!dialog || message.arguments().size() < 2)
        return;
    if (dialog->owner.isEmpty())
        dialog->early = message;
    else if (message.service() == dialog->owner)
        answered(serial, message.arguments().at(0).toUInt(),
                 qdbus_cast<QVariantMap>(message.arguments().at(1)));
}

void GuardPortalDialogs::answered(std::uint64_t serial, std::uint32_t response,
                                  const QVariantMap &results) {
    const std::unique_ptr<Pending> dialog = m_bus->take(serial);
    if (!dialog)
        return;
    // The guard has said how the dialog ended, and granted the choice.
    const PortalAnswer answer = readPortalResponse(response, responseUris(results));
    if (answer.outcome == PortalOutcome::Chosen)
        dialog->completion(kResponseOK, FileUrl::fromLocalBytes(answer.path, dialog->folder));
    else
        dialog->completion(kResponseCancel, std::nullopt);
}

void GuardPortalDialogs::failed(std::uint64_t serial, const QString &why) {
    const std::unique_ptr<Pending> dialog = m_bus->take(serial);
    if (!dialog)
        return;
    m_log.write(LogLevel::Error,
                QStringLiteral("Folder guard: %1 was not shown: the guard's file chooser did not "
                               "take it: %2")
                    .arg(dialog->what, why));
    dialog->completion(kResponseCancel, std::nullopt);
}

} // namespace pellim
