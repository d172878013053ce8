#include "platform/freedesktop/BaseDirectories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform::freedesktop {
namespace {

std::optional<std::string> absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return std::nullopt;
    return std::string(value);
}

std::optional<std::string> home() {
    if (auto fromEnvironment = absoluteVariable("HOME")) return fromEnvironment;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir ||
        found->pw_dir[0] != '/') {
        return std::nullopt;
    }
    return std::string(found->pw_dir);
}

std::optional<std::string> underHome(const char* variable, const char* fallback) {
    if (auto fromEnvironment = absoluteVariable(variable)) return fromEnvironment;
    if (auto folder = home()) return *folder + fallback;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> dataHome() { return underHome("XDG_DATA_HOME", "/.local/share"); }

std::optional<std::string> configHome() { return underHome("XDG_CONFIG_HOME", "/.config"); }

std::vector<std::string> dataDirs() {
    const char* value = std::getenv("XDG_DATA_DIRS");
    const std::string list = value && *value ? value : "/usr/local/share:/usr/share";
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        if (end > start && list[start] == '/') folders.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

std::vector<std::string> applicationFolders() {
    std::vector<std::string> folders;
    if (auto folder = dataHome()) folders.push_back(*folder + "/applications");
    for (const std::string& folder : dataDirs()) folders.push_back(folder + "/applications");
    return folders;
}

}  // namespace platform::freedesktop
