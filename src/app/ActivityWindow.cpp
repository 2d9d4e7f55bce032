// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ActivityWindow.h"

#include "journal/JournalSink.h"

#include "journal/Log.h"
#include "panels/ErrorColour.h"
#include "ui_ActivityWindow.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStyle>
#include <QTableView>

#include <poll.h>

namespace pellim {

namespace {

enum Column { TimeColumn, LevelColumn, SourceColumn, MessageColumn, ColumnCount };

bool isError(const JournalRecord &r) {
    return r.priority <= 3;
}

QString levelName(int priority) {
    switch (priority) {
    case 0:
    case 1:
    case 2:
    case 3:
        return ActivityWindow::tr("Error");
    case 4:
        return ActivityWindow::tr("Warning");
    case 5:
        return ActivityWindow::tr("Notice");
    case 6:
        return ActivityWindow::tr("Info");
    default:
        return ActivityWindow::tr("Debug");
    }
}

// The words an entry of `subsystem` starts with in the journal, which the
// Source column says already.
QLatin1String sourcePrefix(const QString &subsystem) {
    if (subsystem == QLatin1String(kAppId))
        return QLatin1String("Pellim: ");
    if (subsystem == QLatin1String(kGuardSubsystem))
        return QLatin1String("Folder guard: ");
    return {};
}

QString sourceName(const QString &subsystem) {
    if (subsystem == QLatin1String(kAppId))
        return QStringLiteral("Pellim");
    if (subsystem == QLatin1String(kGuardSubsystem))
        return ActivityWindow::tr("Folder guard");
    return subsystem;
}

QString localTime(std::int64_t realtimeUsec) {
    return QDateTime::fromMSecsSinceEpoch(realtimeUsec / 1000, Qt::LocalTime)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

// A file name may hold a line feed or a tab. Shown raw, it would break a row in
// two or shift the columns of a copied line, so control characters are written
// as escapes, the way the standard-error fallback writes them.
QString visibleText(const JournalRecord &r) {
    const QLatin1String prefix = sourcePrefix(r.subsystem);
    const bool repeated = prefix.size() > 0 && r.message.startsWith(prefix);
    return escapeControlCharacters(repeated ? r.message.mid(prefix.size()) : r.message, false);
}

} // namespace

class ActivityModel final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    struct Row {
        bool error;
        QString cells[ColumnCount];
    };

    int rowCount(const QModelIndex &parent = {}) const override {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex &parent = {}) const override {
        return parent.isValid() ? 0 : ColumnCount;
    }

    QVariant data(const QModelIndex &index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const Row &row = m_rows[std::size_t(index.row())];
        switch (role) {
        case Qt::DisplayRole:
            return row.cells[index.column()];
        case Qt::DecorationRole:
            if (row.error && index.column() == LevelColumn)
                return m_errorIcon;
            return {};
        case Qt::ForegroundRole:
            if (row.error)
                return m_errorColour;
            return {};
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        switch (section) {
        case TimeColumn:
            return ActivityWindow::tr("Time");
        case LevelColumn:
            return ActivityWindow::tr("Level");
        case SourceColumn:
            return ActivityWindow::tr("Source");
        case MessageColumn:
            return ActivityWindow::tr("Message");
        default:
            return {};
        }
    }

    void append(const std::vector<JournalRecord> &records) {
        if (records.empty())
            return;
        const int first = rowCount();
        beginInsertRows({}, first, first + int(records.size()) - 1);
        for (const JournalRecord &r : records)
            m_rows.push_back(Row{isError(r),
                                 {localTime(r.realtimeUsec), levelName(r.priority),
                                  sourceName(r.subsystem), visibleText(r)}});
        endInsertRows();
    }

    void clear() {
        beginResetModel();
        m_rows.clear();
        endResetModel();
    }

    const Row &row(int i) const { return m_rows[std::size_t(i)]; }

    void setErrorLook(QIcon icon, QColor colour) {
        m_errorIcon = std::move(icon);
        m_errorColour = colour;
    }

private:
    std::vector<Row> m_rows;
    QIcon m_errorIcon;
    QColor m_errorColour;
};

ActivityWindow::ActivityWindow(std::unique_ptr<JournalReader> reader, QWidget *parent)
    : QWidget(parent, Qt::Window), m_ui(std::make_unique<Ui::ActivityWindow>()),
      m_reader(std::move(reader)), m_model(new ActivityModel(this)) {
    m_ui->setupUi(this);
    // A helper window: closing it hides it and must never end the application.
    setAttribute(Qt::WA_QuitOnClose, false);

    showErrorsInRed();
    m_ui->entries->setModel(m_model);

    QHeaderView *header = m_ui->entries->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const QFontMetrics metrics(m_ui->entries->font());
    const int iconRoom = style()->pixelMetric(QStyle::PM_SmallIconSize) + 12;
    header->resizeSection(
        TimeColumn, metrics.horizontalAdvance(QStringLiteral("8888-88-88 88:88:88.888")) + 16);
    header->resizeSection(LevelColumn, metrics.horizontalAdvance(tr("Warning")) + iconRoom + 8);
    header->resizeSection(SourceColumn, metrics.horizontalAdvance(tr("Folder guard")) + 16);
    // Whole messages, wrapped where they are longer than the column (a path
    // breaks after a slash): the decision is at the end.
    m_ui->entries->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto *copy = new QAction(tr("&Copy"), m_ui->entries);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, &ActivityWindow::copySelection);
    m_ui->entries->addAction(copy);
    m_ui->entries->setContextMenuPolicy(Qt::ActionsContextMenu);

    auto *close = new QAction(tr("Close"), this);
    close->setShortcuts({QKeySequence::Close, QKeySequence(Qt::Key_Escape)});
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);

    connect(m_ui->clearButton, &QPushButton::clicked, this, &ActivityWindow::clear);

    // Follow the newest entry while the view sits at the bottom; once the person
    // scrolls up, stay where they are until they come back down.
    QScrollBar *bar = m_ui->entries->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { m_follow = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_follow)
            bar->setValue(maximum);
    });

    openJournal();
}

ActivityWindow::~ActivityWindow() = default;

void ActivityWindow::showAndRaise() {
    show();
    raise();
    activateWindow();
    openJournal();
}

QAbstractItemModel *ActivityWindow::model() const {
    return m_model;
}
QTableView *ActivityWindow::table() const {
    return m_ui->entries;
}
QPushButton *ActivityWindow::clearButton() const {
    return m_ui->clearButton;
}

QString ActivityWindow::notice() const {
    return m_ui->notice->isHidden() ? QString() : m_ui->notice->text();
}

QString ActivityWindow::explain(const JournalReadError &error) {
    switch (error.reason) {
    case JournalReadError::Reason::NoDaemon:
        return tr("Pellim cannot read the journal because no journal service is running; start "
                  "it (sudo systemctl start systemd-journald) and choose Window > Activity "
                  "again, and until then Pellim writes its entries to standard error.");
    case JournalReadError::Reason::NoPermission:
        return tr("Pellim cannot read the journal because you may not read it; add yourself "
                  "to the systemd-journal group (sudo usermod -aG systemd-journal $USER), log "
                  "in again and restart Pellim, and until then its entries are still recorded "
                  "in the journal for those who may read it.");
    case JournalReadError::Reason::NoFiles:
        return tr("Pellim cannot read the journal because the journal service keeps no files "
                  "here; set Storage=auto or persistent in journald.conf and restart the "
                  "service, and until then the journal does not keep Pellim's entries.");
    case JournalReadError::Reason::OpenFailed:
        break;
    }
    return tr("Pellim cannot read the journal (%1); check the journal service and choose "
              "Window > Activity again, and until then Pellim's entries still go to the "
              "journal.")
        .arg(qt_error_string(error.errorCode));
}

void ActivityWindow::openJournal() {
    if (m_notifier)
        return;
    if (const auto error = m_reader->open()) {
        m_ui->notice->setText(explain(*error));
        m_ui->notice->show();
        return;
    }
    m_ui->notice->clear();
    m_ui->notice->hide();
    const short events = m_reader->wakeEvents();
    const auto type =
        (events & POLLOUT) && !(events & POLLIN) ? QSocketNotifier::Write : QSocketNotifier::Read;
    m_notifier = std::make_unique<QSocketNotifier>(m_reader->wakeFd(), type);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ActivityWindow::readEntries);
    readEntries();
}

void ActivityWindow::readEntries() {
    m_model->append(m_reader->readNew());
}

void ActivityWindow::clear() {
    m_model->clear();
    m_follow = true;
}

QString ActivityWindow::selectedText() const {
    QModelIndexList rows = m_ui->entries->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QString text;
    for (const QModelIndex &index : rows) {
        const auto &row = m_model->row(index.row());
        for (int c = 0; c < ColumnCount; ++c) {
            if (c > 0)
                text += QLatin1Char('\t');
            text += row.cells[c];
        }
        text += QLatin1Char('\n');
    }
    return text;
}

void ActivityWindow::copySelection() const {
    const QString text = selectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

// A red that reads on the theme's own background, light or dark; the icon and
// the level's word carry the meaning for those who cannot tell the colour.
void ActivityWindow::showErrorsInRed() {
    m_model->setErrorLook(style()->standardIcon(QStyle::SP_MessageBoxCritical),
                          errorTextColour(m_ui->entries->palette(), QPalette::Base));
    m_errorLookSet = true;
}

void ActivityWindow::changeEvent(QEvent *event) {
    // Not while setupUi() is still making the widgets.
    if (m_errorLookSet &&
        (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)) {
        showErrorsInRed();
        m_ui->entries->viewport()->update();
    }
    QWidget::changeEvent(event);
}

void ActivityWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (m_follow)
        m_ui->entries->scrollToBottom();
}

} // namespace pellim
