// The floor for pellim's start-up and memory: a Qt Widgets program that shows one
// empty main window and nothing else, built with the same flags.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.show();
    return app.exec();
}
