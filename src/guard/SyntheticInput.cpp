// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/SyntheticInput.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

namespace pellim {

namespace {

// The X server sets this bit in an event's type when a client sent it.
constexpr std::uint8_t kSentByClient = 0x80;

// A pause this long ends a burst: the next refused event gets an entry again.
constexpr std::chrono::seconds kBurstGap{1};

// Events of the core protocol that carry input, and every extension's event:
// the keyboard's state and layout come that way (XKB), so a forged one would
// change what the person's next real key means, and no program has cause to
// send one.
constexpr std::uint8_t kFirstExtensionEvent = 64;

bool isInput(std::uint8_t type) {
    switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
    case XCB_MOTION_NOTIFY:
    case XCB_ENTER_NOTIFY:
    case XCB_LEAVE_NOTIFY:
    case XCB_FOCUS_IN:
    case XCB_FOCUS_OUT:
        return true;
    default:
        return type >= kFirstExtensionEvent;
    }
}

} // namespace

SyntheticInputFilter::SyntheticInputFilter(LogHandle log) : m_log(std::move(log)) {
    const auto *x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    static constexpr const char *kDropNames[] = {"XdndEnter", "XdndPosition", "XdndDrop"};
    xcb_intern_atom_cookie_t cookies[std::size(kDropNames)];
    for (std::size_t i = 0; i < std::size(kDropNames); ++i)
        cookies[i] = xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(kDropNames[i])),
                                     kDropNames[i]);
    for (std::size_t i = 0; i < std::size(kDropNames); ++i) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
        m_dropAtoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
    }
}

bool SyntheticInputFilter::nativeEventFilter(const QByteArray &eventType, void *message,
                                             qintptr *) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if (!(event->response_type & kSentByClient))
        return false;
    const std::uint8_t type = event->response_type & ~kSentByClient;
    bool refused = isInput(type);
    if (type == XCB_CLIENT_MESSAGE) {
        const xcb_atom_t kind = static_cast<const xcb_client_message_event_t *>(message)->type;
        refused = kind != XCB_ATOM_NONE &&
                  std::find(m_dropAtoms.begin(), m_dropAtoms.end(), kind) != m_dropAtoms.end();
    }
    if (!refused)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (!m_lastRefused || now - *m_lastRefused >= kBurstGap)
        m_log.write(LogLevel::Error,
                    QStringLiteral("Folder guard: ignored input sent by another program "
                                   "(XSendEvent)"));
    m_lastRefused = now;
    return true;
}

} // namespace pellim
