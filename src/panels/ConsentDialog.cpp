// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/ConsentDialog.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QWindow>

namespace pellim {

DialogConsentPrompter::DialogConsentPrompter(std::function<PlaceOver()> before)
    : m_before(std::move(before)) {}

PromptAnswer DialogConsentPrompter::ask(const ConsentRequest &request) {
    const PlaceOver placeOver = m_before ? m_before() : PlaceOver();
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || QCoreApplication::closingDown() || QThread::currentThread() != app->thread())
        return PromptAnswer::CannotAsk;

    // No parent: a window that closes while the box is up must not take the box
    // (and the answer) with it.
    QMessageBox box;
    // Not "Folder Access": that is the window that lists the answers.
    box.setWindowTitle(
        QCoreApplication::translate("pellim::ConsentDialog", "Pellim: allow folder access?"));
    box.setIcon(QMessageBox::Question);
    // Paths are shown as they are; a name that looks like markup stays text.
    box.setTextFormat(Qt::PlainText);
    box.setText(promptText(request.folder));
    box.setInformativeText(promptInformativeText(request));
    if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    QPushButton *allow = box.addButton(
        QCoreApplication::translate("pellim::ConsentDialog", "&Allow"), QMessageBox::AcceptRole);
    QPushButton *deny =
        box.addButton(QCoreApplication::translate("pellim::ConsentDialog", "&Don't Allow"),
                      QMessageBox::RejectRole);
    box.setDefaultButton(deny);
    box.setEscapeButton(deny);
    box.setWindowModality(Qt::ApplicationModal);
    if (placeOver)
        placeOver(&box);
    box.exec();
    // Anything but a click on Allow (Escape, closing, Enter on the default) refuses.
    return box.clickedButton() == allow ? PromptAnswer::Allow : PromptAnswer::Deny;
}

} // namespace pellim
