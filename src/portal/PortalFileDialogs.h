// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/Log.h"
#include "panels/FileDialogs.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace pellim {

class QtFileDialogs;

// The desktop's own file chooser, asked for through the file chooser portal
// (org.freedesktop.portal.FileChooser) on the process's session bus: its places,
// recent files and look, drawn by another process. What the person chooses
// there is granted to `protection` exactly as a choice in Qt's dialog is.
//
// Where no portal answers (none on the bus, no reply within a few seconds, a
// version too old for a folder), `fallback` shows Qt's dialog instead. Every
// dialog writes an entry saying which one the person got, and every dialog that
// ends without a choice one saying why.
class PortalFileDialogs final : public ChoosingFileDialogs {
public:
    PortalFileDialogs(FolderProtection &protection, QtFileDialogs &fallback, LogHandle log);
    ~PortalFileDialogs() override;

    void chooseSave(QWidget *parent, const SaveDialogOptions &options, DialogChoices choices,
                    QObject *closeWith = nullptr) override;
    void chooseOpen(QWidget *parent, const OpenDialogOptions &options, DialogChoices choices,
                    QObject *closeWith = nullptr) override;
    // Where the next dialogs go: Qt's are placed by `placeOver`; the portal's
    // chooser stays on top of the window `portalHandle` names ("x11:<hex
    // XID>", "wayland:<exported handle>"), or of none when it is "".
    void setParent(PlaceOver placeOver, const QString &portalHandle);
    // Dialogs asked of the portal and not yet ended: shown by it, or still to
    // be shown by it or, should it not answer, by Qt.
    int waiting() const;

    struct Pending; // one dialog on its way, or shown by the portal

private:
    void begin(std::unique_ptr<Pending> dialog);
    void call(Pending *dialog, const QString &owner, unsigned version);
    void answered(Pending *dialog, std::uint32_t response, const QVariantMap &results);
    void fallBack(Pending *dialog, const QString &why);
    void ended(Pending *dialog, const QString &why);
    void portalGone(const QString &name);

    FolderProtection &m_protection;
    QtFileDialogs &m_fallback;
    LogHandle m_log;
    PlaceOver m_placeOver;
    QString m_portalHandle;
    unsigned m_lastToken = 0;
    std::uint64_t m_lastSerial = 0;
    struct Bus;
    std::unique_ptr<Bus> m_bus;
};

} // namespace pellim
