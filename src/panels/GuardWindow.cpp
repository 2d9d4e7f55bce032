// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/GuardWindow.h"

#include "display/Display.h"

#include <QGuiApplication>
#include <QWidget>

namespace pellim {

std::uint64_t foreignWindowId(QWidget *widget) {
    if (!widget || QGuiApplication::platformName() != QLatin1String("xcb"))
        return 0;
    return std::uint64_t(widget->window()->winId());
}

void nameParent(GuardRequest &request, QWidget *widget) {
    request.window = foreignWindowId(widget);
    request.exported = widget ? exportedHandle(widget->window()->windowHandle()) : QByteArray();
}

QString portalParentOf(QWidget *widget) {
    if (const std::uint64_t window = foreignWindowId(widget))
        return QStringLiteral("x11:%1").arg(window, 0, 16);
    const QByteArray exported =
        widget ? exportedHandle(widget->window()->windowHandle()) : QByteArray();
    return exported.isEmpty() ? QString()
                              : QStringLiteral("wayland:") + QString::fromLatin1(exported);
}

} // namespace pellim
