// A Qt program that opens a file with Qt's own portal client (run with
// QT_QPA_PLATFORMTHEME=xdgdesktopportal), as e2e/gtk_chooser.py does with GTK's.
// Usage: qt_chooser [--wait] [PATH]
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QFileDialog>

#include <iostream>
#include <string>

static void show(const QString &path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        std::cout << file.readAll().toStdString() << std::flush;
    else
        std::cout << "could not read " << path.toStdString() << ": "
                  << file.errorString().toStdString() << std::endl;
}

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    // The theme asks for the portal's version without waiting, and shows Qt's
    // dialog in this process until the answer is in. This same question is
    // answered after that one, which processEvents() then hands over.
    auto get = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop",
                                              "/org/freedesktop/portal/desktop",
                                              "org.freedesktop.DBus.Properties", "Get");
    get << QString("org.freedesktop.portal.FileChooser") << QString("version");
    const QDBusMessage version = QDBusConnection::sessionBus().call(get);
    if (version.type() != QDBusMessage::ReplyMessage) {
        std::cout << "no file chooser portal: " << version.errorMessage().toStdString()
                  << std::endl;
        return 2;
    }
    QCoreApplication::processEvents();
    const QString chosen = QFileDialog::getOpenFileName(nullptr, "Open a note");
    if (chosen.isEmpty())
        std::cout << "cancelled" << std::endl;
    else
        show(chosen);
    const QStringList args = app.arguments().mid(1);
    for (const QString &arg : args)
        if (arg != "--wait")
            show(arg);
    if (args.contains("--wait")) {
        std::cout << "waiting" << std::endl;
        for (std::string line; std::getline(std::cin, line);) {
        }
    }
    return 0;
}
