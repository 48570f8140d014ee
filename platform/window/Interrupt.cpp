#include "platform/window/Interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/window/ExitCleanup.h"

namespace {

volatile sig_atomic_t g_requested = 0;
int g_pipe[2] = {-1, -1};
int g_openRequests = 0;

const int kRequestSignals[] = {SIGHUP, SIGINT, SIGTERM};

// Async-signal-safe: an assignment and a write.
void OnRequest(int signal) {
    const int saved = errno;
    if (g_requested == 0) g_requested = signal;
    const char byte = 1;
    ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

}  // namespace

void InstallInterruptHandlers() {
    if (g_pipe[0] >= 0) return;
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
    for (int signal : kRequestSignals) {
        struct sigaction previous {};
        sigaction(signal, nullptr, &previous);
        if (previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnRequest;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

int InterruptRequested() {
    return g_requested;
}

void RequestInterrupt(int signal) {
    OnRequest(signal);
}

int InterruptDescriptor() {
    return g_pipe[0];
}

void EndInterrupted() {
    const int signal = g_requested != 0 ? g_requested : SIGTERM;
    RunExitCleanups();
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);
}

int InterruptedAlertAnswer(const char* alternateButton) {
    return alternateButton != nullptr ? 0 : 1;
}

ModalRequest::ModalRequest() {
    ++g_openRequests;
}

ModalRequest::~ModalRequest() {
    --g_openRequests;
}

bool ModalRequest::open() {
    return g_openRequests > 0;
}
