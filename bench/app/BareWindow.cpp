// The yardstick for start-up: a bare Qt program that opens an empty window and quits as soon
// as the event loop runs.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(900, 700);
    window.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}
