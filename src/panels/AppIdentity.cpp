// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/AppIdentity.h"

#include "journal/Log.h"
#include "l10n/Translations.h"

#include <QApplication>
#include <QIcon>

namespace pellim {

void configureApplication(QApplication &app) {
    QApplication::setApplicationName(QStringLiteral("Pellim"));
    QApplication::setApplicationVersion(QStringLiteral(PELLIM_VERSION));
    QApplication::setDesktopFileName(QString::fromLatin1(kAppId));
    // The PNG, not the SVG: Qt's SVG image plugin is not among the run-time packages.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.pellim.Pellim.png")));
    // The main window decides when the application ends (closing it logs
    // "closing" first); a help window left open must not keep it alive, nor
    // may closing the last help window end it.
    app.setQuitOnLastWindowClosed(false);
    installTranslations(app);
}

} // namespace pellim
