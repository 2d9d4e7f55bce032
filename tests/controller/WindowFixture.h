#pragma once

// What the window tests share: a shown window with test services in a temporary
// home, a record of what it showed, logged and alerted in order, and the hands of
// a person at the keyboard and in the file dialogs.

#include "platform/ConsentPrompt.h"
#include "platform/FolderGuard.h"
#include "support/Harness.h"
#include "support/Modal.h"
#include "support/TestHome.h"

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <utility>
#include <vector>

namespace pellim::test {

// Field changes ("openedText: …", "fileName: …"), alerts ("alert: <message> |
// <informative text>") and entries ("info: …", "error: …", without "Pellim: ") as
// they happened. Only changes are seen, so the fields get texts of their own first.
class Timeline {
public:
    explicit Timeline(Harness &h) : m_h(h) {
        h.window.show();
        h.window.openedText->setText("earlier text");
        h.window.fileName->setText("earlier name");
        h.log.clear();
        for (auto [field, label] : {std::pair{h.window.openedText, "openedText: "},
                                    std::pair{h.window.fileName, "fileName: "}})
            QObject::connect(field, &QLineEdit::textChanged, &m_context,
                             [this, label](const QString &t) { note(label + t); });
    }
    void note(const QString &event) { m_notes.emplace_back(m_h.log.entries().size(), event); }
    QStringList entries() const { return events().filter(QRegularExpression("^(info|error): ")); }
    QStringList events() const {
        QStringList out;
        const auto &log = m_h.log.entries();
        std::size_t n = 0;
        for (std::size_t i = 0; i <= log.size(); ++i) {
            while (n < m_notes.size() && m_notes[n].first == i)
                out << m_notes[n++].second;
            if (i < log.size())
                out << (log[i].level == LogLevel::Info ? "info: " : "error: ") +
                           QString(log[i].message).remove(QRegularExpression("^Pellim: "));
        }
        return out;
    }

private:
    Harness &m_h;
    QObject m_context;
    std::vector<std::pair<std::size_t, QString>> m_notes; // entries before it, text
};

// Puts alerts on the timeline instead of showing them.
struct TimelineAlert final : Alert {
    Timeline *timeline = nullptr;
    void showCritical(QWidget *, const QString &message, const QString &informative) override {
        timeline->note("alert: " + message + " | " + informative);
    }
};

// Answers the guard's questions without a box, counting them.
struct ScriptedPrompter final : ConsentPrompter {
    PromptAnswer answer = PromptAnswer::Deny;
    int asked = 0;
    PromptAnswer ask(const ConsentRequest &) override { return ++asked, answer; }
};

// With `guarded`, a folder guard stands between the window and the user folders.
// The random source draws index 0 unless the test gives it other values.
struct Scene {
    explicit Scene(bool guarded = false)
        : guard(guarded ? std::make_unique<FolderGuard>(guardLog, prompter) : nullptr),
          h(guard.get(), &alert, &random), t(h) {
        alert.timeline = &t;
    }
    TestHome home;
    MemoryLogSink guardLog;
    ScriptedPrompter prompter;
    std::unique_ptr<FolderGuard> guard;
    TimelineAlert alert;
    SequenceRandomSource random;
    Harness h;
    Timeline t;
};

// "Pellim", an upper-case version 4 UUID without braces, ".txt".
inline bool isTestFileName(const QString &name) {
    static const QRegularExpression pattern(
        "^Pellim[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.txt$");
    return pattern.match(name).hasMatch();
}

inline QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Replaces the text of `field` key by key; QTest::keyClicks cannot send non-ASCII.
inline void typeReplacing(QWidget *field, const QString &text) {
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    for (const QChar c : text) {
        const auto key = Qt::Key(c.toUpper().unicode());
        QTest::sendKeyEvent(QTest::Press, field, key, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, field, key, QString(c), Qt::NoModifier);
    }
}

inline void click(Harness &h, const char *button) {
    h.window.findChild<QPushButton *>(button)->click();
}

// Clicks `button` and returns the file dialog it opened (null if none came).
inline QFileDialog *clickForDialog(Harness &h, const char *button) {
    const auto before = openFileDialogs().size();
    click(h, button);
    waitUntil([&] { return openFileDialogs().size() > before; });
    return openFileDialogs().value(before);
}

inline QLineEdit *nameField(QFileDialog *d) {
    return d->findChild<QLineEdit *>("fileNameEdit");
}

// Accepts `d` in `folder` with `name` typed as the file name (none for a folder).
inline void accept(QFileDialog *d, const QString &folder, const QString &name = QString()) {
    d->setDirectory(folder);
    nameField(d)->setText(name);
    static_cast<QDialog *>(d)->accept();
}

} // namespace pellim::test
