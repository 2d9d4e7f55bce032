// SPDX-License-Identifier: GPL-3.0-or-later
#include "consent/KeptOut.h"

#include "consent/ConsentStore.h"
#include "consent/FolderGuard.h"
#include "consent/RunningGrants.h"
#include "consent/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace pellim {

namespace {

// Where a read-only item lies.
enum class Base { Home, ConfigHome, DataHome, StateHome, CacheHome };

// The home's hidden entries and ~/bin are read-only by rule: settings and code
// that run later live there. These are the places in them that Pellim and its
// toolkit write, each for a reason; nothing else there is written.
struct WritablePlace {
    Base base;
    const char *path;
    bool pellimOnly;
};
constexpr WritablePlace kWritable[] = {
    // fontconfig rewrites its cache when the fonts have changed since
    {Base::CacheHome, "fontconfig", false},
    // Pellim's own folders under the bases, as Qt names them for the program
    {Base::ConfigHome, "Pellim", true},
    {Base::DataHome, "Pellim", true},
    {Base::CacheHome, "Pellim", true},
};

// What the confined Pellim may read but never write, make, remove or replace:
// what runs or is read later outside it, with the person's rights, and what
// the guard process reads once it shows a window. A plant in any of them would
// let code in Pellim act unconfined. No list like this is complete: a program
// the person runs may read settings from anywhere in their home; these are the
// places that run code or decide what the guard and the session do on every
// start, on Debian 12's desktops.
struct ReadOnlyItem {
    Base base;
    const char *path;
};
constexpr ReadOnlyItem kReadOnly[] = {
    // which folders are guarded
    {Base::ConfigHome, "user-dirs.dirs"},
    // shells' start files
    {Base::Home, ".bashrc"},
    {Base::Home, ".bash_profile"},
    {Base::Home, ".bash_login"},
    {Base::Home, ".bash_logout"},
    {Base::Home, ".profile"},
    {Base::Home, ".zshrc"},
    {Base::Home, ".zprofile"},
    {Base::Home, ".zshenv"},
    {Base::Home, ".zlogin"},
    // the session's: autostart, user services, environment, D-Bus activation,
    // desktop entries, keys
    {Base::ConfigHome, "autostart"},
    {Base::ConfigHome, "systemd"},
    {Base::DataHome, "systemd"},
    {Base::ConfigHome, "environment.d"},
    {Base::Home, ".pam_environment"},
    {Base::Home, ".xsessionrc"},
    {Base::Home, ".xprofile"},
    {Base::Home, ".xinitrc"},
    {Base::DataHome, "dbus-1"},
    {Base::DataHome, "applications"},
    {Base::Home, ".ssh"},
    {Base::Home, ".gnupg"},
    {Base::Home, ".Xauthority"},
    // what the guard's toolkit reads once it connects to the display: GTK and
    // Qt settings, fonts and their configuration, icons, the MIME database,
    // X resources
    {Base::ConfigHome, "gtk-3.0"},
    {Base::ConfigHome, "gtk-4.0"},
    {Base::Home, ".gtkrc-2.0"},
    {Base::ConfigHome, "QtProject.conf"},
    {Base::ConfigHome, "fontconfig"},
    {Base::Home, ".fonts.conf"},
    {Base::Home, ".fonts"},
    {Base::DataHome, "fonts"},
    {Base::Home, ".icons"},
    {Base::DataHome, "icons"},
    {Base::DataHome, "mime"},
    {Base::Home, ".Xdefaults"},
    {Base::Home, ".Xresources"},
    {Base::Home, ".XCompose"},
    {Base::ConfigHome, "XCompose"},
    {Base::Home, ".fontconfig"},
    // the lock the guard's file dialogs take to write their history: one
    // planted beforehand would keep it from ever writing
    {Base::ConfigHome, "QtProject.conf.lock"},
};

QByteArray absoluteEnv(const char *name, const QByteArray &fallback) {
    const QByteArray value = qgetenv(name);
    return value.startsWith('/') ? value : fallback;
}

// The folder a program runs from and Qt loads plugins from, where the person
// could write them (a build in their home, ~/.local/bin): the guard process
// runs and loads from there too.
std::vector<QByteArray> writableCodeFolders() {
    std::vector<QByteArray> folders;
    const QByteArray exe =
        QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    const QByteArray candidates[] = {
        exe.left(exe.lastIndexOf('/')),
        QFile::encodeName(QLibraryInfo::path(QLibraryInfo::PluginsPath)),
    };
    // Root may write every folder the guard loads from, the system's libraries
    // included, which no read-only rule here could change: for root, only a
    // folder in its home counts (a build there), and Qt's own stays ruleless,
    // which spares a rule for every entry of the libraries' folder.
    const bool root = ::geteuid() == 0;
    const QByteArray home = homeFolder();
    for (const QByteArray &folder : candidates) {
        struct stat st {};
        if (!folder.startsWith('/') || ::stat(folder.constData(), &st) != 0)
            continue;
        const bool writable = st.st_uid == ::geteuid() || ::access(folder.constData(), W_OK) == 0;
        if (writable && (!root || (!home.isEmpty() && folder.startsWith(home + '/'))))
            folders.push_back(folder);
    }
    return folders;
}

QByteArray baseFolder(Base base, const QByteArray &home) {
    switch (base) {
    case Base::Home:
        return home;
    case Base::ConfigHome:
        return absoluteEnv("XDG_CONFIG_HOME", home + "/.config");
    case Base::DataHome:
        return absoluteEnv("XDG_DATA_HOME", home + "/.local/share");
    case Base::StateHome:
        return absoluteEnv("XDG_STATE_HOME", home + "/.local/state");
    case Base::CacheHome:
        return absoluteEnv("XDG_CACHE_HOME", home + "/.cache");
    }
    return home;
}

std::vector<QByteArray> writablePaths(const QByteArray &home, bool pellim) {
    std::vector<QByteArray> paths;
    for (const WritablePlace &place : kWritable)
        if (pellim || !place.pellimOnly)
            paths.push_back(baseFolder(place.base, home) + '/' + place.path);
    return paths;
}

// The base folders that lie in the home: each entry of theirs is a place of
// its own where programs keep settings, not the whole base.
std::vector<QByteArray> basesInHome(const QByteArray &home) {
    std::vector<QByteArray> bases;
    for (const Base base : {Base::ConfigHome, Base::DataHome, Base::StateHome, Base::CacheHome}) {
        const QByteArray folder = baseFolder(base, home);
        if (folder.startsWith(home + '/'))
            bases.push_back(folder);
    }
    return bases;
}

} // namespace

std::vector<QByteArray> homeBases(const QByteArray &home) {
    return basesInHome(home);
}

std::vector<QByteArray> readOnlyPaths() {
    const QByteArray home = homeFolder();
    if (home.isEmpty())
        return {};
    std::vector<QByteArray> paths;
    for (const ReadOnlyItem &item : kReadOnly)
        paths.push_back(baseFolder(item.base, home) + '/' + item.path);
    // X resources of this host, read after .Xdefaults.
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0])
        paths.push_back(home + "/.Xdefaults-" + host);
    for (QByteArray &folder : writableCodeFolders())
        paths.push_back(std::move(folder));
    // The loader took its search path from the environment when Pellim started,
    // and the guard, a fork, keeps it for every library its toolkit loads later,
    // whatever its own environment says by then.
    for (const QByteArray &folder : qgetenv("LD_LIBRARY_PATH").split(':'))
        if (folder.startsWith('/'))
            paths.push_back(folder);
    return paths;
}

KeptOutPaths keptOutFolders(QString *kept, bool forPellim) {
    KeptOutPaths keptOut;
    const QString storePath = ConsentStore::defaultPath();
    if (!storePath.isEmpty()) {
        const QString folder = QFileInfo(storePath).path();
        QDir().mkpath(QFileInfo(folder).path());
        const QByteArray bytes = QFile::encodeName(folder);
        ::mkdir(bytes.constData(), 0700);
        struct stat st {};
        if (::lstat(bytes.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            keptOut.sealed.push_back(bytes);
    }
    // What running programs were granted, and the doors to revoke it: no
    // program may read or knock. Made now, so that it is kept out from the start.
    if (const Result<QByteArray> grants = RunningGrants::folder(true))
        keptOut.sealed.push_back(*grants);
    ConsentStore store(storePath);
    const GuardedSet set(store);
    std::vector<ConsentStore::RecordedFolder> record;
    for (const GuardedLocation &location : set.locations()) {
        keptOut.guarded.push_back(location.path);
        if (location.identity)
            record.push_back({location.folder, location.path, *location.identity});
    }
    // Not recorded (no state folder, a refused answers file): the settings still
    // decide this start, and the store's own problem is reported where it is read.
    if (const Result<ConsentStore::Stored> recorded = store.record(record); recorded && kept)
        *kept = recorded->kept;
    keptOut.readOnly = readOnlyPaths();
    keptOut.home = homeFolder();
    if (!keptOut.home.isEmpty()) {
        keptOut.writable = writablePaths(keptOut.home, forPellim);
        keptOut.bases = basesInHome(keptOut.home);
    }
    return keptOut;
}

} // namespace pellim
