#include "support/Modal.h"

#include <QAbstractButton>
#include <QFileDialog>

namespace pellim::test {

QAbstractButton *findButton(QWidget *box, const QString &text) {
    if (!box)
        return nullptr;
    const auto buttons = box->findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons) {
        if (b->text().remove(QLatin1Char('&')) == QString(text).remove(QLatin1Char('&')))
            return b;
    }
    return nullptr;
}

bool clickButton(QWidget *box, const QString &text) {
    QAbstractButton *b = findButton(box, text);
    if (!b) {
        qWarning("no button %s", qPrintable(text));
        return false;
    }
    b->click();
    return true;
}

QList<QFileDialog *> openFileDialogs(QWidget *parent) {
    QList<QFileDialog *> result;
    const auto candidates = parent ? parent->findChildren<QFileDialog *>() : QList<QFileDialog *>();
    for (QFileDialog *d : candidates)
        if (d->isVisible())
            result.append(d);
    if (!parent) {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
                result.append(d);
    }
    return result;
}

bool waitUntil(const std::function<bool()> &predicate, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!predicate()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace pellim::test
