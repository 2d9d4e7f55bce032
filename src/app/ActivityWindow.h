// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/JournalReader.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QAbstractItemModel;
class QLabel;
class QPushButton;
class QSocketNotifier;
class QTableView;

namespace Ui {
class ActivityWindow;
}

namespace pellim {

class ActivityModel;

// Shows, live, what this run wrote to the journal, read back from the journal
// itself. Closing it only hides it; entries keep arriving while it is hidden.
// It never writes an entry of its own.
class ActivityWindow : public QWidget {
    Q_OBJECT

public:
    explicit ActivityWindow(std::unique_ptr<JournalReader> reader, QWidget *parent = nullptr);
    ~ActivityWindow() override;

    // The Activity command: shows the window, brings it to the front and, if the
    // journal could not be read before, tries again.
    void showAndRaise();

    // The rows shown, as the view sees them (columns: time, level, source, message).
    QAbstractItemModel *model() const;
    QTableView *table() const;
    QPushButton *clearButton() const;
    // The sentence shown when the journal cannot be read; empty otherwise.
    QString notice() const;
    // The selected rows as text, one line per row, columns separated by tabs.
    QString selectedText() const;

    // The sentence that tells the person why the journal cannot be read and what
    // to do about it.
    static QString explain(const JournalReadError &error);

public Q_SLOTS:
    void clear();
    void copySelection() const;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void showErrorsInRed();
    void openJournal();
    void readEntries();

    std::unique_ptr<Ui::ActivityWindow> m_ui;
    std::unique_ptr<JournalReader> m_reader;
    ActivityModel *m_model = nullptr;
    // Declared after the reader so it stops watching before the reader closes
    // the descriptor.
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_follow = true;
    bool m_errorLookSet = false;
};

} // namespace pellim
