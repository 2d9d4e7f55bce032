#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace pellim::test {

// Answers the next modal widget of type T from the event loop: call it before
// whatever runs the modal loop (an alert, a prompt). The flag turns true once
// the answer ran.
template <class T>
std::shared_ptr<bool> answerNextModal(std::function<void(T *)> answer, int timeoutMs = 10000) {
    auto done = std::make_shared<bool>(false);
    auto *timer = new QTimer(qApp); // deletes itself once it answered or gave up
    QObject::connect(timer, &QTimer::timeout, timer, [=, end = QDeadlineTimer(timeoutMs)] {
        T *modal = qobject_cast<T *>(QApplication::activeModalWidget());
        if (modal || end.hasExpired()) {
            timer->stop();
            timer->deleteLater();
        }
        if (modal) {
            *done = true;
            answer(modal);
        }
    });
    timer->start(10);
    return done;
}

// Clicks the button of `box` whose text, '&' aside, is `text`; false if none.
inline bool clickButton(QWidget *box, const QString &text) {
    for (QAbstractButton *b :
         box ? box->findChildren<QAbstractButton *>() : QList<QAbstractButton *>())
        if (b->text().remove('&') == QString(text).remove('&'))
            return b->click(), true;
    qWarning("no button %s", qPrintable(text));
    return false;
}

// The visible file dialogs: children of `parent`, or top-level ones when it is null.
inline QList<QFileDialog *> openFileDialogs(QWidget *parent = nullptr) {
    QList<QFileDialog *> found;
    if (parent)
        found = parent->findChildren<QFileDialog *>();
    else
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QFileDialog *>(w))
                found << d;
    found.removeIf([](QFileDialog *d) { return !d->isVisible(); });
    return found;
}

// Waits, processing events, until `predicate` holds or `timeoutMs` passes.
inline bool waitUntil(const std::function<bool()> &predicate, int timeoutMs = 5000) {
    return QTest::qWaitFor(predicate, timeoutMs);
}

} // namespace pellim::test
