#include "tests/support/TerminalProgram.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "tests/support/TempHost.h"

namespace {

// The cells of the rectangle as UTF-8, the second halves of wide characters left out.
std::string Text(VTermScreen* screen, int row, int column, int columns) {
    char text[4096];
    const size_t size = vterm_screen_get_text(screen, text, sizeof text,
                                              VTermRect{row, row + 1, column, column + columns});
    return std::string(text, std::min(size, sizeof text));
}

}  // namespace

TerminalProgram::TerminalProgram(const std::vector<std::string>& argv,
                                 const std::vector<std::string>& extraEnv, int rows, int columns)
    : rows_(rows), columns_(columns) {
    vterm_ = vterm_new(rows, columns);
    vterm_set_utf8(vterm_, 1);
    vscreen_ = vterm_obtain_screen(vterm_);
    vterm_screen_enable_altscreen(vscreen_, 1);
    static VTermScreenCallbacks callbacks{};
    callbacks.settermprop = [](VTermProp prop, VTermValue* value, void* user) {
        auto* self = static_cast<TerminalProgram*>(user);
        if (prop == VTERM_PROP_ALTSCREEN) self->alternateScreen_ = value->boolean != 0;
        if (prop == VTERM_PROP_CURSORVISIBLE) self->cursorVisible_ = value->boolean != 0;
        return 1;
    };
    vterm_screen_set_callbacks(vscreen_, &callbacks, this);
    vterm_screen_reset(vscreen_, 1);

    std::vector<std::string> merged = {"TERM=xterm-256color"}, args = argv;
    merged.insert(merged.end(), extraEnv.begin(), extraEnv.end());
    merged = MergedEnvironment(merged);
    std::vector<char*> env, argp;
    for (std::string& entry : merged) {
        if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("WAYLAND_DISPLAY=", 0) != 0) {
            env.push_back(entry.data());
        }
    }
    for (std::string& arg : args) argp.push_back(arg.data());
    env.push_back(nullptr);
    argp.push_back(nullptr);

    struct winsize size = {static_cast<unsigned short>(rows), static_cast<unsigned short>(columns),
                           0, 0};
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
        execve(argp[0], argp.data(), env.data());
        _exit(127);
    }
}

TerminalProgram::~TerminalProgram() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        reap(true);
    }
    if (master_ >= 0) close(master_);
    if (vterm_ != nullptr) vterm_free(vterm_);
}

void TerminalProgram::reap(bool block) {
    if (exited_ || pid_ <= 0) return;
    int status = 0;
    if (waitpid(pid_, &status, block ? 0 : WNOHANG) == pid_) {
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
}

void TerminalProgram::send(const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Reads what is there (waiting up to timeoutMs for the first bytes); false at end of output.
bool TerminalProgram::pump(int timeoutMs) {
    pollfd fd{master_, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0) return true;
    char buffer[8192];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;  // EIO: every holder of the terminal's other side has gone
    output_.append(buffer, static_cast<size_t>(n));
    vterm_input_write(vterm_, buffer, static_cast<size_t>(n));
    return true;
}

bool TerminalProgram::waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (!pump(static_cast<int>(std::min<long>(left.count(), 50)))) return condition();
    }
    return true;
}

bool TerminalProgram::waitForText(const std::string& text, int timeoutMs) {
    return waitUntil([&] { return find(text).first >= 0; }, timeoutMs);
}

int TerminalProgram::waitForExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool open = true;  // the output has not ended
    while (!exited_ && std::chrono::steady_clock::now() < deadline) {
        open = open ? pump(50) : (usleep(10000), false);
        reap(false);
    }
    // What the program wrote last, the terminal's reset included, is read too.
    for (pollfd fd{master_, POLLIN, 0}; open && poll(&fd, 1, 0) > 0;) open = pump(0);
    return exited_ ? status_ : -1;
}

void TerminalProgram::scribble(const std::string& bytes) {
    vterm_input_write(vterm_, bytes.data(), bytes.size());
}

void TerminalProgram::resize(int rows, int columns) {
    // A real terminal (xterm, tmux) that gets shorter keeps its bottom rows, where the cursor
    // is, and pushes the top ones out: what the program believes is on the screen is stale.
    if (rows < rows_) {
        VTermPos cursor{};
        vterm_state_get_cursorpos(vterm_obtain_state(vterm_), &cursor);
        const std::string up = "\033[r\033[" + std::to_string(rows_ - rows) + "S\033[" +
                               std::to_string(cursor.row + 1) + ";" +
                               std::to_string(cursor.col + 1) + "H";
        vterm_input_write(vterm_, up.data(), up.size());
    }
    rows_ = rows;
    columns_ = columns;
    vterm_set_size(vterm_, rows, columns);
    struct winsize size = {static_cast<unsigned short>(rows), static_cast<unsigned short>(columns),
                           0, 0};
    ioctl(master_, TIOCSWINSZ, &size);  // the kernel sends SIGWINCH to the foreground group
}

void TerminalProgram::signal(int number) {
    if (pid_ > 0 && !exited_) kill(pid_, number);
}

std::string TerminalProgram::cell(int row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= columns_) return "";
    const std::string text = Text(vscreen_, row, column, 1);
    return text.empty() ? " " : text;
}

bool TerminalProgram::reversed(int row, int column) const {
    VTermScreenCell c{};
    return vterm_screen_get_cell(vscreen_, VTermPos{row, column}, &c) != 0 && c.attrs.reverse != 0;
}

std::string TerminalProgram::row(int index) const {
    std::string out = Text(vscreen_, index, 0, columns_);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string TerminalProgram::screen() const {
    std::string out;
    for (int r = 0; r < rows_; ++r) out += row(r) + "\n";
    return out;
}

std::pair<int, int> TerminalProgram::find(const std::string& text) const {
    for (int r = 0; r < rows_; ++r) {
        const std::string line = row(r);
        const size_t at = line.find(text);
        if (at == std::string::npos) continue;
        // Count the cells before the match (one per UTF-8 lead byte).
        return {
            r, static_cast<int>(std::count_if(line.begin(), line.begin() + static_cast<long>(at),
                                              [](unsigned char c) { return (c & 0xC0) != 0x80; }))};
    }
    return {-1, -1};
}

struct termios TerminalProgram::modes() const {
    struct termios t {};
    tcgetattr(master_, &t);
    return t;
}
