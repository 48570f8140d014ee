// A hang-up, an interrupt (Ctrl-C) or a termination request while the utility runs. Ending at
// once could cut a card operation half-way (half an image in the flash, an unverified image
// left unerased), so a signal only records the request: the running action goes on to its end,
// every question it asks from then on is answered without being shown (an alert with only OK:
// OK; a confirmation: Cancel; an open panel: cancelled), and once control is back in the idle
// event loop the program ends, storing nothing, by the signal that asked (the shell reports
// 128 + the signal: 129 for a hang-up, 130 for Ctrl-C, 143 for SIGTERM).
#pragma once

// Takes SIGHUP, SIGINT and SIGTERM as requests. A signal ignored when the program started
// (nohup) stays ignored.
void InstallInterruptHandlers();
// The signal of the first request, or 0 when none arrived.
int InterruptRequested();
// Records a request as the signal would (the terminal went away without one).
void RequestInterrupt(int signal);
// Readable once a request arrived; for event loops to wake on.
int InterruptDescriptor();
// Runs the exit cleanups and ends the program by the requested signal.
[[noreturn]] void EndInterrupted();

// The answer to an alert asked after a request: OK for an alert with only OK, Cancel (0) for a
// confirmation, so that nothing goes on changing the card on the user's behalf.
int InterruptedAlertAnswer(const char* alternateButton);

// A question (alert or open panel) is open while one of these lives.
class ModalRequest {
public:
    ModalRequest();
    ~ModalRequest();
    ModalRequest(const ModalRequest&) = delete;
    ModalRequest& operator=(const ModalRequest&) = delete;
    static bool open();
};
