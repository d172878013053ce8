#include "platform/workspace/NSWorkspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>

#include "platform/foundation/File.h"
#include "platform/foundation/UTF8.h"
#include "platform/freedesktop/DesktopEntry.h"

namespace platform {
namespace {

// A small file of /proc, whole; none when it cannot be read (the process ended).
std::optional<std::string> readProcFile(const std::string& path) {
    Result<std::string> text = readFile(path, kSmallFileLimit);
    if (!text) return std::nullopt;
    return std::move(text).value();
}

std::optional<std::string> realPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::nullopt;
    std::string result(real);
    std::free(real);
    return result;
}

// Where a program named in an Exec value is, as the shell would find it.
std::optional<std::string> locateProgram(const std::string& program) {
    if (program.empty()) return std::nullopt;
    if (program.find('/') != std::string::npos) return realPath(program);
    const char* variable = std::getenv("PATH");
    const std::string path = variable && *variable ? variable : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        const std::string candidate = (end > start ? path.substr(start, end - start) : ".") + "/" + program;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return realPath(candidate);
        }
        start = end + 1;
    }
    return std::nullopt;
}

// The desktop entries by the executable their Exec starts; the most
// important entry for each executable.
std::map<std::string, freedesktop::DesktopEntry> entriesByExecutable() {
    std::map<std::string, freedesktop::DesktopEntry> entries;
    for (freedesktop::DesktopEntry& entry : freedesktop::applicationEntries()) {
        if (auto executable = locateProgram(freedesktop::execProgram(entry.exec))) {
            entries.try_emplace(std::move(*executable), std::move(entry));
        }
    }
    return entries;
}

std::vector<pid_t> processIds() {
    std::vector<pid_t> pids;
    DIR* dir = ::opendir("/proc");
    if (!dir) return pids;
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name = item->d_name;
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        pids.push_back(static_cast<pid_t>(std::strtol(item->d_name, nullptr, 10)));
    }
    ::closedir(dir);
    std::sort(pids.begin(), pids.end());
    return pids;
}

// The value of `key` ("Uid:", "State:") in /proc/<pid>/status.
std::string_view statusField(std::string_view status, std::string_view key) {
    for (std::size_t start = 0; start < status.size();) {
        std::size_t end = status.find('\n', start);
        if (end == std::string_view::npos) end = status.size();
        std::string_view line = status.substr(start, end - start);
        if (line.starts_with(key)) {
            line.remove_prefix(key.size());
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
            return line;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace

NSWorkspace& NSWorkspace::sharedWorkspace() noexcept {
    static NSWorkspace workspace;
    return workspace;
}

void NSWorkspace::noteFileSystemChanged(std::u16string_view /*path*/) noexcept {}

std::vector<NSRunningApplication> NSWorkspace::runningApplications() const {
    const std::map<std::string, freedesktop::DesktopEntry> entries = entriesByExecutable();
    const std::string user = std::to_string(::getuid());
    std::vector<NSRunningApplication> applications;
    for (const pid_t pid : processIds()) {
        const std::string folder = "/proc/" + std::to_string(pid);
        const std::optional<std::string> status = readProcFile(folder + "/status");
        const std::optional<std::string> commandLine = readProcFile(folder + "/cmdline");
        std::optional<std::string> name = readProcFile(folder + "/comm");
        if (!status || !commandLine || !name) continue;  // ended meanwhile
        // Kernel threads and unreaped processes have no command line.
        if (commandLine->empty() || statusField(*status, "State:").starts_with("Z")) continue;
        const std::string_view uids = statusField(*status, "Uid:");
        if (uids.substr(0, uids.find_first_of(" \t")) != user) continue;

        NSRunningApplication application;
        application.processIdentifier = pid;
        char target[4096];
        const ssize_t length = ::readlink((folder + "/exe").c_str(), target, sizeof target);
        const auto match = length > 0 && static_cast<std::size_t>(length) < sizeof target
                               ? entries.find(std::string(target, static_cast<std::size_t>(length)))
                               : entries.end();
        if (match != entries.end()) {
            application.localizedName = decodeUTF8Lossy(match->second.name);
            application.bundleIdentifier = decodeUTF8Lossy(match->second.id);
            application.activationPolicy = NSApplicationActivationPolicy::regular;
        } else {
            if (!name->empty() && name->back() == '\n') name->pop_back();
            application.localizedName = decodeUTF8Lossy(*name);
        }
        applications.push_back(std::move(application));
    }
    return applications;
}

}  // namespace platform
