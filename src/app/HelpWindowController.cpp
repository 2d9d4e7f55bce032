// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HelpWindowController.h"

#include "ui_HelpWindow.h"

#include <QFile>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace pellim {

namespace {

QString helpText() {
    QFile file(QStringLiteral(":/help/help.html"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<p>The help text is missing from this build of Pellim.</p>");
    return QString::fromUtf8(file.readAll());
}

} // namespace

HelpWindowController::HelpWindowController()
    : m_window(std::make_unique<QWidget>()), m_ui(std::make_unique<Ui::HelpWindow>()) {
    m_ui->setupUi(m_window.get());
    m_ui->helpText->document()->setDocumentMargin(14);
    m_ui->helpText->setHtml(helpText());
    // Closing hides the window (no WA_DeleteOnClose): the controller keeps it.
    for (const QKeySequence &keys :
         {QKeySequence(QKeySequence::Close), QKeySequence(Qt::Key_Escape)}) {
        auto *shortcut = new QShortcut(keys, m_window.get());
        QObject::connect(shortcut, &QShortcut::activated, m_window.get(), &QWidget::close);
    }
}

HelpWindowController::~HelpWindowController() = default;

void HelpWindowController::showWindow() {
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace pellim
