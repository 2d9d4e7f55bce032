// A second floor: pellim's own main-window form (resources/Main.ui) shown by a
// program with no logic behind it. Against the empty window it shows what the
// form's widgets and text cost in Qt itself; against pellim, what pellim's own
// code adds on top.
#include "ui_Main.h"

#include <QApplication>
#include <QMainWindow>

class FormWindow : public QMainWindow {
    Q_OBJECT

public Q_SLOTS:
    // The form connects its buttons and menu commands to these by name.
    void doSaveIntent() {}
    void doSaveToFolder() {}
    void doSaveConsent() {}
    void doOpenIntent() {}
    void doOpenConsent() {}
    void doOpenFolder() {}
};

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    FormWindow window;
    Ui::ViewController form;
    form.setupUi(&window);
    window.show();
    return app.exec();
}

#include "bare_form.moc"
