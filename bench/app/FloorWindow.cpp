// The floor of the start-up: what the program must do whoever writes it, without any of its
// own work. A bare Qt program that starts the same five processes the start-up starts, one after
// another, each read to the end of its output and waited for (the shell running the bundle's
// `test` through popen, as the path test does; then three small programs standing in for the
// status tool, kextunload and kextload), opens a window and quits once it is painted.
//
// Built twice: floor-window opens an empty window (the floor as the process count sets it);
// floor-main-window builds and paints the real main window from the code uic makes of
// resources/MainWindow.ui (the floor once the window's 124 controls are counted in).
//
// Usage: floor-window TEST_PROGRAM TOOL_STAND_IN
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <string>

#if SC820_FLOOR_MAIN_WINDOW
#include "ui_MainWindow.h"
#endif

extern char** environ;

namespace {

// The path test's way: the shell runs the quoted program and its output is read to the end.
void RunThroughShell(const char* program) {
    const std::string command = std::string("\"") + program + "\" 2>&1";
    FILE* stream = popen(command.c_str(), "r");
    if (stream == nullptr) return;
    char ch[2];
    while (std::fgets(ch, sizeof ch, stream) != nullptr) {
    }
    pclose(stream);
}

// The privileged runner's way: the program is spawned with its output on a pipe, read to the
// end, and waited for.
void RunSpawned(const char* program) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char buffer[1024];
    while (rc == 0 && read(fds[0], buffer, sizeof buffer) > 0) {
    }
    close(fds[0]);
    int status = 0;
    if (rc == 0) waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor-window TEST_PROGRAM TOOL_STAND_IN\n");
        return 2;
    }
    const std::string test = argv[1];
    const std::string tool = argv[2];
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QWidget window;
#if SC820_FLOOR_MAIN_WINDOW
    Ui::MainWindow ui;
    ui.setupUi(&window);
#else
    window.resize(900, 700);
#endif
    window.show();
    RunThroughShell(test.c_str());
    for (int i = 0; i < 3; ++i) RunSpawned(tool.c_str());
    // The first turn of the event loop paints the window; the next one ends the program.
    QTimer::singleShot(0, &app, [&app] { QTimer::singleShot(0, &app, &QApplication::quit); });
    return app.exec();
}
