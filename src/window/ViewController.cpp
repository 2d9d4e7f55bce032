// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/ViewController.h"

#include "consent/UserFolders.h"
#include "ui_Main.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QShowEvent>
#include <QTextLayout>
#include <QtMath>

#include <algorithm>

namespace pellim {

namespace {

// What every test file holds: 686 ASCII characters of plain prose, one line.
QString sampleText() {
    return QStringLiteral(
        "This file was written by Pellim, a small program that lets you watch how your "
        "computer guards the folders that belong to you. "
        "Some files reach a program because you chose them yourself in a dialog, and that "
        "choice is all the permission it needs. "
        "Other files are reached without asking you first, and then the guard has to "
        "decide whether to let the program in. "
        "If you can read these words, the test that wrote them was allowed to save a file "
        "in this place. "
        "You may keep this file, move it or delete it, because nothing else depends on it "
        "and Pellim will never look for it again. "
        "It holds only this short paragraph of plain English text, which every test "
        "writes in precisely the same way.");
}

// The person's own folders, in the order of the folder list's names.
QList<FileUrl> protectedFolders() {
    QList<FileUrl> folders;
    // The guard's own reading of the desktop's settings, so that the list and the
    // guard always mean the same folders.
    for (const GuardedFolder folder : kGuardedFolders)
        folders.append(FileUrl::fromLocalBytes(userFolderLocation(folder), true));
    return folders;
}

// A reading test shows up to 80 characters on one line. Make the field wide
// enough for that at the window's default size: measure the widest 80-character
// stretch of ordinary prose (the sample text) and of average characters, and
// add the field's own frame and margins. The prose is laid out once and each
// stretch read off that layout: shaping every stretch on its own was a
// measurable part of start-up.
void fitEightyCharacters(QLineEdit *field, const QString &prose) {
    constexpr int kPreview = 80;
    constexpr int kStep = 8; // stretches start every kStep characters
    static_assert(kPreview % kStep == 0);
    const QFontMetrics metrics(field->font());
    QTextLayout layout(prose, field->font());
    layout.beginLayout();
    const QTextLine line = layout.createLine(); // one line: no width is set
    layout.endLayout();
    QList<qreal> start; // start[k]: where character k * kStep begins
    for (int i = 0; i <= prose.size(); i += kStep)
        start.append(line.cursorToX(i));
    qreal widest = 0;
    for (qsizetype k = 0; k + kPreview / kStep < start.size(); ++k)
        widest = std::max(widest, start[k + kPreview / kStep] - start[k]);
    const int text = std::max(metrics.averageCharWidth() * kPreview, qCeil(widest));
    // sizeHint() is the width of 17 'x' plus everything that is not text.
    const int chrome = field->sizeHint().width() - 17 * metrics.horizontalAdvance(QLatin1Char('x'));
    field->setMinimumWidth(text + chrome + metrics.averageCharWidth());
}

} // namespace

ViewController::ViewController(const Services &services, QWidget *parent)
    : QMainWindow(parent),
      gen_log(services.log, QString::fromLatin1(kAppId), QStringLiteral("general")),
      textOutput(sampleText()), theSpecFolderList{shownFolderName(GuardedFolder::Documents),
                                                  shownFolderName(GuardedFolder::Desktop),
                                                  shownFolderName(GuardedFolder::Downloads)},
      theSpecDirs(protectedFolders()), m_services(services),
      m_ui(std::make_unique<Ui::ViewController>()) {
    m_ui->setupUi(this);
    openedText = m_ui->openedText;
    fileName = m_ui->fileName;
    folderList = m_ui->folderList;
    setUpFolderList();

    fitEightyCharacters(openedText, textOutput);
    fitEightyCharacters(fileName, textOutput);

    // Quit ends the application at once. QCoreApplication::quit() would first
    // send every window a close event, and closing this window is what logs
    // "closing"; Quit logs nothing.
    connect(m_ui->actionQuit, &QAction::triggered, this, [] { QCoreApplication::exit(0); });
}

ViewController::~ViewController() = default;

QAction *ViewController::helpAction() const {
    return m_ui->actionHelp;
}

QAction *ViewController::aboutAction() const {
    return m_ui->actionAbout;
}

void ViewController::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    // Each time the window is shown it starts afresh. The window system follows
    // the first show, and every restore from minimised, with a spontaneous show
    // event of its own: that is not a new appearance and must not wipe what a
    // test has shown.
    if (!event->spontaneous())
        windowSetUp();
}

void ViewController::closeEvent(QCloseEvent *event) {
    logInfo(QStringLiteral("closing"));
    event->accept();
    // Ends the event loop directly, as Quit does; quit() would first ask every
    // window, this one included, to close again.
    QCoreApplication::exit(0);
}

void ViewController::windowSetUp() {
    setWindowTitle(QStringLiteral("Pellim"));
    openedText->setText(tr("[empty]"));
    fileName->setText(tr("[no filename]"));
    folderList->clear();
    folderList->addItems(theSpecFolderList);
    folderList->setCurrentIndex(0);
    logInfo(QStringLiteral("opened"));
}

void ViewController::logInfo(const QString &message) const {
    gen_log.write(LogLevel::Info, QStringLiteral("Pellim: ") + message);
}

void ViewController::logError(const QString &message) const {
    gen_log.write(LogLevel::Error, QStringLiteral("Pellim: ") + message);
}

} // namespace pellim
