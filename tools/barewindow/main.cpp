// The smallest Qt Widgets program that shows a window the size of the dock. Start-up time and
// memory of Brevlin are measured against it.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.resize(560, 52);
    window.show();
    return app.exec();
}
