// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/Preview.h"

#include <QTextBoundaryFinder>

namespace pellim {

QString textPreview(const TextPrefix &prefix) {
    const QString &text = prefix.text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype characters = 0;
    qsizetype keptEnd = text.size();
    while (characters <= kPreviewLimit && finder.toNextBoundary() != -1) {
        ++characters;
        if (characters == kPreviewKept)
            keptEnd = finder.position();
    }
    // `more` says the text goes on past the prefix. The reader keeps more than
    // the limit, so with an honest reader this only adds to the count; should it
    // ever keep less, cutting what arrived is still the closest preview.
    const bool tooLong = characters > kPreviewLimit || prefix.more;
    QString shown = tooLong ? text.left(keptEnd) : text;
    // The cut comes first: a line feed beyond the kept characters must vanish
    // with them rather than become a space.
    shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return shown;
}

} // namespace pellim
