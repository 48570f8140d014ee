#include "platform/window/terminal/TerminalSession.h"

#include <curses.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/window/ExitCleanup.h"

namespace {

bool g_active = false;
SCREEN* g_screen = nullptr;
bool g_haveTermios = false;
struct termios g_originalTermios;
int g_savedStderr = -1;
int g_signalPipe[2] = {-1, -1};
// What puts the terminal back from a signal handler, where curses cannot be called: leave the
// alternate screen, show the cursor, plain attributes, keypad and mouse reporting off.
char g_restoreSequence[256];
size_t g_restoreLength = 0;

// A hang-up, Ctrl-C and SIGTERM are the interrupt requests' (Interrupt.h): the program ends
// from the idle loop, through the exit cleanups that put the terminal back.
const int kDeferredSignals[] = {SIGWINCH};
const int kImmediateSignals[] = {SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void AppendCapability(const char* name) {
    char* value = tigetstr(const_cast<char*>(name));
    if (value == nullptr || value == reinterpret_cast<char*>(-1)) return;
    size_t length = std::strlen(value);
    if (g_restoreLength + length >= sizeof g_restoreSequence) return;
    std::memcpy(g_restoreSequence + g_restoreLength, value, length);
    g_restoreLength += length;
}

void PrepareRestoreSequence() {
    g_restoreLength = 0;
    static const char kMouseOff[] = "\033[?1000l\033[?1002l\033[?1006l";
    std::memcpy(g_restoreSequence, kMouseOff, sizeof kMouseOff - 1);
    g_restoreLength = sizeof kMouseOff - 1;
    AppendCapability("sgr0");
    AppendCapability("rmkx");
    AppendCapability("cnorm");
    AppendCapability("rmcup");
}

// Async-signal-safe: only tcsetattr, write and dup2.
void RestoreFromSignal() {
    if (!g_active) return;
    if (g_restoreLength > 0) {
        ssize_t ignored = write(STDOUT_FILENO, g_restoreSequence, g_restoreLength);
        (void)ignored;
    }
    if (g_haveTermios) tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_originalTermios);
    if (g_savedStderr >= 0) dup2(g_savedStderr, STDERR_FILENO);
    g_active = false;
}

void OnDeferredSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

void OnImmediateSignal(int signal) {
    RestoreFromSignal();
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void Install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

void ResetSignals() {
    for (int signal : kDeferredSignals) std::signal(signal, SIG_DFL);
    for (int signal : kImmediateSignals) std::signal(signal, SIG_DFL);
}

void SilenceStandardError() {
    g_savedStderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

void RestoreStandardError() {
    if (g_savedStderr < 0) return;
    std::fflush(stderr);
    dup2(g_savedStderr, STDERR_FILENO);
    close(g_savedStderr);
    g_savedStderr = -1;
}

}  // namespace

bool TerminalSession::start(std::string* error) {
    if (g_active) return true;
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        *error = "the terminal backend needs a terminal on standard input and output";
        return false;
    }
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    g_haveTermios = tcgetattr(STDIN_FILENO, &g_originalTermios) == 0;
    // Curses reports an unknown terminal type on standard error; keep that message visible.
    g_screen = newterm(nullptr, stdout, stdin);
    if (g_screen == nullptr) {
        const char* term = std::getenv("TERM");
        *error =
            std::string("cannot use the terminal type ") + (term != nullptr ? term : "(unset)");
        return false;
    }
    set_term(g_screen);
    // A full screen needs a terminal that can place the cursor ("dumb" cannot).
    const char* cursorAddress = tigetstr(const_cast<char*>("cup"));
    if (cursorAddress == nullptr || cursorAddress == reinterpret_cast<char*>(-1)) {
        endwin();
        delscreen(g_screen);
        g_screen = nullptr;
        if (g_haveTermios) tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_originalTermios);
        const char* term = std::getenv("TERM");
        *error = std::string("the terminal type ") + (term != nullptr ? term : "(unset)") +
                 " cannot show a full screen";
        return false;
    }
    SilenceStandardError();
    g_active = true;
    AddExitCleanup(&TerminalSession::end);
    PrepareRestoreSequence();
    for (int signal : kDeferredSignals) Install(signal, OnDeferredSignal);
    for (int signal : kImmediateSignals) Install(signal, OnImmediateSignal);
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(50);
    curs_set(0);
    mouseinterval(0);
    mousemask(BUTTON1_PRESSED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
    if (has_colors()) {
        start_color();
        use_default_colors();
        init_pair(1, COLOR_WHITE, COLOR_BLUE);
    }
    return true;
}

void TerminalSession::end() {
    if (!g_active) return;
    endwin();
    std::fflush(stdout);
    // Put back exactly the modes the terminal had, whatever curses changed.
    if (g_haveTermios) tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_originalTermios);
    g_active = false;
    ResetSignals();
    RestoreStandardError();
}

bool TerminalSession::active() {
    return g_active;
}

int TerminalSession::signalDescriptor() {
    return g_signalPipe[0];
}

bool TerminalSession::takeSignals() {
    bool redraw = false;
    unsigned char byte = 0;
    while (read(g_signalPipe[0], &byte, 1) == 1) {
        if (byte == SIGWINCH) {
            struct winsize size {};
            if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 &&
                size.ws_col > 0) {
                resize_term(size.ws_row, size.ws_col);
            }
            redraw = true;
        }
    }
    return redraw;
}

bool TerminalSession::unicode() {
    return MB_CUR_MAX > 1;
}
