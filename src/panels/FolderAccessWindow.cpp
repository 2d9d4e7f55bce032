// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/FolderAccessWindow.h"

#include "consent/ConsentPrompter.h"
#include "consent/FolderGuard.h"
#include "consent/UserFolders.h"
#include "panels/ErrorColour.h"
#include "panels/ProgramAnswersView.h"
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
#include <QScrollBar>

#include <algorithm>

#include <unistd.h>

namespace pellim {

namespace {

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
                                       QString storePath, bool kernelGuard, Program program,
                                       QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::FolderAccessWindow>()), m_guard(guard),
      m_program(program.id.isEmpty() ? pellimProgram(program.path) : std::move(program)),
      m_store(std::move(storePath), m_program.id), m_journal(journal),
      m_watcher(new QFileSystemWatcher(this)) {
    m_ui->setupUi(this);
    // A helper window: closing it hides it and must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_ui->scope->setText(
        m_program.isPellim()
            ? answerScopeText()
            : tr("An answer is remembered for the whole folder until it is changed. A file or "
                 "folder you choose in a file dialog stays granted until %1 quits, whatever the "
                 "answer for its folder.")
                  .arg(m_program.name));
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
    // Room for a few programs before the list scrolls.
    const int wanted = m_ui->programs->sizeHint().height() + sizeHint().height() -
                       m_ui->programsArea->sizeHint().height();
    resize(QSize(std::max(640, sizeHint().width()), std::min(wanted, 720)));
}

FolderAccessWindow::~FolderAccessWindow() = default;

void FolderAccessWindow::showEvent(QShowEvent *event) {
    refresh();
    QWidget::showEvent(event);
}

void FolderAccessWindow::changeEvent(QEvent *event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refresh();
    if (event->type() == QEvent::PaletteChange && m_ui->problem) // once the form is set up
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
// that its creation is seen and the watch moves down. The running guards'
// folder is watched beside it, where it is.
void FolderAccessWindow::watchStore() {
    if (m_store.filePath().isEmpty())
        return;
    const Result<QByteArray> running = RunningGrants::folder();
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
        QStringList wanted(dir);
        if (running)
            wanted << QFile::decodeName(*running);
        if (watched != wanted) {
            if (!watched.isEmpty())
                m_watcher->removePaths(watched);
            m_watcher->addPaths(wanted);
        }
        const QString now = target();
        if (now == dir)
            break;
        dir = now;
    }
}

void FolderAccessWindow::refresh() {
    watchStore();
    const Result<QByteArray> running = RunningGrants::folder();
    m_running = running ? RunningGrants(*running).programs() : std::vector<RunningProgram>();
    m_ui->unshared->setVisible(!qgetenv("XDG_RUNTIME_DIR").startsWith('/'));
    const ConsentStore::Contents contents = m_store.read();
    showPrograms(contents);
    showRecorded(contents.recorded);
    // Resetting a damaged or unreadable store writes it afresh, which is a change.
    m_ui->resetAll->setEnabled(contents.state != ConsentStore::FileState::Refused &&
                               (!m_store.programs().empty() || !contents.problem.isEmpty()));
    showProblem(contents);
    // The list scrolls up and down only: it is as wide as its widest row.
    m_ui->programsArea->setMinimumWidth(
        m_ui->programs->minimumSizeHint().width() +
        m_ui->programsArea->verticalScrollBar()->sizeHint().width());
    // Top to bottom, whichever rows came and went.
    QList<QWidget *> order;
    for (ProgramAnswersView *view : m_views)
        order << view->focusOrder();
    for (QPushButton *release : m_ui->recorded->findChildren<QPushButton *>())
        if (!release->parentWidget()->property("gone").toBool())
            order << release;
    order << m_ui->resetAll << m_ui->closeButton;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    keepRoom();
}

// The view of `id`, made when it is not shown yet; its buttons change that
// program's answers.
ProgramAnswersView *FolderAccessWindow::viewFor(const QString &id, const QString &name) {
    for (ProgramAnswersView *view : m_views)
        if (view->id() == id)
            return view;
    auto *view = new ProgramAnswersView(id, name, id == m_program.id, m_ui->programs);
    connect(
        view, &ProgramAnswersView::folderAnswer, this,
        [this, id](GuardedFolder folder, ConsentAnswer answer) { setAnswer(folder, answer, id); });
    connect(view, &ProgramAnswersView::entryAnswer, this,
            [this, id](const QByteArray &entry, ConsentAnswer answer) {
                setEntryAnswer(id, entry, answer);
            });
    connect(view, &ProgramAnswersView::resetProgram, this, [this, id] { resetProgram(id); });
    connect(view, &ProgramAnswersView::revokeChosen, this, &FolderAccessWindow::revokeChosen);
    return view;
}

// The guard's own program, then Pellim, both whether answered or not, then
// every other program with an answer or something chosen while it runs.
std::vector<ConsentStore::ProgramAnswers> FolderAccessWindow::listed() {
    std::vector<ConsentStore::ProgramAnswers> stored = m_store.programs();
    for (const RunningProgram &r : m_running)
        if (!r.chosen.empty() &&
            std::none_of(stored.begin(), stored.end(), [&](const auto &p) { return p.id == r.id; }))
            stored.push_back({r.id, r.name, {}, {}});
    std::stable_sort(stored.begin(), stored.end(), [](const auto &a, const auto &b) {
        return a.isPellim() != b.isPellim() ? a.isPellim()
                                            : a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    const auto take = [&](const QString &id, const QString &name) {
        const auto found =
            std::find_if(stored.begin(), stored.end(), [&](const auto &p) { return p.id == id; });
        if (found == stored.end())
            return ConsentStore::ProgramAnswers{id, name, {}, {}};
        ConsentStore::ProgramAnswers program = *found;
        stored.erase(found);
        return program;
    };
    std::vector<ConsentStore::ProgramAnswers> shown{take(m_program.id, m_program.name)};
    if (!m_program.isPellim())
        shown.push_back(take(QString::fromLatin1(kAppId), QStringLiteral("Pellim")));
    shown.insert(shown.end(), stored.begin(), stored.end());
    return shown;
}

void FolderAccessWindow::showPrograms(const ConsentStore::Contents &contents) {
    const QByteArray homeBytes = homeFolder();
    const QString home =
        homeBytes.isEmpty() ? QString() : resolvePath(QFile::decodeName(homeBytes));
    std::vector<ProgramAnswersView *> views;
    for (const ConsentStore::ProgramAnswers &program : listed()) {
        ProgramAnswersView::Shown what{
            program, contents.state == ConsentStore::FileState::Refused, {}, {}, {}, {}};
        for (std::size_t i = 0; i < kGuardedFolders.size(); ++i) {
            const QString path = userFolderPath(kGuardedFolders[i]);
            const bool guarded = !path.isEmpty() && (home.isEmpty() || resolvePath(path) != home);
            what.paths[i] = path.isEmpty() ? tr("(no such folder)")
                            : guarded      ? path
                                      : tr("%1 (the home folder itself: not guarded)").arg(path);
            if (guarded && program.id == m_program.id)
                what.chosen[i] = chosenNote(path, program.answers[i], &what.open[i]);
        }
        what.running = runningChosen(program.id);
        ProgramAnswersView *view = viewFor(program.id, program.name);
        view->display(what);
        views.push_back(view);
    }
    for (ProgramAnswersView *old : m_views)
        if (std::find(views.begin(), views.end(), old) == views.end())
            old->deleteLater();
    for (std::size_t i = 0; i < views.size(); ++i) {
        m_ui->programRows->removeWidget(views[i]);
        m_ui->programRows->insertWidget(int(i), views[i]);
    }
    m_views = std::move(views);
}

// What the running guards of `id` other than this one granted in a dialog;
// this guard's own choices are the notes under its folders.
std::vector<std::pair<qint64, ChosenItem>>
FolderAccessWindow::runningChosen(const QString &id) const {
    std::vector<std::pair<qint64, ChosenItem>> chosen;
    for (const RunningProgram &r : m_running)
        if (r.id == id && !(r.guard == ::getpid() && id == m_program.id))
            for (const ChosenItem &item : r.chosen)
                chosen.emplace_back(r.guard, item);
    return chosen;
}

bool FolderAccessWindow::revokeChosen(qint64 guard, const QByteArray &path) {
    const auto running = std::find_if(m_running.begin(), m_running.end(),
                                      [&](const RunningProgram &r) { return r.guard == guard; });
    const Result<QByteArray> folder = RunningGrants::folder();
    const Outcome revoked =
        running == m_running.end() || !folder
            ? Outcome(Failure{tr("the program has quit")})
            : RunningGrants(*folder).revoke(*running, path, RevokedBy::FolderAccess);
    if (revoked)
        m_ui->failure->hide();
    else
        showFailure(
            tr("%1 was not revoked: %2").arg(QFile::decodeName(path), revoked.failure().text()));
    refresh();
    return revoked.ok();
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
    const bool pellim = m_program.isPellim();
    if (*wholeFolder)
        return pellim ? tr("The folder was chosen in a dialog: it is open until Pellim quits. The "
                           "stored answer: %1.")
                            .arg(shownAnswer(answer))
                      : tr("The folder was chosen in a dialog: it is open until %2 quits. The "
                           "stored answer: %1.")
                            .arg(shownAnswer(answer), m_program.name);
    QStringList paths;
    for (const FolderGuard::ChosenIn &c : chosen)
        paths << c.path;
    if (paths.isEmpty())
        return {};
    // One to a line: a path cut where the line ends is hard to read.
    const QString list =
        paths.size() == 1 ? paths.front() : QLatin1Char('\n') + paths.join(QLatin1Char('\n'));
    return pellim ? tr("Chosen in a dialog, open until Pellim quits: %1").arg(list)
                  : tr("Chosen in a dialog, open until %2 quits: %1").arg(list, m_program.name);
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

Program FolderAccessWindow::programOf(const QString &id) const {
    if (id.isEmpty() || id == m_program.id)
        return m_program;
    if (id == QLatin1String(kAppId))
        return pellimProgram({});
    for (const ConsentStore::ProgramAnswers &p : m_store.programs())
        if (p.id == id)
            return Program{p.id, p.name, QFile::encodeName(p.id)};
    return Program{id, {}, QFile::encodeName(id)};
}

// Hides an earlier failure, or shows this one: `failure` with `subject` for
// its "%1" and the reason for its "%2", or without a subject the reason for
// its "%1" (both at once: a "%1" in a name is the name's own); the answers
// are shown afresh.
bool FolderAccessWindow::changed(const Result<ConsentStore::Stored> &stored, const QString &failure,
                                 const QString &subject) {
    if (stored)
        m_ui->failure->hide();
    else
        showFailure(subject.isNull() ? failure.arg(stored.failure().text())
                                     : failure.arg(subject, stored.failure().text()));
    refresh();
    return stored.ok();
}

// The changes for `program`, whose entries name it unless it is Pellim.
AnswerChanges FolderAccessWindow::changesFor(ConsentStore &store, const Program &program) {
    return AnswerChanges(store, m_journal, QStringLiteral("in Folder Access"),
                         program.isPellim() ? QString() : program.name);
}

bool FolderAccessWindow::setAnswer(GuardedFolder folder, ConsentAnswer answer, const QString &id) {
    const Program program = programOf(id);
    ConsentStore store(m_store.filePath(), program.id,
                       program.isPellim() ? QString() : program.name);
    return changed(changesFor(store, program).setAnswer(folder, answer),
                   tr("%1 was not changed: %2"), shownFolderName(folder));
}

bool FolderAccessWindow::setEntryAnswer(const QString &id, const QByteArray &entry,
                                        ConsentAnswer answer) {
    const Program program = programOf(id);
    ConsentStore store(m_store.filePath(), program.id,
                       program.isPellim() ? QString() : program.name);
    return changed(changesFor(store, program).setEntryAnswer(entry, answer),
                   tr("%1 was not changed: %2"), shownEntry(entry));
}

bool FolderAccessWindow::resetProgram(const QString &id) {
    const Program program = programOf(id);
    ConsentStore store(m_store.filePath(), program.id,
                       program.isPellim() ? QString() : program.name);
    return changed(changesFor(store, program).resetProgram(),
                   tr("The answers of %1 were not reset: %2"), program.name);
}

void FolderAccessWindow::showRecorded(const std::vector<ConsentStore::RecordedFolder> &recorded) {
    // Made afresh: there are few, and a change by pellim-consent may add or drop one.
    for (QWidget *old : m_ui->recorded->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        old->setProperty("gone", true);
        old->deleteLater();
    }
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
    AnswerChanges changes(m_store, m_journal, QStringLiteral("in Folder Access"));
    return changed(changes.release(path, shown), tr("%1 was not released: %2"), shown);
}

bool FolderAccessWindow::resetAll() {
    AnswerChanges changes(m_store, m_journal, QStringLiteral("in Folder Access"));
    return changed(changes.resetEveryProgram(), tr("The answers were not reset: %1"));
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
