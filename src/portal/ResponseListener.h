// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusArgument>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <utility>

namespace pellim {

// The file chooser portal's names, the same for the desktop's and the guard's.
inline const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kPortalObject = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString kPortalChooser = QStringLiteral("org.freedesktop.portal.FileChooser");
inline const QString kPortalRequest = QStringLiteral("org.freedesktop.portal.Request");

// Hears one Request's Response, for both clients of a file chooser portal
// (the desktop's, asked by the guard; the guard's, asked by Pellim): QtDBus
// delivers signals to slots only.
class ResponseListener final : public QObject {
    Q_OBJECT
public:
    explicit ResponseListener(std::function<void(const QDBusMessage &)> heard)
        : m_heard(std::move(heard)) {}

public slots:
    void response(const QDBusMessage &message) { m_heard(message); }

private:
    std::function<void(const QDBusMessage &)> m_heard;
};

// A Response's "uris", however QtDBus delivered the array.
inline QStringList responseUris(const QVariantMap &results) {
    const QVariant uris = results.value(QStringLiteral("uris"));
    if (uris.canConvert<QDBusArgument>())
        return qdbus_cast<QStringList>(uris);
    return uris.toStringList();
}

} // namespace pellim
