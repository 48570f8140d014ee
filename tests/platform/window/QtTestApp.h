// One QApplication for the in-process tests of the window layer, made on first use and kept
// for the life of the test program (Qt allows only one per process).
#pragma once

#include <QApplication>
#include <cstdlib>

inline QApplication& QtTestApp() {
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
