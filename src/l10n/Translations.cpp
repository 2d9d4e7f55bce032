// SPDX-License-Identifier: GPL-3.0-or-later
#include "l10n/Translations.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pellim {

namespace {

// "de_DE", then "de": the forms of `language` from the most to the least
// particular.
QStringList narrowing(QString language) {
    language.replace(QLatin1Char('-'), QLatin1Char('_'));
    QStringList forms;
    for (; !language.isEmpty(); language = language.section(QLatin1Char('_'), 0, -2))
        forms << language;
    return forms;
}

QString ownTranslation(const QString &language) {
    return QStringLiteral(":/i18n/pellim_%1.qm").arg(language);
}

} // namespace

// The person's languages are tried in their order, so that someone who puts
// English before German gets English, although no translation file exists
// for it: QTranslator's own search would pass over English to German.
QString uiLanguage() {
    const QStringList languages = QLocale().uiLanguages();
    for (const QString &language : languages) {
        for (const QString &form : narrowing(language)) {
            if (form == QLatin1String("en") || form == QLatin1String("C"))
                return {};
            if (QFileInfo::exists(ownTranslation(form)))
                return form;
        }
    }
    return {};
}

void installTranslations(QCoreApplication &app) {
    const QString language = uiLanguage();
    if (language.isEmpty())
        return;
    auto *own = new QTranslator(&app);
    if (own->load(ownTranslation(language)))
        QCoreApplication::installTranslator(own);
    else
        delete own;
    // Qt's own texts, where the system has them (Debian: qt6-translations-l10n).
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString &form : narrowing(language)) {
        auto *qt = new QTranslator(&app);
        if (qt->load(QStringLiteral("qtbase_") + form, qtFolder)) {
            QCoreApplication::installTranslator(qt);
            break;
        }
        delete qt;
    }
}

QString localizedResource(const QString &path) {
    const QString language = uiLanguage();
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (language.isEmpty() || dot < 0)
        return path;
    for (const QString &form : narrowing(language)) {
        QString localized = path;
        localized.insert(dot, QLatin1Char('_') + form);
        if (QFileInfo::exists(localized))
            return localized;
    }
    return path;
}

} // namespace pellim
