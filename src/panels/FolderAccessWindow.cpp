// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/FolderAccessWindow.h"

#include "consent/ConsentPrompter.h"
#include "consent/FolderGuard.h"
#include "consent/UserFolders.h"
#include "panels/ErrorColour.h"
#include "paths/PathWalk.h"
#include "ui_FolderAccess.h"

#include <QAction>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

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

FolderAccessWindow::FolderAccessWindow(LogSink &journal, const FolderGuard *guard,
                                       QString storePath, bool kernelGuard, QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::FolderAccessWindow>()), m_guard(guard),
      m_store(std::move(storePath)),
      m_changes(m_store, journal, QStringLiteral("in Folder Access")),
      m_watcher(new QFileSystemWatcher(this)) {
    m_ui->setupUi(this);
    // A helper window: closing it hides it and must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);

    m_rows = {
        Row{m_ui->nameDocuments, m_ui->pathDocuments, m_ui->answerDocuments, m_ui->chosenDocuments,
            m_ui->allowDocuments, m_ui->denyDocuments, m_ui->resetDocuments},
        Row{m_ui->nameDesktop, m_ui->pathDesktop, m_ui->answerDesktop, m_ui->chosenDesktop,
            m_ui->allowDesktop, m_ui->denyDesktop, m_ui->resetDesktop},
        Row{m_ui->nameDownloads, m_ui->pathDownloads, m_ui->answerDownloads, m_ui->chosenDownloads,
            m_ui->allowDownloads, m_ui->denyDownloads, m_ui->resetDownloads}};
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        setUpRow(i);
    m_ui->rows->setColumnMinimumWidth(1, fontMetrics().horizontalAdvance(tr("Not decided")) + 16);
    m_ui->scope->setText(answerScopeText());
    m_ui->inProcess->setObjectName(QStringLiteral("in-process"));
    m_ui->inProcess->setVisible(!kernelGuard);
    showErrorsInRed();

    connect(m_ui->resetAll, &QPushButton::clicked, this, &FolderAccessWindow::resetAll);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto *close = new QAction(tr("Close"), this);
    close->setShortcuts({QKeySequence::Close, QKeySequence(Qt::Key_Escape)});
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);

    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderAccessWindow::refresh);

    refresh();
    resize(sizeHint().expandedTo(QSize(640, 0)));
}

// The form names the widgets; the folder's name, which the person's language
// and the desktop decide, is put into each row's names and tips here.
void FolderAccessWindow::setUpRow(std::size_t index) {
    const GuardedFolder folder = kGuardedFolders[index];
    const QString name = shownFolderName(folder);
    const Row &row = m_rows[index];
    row.path->setObjectName(QStringLiteral("path-") + folderKey(folder));
    row.path->setForegroundRole(QPalette::PlaceholderText);
    row.answer->setObjectName(QStringLiteral("answer-") + folderKey(folder));
    row.chosen->setObjectName(QStringLiteral("chosen-") + folderKey(folder));
    const auto button = [&](QPushButton *b, const QString &verb, const QString &tip,
                            ConsentAnswer answer) {
        b->setAccessibleName(verb.arg(name));
        b->setToolTip(tip.arg(name));
        connect(b, &QPushButton::clicked, this,
                [this, folder, answer] { setAnswer(folder, answer); });
    };
    button(row.allow, tr("Allow %1"), tr("Let Pellim into %1 without asking"),
           ConsentAnswer::Allowed);
    button(row.deny, tr("Deny %1"), tr("Keep Pellim out of %1 without asking"),
           ConsentAnswer::Denied);
    button(row.reset, tr("Reset %1"), tr("Forget the answer for %1, so that Pellim asks again"),
           ConsentAnswer::NotDecided);
    row.name->installEventFilter(this);
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
    if (event->type() == QEvent::PaletteChange && m_rows[0].name) // once the form is set up
        showErrorsInRed();
    QWidget::changeEvent(event);
}

// Red as the theme allows: a dark theme needs a lighter red than a light one.
void FolderAccessWindow::showErrorsInRed() {
    for (QLabel *label : {m_ui->problem, m_ui->failure}) {
        QPalette red = label->palette();
        red.setColor(QPalette::WindowText, errorTextColour(palette(), QPalette::Window));
        label->setPalette(red);
    }
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
        const ConsentAnswer answer = contents.answer(kGuardedFolders[i]);
        anyDecided = anyDecided || answer != ConsentAnswer::NotDecided;
        showRow(i, answer, refused, home);
    }
    showRecorded(contents.recorded);
    // Resetting a damaged or unreadable store writes it afresh, which is a change.
    m_ui->resetAll->setEnabled(!refused && (anyDecided || !contents.problem.isEmpty()));
    showProblem(contents);
    keepRoom();
}

void FolderAccessWindow::showRow(std::size_t index, ConsentAnswer answer, bool refused,
                                 const QString &home) {
    const GuardedFolder folder = kGuardedFolders[index];
    const Row &row = m_rows[index];
    const QString path = userFolderPath(folder);
    const bool guarded = !path.isEmpty() && (home.isEmpty() || resolvePath(path) != home);
    if (path.isEmpty())
        row.path->setText(tr("(no such folder)"));
    else if (!guarded)
        row.path->setText(tr("%1 (the home folder itself: not guarded)").arg(path));
    else
        row.path->setText(path);
    row.path->setToolTip(row.path->text()); // a long path may be cut off

    bool whole = false;
    const QString chosen = guarded ? chosenNote(path, answer, &whole) : QString();
    const QString shown = whole ? tr("Open") : shownAnswer(answer);
    row.answer->setText(shown);
    // Heard on its own, the word needs its folder.
    row.answer->setAccessibleName(
        chosen.isEmpty() ? tr("%1: %2").arg(shownFolderName(folder), shown)
                         : tr("%1: %2. %3").arg(shownFolderName(folder), shown, chosen));
    row.chosen->setText(chosen);
    row.chosen->setVisible(!chosen.isEmpty());
    // A refused store is never written, so no button there can change anything.
    row.allow->setEnabled(!refused && answer != ConsentAnswer::Allowed);
    row.deny->setEnabled(!refused && answer != ConsentAnswer::Denied);
    row.reset->setEnabled(!refused && answer != ConsentAnswer::NotDecided);
    row.name->setBuddy(row.allow->isEnabled() ? row.allow : row.deny);
}

// What the stored answer does not say: the items chosen in a file dialog in
// this run, which stay open until Pellim quits. Empty when there are none.
QString FolderAccessWindow::chosenNote(const QString &path, ConsentAnswer answer,
                                       bool *wholeFolder) const {
    if (!m_guard)
        return {};
    const std::optional<Walked> folder = walkPath(QFile::encodeName(path));
    if (!folder || !folder->exists)
        return {};
    const std::vector<FolderGuard::ChosenIn> chosen = m_guard->grantsIn(folder->identity);
    *wholeFolder = std::any_of(chosen.begin(), chosen.end(),
                               [](const FolderGuard::ChosenIn &c) { return c.wholeFolder; });
    if (*wholeFolder)
        return tr("The folder was chosen in a dialog: it is open until Pellim quits. The stored "
                  "answer: %1.")
            .arg(shownAnswer(answer));
    QStringList paths;
    for (const FolderGuard::ChosenIn &c : chosen)
        paths << c.path;
    if (paths.isEmpty())
        return {};
    // One to a line: a path cut where the line ends is hard to read.
    return tr("Chosen in a dialog, open until Pellim quits: %1")
        .arg(paths.size() == 1 ? paths.front() : QLatin1Char('\n') + paths.join(QLatin1Char('\n')));
}

void FolderAccessWindow::showProblem(const ConsentStore::Contents &contents) {
    using State = ConsentStore::FileState;
    if (contents.problem.isEmpty()) {
        m_ui->problem->hide();
    } else {
        m_ui->problem->setText(
            contents.state == State::Refused
                ? tr("The stored answers are ignored: %1. Every folder counts as not decided, "
                     "and no answer can be stored.")
                      .arg(contents.problem)
                : tr("The stored answers are ignored: %1. Every folder counts as not decided "
                     "until the next change; before it is stored, the file is kept beside it "
                     "under a name that says so.")
                      .arg(contents.problem));
        m_ui->problem->show();
    }
    QStringList kept;
    for (const QString &file : m_store.keptFiles())
        kept << tr("Earlier answers that could not be used are kept in %1; Pellim does not "
                   "read that file.")
                    .arg(file);
    m_ui->kept->setText(kept.join(QLatin1Char('\n')));
    m_ui->kept->setVisible(!kept.isEmpty());
}

bool FolderAccessWindow::setAnswer(GuardedFolder folder, ConsentAnswer answer) {
    const Result<ConsentStore::Stored> stored = m_changes.setAnswer(folder, answer);
    if (stored)
        m_ui->failure->hide();
    else
        showFailure(
            tr("%1 was not changed: %2").arg(shownFolderName(folder), stored.failure().text()));
    refresh();
    return stored.ok();
}

void FolderAccessWindow::showRecorded(const std::vector<ConsentStore::RecordedFolder> &recorded) {
    // Made afresh: there are few, and a change by pellim-consent may add or drop one.
    for (QWidget *old : m_ui->recorded->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        old->deleteLater();
    bool any = false;
    for (const ConsentStore::RecordedFolder &folder : recorded) {
        const QString path = QFile::decodeName(folder.path);
        if (path == userFolderPath(folder.folder))
            continue; // named now: it stays guarded, and its row above says so
        if (!any) {
            QLabel *heading = textLabel(m_ui->recorded, true);
            heading->setText(tr("Guarded before, and still guarded though the desktop's settings "
                                "no longer name them:"));
            m_ui->recorded->layout()->addWidget(heading);
            any = true;
        }
        auto *line = new QWidget(m_ui->recorded);
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
        m_ui->recorded->layout()->addWidget(line);
    }
    m_ui->recorded->setVisible(any);
}

bool FolderAccessWindow::release(const QByteArray &path) {
    const QString shown = QFile::decodeName(path);
    const Result<ConsentStore::Stored> released = m_changes.release(path, shown);
    if (released) {
        m_ui->failure->hide();
    } else {
        showFailure(tr("%1 was not released: %2").arg(shown, released.failure().text()));
    }
    refresh();
    return released.ok();
}

bool FolderAccessWindow::resetAll() {
    const Result<ConsentStore::Stored> stored = m_changes.resetAll();
    if (stored)
        m_ui->failure->hide();
    else
        showFailure(tr("The answers were not reset: %1").arg(stored.failure().text()));
    refresh();
    return stored.ok();
}

void FolderAccessWindow::showFailure(const QString &text) {
    m_ui->failure->setText(text);
    m_ui->failure->show();
    keepRoom();
}

// The layout sets no minimum height for wrapped text, so a notice that appears
// would squeeze the rows instead of making the window taller. The text is
// tallest at the narrowest width the window allows: that height is kept free.
void FolderAccessWindow::keepRoom() {
    setMinimumHeight(heightForWidth(minimumWidth()));
}

} // namespace pellim
