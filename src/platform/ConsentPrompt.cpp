#include "platform/ConsentPrompt.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

namespace pellim {

QString accessKindWord(FileAccessKind kind) {
    switch (kind) {
    case FileAccessKind::Write:
        return QStringLiteral("write");
    case FileAccessKind::Read:
        return QStringLiteral("read");
    case FileAccessKind::List:
        return QStringLiteral("list");
    }
    return {};
}

QString promptText(GuardedFolder folder) {
    return QStringLiteral("Pellim wants to access your %1 folder.").arg(folderDisplayName(folder));
}

QString promptInformativeText(const ConsentRequest &request) {
    QString what;
    switch (request.kind) {
    case FileAccessKind::Write:
        what = QStringLiteral("It is trying to write to this file:");
        break;
    case FileAccessKind::Read:
        what = QStringLiteral("It is trying to read this file:");
        break;
    case FileAccessKind::List:
        what = QStringLiteral("It is trying to list this folder:");
        break;
    }
    return QStringLiteral("%1\n%2\n\nYour answer is remembered until you reset it with "
                          "\u201cpellim-consent reset %3\u201d.")
        .arg(what, request.path, folderKey(request.folder));
}

PromptAnswer DialogConsentPrompter::ask(const ConsentRequest &request) {
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || QCoreApplication::closingDown() || QThread::currentThread() != app->thread())
        return PromptAnswer::CannotAsk;

    // No parent: a window that closes while the box is up must not take the box
    // (and the answer) with it.
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Folder Access"));
    box.setIcon(QMessageBox::Question);
    // Paths are shown as they are; a name that looks like markup stays text.
    box.setTextFormat(Qt::PlainText);
    box.setText(promptText(request.folder));
    box.setInformativeText(promptInformativeText(request));
    if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    QPushButton *allow = box.addButton(QStringLiteral("&Allow"), QMessageBox::AcceptRole);
    QPushButton *deny = box.addButton(QStringLiteral("&Don't Allow"), QMessageBox::RejectRole);
    box.setDefaultButton(deny);
    box.setEscapeButton(deny);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    // Anything but a click on Allow (Escape, closing, Enter on the default) refuses.
    return box.clickedButton() == allow ? PromptAnswer::Allow : PromptAnswer::Deny;
}

} // namespace pellim
