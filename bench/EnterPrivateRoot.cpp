#include "bench/EnterPrivateRoot.h"

#include <dirent.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace harmonode::testing {

std::optional<std::string> enterPrivateRoot(const std::string& root) {
    const auto failed = [](const std::string& what) { return what + ": " + std::strerror(errno); };
    if (unshare(CLONE_NEWNS) != 0) return failed("unshare(CLONE_NEWNS)");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failed("making / private");
    DIR* top = opendir("/");
    if (!top) return failed("opendir /");
    while (const dirent* entry = readdir(top)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "Volumes") continue;
        const std::string source = "/" + name, target = root + "/" + name;
        struct stat info;
        if (lstat(source.c_str(), &info) != 0) continue;
        if (S_ISLNK(info.st_mode)) {
            char link[4096];
            const ssize_t n = readlink(source.c_str(), link, sizeof link - 1);
            if (n > 0 && symlink(std::string(link, static_cast<std::size_t>(n)).c_str(), target.c_str()) != 0) {
                return failed("symlink " + target);
            }
        } else if (S_ISDIR(info.st_mode)) {
            if (mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) return failed("mkdir " + target);
            if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return failed("bind " + source);
        }
    }
    closedir(top);
    if (chroot(root.c_str()) != 0 || chdir("/") != 0) return failed("chroot");
    return std::nullopt;
}

}  // namespace harmonode::testing
