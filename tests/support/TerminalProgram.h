// Runs a program in a pseudo-terminal and reads its screen back through a terminal emulator
// (libvterm, in this process): what a person at a terminal would see, cell by cell.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

struct VTerm;
struct VTermScreen;

class TerminalProgram {
public:
    // Starts argv[0] with the arguments in a terminal of the size; extraEnv entries replace or
    // join the environment (TERM defaults to xterm-256color, DISPLAY is removed).
    TerminalProgram(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                    int rows = 24, int columns = 80);
    ~TerminalProgram();

    // Types the bytes, as a person at the keyboard would.
    void send(const std::string& bytes);
    // Reads the program's output until the condition holds; false after the timeout or when
    // the program has ended without it holding. One screen update may arrive in several
    // reads: a caller waits for the whole state it then checks.
    bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 60000);
    bool waitForText(const std::string& text, int timeoutMs = 60000);
    // Reads until the program ends; its exit status, 128+N when killed by signal N, or -1 on
    // timeout.
    int waitForExit(int timeoutMs = 60000);
    // Writes to the terminal behind the program's back, as another program (wall, a kernel
    // message) would.
    void scribble(const std::string& bytes);
    // Changes the terminal's size; the program receives SIGWINCH.
    void resize(int rows, int columns);
    void signal(int number);

    int rows() const { return rows_; }
    // One screen row as UTF-8, trailing blanks removed; the whole screen, rows joined by '\n'.
    std::string row(int index) const;
    std::string screen() const;
    // The cell at (row, column): its character as UTF-8, and whether it is drawn reversed.
    std::string cell(int row, int column) const;
    bool reversed(int row, int column) const;
    // The row and column where the text first appears, or {-1, -1}.
    std::pair<int, int> find(const std::string& text) const;

    // Everything the program wrote.
    const std::string& output() const { return output_; }
    // The terminal state a person is left with.
    bool alternateScreen() const { return alternateScreen_; }
    bool cursorVisible() const { return cursorVisible_; }
    // The line discipline's modes of the terminal, as the program left them.
    struct termios modes() const;

private:
    bool pump(int timeoutMs);
    void reap(bool block);

    int master_ = -1, status_ = -1, rows_, columns_;
    pid_t pid_ = -1;
    bool exited_ = false;
    VTerm* vterm_ = nullptr;
    VTermScreen* vscreen_ = nullptr;
    std::string output_;
    bool alternateScreen_ = false, cursorVisible_ = true;
};
