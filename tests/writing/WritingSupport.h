#pragma once

// What the writing tests share: reading back the program's own entries, the
// shape of a test file name, answering the failure alert and the guard's prompt.

#include "platform/Log.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <vector>

namespace pellim::test {

// The program's own entries (not the guard's) from position `from` on, each as
// "I " or "E " followed by the message after "Pellim: ".
inline QStringList programEntries(const MemoryLogSink &log, std::size_t from = 0) {
    QStringList out;
    const auto &entries = log.entries();
    for (std::size_t i = from; i < entries.size(); ++i) {
        if (entries[i].subsystem != QLatin1String(kAppId))
            continue;
        // Every entry carries the program's prefix; one without it keeps its
        // whole text and so matches no expected message.
        QString message = entries[i].message;
        if (message.startsWith(QLatin1String("Pellim: ")))
            message.remove(0, 8);
        out << (entries[i].level == LogLevel::Info ? "I " : "E ") + message;
    }
    return out;
}

// "Pellim", an upper-case version-4 UUID, ".txt".
inline bool isTestFileName(const QString &name) {
    static const QRegularExpression pattern(QStringLiteral(
        "^Pellim[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.txt$"));
    return pattern.match(name).hasMatch();
}

inline QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Types `text` into `field` key by key, non-ASCII letters included (which
// QTest::keyClicks cannot send), after selecting what was there.
inline void typeReplacing(QWidget *field, const QString &text) {
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(field, c.toLatin1());
        } else {
            const auto key = Qt::Key(c.toUpper().unicode());
            QTest::sendKeyEvent(QTest::Press, field, key, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, field, key, QString(c), Qt::NoModifier);
        }
    }
}

// Answers every message box that comes up while it lives (the failure alert, a
// folder-access prompt) and records what each showed and which of the program's
// entries existed at that moment. Prompts get `promptButton`, anything else "OK".
class BoxAnswerer {
public:
    struct Seen {
        QString title;
        QString text;
        QString informativeText;
        QStringList buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList entriesMeanwhile;
    };

    BoxAnswerer(const MemoryLogSink &log, std::size_t from,
                QString promptButton = QStringLiteral("Don't Allow"))
        : m_log(log), m_from(from), m_promptButton(std::move(promptButton)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    std::vector<Seen> seen;
    // The boxes that were not the folder guard's prompt.
    std::vector<Seen> alerts() const {
        std::vector<Seen> out;
        for (const Seen &s : seen)
            if (s.title != QLatin1String("Folder Access"))
                out.push_back(s);
        return out;
    }
    int prompts() const { return int(seen.size() - alerts().size()); }

private:
    void poll() {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == m_last)
            return;
        m_last = box;
        Seen s{box->windowTitle(),           box->text(), box->informativeText(), {}, box->icon(),
               programEntries(m_log, m_from)};
        for (QAbstractButton *b : box->buttons())
            s.buttons << b->text().remove(QLatin1Char('&'));
        seen.push_back(s);
        const bool prompt = s.title == QLatin1String("Folder Access");
        clickButton(box, prompt ? m_promptButton : QStringLiteral("OK"));
    }

    const MemoryLogSink &m_log;
    std::size_t m_from;
    QString m_promptButton;
    QTimer m_timer;
    QPointer<QMessageBox> m_last;
};

} // namespace pellim::test
