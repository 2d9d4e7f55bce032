#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QAbstractButton;
class QFileDialog;

namespace pellim::test {

// Answers the next modal widget of type T from the event loop: polls every 10 ms
// until QApplication::activeModalWidget() is a T, then calls `answer` with it.
// Use it before a call that runs a modal loop (an alert, a prompt, a nested box).
// Returns a flag that becomes true once the answer ran.
template <class T>
std::shared_ptr<bool> answerNextModal(std::function<void(T *)> answer, int timeoutMs = 10000) {
    auto done = std::make_shared<bool>(false);
    auto timer = new QTimer(qApp); // owned by the application, deletes itself
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [=]() {
        if (auto *w = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            *done = true;
            answer(w);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
    return done;
}

// The button of `box` (a dialog) whose text, with '&' removed, is `text`; null if none.
QAbstractButton *findButton(QWidget *box, const QString &text);
// Clicks that button; fails the current test if it is missing.
bool clickButton(QWidget *box, const QString &text);

// The file dialogs now open (children of `parent`, or top-level when null), oldest first.
QList<QFileDialog *> openFileDialogs(QWidget *parent = nullptr);
// Waits (processing events) until `predicate` holds or `timeoutMs` passes.
bool waitUntil(const std::function<bool()> &predicate, int timeoutMs = 5000);

} // namespace pellim::test
