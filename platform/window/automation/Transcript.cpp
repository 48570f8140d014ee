#include "platform/window/automation/Transcript.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/FileIO.h"
#include "common/LogText.h"

Transcript::Transcript(int fd, bool owned) : fd_(fd), owned_(owned) {}

Transcript::~Transcript() {
    if (owned_ && fd_ >= 0) close(fd_);
}

std::unique_ptr<Transcript> Transcript::open(std::string* error) {
    const char* path = std::getenv("SC820_TRANSCRIPT");
    if (path == nullptr || *path == '\0') {
        // A copy of standard error: a terminal backend silences standard error while it owns
        // the screen, and the transcript must still reach where standard error pointed.
        int copy = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) return std::make_unique<Transcript>(STDERR_FILENO, false);
        return std::make_unique<Transcript>(copy, true);
    }
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = std::string("cannot open transcript ") + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<Transcript>(fd, true);
}

// The system log's escaping: one escaper for both, and every event stays one line whatever
// control characters its text holds.
std::string Transcript::escape(const std::string& field) {
    return sc820::EscapeLogText(field);
}

void Transcript::writeLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i != 0) line += '\t';
        line += escape(fields[i]);
    }
    line += '\n';
    // A transcript that cannot be written loses its lines; the run itself goes on.
    sc820::WriteAll(fd_, line);
}
