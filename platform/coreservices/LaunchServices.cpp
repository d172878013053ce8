#include "platform/coreservices/LaunchServices.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/File.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/UTF8.h"
#include "platform/freedesktop/BaseDirectories.h"
#include "platform/freedesktop/DesktopEntry.h"

namespace platform {
namespace {

constexpr std::string_view kGroup = "[Default Applications]";

bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// The scheme in lower case, or none when it is not a URL scheme.
std::optional<std::string> urlScheme(std::u16string_view scheme) {
    if (scheme.empty() || !isAsciiLetter(scheme.front())) return std::nullopt;
    std::string lower;
    for (const char16_t c : scheme) {
        const bool allowed = isAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
        if (!allowed) return std::nullopt;
        lower += static_cast<char>(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c);
    }
    return lower;
}

bool nameableId(std::string_view id) {
    if (id.empty()) return false;
    for (const char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '/' || c == ';') return false;
    }
    return true;
}

bool makeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

// How long a change waits for another one to finish before it gives up.
constexpr std::chrono::seconds kLockWait{10};

// The lock a change of the list holds from before it reads the list until
// after it has replaced it: first this process's own (threads of one
// process are not told apart by every file system's advisory locks), then
// an exclusive advisory lock on `lockPath`, a file beside the list that
// replacing the list leaves alone, for other processes. Released when
// dropped.
class ListLock {
public:
    static Result<ListLock> take(const std::string& lockPath) {
        static std::timed_mutex processLock;
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        std::unique_lock<std::timed_mutex> held(processLock, deadline);
        if (!held) return Error{"could not lock \"" + shownPath(lockPath) + "\": another change takes too long"};
        FileDescriptor file(::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
                                   0644));
        if (!file) return systemError("lock", lockPath, errno);
        struct stat st {};
        if (::fstat(file.get(), &st) != 0) return systemError("lock", lockPath, errno);
        if (!S_ISREG(st.st_mode)) return Error{"could not lock \"" + shownPath(lockPath) + "\": it is not a regular file"};
        for (auto pause = std::chrono::milliseconds(1);; pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
            if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) break;
            if (errno != EWOULDBLOCK && errno != EINTR) return systemError("lock", lockPath, errno);
            if (std::chrono::steady_clock::now() >= deadline) {
                return Error{"could not lock \"" + shownPath(lockPath) + "\": another process holds it too long"};
            }
            std::this_thread::sleep_for(pause);
        }
        return ListLock(std::move(held), std::move(file));
    }

private:
    ListLock(std::unique_lock<std::timed_mutex> held, FileDescriptor file)
        : held_(std::move(held)), file_(std::move(file)) {}

    // Closing the file releases the advisory lock, before the process's own.
    std::unique_lock<std::timed_mutex> held_;
    FileDescriptor file_;
};

// The file a change of `path` writes: `path` itself, or where it is a
// symbolic link the file the link leads to, followed link by link, so that
// a link stays a link; a dangling link leads to the file to create.
Result<std::string> fileBehind(const std::string& path) {
    std::string target = path;
    for (int links = 0;; ++links) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0) {
            if (errno == ENOENT) return target;
            return systemError("read", target, errno);
        }
        if (!S_ISLNK(st.st_mode)) return target;
        if (links == 40) return systemError("read", path, ELOOP);
        std::string link(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)) + 1, '\0');
        const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length < 0) return systemError("read", target, errno);
        if (static_cast<std::size_t>(length) == link.size()) return systemError("read", target, ENAMETOOLONG);
        link.resize(static_cast<std::size_t>(length));
        if (link.empty()) return systemError("read", target, ENOENT);
        target = link.front() == '/' ? link : target.substr(0, target.rfind('/') + 1) + link;
    }
}

// The file's text; empty when it does not exist yet.
Result<std::string> readText(const std::string& path) {
    Result<std::string> text = readFile(path, kSmallFileLimit);
    if (!text && text.error().systemCode == ENOENT) return std::string();
    return text;
}

// The text of mimeapps.list with `key` set to `value` in its default group:
// every line of the key there is replaced; without one, the line is added
// after the last entry of the first such group, or a group is added at the
// end. Every other line stays as it was.
std::string withDefault(std::string_view text, const std::string& key, const std::string& value) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    bool newlineAtEnd = text.empty() || text.back() == '\n';
    const std::string entry = key + "=" + value;

    bool inGroup = false, inFirstGroup = false, replaced = false;
    std::optional<std::size_t> insertAt;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view trimmed = trim(lines[i], " \t\r");
        if (!trimmed.empty() && trimmed.front() == '[') {
            inGroup = trimmed == kGroup;
            inFirstGroup = inGroup && !insertAt;
            if (inFirstGroup) insertAt = i + 1;
            continue;
        }
        if (!inGroup || trimmed.empty() || trimmed.front() == '#') continue;
        if (inFirstGroup) insertAt = i + 1;
        const std::size_t equals = trimmed.find('=');
        if (equals != std::string_view::npos && lowerAscii(trim(trimmed.substr(0, equals), " \t\r")) == key) {
            lines[i] = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        if (!insertAt) {
            if (!lines.empty() && !trim(lines.back(), " \t\r").empty()) lines.emplace_back();
            lines.emplace_back(kGroup);
            insertAt = lines.size();
        }
        if (*insertAt == lines.size()) newlineAtEnd = true;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*insertAt), entry);
    }

    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += '\n';
        out += lines[i];
    }
    if (newlineAtEnd && !lines.empty()) out += '\n';
    return out;
}

}  // namespace

OSStatus LSSetDefaultHandlerForURLScheme(std::u16string_view inScheme, std::u16string_view handlerBundleID) noexcept {
    try {
        const std::optional<std::string> scheme = urlScheme(inScheme);
        const std::string id = utf16ToUTF8(handlerBundleID);
        if (!scheme || !nameableId(id)) return paramErr;
        if (!freedesktop::findDesktopEntry(id)) return kLSApplicationNotFoundErr;
        const std::optional<std::string> folder = freedesktop::configHome();
        if (!folder) {
            NSLog("LSSetDefaultHandlerForURLScheme: no home folder for mimeapps.list");
            return kLSUnknownErr;
        }
        if (!makeFolders(*folder)) {
            NSLog("LSSetDefaultHandlerForURLScheme: %@", systemError("make", *folder, errno).description);
            return kLSUnknownErr;
        }
        const std::string list = *folder + "/mimeapps.list";
        // Held until the new list is in place; the list is read under it.
        const Result<ListLock> lock = ListLock::take(list + ".lock");
        if (!lock) {
            NSLog("LSSetDefaultHandlerForURLScheme: %@", lock.error().description);
            return kLSUnknownErr;
        }
        const Result<std::string> path = fileBehind(list);
        const Result<std::string> text = path ? readText(path.value()) : Result<std::string>(path.error());
        if (!text) {
            NSLog("LSSetDefaultHandlerForURLScheme: %@", text.error().description);
            return kLSUnknownErr;
        }
        const Status written = writeFileAtomically(
            path.value(), withDefault(text.value(), "x-scheme-handler/" + *scheme, id + ".desktop;"));
        if (!written) {
            NSLog("LSSetDefaultHandlerForURLScheme: %@", written.error().description);
            return kLSUnknownErr;
        }
        return noErr;
    } catch (const std::exception& e) {
        NSLog("LSSetDefaultHandlerForURLScheme: %@", e.what());
        return kLSUnknownErr;
    }
}

}  // namespace platform
