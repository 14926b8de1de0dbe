// A second reference for start-up: the bare window with one line of text on it, so that
// the cost of loading fonts, which any window with text pays, shows on its own.
#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setFixedSize(535, 392);
    QLabel label(QStringLiteral("Installation information"), &window);
    label.move(20, 20);
    window.show();
    return application.exec();
}
