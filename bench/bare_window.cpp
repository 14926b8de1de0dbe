// The reference for the help centre's start-up: a bare Qt Widgets program that shows one
// empty window of the help centre's size and nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setFixedSize(535, 392);
    window.show();
    return application.exec();
}
