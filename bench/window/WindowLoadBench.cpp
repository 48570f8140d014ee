// The main window built two ways from the same description, resources/MainWindow.ui: loaded
// at run time by Qt's form loader (QUiLoader) and compiled ahead by uic (as the window layer
// does, which this measure justifies); beside an empty window as the yardstick.
//
// Two measurements, each interleaved round by round (usage: window_load_bench [--rounds N]):
// - warm, in one process: building the window (and, separately, building, showing and
//   painting it) again and again, which leaves out one-time costs;
// - cold, one process per build (window-child-empty, -loader, -uic, each linked with only what
//   its way needs; see WindowChild.cpp): what a program start pays once the application object
//   exists, for the build and then for showing and painting the window, and the whole process,
//   start to exit, with its peak memory.
// Before measuring, the program checks that both builds, and the window layer's own, give the
// same widgets, with the same
// classes, object names and `tag`, `action` and `nibOwner` properties.
#include <QApplication>
#include <QComboBox>
#include <QLayout>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/PairedRuns.h"
#include "bench/window/RunTimeLoader.h"
#include "platform/window/NibLoader.h"
#include "tests/support/TempHost.h"
#include "ui_MainWindow.h"

namespace {

using Builder = std::function<std::unique_ptr<QWidget>()>;

std::unique_ptr<QWidget> BuildEmpty() {
    auto window = std::make_unique<QWidget>();
    window->resize(900, 700);
    return window;
}

std::unique_ptr<QWidget> BuildLoaded() {
    std::unique_ptr<QWidget> window = LoadAtRunTime();
    if (!window) {
        std::fprintf(stderr, "window_load_bench: the form loader failed\n");
        std::exit(1);
    }
    return window;
}

std::unique_ptr<QWidget> BuildCompiled() {
    auto window = std::make_unique<QWidget>();
    Ui::MainWindow ui;
    ui.setupUi(window.get());
    return window;
}

const std::vector<std::pair<const char*, Builder>> kBuilders = {
    {"empty", BuildEmpty}, {"loader", BuildLoaded}, {"uic", BuildCompiled}};

// One line per widget and layout: class, object name and the properties the window layer
// reads, sorted, so that two builds of the same description compare equal.
std::set<std::string> Fingerprint(QWidget* window) {
    std::set<std::string> lines;
    auto describe = [&lines](QObject* object) {
        std::ostringstream line;
        line << object->metaObject()->className() << " " << object->objectName().toStdString();
        for (const char* property : {"tag", "action", "nibOwner"}) {
            const QVariant value = object->property(property);
            if (value.isValid()) line << " " << property << "=" << value.toString().toStdString();
        }
        if (auto* widget = qobject_cast<QWidget*>(object)) {
            line << " title=" << widget->windowTitle().toStdString();
        }
        lines.insert(line.str());
    };
    describe(window);
    for (QWidget* widget : window->findChildren<QWidget*>()) describe(widget);
    for (QLayout* layout : window->findChildren<QLayout*>()) describe(layout);
    return lines;
}

void ShowAndPaint(QWidget* window) {
    window->show();
    QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = RoundsArgument(argc, argv, 31);
    const std::string loadBefore = MachineLoad();

    // The cold runs come first, while this program is still small: a child's peak memory as the
    // system reports it is never below what its parent held when it was started.
    std::vector<double> coldBuild[3], coldPaint[3], coldPeak[3];
    const char* children[3] = {SC820_WINDOW_CHILD_EMPTY, SC820_WINDOW_CHILD_LOADER,
                               SC820_WINDOW_CHILD_UIC};
    std::vector<Side> coldSides;
    for (int b = 0; b < 3; ++b) {
        coldSides.push_back([&, b] {
            std::string out;
            long peak = 0;
            Stopwatch clock;
            const int status =
                RunProgram({children[b]}, &out, {"QT_QPA_PLATFORM=offscreen"}, &peak);
            const double seconds = clock.seconds();
            // Qt's own warnings share the stream; the child's figures are its "window" line.
            std::istringstream lines(out);
            std::string line;
            long long buildNanos = -1, paintNanos = -1;
            while (std::getline(lines, line)) {
                std::sscanf(line.c_str(), "window %lld %lld", &buildNanos, &paintNanos);
            }
            if (status != 0 || buildNanos < 0 || paintNanos < 0) {
                std::fprintf(stderr, "window_load_bench: %s failed\n%s", children[b], out.c_str());
                std::exit(1);
            }
            coldBuild[b].push_back(buildNanos / 1e9);
            coldPaint[b].push_back(paintNanos / 1e9);
            coldPeak[b].push_back(static_cast<double>(peak));
            return seconds;
        });
    }
    const long coldParentKib = OwnPeakKib();
    const auto cold = RunInterleaved(coldSides, rounds);

    std::vector<double> warmCreate[3], warmShown[3];
    size_t widgets = 0, layouts = 0, entries = 0;
    {
        QApplication application(argc, argv);
        const std::unique_ptr<QWidget> loaded = BuildLoaded();
        const std::unique_ptr<QWidget> compiled = BuildCompiled();
        const std::set<std::string> loadedPrint = Fingerprint(loaded.get());
        QString error;
        const std::unique_ptr<QWidget> program =
            LoadWindowDescription(kMainWindowDescription, &error);
        if (!program || loadedPrint != Fingerprint(compiled.get()) ||
            loadedPrint != Fingerprint(program.get())) {
            std::fprintf(stderr, "window_load_bench: uic and the loader build different windows\n");
            for (const std::string& line : loadedPrint)
                std::fprintf(stderr, "  %s\n", line.c_str());
            return 1;
        }
        widgets = loaded->findChildren<QWidget*>().size() + 1;
        layouts = loaded->findChildren<QLayout*>().size();
        for (QComboBox* list : loaded->findChildren<QComboBox*>()) entries += list->count();

        std::vector<Side> sides;
        for (const auto& entry : kBuilders) {
            const Builder build = entry.second;
            sides.push_back([build] {
                Stopwatch clock;
                std::unique_ptr<QWidget> window = build();
                const double seconds = clock.seconds();
                return seconds;  // the window is destroyed outside the timed part
            });
        }
        for (const auto& entry : kBuilders) {
            const Builder build = entry.second;
            sides.push_back([build] {
                Stopwatch clock;
                std::unique_ptr<QWidget> window = build();
                ShowAndPaint(window.get());
                return clock.seconds();
            });
        }
        const auto results = RunInterleaved(sides, rounds);
        for (int b = 0; b < 3; ++b) {
            warmCreate[b] = results[b];
            warmShown[b] = results[3 + b];
        }
    }

    std::printf(
        "window_load_bench: %d rounds; the main window has %zu widgets, %zu layouts and %zu list "
        "entries; %s before, "
        "%s after\n",
        rounds, widgets, layouts, entries, loadBefore.c_str(), MachineLoad().c_str());
    std::printf(
        "the form loader, uic and the window layer build the same widgets and properties: yes\n");
    std::printf("this program's own peak before the cold runs: %ld KiB\n", coldParentKib);
    auto row = [](const char* what, const std::vector<double>& measured,
                  const std::vector<double>& reference) {
        return TableRow{what, FormatSeconds(Median(measured)), FormatSeconds(Median(reference)),
                        FormatRatio(MedianRatio(measured, reference))};
    };
    auto kib = [](const char* what, const std::vector<double>& measured,
                  const std::vector<double>& reference) {
        char first[32], second[32];
        std::snprintf(first, sizeof first, "%.0f KiB", Median(measured));
        std::snprintf(second, sizeof second, "%.0f KiB", Median(reference));
        return TableRow{what, first, second, FormatRatio(MedianRatio(measured, reference))};
    };
    PrintTable(
        "Main window: loader and uic beside an empty window (interleaved, medians, ratio of pairs)",
        {"what", "first", "second", "ratio"},
        {row("warm, build: loader vs empty", warmCreate[1], warmCreate[0]),
         row("warm, build: uic vs empty", warmCreate[2], warmCreate[0]),
         row("warm, build: loader vs uic", warmCreate[1], warmCreate[2]),
         row("warm, build, show, paint: loader vs empty", warmShown[1], warmShown[0]),
         row("warm, build, show, paint: uic vs empty", warmShown[2], warmShown[0]),
         row("cold, build: loader vs empty", coldBuild[1], coldBuild[0]),
         row("cold, build: uic vs empty", coldBuild[2], coldBuild[0]),
         row("cold, build: loader vs uic", coldBuild[1], coldBuild[2]),
         row("cold, show and paint: loader's window vs empty", coldPaint[1], coldPaint[0]),
         row("cold, show and paint: uic's window vs empty", coldPaint[2], coldPaint[0]),
         row("cold, whole process: loader vs empty", cold[1], cold[0]),
         row("cold, whole process: uic vs empty", cold[2], cold[0]),
         row("cold, whole process: loader vs uic", cold[1], cold[2]),
         kib("cold, peak memory: loader vs empty", coldPeak[1], coldPeak[0]),
         kib("cold, peak memory: uic vs empty", coldPeak[2], coldPeak[0]),
         kib("cold, peak memory: loader vs uic", coldPeak[1], coldPeak[2])});
    return 0;
}
