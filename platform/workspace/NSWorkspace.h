#pragma once
// The shared workspace: file-system change notes and the running
// applications.
//
// The running applications are the processes of the current user (real user
// id) read from /proc when asked, in process-id order; kernel threads and
// processes that have ended but not been reaped are not applications. A
// process whose executable is the program a desktop entry's Exec starts (see
// platform/freedesktop/DesktopEntry.h) is that application: its name is the
// entry's Name and its bundle identifier the entry's id; it has a user
// interface. Any other process has its own name (the kernel's, at most 15
// bytes), no bundle identifier, and no user interface. A process that ends
// while the list is read is left out.
//
// Texts are valid UTF-8 (bytes that are not become U+FFFD). Everything is
// read anew on each call; all functions are thread-safe, except that they
// read the environment (see BaseDirectories.h).

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class NSApplicationActivationPolicy {
    regular = 0,     // an application with a user interface
    accessory = 1,
    prohibited = 2,  // no user interface
};

struct NSRunningApplication {
    pid_t processIdentifier = 0;
    std::optional<std::string> localizedName;
    std::optional<std::string> bundleIdentifier;
    NSApplicationActivationPolicy activationPolicy = NSApplicationActivationPolicy::prohibited;
};

class NSWorkspace {
public:
    static NSWorkspace& sharedWorkspace() noexcept;

    // Tells the file managers that something at `path` changed. File managers
    // on this platform watch the folders they show themselves (inotify), so
    // there is nobody to tell and this does nothing.
    void noteFileSystemChanged(std::u16string_view path) noexcept;

    // Throws std::bad_alloc when out of memory.
    std::vector<NSRunningApplication> runningApplications() const;

private:
    NSWorkspace() = default;
};

}  // namespace platform
