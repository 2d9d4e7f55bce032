// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowPlacement.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <array>

namespace pellim {

namespace {

// `frame` moved as little as possible to lie wholly inside `room`.
QRect keptInside(QRect frame, const QRect &room) {
    frame.moveLeft(std::clamp(frame.left(), room.left(),
                              std::max(room.left(), room.right() + 1 - frame.width())));
    frame.moveTop(std::clamp(frame.top(), room.top(),
                             std::max(room.top(), room.bottom() + 1 - frame.height())));
    return frame;
}

qint64 area(const QRect &r) {
    return r.isEmpty() ? 0 : qint64(r.width()) * r.height();
}

} // namespace

void placeNear(QWidget *window, const QWidget *anchor, int cascade) {
    const bool anchored = anchor && anchor->isVisible();
    const QScreen *screen = anchored ? anchor->screen() : window->screen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    // The new window's frame is not known before it is shown; the window
    // manager gives it the same one as the main window's.
    const QRect main = anchored ? anchor->frameGeometry() : QRect();
    const QSize frame = anchored ? main.size() - anchor->size() : QSize(0, 0);

    const QSize fits = (room.size() - frame).boundedTo(window->maximumSize());
    window->resize(window->size().boundedTo(fits).expandedTo(window->minimumSize()));
    const QSize outer = window->size() + frame;

    if (!anchored) {
        window->move(keptInside(QRect(window->pos(), outer), room).topLeft());
        return;
    }
    // Right of the main window, left of it, below, above: the first that
    // leaves it uncovered, else the one, kept on screen, that covers least.
    constexpr int kGap = 8;
    const std::array<QPoint, 4> besides = {
        QPoint(main.right() + 1 + kGap, main.top()),
        QPoint(main.left() - kGap - outer.width(), main.top()),
        QPoint(main.left(), main.bottom() + 1 + kGap),
        QPoint(main.left(), main.top() - kGap - outer.height()),
    };
    QRect best;
    qint64 bestCover = -1;
    for (const QPoint &at : besides) {
        const QRect placed = keptInside(QRect(at, outer), room);
        const qint64 cover = area(placed.intersected(main));
        if (bestCover < 0 || cover < bestCover) {
            best = placed;
            bestCover = cover;
        }
    }
    window->move(keptInside(best.translated(cascade, cascade), room).topLeft());
}

} // namespace pellim
