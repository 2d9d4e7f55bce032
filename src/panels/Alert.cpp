// SPDX-License-Identifier: GPL-3.0-or-later
#include "panels/Alert.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace pellim {

void QtAlert::showCritical(QWidget *parent, const QString &message,
                           const QString &informativeText) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Critical);
    box.setWindowModality(Qt::ApplicationModal);
    box.setText(message);
    box.setInformativeText(informativeText);
    // A path is shown as given, never read as markup.
    box.setTextFormat(Qt::PlainText);
    if (auto *informative = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    box.setStandardButtons(QMessageBox::NoButton);
    QPushButton *ok =
        box.addButton(QCoreApplication::translate("pellim::Alert", "OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

} // namespace pellim
