#include "platform/itlibrary/LibraryLocation.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

constexpr const char* kOverride = "HARMONODE_MUSIC_LIBRARY";

// The user's home folder: $HOME, else the password database's entry.
std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return {};
}

std::string quotedList(const std::vector<std::string>& paths) {
    std::string text;
    for (const auto& path : paths) {
        if (!text.empty()) text += ", ";
        text += '"' + shownPath(path) + '"';
    }
    return text;
}

}  // namespace

std::vector<std::string> musicLibraryCandidates() {
    if (const char* path = std::getenv(kOverride); path != nullptr && *path != '\0') return {path};
    std::string home = homeFolder();
    if (home.empty()) return {};
    if (home.size() > 1 && home.back() == '/') home.pop_back();
    return {
        home + "/Music/Music/Library.xml",
        home + "/Music/iTunes/iTunes Music Library.xml",
        home + "/Music/iTunes/iTunes Library.xml",
    };
}

Result<std::string> musicLibraryFilePath() {
    const std::vector<std::string> candidates = musicLibraryCandidates();
    if (candidates.empty()) {
        return Error{std::string("No music library found: the home folder is unknown and ") + kOverride +
                     " is not set"};
    }
    const char* override = std::getenv(kOverride);
    if (override != nullptr && *override != '\0') {
        // The named file is the library even when it is not a plain file, so
        // that opening it says what is wrong with it.
        struct stat st {};
        if (::stat(candidates.front().c_str(), &st) == 0) return candidates.front();
        return Error{"No music library found; looked at " + quotedList(candidates) + " (named by " + kOverride +
                     ")"};
    }
    for (const auto& path : candidates) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return path;
    }
    return Error{"No music library found; looked at " + quotedList(candidates) + " (set " + kOverride +
                 " to the library file's path to use another)"};
}

}  // namespace platform
