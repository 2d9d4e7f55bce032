// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HelpWindowController.h"

#include "l10n/Translations.h"
#include "ui_HelpWindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace pellim {

namespace {

// The help page in the person's language, where there is one.
QString helpText() {
    QFile file(localizedResource(QStringLiteral(":/help/help.html")));
    if (!file.open(QIODevice::ReadOnly))
        return QCoreApplication::translate(
            "pellim::HelpWindowController",
            "<p>The help text is missing from this build of Pellim.</p>");
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
