// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The cut after the first user-perceived characters (extended grapheme
// clusters) of a text that arrives in pieces.

#include "files/FileAccess.h"

#include <QString>

namespace pellim::text {

// A single cluster longer than this many UTF-16 units (only in crafted text:
// real clusters are a few dozen units at most) is cut here and counted as one
// character, so a read never holds more than a bounded amount of text: the
// kept characters are at most this long each, even when every one is crafted.
inline constexpr qsizetype kMaxClusterUnits = 4096;

// Collects decoded text until the first `keep` clusters are certain. A break
// between two characters depends only on what lies before it and on the one
// character after it, so a break with text after it never moves again.
class ClusterCut {
public:
    explicit ClusterCut(qsizetype keep) : m_keep(keep) {
        if (m_keep <= 0)
            m_done = true;
    }
    bool done() const { return m_done; }
    QString *buffer() { return &m_text; }

    // Counts the clusters that have become certain since the last call. To
    // keep the work linear, a scan waits until the unsettled text has doubled
    // since the last one, so `done()` may come a little later than it could.
    void scan();
    // The kept text; `textAfterCut` says whether bytes followed what was decoded.
    TextPrefix result(bool textAfterCut);

private:
    void settle();

    qsizetype m_keep;
    QString m_text;
    qsizetype m_settled = 0;  // end of the last certain break in m_text
    qsizetype m_count = 0;    // clusters before m_settled
    qsizetype m_nextScan = 0; // unsettled units that make the next scan worth it
    bool m_done = false;
    bool m_more = false;
    bool m_moreUnknown = false;
};

} // namespace pellim::text
