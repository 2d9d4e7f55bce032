// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/Log.h"

#include <QAbstractNativeEventFilter>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

namespace pellim {

// Drops the input another program sends to the guard's windows with
// XSendEvent, which the X server marks as sent: keys, clicks, pointer motion
// and crossings, focus changes, drops and extension events such as the
// keyboard's state. Without it, any program on the display, Pellim included,
// could answer the prompt or choose in a dialog. Input made through the XTEST
// extension arrives as a device's and cannot be told apart. Each burst of
// refused events is one entry in `log`. Install it on the guard's
// QApplication when its platform is xcb.
class SyntheticInputFilter final : public QAbstractNativeEventFilter {
public:
    explicit SyntheticInputFilter(LogHandle log);
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    LogHandle m_log;
    // XdndEnter, XdndPosition, XdndDrop: a drop offers the dialogs text and
    // file names, and comes only as messages the dragging program sends.
    std::array<std::uint32_t, 3> m_dropAtoms{};
    std::optional<std::chrono::steady_clock::time_point> m_lastRefused;
};

} // namespace pellim
