// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/ProgramAnswersView.h"

#include "consent/AnswerChanges.h"

#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pellim {

namespace {

enum Column { kName, kAnswer, kAllow, kDeny, kReset, kColumns };

// A path, a name or a note may hold anything, markup included: always text.
QLabel *textLabel(QWidget *parent, bool wrap) {
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A path too long for a narrow window is cut off rather than widening it; its
// tip shows it whole.
QLabel *detailLabel(QWidget *parent) {
    QLabel *label = textLabel(parent, false);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

// A tip is shown as rich text when it looks like some, and a program's name
// or a path may look like anything: always shown as the text it is.
QString plainTip(const QString &text) {
    return text.isEmpty() ? text : QStringLiteral("<qt>%1</qt>").arg(text.toHtmlEscaped());
}

// The folders' mnemonics, for the rows of the guard's own program.
const std::array<const char *, 3> kMnemonicNames = {
    QT_TRANSLATE_NOOP("pellim::ProgramAnswersView", "&Documents"),
    QT_TRANSLATE_NOOP("pellim::ProgramAnswersView", "D&esktop"),
    QT_TRANSLATE_NOOP("pellim::ProgramAnswersView", "Do&wnloads")};

} // namespace

QString shownAnswer(ConsentAnswer answer) {
    switch (answer) {
    case ConsentAnswer::Allowed:
        return ProgramAnswersView::tr("Allowed");
    case ConsentAnswer::Denied:
        return ProgramAnswersView::tr("Denied");
    case ConsentAnswer::NotDecided:
        break;
    }
    return ProgramAnswersView::tr("Not decided");
}

ProgramAnswersView::ProgramAnswersView(const QString &id, const QString &name, bool own,
                                       QWidget *parent)
    : QFrame(parent), m_id(id), m_name(name), m_own(own), m_grid(new QGridLayout) {
    auto *column = new QVBoxLayout(this);
    column->setSpacing(4);
    column->addLayout(m_grid);
    m_chosenBox = new QWidget(this);
    m_chosenBox->hide();
    column->addWidget(m_chosenBox);
    setFrameShape(QFrame::StyledPanel);
    setObjectName(QStringLiteral("program:") + id);
    // A screen reader names the group a button lies in: the program's.
    setAccessibleName(name);
    setAccessibleDescription(id);
    m_grid->setHorizontalSpacing(8);
    m_grid->setVerticalSpacing(4);
    m_grid->setColumnStretch(kName, 1);
    m_grid->setColumnMinimumWidth(kAnswer, fontMetrics().horizontalAdvance(tr("Not decided")) + 16);

    m_title = textLabel(this, true);
    QFont bigger = m_title->font();
    bigger.setBold(true);
    bigger.setPointSizeF(bigger.pointSizeF() * 1.15);
    m_title->setFont(bigger);
    m_title->setText(name);
    m_grid->addWidget(m_title, 0, kName, 1, kAllow);
    m_file = detailLabel(this);
    m_file->setText(id);
    m_file->setToolTip(plainTip(id));
    m_grid->addWidget(m_file, 1, kName, 1, kAllow);
    m_reset = new QPushButton(tr("Reset Program"), this);
    m_reset->setAutoDefault(false);
    m_reset->setAccessibleName(tr("Reset every answer of %1").arg(name));
    m_reset->setToolTip(
        plainTip(tr("Forget every answer of %1, so that it is asked again").arg(name)));
    connect(m_reset, &QPushButton::clicked, this, &ProgramAnswersView::resetProgram);
    m_grid->addWidget(m_reset, 0, kAllow, 2, kColumns - kAllow, Qt::AlignRight | Qt::AlignVCenter);

    m_nextLine = 2;
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
        const GuardedFolder folder = kGuardedFolders[i];
        m_folders[i] = makeRow(own ? tr(kMnemonicNames[i]) : shownFolderName(folder),
                               folderKey(folder), m_nextLine);
        Row &row = m_folders[i];
        row.name->installEventFilter(this);
        connect(row.allow, &QPushButton::clicked, this,
                [this, folder] { emit folderAnswer(folder, ConsentAnswer::Allowed); });
        connect(row.deny, &QPushButton::clicked, this,
                [this, folder] { emit folderAnswer(folder, ConsentAnswer::Denied); });
        connect(row.reset, &QPushButton::clicked, this,
                [this, folder] { emit folderAnswer(folder, ConsentAnswer::NotDecided); });
        const QString shown = shownFolderName(folder);
        const bool pellim = id == QLatin1String(kAppId);
        row.allow->setAccessibleName(named(tr("Allow %1").arg(shown)));
        row.deny->setAccessibleName(named(tr("Deny %1").arg(shown)));
        row.reset->setAccessibleName(named(tr("Reset %1").arg(shown)));
        row.allow->setToolTip(plainTip(pellim
                                           ? tr("Let Pellim into %1 without asking").arg(shown)
                                           : tr("Let %2 into %1 without asking").arg(shown, name)));
        row.deny->setToolTip(
            plainTip(pellim ? tr("Keep Pellim out of %1 without asking").arg(shown)
                            : tr("Keep %2 out of %1 without asking").arg(shown, name)));
        row.reset->setToolTip(plainTip(
            pellim ? tr("Forget the answer for %1, so that Pellim asks again").arg(shown)
                   : tr("Forget the answer for %1, so that %2 is asked again").arg(shown, name)));
    }
}

// Pellim's buttons keep the names they always had; another program's say
// whose they are, since the window lists several.
QString ProgramAnswersView::named(const QString &text) const {
    return m_id == QLatin1String(kAppId) ? text : tr("%1 for %2").arg(text, m_name);
}

// A row of three lines from `line` on: the name with the answer and the
// buttons beside it, its detail under them (as wide as the row: a path is
// read whole where it fits) and a note under that.
ProgramAnswersView::Row ProgramAnswersView::makeRow(const QString &shownName, const QString &key,
                                                    int line) {
    Row row;
    row.name = new QLabel(shownName, this);
    row.name->setTextFormat(Qt::PlainText); // a mnemonic still works in plain text
    QFont bold = row.name->font();
    bold.setBold(true);
    row.name->setFont(bold);
    row.detail = detailLabel(this);
    row.answer = textLabel(this, false);
    row.chosen = textLabel(this, true);
    row.chosen->hide();
    // Pellim's own rows keep the names the tests and scripts know them by.
    const QString suffix = m_own ? QString() : QStringLiteral(":") + m_id;
    row.detail->setObjectName(QStringLiteral("path-") + key + suffix);
    row.answer->setObjectName(QStringLiteral("answer-") + key + suffix);
    row.chosen->setObjectName(QStringLiteral("chosen-") + key + suffix);
    m_grid->addWidget(row.name, line, kName);
    m_grid->addWidget(row.detail, line + 1, kName, 1, kColumns);
    m_grid->addWidget(row.answer, line, kAnswer);
    int column = kAllow;
    for (QPushButton **button : {&row.allow, &row.deny, &row.reset}) {
        static const char *const kTexts[] = {QT_TR_NOOP("Allow"), QT_TR_NOOP("Deny"),
                                             QT_TR_NOOP("Reset")};
        *button = new QPushButton(tr(kTexts[column - kAllow]), this);
        (*button)->setAutoDefault(false);
        m_grid->addWidget(*button, line, column++);
    }
    m_grid->addWidget(row.chosen, line + 2, kName, 1, kColumns);
    m_nextLine = line + 3;
    return row;
}

QList<QWidget *> ProgramAnswersView::focusOrder() const {
    // The program's Reset last: the first button a window opens on is never
    // the one that forgets the most.
    QList<QWidget *> order;
    for (const Row &row : m_folders)
        order << row.allow << row.deny << row.reset;
    for (const auto &[entry, row] : m_entries)
        order << row.allow << row.deny << row.reset;
    return order << m_revokes << m_reset;
}

void ProgramAnswersView::display(const Shown &shown) {
    if (!shown.answers.name.isEmpty() && shown.answers.name != m_name) {
        m_name = shown.answers.name; // a program stored again under another name
        m_title->setText(m_name);
        setAccessibleName(m_name);
    }
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
        Row &row = m_folders[i];
        // The paths are the same for every program: under the guard's own
        // program's folders, and in a tip for the others.
        row.detail->setText(shown.paths[i]);
        row.detail->setToolTip(plainTip(shown.paths[i]));
        row.detail->setVisible(m_own);
        row.name->setToolTip(plainTip(m_own ? QString() : shown.paths[i]));
        const ConsentAnswer answer = shown.answers.answers[i];
        showRow(row, shownFolderName(kGuardedFolders[i]), answer, shown.refused,
                shown.open[i] ? tr("Open") : shownAnswer(answer));
        row.chosen->setText(shown.chosen[i]);
        row.chosen->setVisible(!shown.chosen[i].isEmpty());
        if (!shown.chosen[i].isEmpty())
            row.answer->setAccessibleName(row.answer->accessibleName() + QStringLiteral(". ") +
                                          shown.chosen[i]);
        row.name->setBuddy(row.allow->isEnabled() ? row.allow : row.deny);
    }
    showEntries(shown);
    showChosen(shown);
    const bool any = std::any_of(shown.answers.answers.begin(), shown.answers.answers.end(),
                                 [](ConsentAnswer a) { return a != ConsentAnswer::NotDecided; });
    m_reset->setEnabled(!shown.refused && (any || !shown.answers.entries.empty()));
}

void ProgramAnswersView::showRow(Row &row, const QString &heard, ConsentAnswer answer, bool refused,
                                 const QString &shownAnswer) {
    row.answer->setText(shownAnswer);
    // Heard on its own, the word needs what it is the answer for.
    row.answer->setAccessibleName(tr("%1: %2").arg(named(heard), shownAnswer));
    // A refused store is never written, so no button there can change anything.
    row.allow->setEnabled(!refused && answer != ConsentAnswer::Allowed);
    row.deny->setEnabled(!refused && answer != ConsentAnswer::Denied);
    row.reset->setEnabled(!refused && answer != ConsentAnswer::NotDecided);
}

// The entries' rows are made afresh when the entries change (an answer
// stored or forgotten), so they stay in order; otherwise only their answers
// are shown again.
void ProgramAnswersView::showEntries(const Shown &shown) {
    const auto &entries = shown.answers.entries;
    const bool same =
        entries.size() == m_entries.size() &&
        std::equal(entries.begin(), entries.end(), m_entries.begin(),
                   [](const auto &stored, const auto &row) { return stored.first == row.first; });
    if (!same) {
        for (auto &[entry, row] : m_entries)
            for (QWidget *w : std::initializer_list<QWidget *>{
                     row.name, row.detail, row.answer, row.chosen, row.allow, row.deny, row.reset})
                w->deleteLater();
        m_entries.clear();
        m_nextLine = 2 + 3 * int(kGuardedFolders.size());
        for (const auto &[entry, answer] : entries) {
            const QString name = shownEntry(entry);
            Row row = makeRow(name, name, m_nextLine);
            row.detail->hide();
            // A name as long as a file system allows would widen the window
            // past the screen: cut in the middle, whole in its tip.
            row.name->setText(row.name->fontMetrics().elidedText(
                name, Qt::ElideMiddle, 20 * fontMetrics().averageCharWidth()));
            row.name->setToolTip(
                plainTip(tr("%1: where programs keep settings and code that can run later")
                             .arg(QFile::decodeName(entry))));
            for (auto [button, given] : {std::pair{row.allow, ConsentAnswer::Allowed},
                                         {row.deny, ConsentAnswer::Denied},
                                         {row.reset, ConsentAnswer::NotDecided}})
                connect(button, &QPushButton::clicked, this,
                        [this, e = entry, g = given] { emit entryAnswer(e, g); });
            row.allow->setAccessibleName(tr("Allow %1 for %2").arg(name, m_name));
            row.deny->setAccessibleName(tr("Deny %1 for %2").arg(name, m_name));
            row.reset->setAccessibleName(tr("Reset %1 for %2").arg(name, m_name));
            row.allow->setToolTip(
                plainTip(tr("Let %2 change %1 without asking").arg(name, m_name)));
            row.deny->setToolTip(
                plainTip(tr("Keep %2 from changing %1 without asking").arg(name, m_name)));
            row.reset->setToolTip(plainTip(
                tr("Forget the answer for %1, so that %2 is asked again").arg(name, m_name)));
            m_entries.emplace(entry, row);
        }
    }
    for (const auto &[entry, answer] : entries)
        showRow(m_entries.at(entry), shownEntry(entry), answer, shown.refused, shownAnswer(answer));
}

// Made afresh when what was chosen changes; a program that quits takes its
// rows with it.
void ProgramAnswersView::showChosen(const Shown &shown) {
    if (shown.running == m_chosen)
        return;
    m_chosen = shown.running;
    m_revokes.clear();
    delete m_chosenBox->layout();
    for (QWidget *old : m_chosenBox->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        old->deleteLater();
    m_chosenBox->setVisible(!m_chosen.empty());
    if (m_chosen.empty())
        return;
    auto *grid = new QGridLayout(m_chosenBox);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setColumnStretch(0, 1);
    QLabel *heading = textLabel(m_chosenBox, true);
    heading->setText(tr("Chosen in a dialog, open until %1 quits:").arg(m_name));
    grid->addWidget(heading, 0, 0, 1, 2);
    int line = 1;
    for (const auto &[guard, item] : m_chosen) {
        const QString path = QFile::decodeName(item.path);
        const QString shownPath =
            item.folder ? tr("%1 (the folder and all in it)").arg(path) : path;
        QLabel *label = detailLabel(m_chosenBox);
        label->setForegroundRole(QPalette::WindowText);
        label->setText(shownPath);
        label->setToolTip(plainTip(shownPath));
        auto *revoke = new QPushButton(tr("Revoke"), m_chosenBox);
        revoke->setAutoDefault(false);
        revoke->setAccessibleName(tr("Revoke %1 for %2").arg(path, m_name));
        revoke->setToolTip(plainTip(
            tr("Take %1 back from %2: what it opens there next is decided by the answer for its "
               "folder")
                .arg(path, m_name)));
        connect(revoke, &QPushButton::clicked, this,
                [this, g = guard, p = item.path] { emit revokeChosen(g, p); });
        grid->addWidget(label, line, 0);
        grid->addWidget(revoke, line++, 1);
        m_revokes << revoke;
    }
}

// A folder's mnemonic moves to its row and changes nothing: QLabel would
// click its button buddy, Allow, a moment later.
bool ProgramAnswersView::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Shortcut) {
        if (auto *label = qobject_cast<QLabel *>(watched); label && label->buddy()) {
            label->buddy()->setFocus(Qt::ShortcutFocusReason);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace pellim
