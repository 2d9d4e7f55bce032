#pragma once

// What the writing tests share: the program's own entries, the shape of a test
// file name, typing into a field, answering the alert and the guard's prompt.

#include "platform/Log.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <vector>

namespace pellim::test {

// The program's entries (not the guard's) from `from` on, as "I " or "E " and the
// message after "Pellim: " (an entry without that prefix keeps its whole text).
inline QStringList programEntries(const MemoryLogSink &log, std::size_t from) {
    QStringList out;
    for (std::size_t i = from; i < log.entries().size(); ++i) {
        const LogEntry &e = log.entries()[i];
        if (e.subsystem == QLatin1String(kAppId))
            out << (e.level == LogLevel::Info ? "I " : "E ") +
                       (e.message.startsWith("Pellim: ") ? e.message.mid(8) : e.message);
    }
    return out;
}

inline bool isTestFileName(const QString &name) {
    static const QRegularExpression pattern(QStringLiteral(
        "^Pellim[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.txt$"));
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

// While it lives, answers every message box: the guard's prompt ("Folder
// Access") with `promptButton`, anything else with "OK". Records each box and
// the program's entries at the moment it came up.
class BoxAnswerer {
public:
    struct Alert {
        QString text, informativeText;
        QStringList buttons;
        QMessageBox::Icon icon;
        QStringList entriesMeanwhile;
    };
    std::vector<Alert> alerts;
    int prompts = 0;

    BoxAnswerer(const MemoryLogSink &log, std::size_t from,
                QString promptButton = QStringLiteral("Don't Allow")) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this, &log, from, promptButton] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || box == m_last)
                return;
            m_last = box;
            const bool prompt = box->windowTitle() == QLatin1String("Folder Access");
            if (prompt) {
                ++prompts;
            } else {
                QStringList buttons;
                for (QAbstractButton *b : box->buttons())
                    buttons << b->text().remove(QLatin1Char('&'));
                alerts.push_back({box->text(), box->informativeText(), buttons, box->icon(),
                                  programEntries(log, from)});
            }
            clickButton(box, prompt ? promptButton : QStringLiteral("OK"));
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
    QPointer<QMessageBox> m_last;
};

} // namespace pellim::test
