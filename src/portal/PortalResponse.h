// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

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
    QByteArray path;               // with Chosen: the first choice
    std::vector<QByteArray> paths; // with Chosen: every choice
};

// Reads a Response: `response` as sent, `uris` the results' "uris". With
// `multiple`, one or more local files are a choice, else exactly one; one that
// is no local file makes the whole answer none.
PortalAnswer readPortalResponse(std::uint32_t response, const QStringList &uris,
                                bool multiple = false);

// The object path of the Request a call with `token` will make, as the portal
// builds it from the caller's unique bus name (":1.42" becomes "1_42"): the
// caller listens there before it calls, so that no Response can come first.
QString portalRequestPath(const QString &uniqueName, const QString &token);

} // namespace pellim
