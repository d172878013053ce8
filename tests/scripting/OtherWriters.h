#pragma once
// What another writer of the music library file does to it, for the tests
// of what a process that keeps the library between its changes sees.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace platform::testing {

inline std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// `bytes` with the master playlist's last member entry taken out: a change
// of the file's structure, which moves what follows.
inline std::string withoutLastMasterMember(std::string bytes) {
    const std::size_t close = bytes.find("</array>", bytes.find("<key>Master</key>"));
    const std::size_t member = bytes.rfind("<dict>", close);
    const std::size_t lead = bytes.find_last_not_of("\t\n", member - 1) + 1;
    const std::size_t end = bytes.find("</dict>", member) + std::strlen("</dict>");
    return bytes.erase(lead, end - lead);
}

// Writes `bytes` over the file at `path` in place, made as long as the file
// with blanks after the root element, and sets its modification time back:
// only its status-change time tells the file changed. False when the file
// is not as long as before with the same inode and modification time.
inline bool rewriteInPlaceKeepingSizeAndTime(const std::filesystem::path& path, std::string bytes) {
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0 || bytes.size() > static_cast<std::size_t>(before.st_size)) return false;
    bytes.resize(static_cast<std::size_t>(before.st_size), '\n');
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const timespec times[2] = {before.st_atim, before.st_mtim};
    const bool written = ::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()) &&
                         ::futimens(fd, times) == 0;
    ::close(fd);
    struct stat after {};
    return written && ::stat(path.c_str(), &after) == 0 && after.st_ino == before.st_ino &&
           after.st_size == before.st_size && after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
           after.st_mtim.tv_nsec == before.st_mtim.tv_nsec;
}

}  // namespace platform::testing
