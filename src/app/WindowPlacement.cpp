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

// Where `outer` goes in `free`, one side of the main window `main`: lined up
// with the main window's top (beside it) or left edge (below or above it), on
// the side nearest to it.
QRect besideIn(const QRect &free, const QRect &main, QSize outer, int side) {
    switch (side) {
    case 0: // right
        return keptInside(QRect(QPoint(free.left(), main.top()), outer), free);
    case 1: // left
        return keptInside(QRect(QPoint(free.right() + 1 - outer.width(), main.top()), outer), free);
    case 2: // below
        return keptInside(QRect(QPoint(main.left(), free.top()), outer), free);
    default: // above
        return keptInside(QRect(QPoint(main.left(), free.bottom() + 1 - outer.height()), outer),
                          free);
    }
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
    // The layout's minimum holds only once the window is shown.
    const QSize least = window->minimumSize().expandedTo(window->minimumSizeHint());

    const QSize fits = (room.size() - frame).boundedTo(window->maximumSize());
    window->resize(window->size().boundedTo(fits).expandedTo(least));
    const QSize outer = window->size() + frame;

    if (!anchored) {
        window->move(keptInside(QRect(window->pos(), outer), room).topLeft());
        return;
    }
    // Right of the main window, left of it, below, above: the first side with
    // room for the whole window. Else the side with the most room, the window
    // made smaller to fit there, but not below a third of its size, nor its
    // least.
    constexpr int kGap = 8;
    const std::array<QRect, 4> free = {
        QRect(QPoint(main.right() + 1 + kGap, room.top()), room.bottomRight()),
        QRect(room.topLeft(), QPoint(main.left() - 1 - kGap, room.bottom())),
        QRect(QPoint(room.left(), main.bottom() + 1 + kGap), room.bottomRight()),
        QRect(room.topLeft(), QPoint(room.right(), main.top() - 1 - kGap)),
    };
    const QSize smallest = (outer / 3).expandedTo(least + frame);
    int side = -1;
    QSize fitted;
    for (int i = 0; i < int(free.size()); ++i) {
        const QSize here = outer.boundedTo(free[i].size());
        const bool whole = here == outer;
        if (whole || (here.width() >= smallest.width() && here.height() >= smallest.height() &&
                      area(QRect(QPoint(), here)) > area(QRect(QPoint(), fitted)))) {
            side = i;
            fitted = here;
        }
        if (whole)
            break;
    }
    if (side >= 0) {
        // A window of the same kind already there is left showing.
        const QSize cascaded = fitted.boundedTo(free[side].size() - QSize(cascade, cascade));
        if (cascaded.width() >= least.width() + frame.width() &&
            cascaded.height() >= least.height() + frame.height())
            fitted = cascaded;
        window->resize(fitted - frame);
        const QRect placed = besideIn(free[side], main, fitted, side);
        window->move(keptInside(placed.translated(cascade, cascade), free[side]).topLeft());
        return;
    }
    // No room beside it: the place, kept on screen, that covers least of it.
    QRect best;
    qint64 bestCover = -1;
    for (int i = 0; i < int(free.size()); ++i) {
        const QRect placed = keptInside(besideIn(free[i], main, outer, i), room);
        const qint64 cover = area(placed.intersected(main));
        if (bestCover < 0 || cover < bestCover) {
            best = placed;
            bestCover = cover;
        }
    }
    window->move(keptInside(best.translated(cascade, cascade), room).topLeft());
}

} // namespace pellim
