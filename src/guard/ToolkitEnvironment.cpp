// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/ToolkitEnvironment.h"

#include "guard/BusProxies.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QSaveFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace pellim {

namespace {

constexpr char kSystemFontConfig[] = "/etc/fonts/conf.d";

// The system's font configuration without what names the person's files: the
// system's fonts.conf includes "50-user.conf", which reads fontconfig/fonts.conf
// under the person's config folder, and that may name any folder, Documents
// among them, as one to scan and cache.
QByteArray systemFontConfig() {
    QByteArray config = "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                        "<fontconfig>\n<dir>/usr/share/fonts</dir>\n"
                        "<dir>/usr/local/share/fonts</dir>\n"
                        "<cachedir>/var/cache/fontconfig</cachedir>\n";
    const QStringList names = QDir(QString::fromLatin1(kSystemFontConfig))
                                  .entryList({QStringLiteral("*.conf")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        QFile file(QString::fromLatin1(kSystemFontConfig) + QLatin1Char('/') + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.readAll();
        if (text.contains("prefix=\"xdg\"") || text.contains("prefix=\"home\"") ||
            text.contains(">~"))
            continue;
        config += "<include ignore_missing=\"yes\">" + QFile::encodeName(file.fileName()) +
                  "</include>\n";
    }
    return config + "</fontconfig>\n";
}

// Written where only the guard reaches, into the folder of the person's answers:
// fontconfig takes its file by name, and resolves a descriptor's name to
// something it cannot open. Written again only when it would change: a save
// waits for the disk (about 10 ms here), at every start of every guarded
// program otherwise.
void fixedFontConfig(const QString &privateFolder) {
    const QString path = privateFolder + QStringLiteral("/guard-fonts.conf");
    const QByteArray config = systemFontConfig();
    QFile written(path);
    const bool same = !privateFolder.isEmpty() && !QFileInfo(path).isSymLink() &&
                      written.open(QIODevice::ReadOnly) && written.size() == config.size() &&
                      written.readAll() == config;
    QSaveFile file(path);
    if (same ||
        (!privateFolder.isEmpty() &&
         (::mkdir(QFile::encodeName(privateFolder).constData(), 0700) == 0 || errno == EEXIST) &&
         file.open(QIODevice::WriteOnly) && file.write(config) >= 0 && file.commit())) {
        ::setenv("FONTCONFIG_FILE", QFile::encodeName(path).constData(), 1);
        return;
    }
    // Nowhere to write it: the system's, with its per-user includes.
    ::setenv("FONTCONFIG_FILE", "/etc/fonts/fonts.conf", 1);
}

} // namespace

void freshToolkitEnvironment(const QString &privateFolder) {
    for (const char *name :
         {"GTK_MODULES", "GTK3_MODULES", "QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH",
          "QT_STYLE_OVERRIDE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT"})
        ::unsetenv(name);
    std::vector<std::string> linker;
    for (char **entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, "LD_", 3) == 0)
            linker.emplace_back(*entry, std::strcspn(*entry, "="));
    }
    for (const std::string &name : linker)
        ::unsetenv(name.c_str());
    // Qt's own theme: the GTK one would bring GTK, which loads the modules its
    // settings file names.
    ::setenv("QT_QPA_PLATFORMTHEME", "generic", 1);
    fixedFontConfig(privateFolder);
    const QByteArray session = BusProxies::sessionBus(QProcessEnvironment::systemEnvironment());
    ::setenv("DBUS_SESSION_BUS_ADDRESS",
             session.isEmpty() ? BusProxies::kNoBus : session.constData(), 1);
    if (qEnvironmentVariableIsEmpty("AT_SPI_BUS_ADDRESS"))
        ::setenv("AT_SPI_BUS_ADDRESS", BusProxies::kNoBus, 1);
}

bool useAccessibilityBus(const QByteArray &address) {
    ::setenv("AT_SPI_BUS_ADDRESS", address.isEmpty() ? BusProxies::kNoBus : address.constData(), 1);
    return !address.isEmpty();
}

} // namespace pellim
