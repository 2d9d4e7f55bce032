#pragma once

// What the window tests share: a shown window on test services in a temporary
// home, one record of what it showed, logged and alerted in order, and the hands
// of a person in its file dialogs.

#include "consent/ConsentPrompter.h"
#include "consent/FolderGuard.h"
#include "files/FileAccess.h"
#include "panels/Alert.h"
#include "panels/FileDialogs.h"
#include "support/MemoryLogSink.h"
#include "support/TestHome.h"
#include "window/RandomSource.h"
#include "window/Services.h"
#include "window/ViewController.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <deque>

namespace pellim::test {

// A main window on test services: entries go to `log`, dialogs are Qt's widget
// dialogs, the file system is real. Pass a protection to meet a guard, and an
// alert, a random source or a sink to stand in for the real ones.
struct Harness {
    explicit Harness(FolderProtection *guard = nullptr, Alert *alertOverride = nullptr,
                     RandomSource *randomOverride = nullptr, LogSink *logOverride = nullptr)
        : protection(guard ? *guard : unguarded), dialogs(protection, true), files(protection),
          window(Services{logOverride ? *logOverride : log, dialogs,
                          alertOverride ? *alertOverride : alert, files,
                          randomOverride ? *randomOverride : random}) {}

    MemoryLogSink log;
    UnguardedProtection unguarded;
    FolderProtection &protection;
    QtFileDialogs dialogs;
    QtAlert alert;
    PosixFileAccess files;
    SystemRandomSource random;
    ViewController window;
};

// Entries ("info: …", "error: …", without "Pellim: "), alerts ("alert: <message> |
// <informative text>") and, once a Scene watches them, field changes
// ("openedText: …", "fileName: …"), in order.
struct Timeline final : LogSink, Alert {
    QStringList events;
    void write(const LogEntry &e) override {
        events << (e.level == LogLevel::Info ? "info: " : "error: ") +
                      QString(e.message).remove(QRegularExpression("^Pellim: "));
    }
    void showCritical(QWidget *, const QString &message, const QString &informative) override {
        events << "alert: " + message + " | " + informative;
    }
};

// Answers the guard's questions without a box, counting them.
struct ScriptedPrompter final : ConsentPrompter {
    PromptAnswer answer = PromptAnswer::Deny;
    int asked = 0;
    PromptAnswer ask(const ConsentRequest &) override { return ++asked, answer; }
};

// Hands out the values given, then repeats the last one; counts the draws.
struct SequenceRandomSource final : RandomSource {
    std::deque<std::uint64_t> values{0};
    int draws = 0;
    std::uint64_t next64() override {
        ++draws;
        const std::uint64_t v = values.front();
        if (values.size() > 1)
            values.pop_front();
        return v;
    }
};

// A shown window whose fields hold texts of their own, so that only changes are
// seen. With `guarded`, a folder guard stands before the user folders.
struct Scene {
    explicit Scene(bool guarded = false)
        : guard(guarded ? std::make_unique<FolderGuard>(guardLog, prompter) : nullptr),
          h(guard.get(), &t, &random, &t) {
        h.window.show();
        for (QLineEdit *field : {h.window.openedText, h.window.fileName}) {
            field->setText("earlier text");
            QObject::connect(field, &QLineEdit::textChanged, &h.window,
                             [this, field](const QString &text) {
                                 t.events << field->objectName() + ": " + text;
                             });
        }
        t.events.clear();
    }
    TestHome home;
    MemoryLogSink guardLog;
    ScriptedPrompter prompter;
    std::unique_ptr<FolderGuard> guard;
    Timeline t;
    SequenceRandomSource random;
    Harness h;
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

// Replaces the text of `field` as a person does: select all, then type.
inline void typeReplacing(QLineEdit *field, const QString &text) {
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
}

inline void click(Harness &h, const QString &button) {
    h.window.findChild<QPushButton *>(button)->click();
}

// Clicks `button` and returns the file dialog it opened (null if none came).
inline QFileDialog *clickForDialog(Harness &h, const QString &button) {
    const auto dialogs = [] {
        QList<QFileDialog *> shown;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
                shown << d;
        return shown;
    };
    const QList<QFileDialog *> before = dialogs();
    click(h, button);
    QFileDialog *found = nullptr;
    return QTest::qWaitFor([&] {
        for (QFileDialog *d : dialogs())
            found = before.contains(d) ? found : d;
        return found != nullptr;
    })
               ? found
               : nullptr;
}

inline QLineEdit *nameField(QFileDialog *d) {
    return d->findChild<QLineEdit *>("fileNameEdit");
}

// Accepts `d` in `folder` with `name` as the file name (none for a folder).
inline void accept(QFileDialog *d, const QString &folder, const QString &name = QString()) {
    d->setDirectory(folder);
    nameField(d)->setText(name);
    static_cast<QDialog *>(d)->accept();
}

} // namespace pellim::test
