// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/FolderAccessWindow.h"

#include "consent/ConsentPrompter.h"
#include "consent/FolderGuard.h"
#include "consent/UserFolders.h"
#include "panels/ErrorColour.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pellim {

namespace {

QString shownAnswer(ConsentAnswer answer) {
    switch (answer) {
    case ConsentAnswer::Allowed:
        return FolderAccessWindow::tr("Allowed");
    case ConsentAnswer::Denied:
        return FolderAccessWindow::tr("Denied");
    case ConsentAnswer::NotDecided:
        break;
    }
    return FolderAccessWindow::tr("Not decided");
}

// A path or a reason may hold anything, markup included: always shown as text.
QLabel *textLabel(QWidget *parent, bool wrap) {
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

FolderAccessWindow::FolderAccessWindow(LogSink &journal, QString storePath, bool kernelGuard,
                                       QWidget *parent)
    : QWidget(parent, Qt::Window), m_store(std::move(storePath)),
      m_changes(m_store, journal, QStringLiteral("in Folder Access")),
      m_watcher(new QFileSystemWatcher(this)),
      m_log(journal, QString::fromLatin1(kGuardSubsystem), QStringLiteral("decisions")) {
    setWindowTitle(tr("Folder Access"));
    // A helper window: closing it hides it and must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(12);

    QLabel *intro = textLabel(this, true);
    intro->setText(tr("Pellim asks before it reaches into these folders. Your answers:"));
    layout->addWidget(intro);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(0, 1);
    grid->setColumnMinimumWidth(1, fontMetrics().horizontalAdvance(tr("Not decided")) + 16);
    const std::array<QString, 3> mnemonicNames = {tr("&Documents"), tr("D&esktop"),
                                                  tr("Do&wnloads")};
    // Widgets are made row by row, left to right: that is the tab order.
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
        const GuardedFolder folder = kGuardedFolders[i];
        const QString name = shownFolderName(folder);
        const int line = int(i) * 3;
        Row &row = m_rows[i];

        row.name = new QLabel(mnemonicNames[i], this);
        QFont bold = row.name->font();
        bold.setBold(true);
        row.name->setFont(bold);
        row.path = textLabel(this, false);
        row.path->setObjectName(QStringLiteral("path-") + folderKey(folder));
        row.path->setForegroundRole(QPalette::PlaceholderText);
        row.answer = textLabel(this, false);
        row.answer->setObjectName(QStringLiteral("answer-") + folderKey(folder));

        const auto button = [&](const QString &text, const QString &verb, const QString &tip,
                                ConsentAnswer answer) {
            auto *b = new QPushButton(text, this);
            b->setAccessibleName(verb.arg(name));
            b->setToolTip(tip.arg(name));
            b->setAutoDefault(false);
            connect(b, &QPushButton::clicked, this,
                    [this, folder, answer] { setAnswer(folder, answer); });
            return b;
        };
        row.allow = button(tr("Allow"), tr("Allow %1"), tr("Let Pellim into %1 without asking"),
                           ConsentAnswer::Allowed);
        row.deny = button(tr("Deny"), tr("Deny %1"), tr("Keep Pellim out of %1 without asking"),
                          ConsentAnswer::Denied);
        row.reset = button(tr("Reset"), tr("Reset %1"),
                           tr("Forget the answer for %1, so that Pellim asks again"),
                           ConsentAnswer::NotDecided);
        row.name->setBuddy(row.allow);
        row.name->installEventFilter(this);

        if (i > 0) {
            auto *rule = new QFrame(this);
            rule->setFrameShape(QFrame::HLine);
            rule->setFrameShadow(QFrame::Sunken);
            grid->addWidget(rule, line - 1, 0, 1, 5);
        }
        grid->addWidget(row.name, line, 0);
        grid->addWidget(row.path, line + 1, 0);
        grid->addWidget(row.answer, line, 1, 2, 1, Qt::AlignVCenter);
        grid->addWidget(row.allow, line, 2, 2, 1, Qt::AlignVCenter);
        grid->addWidget(row.deny, line, 3, 2, 1, Qt::AlignVCenter);
        grid->addWidget(row.reset, line, 4, 2, 1, Qt::AlignVCenter);
    }
    layout->addLayout(grid);
    m_recorded = new QWidget(this);
    m_recorded->setObjectName(QStringLiteral("recorded"));
    new QVBoxLayout(m_recorded);
    m_recorded->layout()->setContentsMargins(0, 0, 0, 0);
    m_recorded->hide();
    layout->addWidget(m_recorded);

    m_problem = textLabel(this, true);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->hide();
    layout->addWidget(m_problem);
    m_failure = textLabel(this, true);
    m_failure->setObjectName(QStringLiteral("failure"));
    m_failure->hide();
    showFailureInRed();
    layout->addWidget(m_failure);

    QLabel *scope = textLabel(this, true);
    scope->setText(answerScopeText());
    layout->addWidget(scope);
    if (!kernelGuard) {
        QLabel *inProcess = textLabel(this, true);
        inProcess->setObjectName(QStringLiteral("in-process"));
        inProcess->setText(tr("The kernel does not guard these folders on this system: Pellim "
                              "checks access in its own process only, so code running inside "
                              "Pellim could change these answers."));
        layout->addWidget(inProcess);
    }
    layout->addStretch(1);

    auto *buttons = new QDialogButtonBox(this);
    m_resetAll = buttons->addButton(tr("Reset &All"), QDialogButtonBox::ResetRole);
    m_resetAll->setAccessibleName(tr("Reset All"));
    m_resetAll->setToolTip(tr("Forget the answers for every folder, so that Pellim asks again"));
    m_resetAll->setAutoDefault(false);
    connect(m_resetAll, &QPushButton::clicked, this, &FolderAccessWindow::resetAll);
    QPushButton *closeButton = buttons->addButton(QDialogButtonBox::Close);
    closeButton->setText(tr("&Close"));
    closeButton->setAutoDefault(false);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    layout->addWidget(buttons);

    auto *close = new QAction(tr("Close"), this);
    close->setShortcuts({QKeySequence::Close, QKeySequence(Qt::Key_Escape)});
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);

    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderAccessWindow::refresh);

    setMinimumWidth(560);
    refresh();
    resize(sizeHint().expandedTo(QSize(640, 0)));
}

FolderAccessWindow::~FolderAccessWindow() = default;

void FolderAccessWindow::showEvent(QShowEvent *event) {
    refresh();
    QWidget::showEvent(event);
}

// A label's mnemonic does more than move to its buddy: QLabel clicks a button
// buddy too, so Alt+D would allow Documents. Here it only moves to the row.
bool FolderAccessWindow::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Shortcut) {
        if (auto *label = qobject_cast<QLabel *>(watched); label && label->buddy()) {
            label->buddy()->setFocus(Qt::ShortcutFocusReason);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FolderAccessWindow::changeEvent(QEvent *event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refresh();
    if (event->type() == QEvent::PaletteChange)
        showFailureInRed();
    QWidget::changeEvent(event);
}

// Red as the theme allows: a dark theme needs a lighter red than a light one.
void FolderAccessWindow::showFailureInRed() {
    if (!m_failure)
        return; // not made yet
    QPalette red = m_failure->palette();
    red.setColor(QPalette::WindowText, errorTextColour(palette(), QPalette::Window));
    m_failure->setPalette(red);
}

// The store's folder may not exist yet (pellim-consent or the guard makes it with
// the first answer); until it does, the nearest folder above it is watched, so
// that its creation is seen and the watch moves down.
void FolderAccessWindow::watchStore() {
    if (m_store.filePath().isEmpty())
        return;
    const auto target = [this] {
        QString dir = QFileInfo(m_store.filePath()).absolutePath();
        while (!QFileInfo(dir).isDir()) {
            const QString up = QFileInfo(dir).absolutePath();
            if (up == dir)
                break;
            dir = up;
        }
        return dir;
    };
    // The folder may appear between looking and watching: look again until the
    // watch sits where it should.
    for (QString dir = target();;) {
        const QStringList watched = m_watcher->directories();
        if (watched != QStringList{dir}) {
            if (!watched.isEmpty())
                m_watcher->removePaths(watched);
            m_watcher->addPath(dir);
        }
        const QString now = target();
        if (now == dir)
            break;
        dir = now;
    }
}

void FolderAccessWindow::refresh() {
    watchStore();
    const ConsentStore::Contents contents = m_store.read();
    const bool refused = contents.state == ConsentStore::FileState::Refused;
    const QByteArray homeBytes = homeFolder();
    const QString home =
        homeBytes.isEmpty() ? QString() : resolvePath(QFile::decodeName(homeBytes));
    bool anyDecided = false;
    for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
        const GuardedFolder folder = kGuardedFolders[i];
        const Row &row = m_rows[i];
        const QString path = userFolderPath(folder);
        if (path.isEmpty())
            row.path->setText(tr("(no such folder)"));
        else if (!home.isEmpty() && resolvePath(path) == home)
            row.path->setText(tr("%1 (the home folder itself: not guarded)").arg(path));
        else
            row.path->setText(path);
        row.path->setToolTip(row.path->text()); // a long path may be cut off
        const ConsentAnswer answer = contents.answer(folder);
        anyDecided = anyDecided || answer != ConsentAnswer::NotDecided;
        row.answer->setText(shownAnswer(answer));
        // Heard on its own, the word needs its folder.
        row.answer->setAccessibleName(
            tr("%1: %2").arg(shownFolderName(folder), shownAnswer(answer)));
        // A refused store is never written, so no button there can change anything.
        row.allow->setEnabled(!refused && answer != ConsentAnswer::Allowed);
        row.deny->setEnabled(!refused && answer != ConsentAnswer::Denied);
        row.reset->setEnabled(!refused && answer != ConsentAnswer::NotDecided);
        row.name->setBuddy(row.allow->isEnabled() ? row.allow : row.deny);
    }
    showRecorded(contents.recorded);
    // Resetting a damaged or unreadable store writes it afresh, which is a change.
    m_resetAll->setEnabled(!refused && (anyDecided || !contents.problem.isEmpty()));

    if (contents.problem.isEmpty()) {
        m_problem->hide();
    } else {
        m_problem->setText(
            refused ? tr("The stored answers are ignored: %1. Every folder counts as not "
                         "decided, and no answer can be stored.")
                          .arg(contents.problem)
                    : tr("The stored answers are ignored: %1. Every folder counts as not "
                         "decided until the next change.")
                          .arg(contents.problem));
        m_problem->show();
    }
    keepRoom();
}

bool FolderAccessWindow::setAnswer(GuardedFolder folder, ConsentAnswer answer) {
    QString error;
    const bool done = m_changes.setAnswer(folder, answer, &error);
    if (done)
        m_failure->hide();
    else
        showFailure(tr("%1 was not changed: %2").arg(shownFolderName(folder), error));
    refresh();
    return done;
}

void FolderAccessWindow::showRecorded(const std::vector<ConsentStore::RecordedFolder> &recorded) {
    // Made afresh: there are few, and a change by pellim-consent may add or drop one.
    for (QWidget *old : m_recorded->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        old->deleteLater();
    bool any = false;
    for (const ConsentStore::RecordedFolder &folder : recorded) {
        const QString path = QFile::decodeName(folder.path);
        if (path == userFolderPath(folder.folder))
            continue; // named now: it stays guarded, and its row above says so
        if (!any) {
            QLabel *heading = textLabel(m_recorded, true);
            heading->setText(tr("Guarded before, and still guarded though the desktop's settings "
                                "no longer name them:"));
            m_recorded->layout()->addWidget(heading);
            any = true;
        }
        auto *line = new QWidget(m_recorded);
        auto *row = new QHBoxLayout(line);
        row->setContentsMargins(0, 0, 0, 0);
        QLabel *text = textLabel(line, false);
        text->setText(tr("%1: %2").arg(shownFolderName(folder.folder), path));
        row->addWidget(text, 1);
        auto *releaseButton = new QPushButton(tr("Release"), line);
        releaseButton->setAccessibleName(tr("Release %1").arg(path));
        releaseButton->setToolTip(tr("Stop guarding %1").arg(path));
        releaseButton->setAutoDefault(false);
        connect(releaseButton, &QPushButton::clicked, this,
                [this, bytes = folder.path] { release(bytes); });
        row->addWidget(releaseButton);
        m_recorded->layout()->addWidget(line);
    }
    m_recorded->setVisible(any);
}

bool FolderAccessWindow::release(const QByteArray &path) {
    QString error;
    const QString shown = QFile::decodeName(path);
    const bool done = m_store.release(path, &error);
    if (done) {
        m_log.write(LogLevel::Info,
                    QStringLiteral("%1: released in Folder Access; no longer guarded").arg(shown));
        m_failure->hide();
    } else {
        showFailure(tr("%1 was not released: %2").arg(shown, error));
    }
    refresh();
    return done;
}

bool FolderAccessWindow::resetAll() {
    QString error;
    const bool done = m_changes.resetAll(&error);
    if (done)
        m_failure->hide();
    else
        showFailure(tr("The answers were not reset: %1").arg(error));
    refresh();
    return done;
}

void FolderAccessWindow::showFailure(const QString &text) {
    m_failure->setText(text);
    m_failure->show();
    keepRoom();
}

// The layout sets no minimum height for wrapped text, so a notice that appears
// would squeeze the rows instead of making the window taller. The text is
// tallest at the narrowest width the window allows: that height is kept free.
void FolderAccessWindow::keepRoom() {
    setMinimumHeight(heightForWidth(minimumWidth()));
}

} // namespace pellim
