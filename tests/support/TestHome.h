#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace pellim::test {

// A temporary home for one test: HOME, XDG_CONFIG_HOME (whose user-dirs.dirs names
// Documents, Desktop and Downloads in it), XDG_STATE_HOME and XDG_RUNTIME_DIR point
// into a fresh folder, and the three user folders exist.
class TestHome {
public:
    TestHome() {
        for (const char *folder : {".config", ".local/state", "Documents", "Desktop", "Downloads"})
            makeFolder(QStringLiteral("home/") + folder);
        makeFile("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n"
                                                "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
        const QString run = makeFolder("run");
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("HOME", QFile::encodeName(home()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home() + "/.config"));
        qputenv("XDG_STATE_HOME", QFile::encodeName(home() + "/.local/state"));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(run));
    }
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString root() const { return m_root; } // the temporary folder, outside the home
    QString home() const { return m_root + "/home"; }
    QString documents() const { return home() + "/Documents"; }
    QString desktop() const { return home() + "/Desktop"; }
    QString downloads() const { return home() + "/Downloads"; }

    // Creates `pathUnderRoot` (and the folders on the way) holding `bytes`.
    QString makeFile(const QString &pathUnderRoot, const QByteArray &bytes) const {
        const QString path = m_root + "/" + pathUnderRoot;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("TestHome: cannot write %s", qPrintable(path));
        return path;
    }
    QString makeFolder(const QString &pathUnderRoot) const {
        QDir().mkpath(m_root + "/" + pathUnderRoot);
        return m_root + "/" + pathUnderRoot;
    }

private:
    QTemporaryDir m_dir;
    const QString m_root = QFileInfo(m_dir.path()).canonicalFilePath();
};

} // namespace pellim::test
