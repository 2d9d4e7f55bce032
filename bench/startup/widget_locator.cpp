// Preloaded (LD_PRELOAD) into pellim for the consent benchmark only: tells the
// driver where a button sits, so that the click can come through the X server
// like a person's. It reads the widget tree once, when the event loop first
// runs, writes "WINDOW_ID X Y" (the button's centre in its window's coordinates)
// or "none" to the descriptor named by LOCATE_FD, and does nothing else.
#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QMetaObject>
#include <QWidget>

#include <unistd.h>

namespace {

void writeLine(int fd, const QByteArray &line) {
    if (write(fd, line.constData(), static_cast<size_t>(line.size())) < 0) {
        // Nobody is listening; the program goes on regardless.
    }
    close(fd);
}

void report() {
    bool haveFd = false;
    const int fd = qEnvironmentVariableIntValue("LOCATE_FD", &haveFd);
    if (!haveFd)
        return;
    const QString wanted = qEnvironmentVariable("LOCATE_BUTTON_TEXT");
    const auto widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets) {
        auto *button = qobject_cast<QAbstractButton *>(widget);
        if (!button || !button->isVisible())
            continue;
        QString text = button->text();
        text.remove(QLatin1Char('&')); // mnemonic markers are not part of the label
        if (text != wanted)
            continue;
        QWidget *window = button->window();
        const QPoint centre = button->mapTo(window, button->rect().center());
        writeLine(fd, QByteArray::number(static_cast<qulonglong>(window->winId())) + ' ' +
                          QByteArray::number(centre.x()) + ' ' + QByteArray::number(centre.y()) +
                          '\n');
        return;
    }
    writeLine(fd, "none\n");
}

// Runs inside the QCoreApplication constructor; the posted call is delivered once
// the event loop runs, after main() has shown its window.
void start() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), report, Qt::QueuedConnection);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(start)
