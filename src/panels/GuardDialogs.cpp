// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/GuardDialogs.h"

#include "confine/GuardLink.h"
#include "display/Display.h"

#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

namespace pellim {

std::uint64_t foreignWindowId(QWidget *widget) {
    if (!widget || QGuiApplication::platformName() != QLatin1String("xcb"))
        return 0;
    return std::uint64_t(widget->window()->winId());
}

void nameParent(GuardRequest &request, QWidget *widget) {
    request.window = foreignWindowId(widget);
    request.exported = widget ? exportedHandle(widget->window()->windowHandle()) : QByteArray();
}

GuardFileDialogs::GuardFileDialogs(GuardChannel &channel) : m_channel(channel) {
    QObject::connect(&channel, &GuardChannel::received, &channel,
                     [this](const QByteArray &message) { replied(message); });
}

GuardFileDialogs::~GuardFileDialogs() {
    QObject::disconnect(&m_channel, &GuardChannel::received, &m_channel, nullptr);
}

void GuardFileDialogs::beginSave(QWidget *parent, const SaveDialogOptions &options,
                                 DialogCompletion completion) {
    GuardRequest request;
    request.kind = GuardRequestKind::Save;
    request.suggestedName = options.suggestedName;
    begin(std::move(request), parent, std::move(completion));
}

void GuardFileDialogs::beginOpen(QWidget *parent, const OpenDialogOptions &options,
                                 DialogCompletion completion) {
    GuardRequest request;
    request.kind = GuardRequestKind::Open;
    request.purpose = options.purpose;
    begin(std::move(request), parent, std::move(completion));
}

void GuardFileDialogs::begin(GuardRequest request, QWidget *parent, DialogCompletion completion) {
    request.id = ++m_lastId;
    nameParent(request, parent);
    if (!m_channel.send(encodeRequest(request))) {
        // No guard, no dialog: the caller hears a cancel, later, as from a dialog.
        QTimer::singleShot(0, &m_channel, [completion = std::move(completion)] {
            completion(kResponseCancel, std::nullopt);
        });
        return;
    }
    m_pending.emplace(request.id, std::move(completion));
}

void GuardFileDialogs::replied(const QByteArray &message) {
    const std::optional<GuardReply> reply = decodeReply(message);
    if (!reply)
        return;
    const auto pending = m_pending.find(reply->id);
    if (pending == m_pending.end())
        return; // answered already, or never asked
    const DialogCompletion completion = std::move(pending->second);
    m_pending.erase(pending);
    completion(reply->response, reply->chosen);
}

} // namespace pellim
