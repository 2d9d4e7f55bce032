// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace pellim {

// The local path a `file:` URI names, as the file system's bytes: every %XX is
// the byte XX, whatever the bytes spell, so a name that is not UTF-8 comes back
// as it is on disk. Nothing for any other URI: another scheme, a host other
// than "localhost", a relative path, a query or fragment, a broken escape, or a
// NUL byte, which no file name holds.
std::optional<QByteArray> localPathOfUri(const QString &uri);

// How a file chooser portal's request ended, from its Response signal.
enum class PortalOutcome : std::uint8_t {
    Chosen,      // response 0 with exactly one local file
    Cancelled,   // response 1: the person cancelled
    Closed,      // response 2: GTK's back-end (to 1.15 at least) for Escape and the close button
    Ended,       // any other: the portal ended the request itself
    NoLocalFile, // response 0, but not exactly one local path
};

struct PortalAnswer {
    PortalOutcome outcome = PortalOutcome::Ended;
    QByteArray path; // with Chosen
};

// Reads a Response: `response` as sent, `uris` the results' "uris".
PortalAnswer readPortalResponse(std::uint32_t response, const QStringList &uris);

// The object path of the Request a call with `token` will make, as the portal
// builds it from the caller's unique bus name (":1.42" becomes "1_42"): the
// caller listens there before it calls, so that no Response can come first.
QString portalRequestPath(const QString &uniqueName, const QString &token);

} // namespace pellim
