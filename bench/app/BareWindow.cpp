// The yardstick for start-up: a bare Qt program that opens an empty window and quits as soon
// as the event loop runs. Built twice: bare-window as it is, and bare-window-marks, which also
// prints when main is entered and when the application object exists (bench/support/Marks.h), so
// that those phases of start-up can be set beside the utility's.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "bench/support/Marks.h"

namespace {
constexpr bool kPrintMarks = SC820_BARE_MARKS;
}  // namespace

int main(int argc, char** argv) {
    if (kPrintMarks) Mark("main");
    QApplication app(argc, argv);
    if (kPrintMarks) Mark("qt");
    QWidget window;
    window.resize(900, 700);
    window.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}
