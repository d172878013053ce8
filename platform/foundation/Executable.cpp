#include "platform/foundation/Executable.h"

#include <filesystem>
#include <system_error>

namespace platform {

Result<std::string> executableFolder() {
    constexpr const char* kSelf = "/proc/self/exe";
    std::error_code error;
    // An executable replaced since it started reads "<path> (deleted)": its
    // folder is still the one the program was installed in.
    const std::filesystem::path executable = std::filesystem::read_symlink(kSelf, error);
    if (error) return systemError("read the link", kSelf, error.value());
    return executable.parent_path().string();
}

Result<std::string> besideExecutable(std::string_view name) {
    Result<std::string> folder = executableFolder();
    if (!folder) return folder;
    return (std::filesystem::path(std::move(folder).value()) / name).string();
}

}  // namespace platform
