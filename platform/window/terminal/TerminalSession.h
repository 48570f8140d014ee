// The terminal while the terminal backend owns it: curses started on standard input and
// output, standard error silenced (log echoes and toolkit warnings would scribble over the
// screen), and every way out putting the terminal back as it was: a normal end, _exit through
// the exit cleanups (a hang-up, Ctrl-C and SIGTERM end that way, from the idle loop, so that no
// card operation is cut half-way: Interrupt.h), and a crash (restored at once from the signal
// handler).
#pragma once

#include <string>

class TerminalSession {
public:
    // Starts curses; false with *error set when the terminal cannot be used.
    static bool start(std::string* error);
    // Puts the terminal back; safe to call more than once.
    static void end();
    static bool active();

    // Readable when a signal for the event loop arrived.
    static int signalDescriptor();
    // Handles the signals that arrived: a resize adjusts the screen size (returns true: redraw).
    static bool takeSignals();

    // Whether the terminal shows Unicode (a UTF-8 locale); else plain ASCII is drawn.
    static bool unicode();
};
