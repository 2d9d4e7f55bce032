#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <map>
#include <optional>

namespace pellim::test {

// A temporary home for one test: HOME, XDG_CONFIG_HOME (with user-dirs.dirs naming
// Documents, Desktop and Downloads inside it), XDG_STATE_HOME and XDG_RUNTIME_DIR
// all point into a fresh temporary folder, and the three user folders exist.
// The previous environment comes back when the object is destroyed.
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString root() const;      // the temporary folder (outside the home)
    QString home() const;      // $HOME
    QString documents() const; // $HOME/Documents
    QString desktop() const;   // $HOME/Desktop
    QString downloads() const; // $HOME/Downloads
    QString stateHome() const; // $XDG_STATE_HOME

    // Creates `relativePath` under root() (folders as needed) holding `bytes`.
    QString makeFile(const QString &pathUnderRoot, const QByteArray &bytes) const;
    QString makeFolder(const QString &pathUnderRoot) const;

private:
    void setEnv(const char *name, const QByteArray &value);
    QTemporaryDir m_dir;
    std::map<QByteArray, std::optional<QByteArray>> m_saved;
};

} // namespace pellim::test
