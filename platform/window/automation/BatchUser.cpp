#include "platform/window/automation/BatchUser.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/window/ExitStatus.h"

namespace {

// The messages that report a success rather than a failure.
bool IsSuccessMessage(const std::string& key) {
    return key == "MSG_SUCCESS" || key == "MSG_WRITESUCCESS";
}

// One line: carriage returns and line breaks of a composed message become spaces.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

}  // namespace

BatchUser::BatchUser(const BatchRequest& request, std::string program)
    : request_(request), program_(std::move(program)) {}

void BatchUser::report(const std::string& line) const {
    std::fprintf(stderr, "%s: %s\n", program_.c_str(), line.c_str());
    std::fflush(stderr);
}

int BatchUser::answerAlert(const std::string& /*title*/, const std::string& message,
                           const char* /*defaultButton*/, const char* alternateButton,
                           const char* otherButton, const std::string& /*informativeText*/) {
    std::string key = NSBundleKeyOfText(NSString(message));
    if (key.empty()) key = "MSG_UNKNOWN";
    const std::string line = key + ": " + OneLine(message);
    // A question has a second button: an alternate one, or the other button (-1) that the one
    // about going on without a copy shows its OK as.
    if (alternateButton != nullptr || otherButton != nullptr) return confirm(key, line);
    report(line);
    if (!IsSuccessMessage(key)) failed_ = true;
    return 1;
}

int BatchUser::confirm(const std::string& key, const std::string& line) {
    if (key == "MSG_NOBACKUP") {
        report(line +
               (request_.noBackup ? " (--no-backup: going on)" : " (stopped: no --no-backup)"));
        if (!request_.noBackup) failed_ = true;
        // Its default button is Cancel (1); OK, the other button (-1), goes on.
        return request_.noBackup ? -1 : 1;
    }
    if (request_.yes) return 1;
    if (isatty(STDIN_FILENO) == 1 && isatty(STDERR_FILENO) == 1) {
        std::fprintf(stderr, "%s: %s [y/N] ", program_.c_str(), line.c_str());
        std::fflush(stderr);
        std::string answer;
        std::getline(std::cin, answer);
        if (answer == "y" || answer == "Y" || answer == "yes") return 1;
    } else {
        report(line + " (declined: no --yes and no terminal to ask on)");
    }
    declined_ = true;
    return 0;
}

int BatchUser::answerPanel(const std::string& /*directory*/, std::string* chosen) {
    if (request_.file.empty()) return NSCancelButton;
    *chosen = request_.file;
    return NSOKButton;
}

int BatchUser::status() const {
    if (failed_) return kExitFailure;
    if (declined_) return kExitDeclined;
    return kExitSuccess;
}

void BatchUser::fail(const std::string& line) {
    report(line);
    failed_ = true;
}

void BatchUser::recordTerminate() {
    if (status() == kExitSuccess && onSuccess_) onSuccess_();
}
