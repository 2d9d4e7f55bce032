// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/Log.h"
#include "panels/FileDialogs.h"

#include <QByteArray>

#include <cstdint>
#include <memory>

class QDBusMessage;
class QDBusPendingCall;

namespace pellim {

// The file dialogs of a confined Pellim: asked of the file chooser portal its
// guard serves on Pellim's own bus (`address`), as any program's are. The
// guard shows them, so that browsing a guarded folder asks nothing and the
// choice grants access where no code in Pellim can forge it. Pellim names its
// own title, which the guard knows as one of Pellim's dialogs, and its window
// as the parent.
//
// There is no dialog of Pellim's own to fall back on: a choice made inside
// Pellim would grant nothing. Where the guard's portal does not take a request,
// the dialog ends as cancelled, with an error entry saying why.
class GuardPortalDialogs final : public FileDialogs {
public:
    GuardPortalDialogs(QByteArray address, LogHandle log);
    ~GuardPortalDialogs() override;

    void beginSave(QWidget *parent, const SaveDialogOptions &options,
                   DialogCompletion completion) override;
    void beginOpen(QWidget *parent, const OpenDialogOptions &options,
                   DialogCompletion completion) override;

    struct Pending; // one dialog asked for and not yet answered

private:
    void call(std::unique_ptr<Pending> dialog, const QString &method, const QString &title,
              QVariantMap options, QWidget *parent);
    void replied(std::uint64_t serial, const QDBusPendingCall &call);
    void heard(std::uint64_t serial, const QDBusMessage &message);
    void answered(std::uint64_t serial, std::uint32_t response, const QVariantMap &results);
    void failed(std::uint64_t serial, const QString &why);

    QByteArray m_address;
    LogHandle m_log;
    std::uint64_t m_lastSerial = 0;
    struct Bus;
    std::unique_ptr<Bus> m_bus; // connected at the first dialog
};

} // namespace pellim
