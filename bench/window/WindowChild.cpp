// The child of window_load_bench's cold measurement: a program that builds the main window one
// way, shows and paints it, prints "window BUILD_NANOS PAINT_NANOS" (from the moment the
// application object exists) and exits. Built three times, each linked with only what its way
// of building needs, so that the whole process and its peak memory show what each way costs a
// program: SC820_WINDOW_BUILD 0 builds an empty window (Qt Widgets), 1 loads the description at
// run time with Qt's form loader (Qt Widgets and UI Tools, the description as a resource), 2 runs
// the code uic generated from the same description (Qt Widgets).
#include <QApplication>
#include <QWidget>
#include <memory>

#include "bench/support/Marks.h"

#if SC820_WINDOW_BUILD == 1
#include "bench/window/RunTimeLoader.h"
#elif SC820_WINDOW_BUILD == 2
#include "ui_MainWindow.h"
#endif

namespace {

std::unique_ptr<QWidget> Build() {
#if SC820_WINDOW_BUILD == 1
    return LoadAtRunTime();
#elif SC820_WINDOW_BUILD == 2
    auto window = std::make_unique<QWidget>();
    Ui::MainWindow ui;
    ui.setupUi(window.get());
    return window;
#else
    auto window = std::make_unique<QWidget>();
    window->resize(900, 700);
    return window;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const long long start = MonotonicNanos();
    std::unique_ptr<QWidget> window = Build();
    if (!window) return 1;
    const long long built = MonotonicNanos();
    window->show();
    QApplication::processEvents();
    std::printf("window %lld %lld\n", built - start, MonotonicNanos() - built);
    return 0;
}
