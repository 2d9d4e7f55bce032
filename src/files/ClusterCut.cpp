// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/ClusterCut.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace pellim::text {

namespace {
// UTF-16 units of settled text shown to the boundary finder before the part it
// scans.
constexpr qsizetype kBreakContext = 64;
} // namespace

void ClusterCut::scan() {
    // Each scan goes over the unsettled text again, a cluster still open at
    // its end included. Were that done for every piece fed, a cluster that
    // keeps growing would cost the square of its length.
    if (m_text.size() - m_settled >= m_nextScan)
        settle();
}

void ClusterCut::settle() {
    while (!m_done) {
        const qsizetype available = m_text.size() - m_settled;
        const qsizetype window = std::min(available, kMaxClusterUnits);
        if (window < 2)
            break;
        // Qt decides some breaks on more than the two characters around them,
        // so the finder sees the text before the settled break as well.
        const qsizetype context = std::min<qsizetype>(m_settled, kBreakContext);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme,
                                   m_text.constData() + m_settled - context, window + context);
        finder.setPosition(context);
        qsizetype last = 0;
        for (qsizetype b = finder.toNextBoundary() - context; b > 0 && b < window;
             b = finder.toNextBoundary() - context) {
            last = b;
            if (++m_count == m_keep) {
                m_text.truncate(m_settled + b);
                m_done = true;
                m_more = true;
                return;
            }
        }
        if (last == 0) {
            if (available < kMaxClusterUnits)
                break;
            // One cluster without end in sight: cut it, on a code point edge.
            qsizetype cut = kMaxClusterUnits;
            if (m_text.at(m_settled + cut - 1).isHighSurrogate())
                --cut;
            m_settled += cut;
            if (++m_count == m_keep) {
                m_more = m_text.size() > m_settled;
                m_moreUnknown = !m_more;
                m_text.truncate(m_settled);
                m_done = true;
                return;
            }
            continue;
        }
        m_settled += last;
        if (window == available)
            break;
    }
    m_nextScan = 2 * (m_text.size() - m_settled);
}

TextPrefix ClusterCut::result(bool textAfterCut) {
    TextPrefix prefix;
    if (m_keep <= 0) {
        prefix.more = textAfterCut;
        return prefix;
    }
    settle(); // the waiting scan, so the count is exact
    prefix.text = std::move(m_text);
    prefix.more = m_more || (m_moreUnknown && textAfterCut);
    return prefix;
}

} // namespace pellim::text
