// The version shown as the SCSI BIOS version: the version of a loaded kernel extension as the
// system's status tool lists it, "identifier (version) ...".
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/SC820Controller.h"

namespace {

// The listing is read in pieces of at most 511 characters: one line, or the first 511
// characters of a longer line.
constexpr int kListingPieceSize = 512;
// Room for the version text and its terminating NUL.
constexpr size_t kVersionBufferSize = 256;
// The newer tool first; the older one only when the newer one cannot be started.
constexpr const char* kStatusTools[] = {"/usr/sbin/kmodstat", "/usr/sbin/kextstat"};

// Starts the first status tool that can be started and returns its output stream; null when
// none can be started, or when the one started gave no stream.
FILE* StartStatusTool(AuthorizationRef authorization) {
    char* const noArguments[] = {nullptr};
    for (const char* tool : kStatusTools) {
        FILE* pipe = nullptr;
        if (AuthorizationExecuteWithPrivileges(authorization, tool, kAuthorizationFlagDefaults,
                                               noArguments, &pipe) == errAuthorizationSuccess) {
            return pipe;
        }
    }
    return nullptr;
}

// A plain, case-sensitive substring test. An empty search text names nothing.
bool PieceNamesDriver(const std::string& piece, const char* targetDriver) {
    return targetDriver != nullptr && targetDriver[0] != '\0' &&
           piece.find(targetDriver) != std::string::npos;
}

// Reads and logs the listing up to and including the first piece that names the driver, and
// returns that piece; returns an empty text when no piece does. Pieces are C strings as fgets
// leaves them: a NUL byte in the output ends that piece's text, and bytes outside ASCII are
// kept as they are.
std::string FindDriverPiece(FILE* pipe, const char* targetDriver) {
    char iobuffer[kListingPieceSize];
    while (fgets(iobuffer, sizeof iobuffer, pipe) != nullptr) {
        std::string log(iobuffer);
        NSLog("%s", iobuffer);
        if (PieceNamesDriver(log, targetDriver)) return log;
    }
    return {};
}

// Copies the text after the piece's first "(" into buff, one byte per character, up to the next
// ")". When no ")" follows, the text runs to the end of the line (the newline is not copied).
// At most 255 characters are copied, so buff always ends with a NUL. Returns false when the
// piece holds no "(".
bool CopyVersion(const std::string& log, char (&buff)[kVersionBufferSize]) {
    const size_t open = log.find('(');
    if (open == std::string::npos) return false;
    const size_t start = open + 1;
    size_t end = log.find(')', start);
    if (end == std::string::npos) end = std::min(log.find('\n', start), log.size());
    const size_t length = std::min(end - start, kVersionBufferSize - 1);
    std::memcpy(buff, log.data() + start, length);
    return true;
}

}  // namespace

NSString SC820Controller::getBiosVersion(const char* targetDriver) {
    std::string log;
    char buff[kVersionBufferSize] = {};
    if (FILE* pipe = StartStatusTool(mAuthRef)) {
        log = FindDriverPiece(pipe, targetDriver);
        fflush(stdout);
        fclose(pipe);  // the rest of the listing after the matching line is not read
    }
    if (!CopyVersion(log, buff)) return NSString("0");
    NSString version(buff);
    NSLog("%s", buff);
    return version;
}
