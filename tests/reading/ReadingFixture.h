#pragma once

// Shared by the reading tests: a record of what the window showed and logged, in
// the order it happened, and helpers that answer the file dialogs.

#include "support/Harness.h"
#include "support/Modal.h"

#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <utility>
#include <vector>

namespace pellim::test {

// Field changes and log entries interleaved as they happened. A field change is
// "openedText: <text>" or "fileName: <text>"; an entry is "info: <message>" or
// "error: <message>" without the "Pellim: " prefix. Only changes are seen, so a
// test gives the fields texts of its own first.
class Timeline {
public:
    explicit Timeline(Harness &h) : m_h(h) {
        h.window.openedText->setText(QStringLiteral("earlier text"));
        h.window.fileName->setText(QStringLiteral("earlier name"));
        h.log.clear();
        watch(h.window.openedText, QStringLiteral("openedText: "));
        watch(h.window.fileName, QStringLiteral("fileName: "));
    }

    QStringList events() const {
        QStringList out;
        std::size_t field = 0;
        const auto &entries = m_h.log.entries();
        for (std::size_t i = 0; i <= entries.size(); ++i) {
            while (field < m_fields.size() && m_fields[field].first == i)
                out << m_fields[field++].second;
            if (i < entries.size())
                out << entryText(entries[i]);
        }
        return out;
    }

    // The log entries alone.
    QStringList entries() const {
        QStringList out;
        for (const auto &e : m_h.log.entries())
            out << entryText(e);
        return out;
    }

    int countStartingWith(const QString &prefix) const {
        int n = 0;
        for (const QString &e : entries())
            n += e.startsWith(prefix) ? 1 : 0;
        return n;
    }

private:
    static QString entryText(const LogEntry &e) {
        QString m = e.message;
        if (m.startsWith(QLatin1String("Pellim: ")))
            m.remove(0, 8);
        return (e.level == LogLevel::Info ? QStringLiteral("info: ") : QStringLiteral("error: ")) +
               m;
    }
    void watch(QLineEdit *field, const QString &label) {
        QObject::connect(field, &QLineEdit::textChanged, &m_context,
                         [this, label](const QString &t) {
                             m_fields.emplace_back(m_h.log.entries().size(), label + t);
                         });
    }

    Harness &m_h;
    QObject m_context;
    std::vector<std::pair<std::size_t, QString>> m_fields; // log size at the change, text
};

// A path as the window writes file paths: the test paths hold nothing else that
// needs escaping.
inline QString encoded(QString path) {
    return path.replace(QLatin1Char(' '), QStringLiteral("%20"));
}

inline QPushButton *button(Harness &h, const char *name) {
    return h.window.findChild<QPushButton *>(QString::fromLatin1(name));
}

// Clicks `buttonName` and returns the new file dialog it opened (null on timeout).
inline QFileDialog *clickForDialog(Harness &h, const char *buttonName) {
    const QList<QFileDialog *> before = openFileDialogs();
    QPushButton *b = button(h, buttonName);
    if (!b)
        return nullptr;
    b->click();
    QFileDialog *found = nullptr;
    waitUntil([&] {
        for (QFileDialog *d : openFileDialogs())
            if (!before.contains(d))
                found = d;
        return found != nullptr;
    });
    return found;
}

inline void chooseFile(QFileDialog *dialog, const QString &path) {
    dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept();
}

inline void chooseFolder(QFileDialog *dialog, const QString &path) {
    dialog->setDirectory(path);
    if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        name->clear();
    static_cast<QDialog *>(dialog)->accept();
}

} // namespace pellim::test
