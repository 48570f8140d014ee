#include "platform/window/terminal/TerminalBackend.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QString>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/window/ExitCleanup.h"
#include "platform/window/Interrupt.h"
#include "platform/window/terminal/TerminalSession.h"

namespace {

constexpr wint_t kCtrlL = 12;

// Whether the terminal went away: it hung up, or reads as readable with nothing to read.
bool InputClosed() {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    if (poll(&fd, 1, 0) <= 0) return false;
    if ((fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return true;
    int pending = 0;
    return (fd.revents & POLLIN) != 0 && ioctl(STDIN_FILENO, FIONREAD, &pending) == 0 &&
           pending == 0;
}

std::wstring Wide(const NSString& text) {
    return QString::fromStdU16String(text.units()).toStdWString();
}

std::wstring Wide(const char* text) {
    return QString::fromUtf8(text).toStdWString();
}

}  // namespace

TerminalBackend::TerminalBackend() = default;

TerminalBackend::~TerminalBackend() {
    stop();
}

bool TerminalBackend::start(QWidget* window, std::string* error) {
    if (!TerminalSession::start(error)) return false;
    window_ = window;
    main_ = std::make_unique<MainScreen>(
        window, [this](Modal& modal) { return runModal(modal); }, TerminalSession::unicode());
    input_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(input_.get(), &QSocketNotifier::activated, this, [this] { readMainKeys(); });
    signals_ = std::make_unique<QSocketNotifier>(TerminalSession::signalDescriptor(),
                                                 QSocketNotifier::Read);
    QObject::connect(signals_.get(), &QSocketNotifier::activated, this, [this] { takeSignals(); });
    qApp->installEventFilter(this);
    redraw();
    return true;
}

void TerminalBackend::stop() {
    if (qApp != nullptr) qApp->removeEventFilter(this);
    input_.reset();
    signals_.reset();
    TerminalSession::end();
}

bool TerminalBackend::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint || event->type() == QEvent::UpdateRequest) {
        scheduleRedraw();
    }
    return QObject::eventFilter(watched, event);
}

void TerminalBackend::scheduleRedraw() {
    if (redrawPending_) return;
    redrawPending_ = true;
    QTimer::singleShot(0, this, [this] {
        redrawPending_ = false;
        redraw();
    });
}

void TerminalBackend::redraw() {
    if (!TerminalSession::active()) return;
    if (LINES != drawnRows_ || COLS != drawnColumns_) clearok(curscr, TRUE);  // a resize
    drawnRows_ = LINES;
    drawnColumns_ = COLS;
    erase();
    if (main_) main_->draw();
    for (Modal* modal : modals_) modal->draw();
    if (modals_.empty()) {
        curs_set(0);
    } else {
        modals_.back()->placeCursor();
    }
    refresh();
}

void TerminalBackend::setNotifiersEnabled(bool enabled) {
    if (input_) input_->setEnabled(enabled);
    if (signals_) signals_->setEnabled(enabled);
}

void TerminalBackend::readMainKeys() {
    Key key;
    bool any = false;
    while (modals_.empty() && ReadKey(&key)) {
        any = true;
        if (key.is(kCtrlL)) {
            repaintAll();
            continue;
        }
        if (main_) main_->handle(key);
        redraw();
    }
    if (!any && InputClosed()) hangUp();
}

void TerminalBackend::takeSignals() {
    if (TerminalSession::takeSignals()) repaintAll();
}

// After a resize the terminal's contents are unknown (it may have pushed rows out or kept
// stale ones), so every cell is sent again rather than only those curses thinks changed.
void TerminalBackend::repaintAll() {
    clearok(curscr, TRUE);
    redraw();
}

// A terminal that went away is a hang-up: the program ends once it is idle (Interrupt.h).
void TerminalBackend::hangUp() {
    if (input_) input_->setEnabled(false);
    RequestInterrupt(SIGHUP);
}

// Runs the box until it is answered, reading the terminal directly: nothing else of the
// program runs meanwhile, as with a modal dialog.
int TerminalBackend::runModal(Modal& modal) {
    modals_.push_back(&modal);
    setNotifiersEnabled(false);
    redraw();
    while (!modal.finished()) {
        if (InterruptRequested() != 0) {
            modal.finish(NSCancelButton);
            break;
        }
        Key key;
        bool any = false;
        while (!modal.finished() && ReadKey(&key)) {
            any = true;
            if (key.is(kCtrlL)) {
                clearok(curscr, TRUE);
            } else {
                modal.handle(key);
            }
        }
        if (any) {
            redraw();
            continue;
        }
        if (modal.finished()) break;
        pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0},
                         {TerminalSession::signalDescriptor(), POLLIN, 0},
                         {InterruptDescriptor(), POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno != EINTR) hangUp();
            continue;
        }
        if (fds[1].revents != 0 && TerminalSession::takeSignals()) redraw();
        if (fds[0].revents != 0 && InputClosed()) hangUp();
    }
    modals_.pop_back();
    setNotifiersEnabled(true);
    redraw();
    return modal.result();
}

int TerminalBackend::runAlert(const NSString& title, const NSString& message,
                              const char* defaultButton, const char* alternateButton,
                              const char* otherButton, const NSString& informativeText) {
    const char* ok = defaultButton != nullptr ? defaultButton : "OK";
    // The informative text stands beneath the message, after a blank line, as in the window.
    NSString text = message;
    if (informativeText.length() != 0) {
        text.appendString(NSString("\n\n"));
        text.appendString(informativeText);
    }
    if (!TerminalSession::active()) {
        // Nobody can answer: report it and refuse where refusing is possible.
        std::fprintf(stderr, "%s: %s\n", title.UTF8String().c_str(), text.UTF8String().c_str());
        return alternateButton != nullptr ? 0 : 1;
    }
    const std::wstring alternate = alternateButton != nullptr ? Wide(alternateButton) : L"";
    const std::wstring other = otherButton != nullptr ? Wide(otherButton) : L"";
    AlertBox box(Wide(title), Wide(text), Wide(ok),
                 alternateButton != nullptr ? &alternate : nullptr,
                 otherButton != nullptr ? &other : nullptr);
    return runModal(box);
}

int TerminalBackend::runOpenPanel(const NSString& directory, const NSString*,
                                  const std::vector<NSString>*, NSString* chosen) {
    if (!TerminalSession::active()) return NSCancelButton;
    FilePrompt prompt(directory.UTF8String());
    if (runModal(prompt) != 1) return NSCancelButton;
    *chosen = NSString(prompt.chosen());
    return NSOKButton;
}

void TerminalBackend::stopModal() {
    if (!modals_.empty()) modals_.back()->finish(NSOKButton);
}

void TerminalBackend::abortModal() {
    if (!modals_.empty()) modals_.back()->finish(NSCancelButton);
}
