// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QCoreApplication;

namespace pellim {

// The language Pellim speaks to the person: the first of their languages that
// is English (the language the program is written in) or one it has a
// translation for. Empty for English, and for a person none of whose languages
// Pellim knows.
QString uiLanguage();

// Installs, as children of `app`, Pellim's translation for uiLanguage() and
// Qt's own for the same language (the texts of Qt's dialogs and buttons, and of
// the command line's help). English needs none.
void installTranslations(QCoreApplication &app);

// The resource `path` ("…/name.ext") in uiLanguage() ("…/name_de.ext") where
// the build holds one, else `path` itself.
QString localizedResource(const QString &path);

} // namespace pellim
