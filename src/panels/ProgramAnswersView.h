// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "consent/ConsentStore.h"
#include "consent/RunningGrants.h"

#include <QFrame>
#include <QList>
#include <QString>

#include <array>
#include <map>
#include <vector>

class QGridLayout;
class QLabel;
class QPushButton;

namespace pellim {

// One program's answers in Folder Access, a row of its own: its name and file,
// then each guarded folder and each entry in the home it has an answer for,
// with the answer and Allow, Deny and Reset, and a Reset for the program;
// below them, while it runs under guards of other processes, what it was
// granted in a dialog, each with Revoke. Shown again at every refresh; only
// the entries' and the chosen items' rows come and go, so the focus stays on
// the button the person left it on.
class ProgramAnswersView : public QFrame {
    Q_OBJECT

public:
    // What is shown for the program at one refresh.
    struct Shown {
        ConsentStore::ProgramAnswers answers;
        bool refused = false;          // the store cannot be written
        std::array<QString, 3> paths;  // each folder's path, or why there is none
        std::array<QString, 3> chosen; // what dialog choices opened there
        std::array<bool, 3> open{};    // the folder itself was chosen
        // What its running guards granted it in a dialog, each with its guard.
        std::vector<std::pair<qint64, ChosenItem>> running;
    };

    // `own`: the program of the guard showing the window, whose folders the
    // mnemonics reach. Pellim's buttons are named as they always were
    // ("Allow Documents"), another program's with its name ("… for sh").
    ProgramAnswersView(const QString &id, const QString &name, bool own, QWidget *parent);

    const QString &id() const { return m_id; }
    void display(const Shown &shown);
    // The buttons, top to bottom, for the window's tab order.
    QList<QWidget *> focusOrder() const;

Q_SIGNALS:
    void folderAnswer(GuardedFolder folder, ConsentAnswer answer);
    void entryAnswer(const QByteArray &entry, ConsentAnswer answer);
    void resetProgram();
    void revokeChosen(qint64 guard, const QByteArray &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Row {
        QLabel *name = nullptr;
        QLabel *detail = nullptr; // the folder's path
        QLabel *answer = nullptr;
        QLabel *chosen = nullptr; // what a dialog choice opens until the program quits
        QPushButton *allow = nullptr;
        QPushButton *deny = nullptr;
        QPushButton *reset = nullptr;
    };

    Row makeRow(const QString &shownName, const QString &key, int line);
    void showRow(Row &row, const QString &heard, ConsentAnswer answer, bool refused,
                 const QString &shownAnswer);
    void showEntries(const Shown &shown);
    void showChosen(const Shown &shown);
    QString named(const QString &text) const;

    QString m_id;
    QString m_name;
    bool m_own;
    QGridLayout *m_grid = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_file = nullptr;
    QPushButton *m_reset = nullptr;
    std::array<Row, 3> m_folders{};
    std::map<QByteArray, Row> m_entries;
    QWidget *m_chosenBox = nullptr;
    std::vector<std::pair<qint64, ChosenItem>> m_chosen; // as shown in m_chosenBox
    QList<QWidget *> m_revokes;
    int m_nextLine = 0;
};

// "Allowed", "Denied", "Not decided", in the person's language: the words
// Folder Access shows and says an answer with.
QString shownAnswer(ConsentAnswer answer);

} // namespace pellim
