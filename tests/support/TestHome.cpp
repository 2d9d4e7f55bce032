#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>

namespace pellim::test {

TestHome::TestHome() {
    m_dir.setAutoRemove(true);
    const QString h = home();
    QDir().mkpath(h + "/.config");
    QDir().mkpath(h + "/.local/state");
    QDir().mkpath(h + "/Documents");
    QDir().mkpath(h + "/Desktop");
    QDir().mkpath(h + "/Downloads");
    QDir().mkpath(root() + "/run");
    QFile::setPermissions(root() + "/run",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile dirs(h + "/.config/user-dirs.dirs");
    if (dirs.open(QIODevice::WriteOnly)) {
        dirs.write("XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n"
                   "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                   "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
    }
    setEnv("HOME", QFile::encodeName(h));
    setEnv("XDG_CONFIG_HOME", QFile::encodeName(h + "/.config"));
    setEnv("XDG_STATE_HOME", QFile::encodeName(h + "/.local/state"));
    setEnv("XDG_RUNTIME_DIR", QFile::encodeName(root() + "/run"));
}

TestHome::~TestHome() {
    for (const auto &[name, value] : m_saved) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
    // Make sure nothing left read-only stops the clean-up.
    QDir(root()).removeRecursively();
}

void TestHome::setEnv(const char *name, const QByteArray &value) {
    if (!m_saved.count(name)) {
        m_saved[name] = qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name))
                                                        : std::nullopt;
    }
    qputenv(name, value);
}

QString TestHome::root() const {
    return QFileInfo(m_dir.path()).canonicalFilePath();
}
QString TestHome::home() const {
    return root() + "/home";
}
QString TestHome::documents() const {
    return home() + "/Documents";
}
QString TestHome::desktop() const {
    return home() + "/Desktop";
}
QString TestHome::downloads() const {
    return home() + "/Downloads";
}
QString TestHome::stateHome() const {
    return home() + "/.local/state";
}

QString TestHome::makeFile(const QString &pathUnderRoot, const QByteArray &bytes) const {
    const QString path = root() + "/" + pathUnderRoot;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("TestHome: cannot write %s", qPrintable(path));
    return path;
}

QString TestHome::makeFolder(const QString &pathUnderRoot) const {
    const QString path = root() + "/" + pathUnderRoot;
    QDir().mkpath(path);
    return path;
}

} // namespace pellim::test
