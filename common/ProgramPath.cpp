#include "common/ProgramPath.h"

#include <filesystem>

namespace sc820 {

std::string ProgramPath() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.string();
}

std::string ProgramName() {
    std::string path = ProgramPath();
    return path.empty() ? std::string("unknown") : std::filesystem::path(path).filename().string();
}

}  // namespace sc820
