// The program entry of a windowed program: the application, the main window, its controller,
// the event loop; in a window on the display, or drawn in the terminal.
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "common/StandardDescriptors.h"
#include "platform/window/AppKit.h"
#include "platform/window/CommandLine.h"
#include "platform/window/Interrupt.h"
#include "platform/window/NibLoader.h"
#include "platform/window/QtBackend.h"
#include "platform/window/automation/AutomatedBackend.h"
#include "platform/window/automation/Automation.h"
#include "platform/window/automation/BatchUser.h"
#include "platform/window/batch/BatchMode.h"
#include "platform/window/terminal/TerminalBackend.h"

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// The platform plugin Qt will use: a -platform argument, else QT_QPA_PLATFORM.
std::string PlatformName(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return argv[i + 1];
        }
    }
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return platform != nullptr ? platform : "";
}

// Qt aborts when its display platform finds no display; say so plainly instead.
bool DisplayReachable(int argc, char** argv) {
    std::string platform = PlatformName(argc, argv);
    bool needsDisplay =
        platform.empty() || platform.rfind("xcb", 0) == 0 || platform.rfind("wayland", 0) == 0;
    return !needsDisplay || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

// Qt aborts as well when DISPLAY names an X server that does not answer; try it first.
bool XServerAnswers(int argc, char** argv) {
    const std::string platform = PlatformName(argc, argv);
    const bool usesX = platform.rfind("xcb", 0) == 0 || (platform.empty() && IsSet("DISPLAY"));
    if (!usesX || !IsSet("DISPLAY")) return true;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

std::string ProgramName(int argc, char** argv) {
    if (argc < 1 || argv[0] == nullptr) return "sc820-utility";
    return std::filesystem::path(argv[0]).filename().string();
}

// A window nobody can see would wait forever: without a display, the terminal interface is
// the way, and it needs a terminal (over SSH, ssh -t gives one).
constexpr char kNoDisplayAdvice[] =
    "no display and no terminal: run it on a terminal, for example ssh -t HOST sc820-utility "
    "(the terminal interface starts by itself, or with --terminal)";

int Refuse(const std::string& program, const std::string& reason) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), reason.c_str());
    return kExitFailure;
}

bool OnATerminal() {
    return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
}

// The toolkit's warnings would be drawn over the terminal screen; the window is not on a
// display there, so they have nobody to tell.
void DropToolkitMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        std::abort();
    }
}

// The one place that chooses who takes the user's part. A person does, at the backend that
// runs, unless SC820_AUTOMATION names a script; a new kind of automated user is chosen here
// too, and nothing else changes for it: the automation layer puts it over either backend.
// A script that cannot be used ends the program here, before anything is shown or done. The
// batch mode, which has no window, always has its own automated user (RunBatchMode below).
std::unique_ptr<AutomatedUser> ChooseAutomatedUser() {
    return Automation::fromEnvironment();
}

// Once a hang-up or interrupt arrived, a question shown meanwhile is closed (it counts as
// cancelled), and back in the idle event loop the program ends: see Interrupt.h.
void WatchInterrupts(QSocketNotifier& notifier, AutomatedUser* automated) {
    QObject::connect(&notifier, &QSocketNotifier::activated, [automated] {
        if (ModalRequest::open()) {
            NSApp->abortModal();
            return;
        }
        if (automated != nullptr) automated->recordEnd();
        EndInterrupted();
    });
}

// Loads the window and its controller, hands the window to `show`, which puts it before the
// user, installs `backend` (under the automation layer when an automated user takes part),
// starts the controller and runs the event loop.
int RunMainWindow(QApplication& application, const std::string& program,
                  NSApplicationBackend& backend,
                  const std::function<bool(QWidget*, std::string*)>& show) {
    std::unique_ptr<AutomatedUser> automated = ChooseAutomatedUser();

    // The window speaks the language of the bundle's string table, as its alerts do.
    InstallWindowTexts(NSBundle::mainBundle().bundlePath().UTF8String() +
                       std::string("/Contents/Resources/translations"));
    QString error;
    std::unique_ptr<QWidget> window = LoadWindowDescription(kMainWindowDescription, &error);
    std::unique_ptr<NibOwner> owner =
        window ? NibOwner::instantiate(window.get(), &error) : nullptr;
    if (!owner) return Refuse(program, error.toStdString());
    if (automated) automated->attach(window.get(), owner->connectedOutlets());

    // The window is on screen while the start-up sequence asks its questions.
    std::string showError;
    if (!show(window.get(), &showError)) {
        // The controller has not begun its life: it goes with the window it was made for.
        delete owner->object();
        return Refuse(program, showError);
    }
    std::optional<AutomatedBackend> layer;
    if (automated) layer.emplace(backend, *automated);
    NSApplicationBackend* previous =
        NSApplicationSetBackend(layer ? static_cast<NSApplicationBackend*>(&*layer) : &backend);
    QSocketNotifier interrupts(InterruptDescriptor(), QSocketNotifier::Read);
    WatchInterrupts(interrupts, automated.get());
    owner->awakeFromNib();
    if (automated) automated->start();
    int status = application.exec();
    if (automated) automated->recordEnd();
    NSApplicationSetBackend(previous);
    return status;
}

// The batch mode: no window, and always an automated user, the batch user, over its backend.
int RunBatchMode(const BatchRequest& request, const std::string& program) {
    BatchUser user(request, program);
    BatchBackend backend(user);
    AutomatedBackend layer(backend, user);
    NSApplicationBackend* previous = NSApplicationSetBackend(&layer);
    const int status = RunBatch(request, program, user);
    NSApplicationSetBackend(previous);
    return status;
}

int RunInTerminal(int argc, char** argv, const std::string& program) {
    // The widgets are real but never on a display: the terminal shows them.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(DropToolkitMessage);
    QApplication application(argc, argv);
    TerminalBackend backend;
    int status =
        RunMainWindow(application, program, backend, [&](QWidget* window, std::string* error) {
            if (!backend.start(window, error)) return false;
            window->show();
            return true;
        });
    backend.stop();
    return status;
}

}  // namespace

int NSApplicationMain(int argc, char** argv) {
    OpenStandardDescriptors();
    std::string program = ProgramName(argc, argv);
    // The command line comes first: --help and --version need no display.
    CommandLineResult parsed = ParseCommandLine(
        std::vector<std::string>(argv, argv + std::max(argc, 0)), std::cout, std::cerr);
    if (parsed.exitStatus) return *parsed.exitStatus;
    SetProgramOptions(parsed.options);
    InstallInterruptHandlers();
    // Qt sees the program name and its own options only.
    std::vector<std::string> qtArguments = ProgramOptions().qtArguments;
    std::vector<char*> qtArgv;
    for (std::string& argument : qtArguments) qtArgv.push_back(argument.data());
    qtArgv.push_back(nullptr);
    argc = static_cast<int>(qtArguments.size());
    argv = qtArgv.data();

    if (ProgramOptions().batch) return RunBatchMode(*ProgramOptions().batch, program);
    if (ProgramOptions().terminal) return RunInTerminal(argc, argv, program);
    if (!DisplayReachable(argc, argv)) {
        if (OnATerminal()) return RunInTerminal(argc, argv, program);
        return Refuse(program, kNoDisplayAdvice);
    }
    if (!XServerAnswers(argc, argv)) {
        if (OnATerminal()) return RunInTerminal(argc, argv, program);
        return Refuse(program, std::string("cannot reach the display ") + std::getenv("DISPLAY") +
                                   "; " + kNoDisplayAdvice);
    }
    QApplication application(argc, argv);
    return RunMainWindow(application, program, QtBackend::shared(),
                         [](QWidget* window, std::string*) {
                             window->show();
                             return true;
                         });
}
