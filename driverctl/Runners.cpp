// The command runners: a privileged one that logs a system tool's output, and a plain one that
// counts the lines a shell command prints.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/SC820Controller.h"

namespace {

// Pieces of the tool's output: at most 1,023 characters and the terminator per read, so a
// longer line reaches the log in several entries.
constexpr int kAuthLogBufferSize = 1024;
// Room for " 2>&1", which merges standard error into the count, and the terminating NUL.
constexpr size_t kRedirectionRoom = 6;

}  // namespace

// 1 when the tool was started and its output read to the end, 0 when it could not be started.
// The tool's exit status is not available through the authorization service.
int SC820Controller::authLog(const char* cmd, char* const* arg) {
    FILE* fileIO = nullptr;
    OSStatus status =
        AuthorizationExecuteWithPrivileges(mAuthRef, cmd, kAuthorizationFlagDefaults, arg, &fileIO);
    if (status != errAuthorizationSuccess) return 0;
    if (fileIO == nullptr) return 1;  // started, but there is no output to read
    char buffer[kAuthLogBufferSize];
    while (fgets(buffer, sizeof buffer, fileIO) != nullptr) {
        // The tool's text is an argument, never a format. A NUL byte in the output ends what
        // the entry shows of that piece; the reading itself goes on.
        NSLog("%s", buffer);
    }
    fflush(stdout);
    fclose(fileIO);
    return 1;
}

// The number of newline characters that the command writes to its standard output and its
// standard error together; 0 when it cannot be started.
int SC820Controller::execLog(const char* cmd) {
    if (cmd == nullptr) return 0;
    const size_t size = strlen(cmd) + kRedirectionRoom;
    char* line = static_cast<char*>(malloc(size));
    if (line == nullptr) return 0;
    snprintf(line, size, "%s 2>&1", cmd);
    int count = doExecLog(line);
    free(line);
    return count;
}

// Runs the line through the shell unchanged and counts newline characters one character at a
// time; a last line without a newline does not count. The output is neither logged nor kept.
int SC820Controller::doExecLog(const char* cmd) {
    int count = 0;
    char ch[2] = {0, 0};
    FILE* stream = popen(cmd, "r");
    if (stream == nullptr) return 0;
    while (fgets(ch, sizeof ch, stream) != nullptr) {
        if (ch[0] == '\n') ++count;
    }
    pclose(stream);
    return count;
}
