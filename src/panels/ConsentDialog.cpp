// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/ConsentDialog.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QWindow>

#include <memory>

namespace pellim {

namespace {

bool canAsk() {
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    return app && !QCoreApplication::closingDown() && QThread::currentThread() == app->thread();
}

// Not "Folder Access": that is the window that lists the answers. Nor
// "Pellim: …" for another program's question: Pellim is not the one asking.
QString titleOf(const ConsentRequest &request) {
    if (!request.entry.isEmpty())
        return QCoreApplication::translate("pellim::ConsentDialog", "Allow changes to %1?")
            .arg(request.entry);
    if (!request.program.isPellim())
        return QCoreApplication::translate("pellim::ConsentDialog", "Allow folder access?");
    return QCoreApplication::translate("pellim::ConsentDialog", "Pellim: allow folder access?");
}

// The box; its Allow button is `allow`.
std::unique_ptr<QMessageBox> questionBox(const ConsentRequest &request, QPushButton *&allow) {
    // No parent: a window that closes while the box is up must not take the box
    // (and the answer) with it.
    auto box = std::make_unique<QMessageBox>();
    box->setWindowTitle(titleOf(request));
    box->setIcon(QMessageBox::Question);
    // Paths are shown as they are; a name that looks like markup stays text.
    box->setTextFormat(Qt::PlainText);
    box->setText(promptText(request));
    box->setInformativeText(promptInformativeText(request));
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    allow = box->addButton(QCoreApplication::translate("pellim::ConsentDialog", "&Allow"),
                           QMessageBox::AcceptRole);
    QPushButton *deny =
        box->addButton(QCoreApplication::translate("pellim::ConsentDialog", "&Don't Allow"),
                       QMessageBox::RejectRole);
    box->setDefaultButton(deny);
    box->setEscapeButton(deny);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

// Anything but a click on Allow (Escape, closing, Enter on the default) refuses.
PromptAnswer answerOf(const QMessageBox &box, const QPushButton *allow) {
    return box.clickedButton() == allow ? PromptAnswer::Allow : PromptAnswer::Deny;
}

} // namespace

PromptAnswer DialogConsentPrompter::ask(const ConsentRequest &request) {
    if (!canAsk())
        return PromptAnswer::CannotAsk;
    QPushButton *allow = nullptr;
    const std::unique_ptr<QMessageBox> box = questionBox(request, allow);
    box->exec();
    return answerOf(*box, allow);
}

void DialogConsentPrompter::show(const ConsentRequest &request, const PlaceOver &placeOver,
                                 Answered answered) {
    if (!canAsk()) {
        answered(PromptAnswer::CannotAsk);
        return;
    }
    QPushButton *allow = nullptr;
    QMessageBox *box = questionBox(request, allow).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, box, [box, allow, answered = std::move(answered)] {
        answered(answerOf(*box, allow));
    });
    if (placeOver)
        placeOver(box);
    box->show();
}

} // namespace pellim
