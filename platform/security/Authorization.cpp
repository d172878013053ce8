#include "platform/security/Authorization.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {
namespace {

constexpr AuthorizationFlags kDefinedFlags =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights | kAuthorizationFlagPartialRights |
    kAuthorizationFlagDestroyRights | kAuthorizationFlagPreAuthorize | kAuthorizationFlagSkipInternalAuth |
    kAuthorizationFlagNoData;

// What one handle holds.
struct Authorization {
    std::set<std::string> rights;
};

// Live handles by number. A handle is its number in pointer form; numbers
// are never reused, so a freed handle stays invalid.
struct Registry {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, Authorization> live;
    std::uintptr_t next = 1;
};

Registry& registry() {
    static Registry* instance = new Registry;  // outlives every static destructor
    return *instance;
}

std::uintptr_t number(AuthorizationRef ref) { return reinterpret_cast<std::uintptr_t>(ref); }

// The one place where a right is decided. The administrator right goes to a
// process running as root. A desktop authentication agent would be asked
// here, when the caller allows interaction, before the right is denied.
bool mayGrant(const char* /*right*/, const AuthorizationEnvironment* /*environment*/,
              AuthorizationFlags /*flags*/) noexcept {
    return ::geteuid() == 0;
}

bool validSet(const AuthorizationItemSet* set) noexcept {
    if (set->count > 0 && !set->items) return false;
    for (std::uint32_t i = 0; i < set->count; ++i) {
        if (!set->items[i].name) return false;
        if (set->items[i].valueLength > 0 && !set->items[i].value) return false;
    }
    return true;
}

// Decides `rights` against what `held` holds already; on success adds them.
OSStatus obtain(std::set<std::string>& held, const AuthorizationRights* rights,
                const AuthorizationEnvironment* environment, AuthorizationFlags flags) {
    if (!validSet(rights) || (environment && !validSet(environment))) return errAuthorizationInvalidSet;
    std::vector<std::string> granted;
    for (std::uint32_t i = 0; i < rights->count; ++i) {
        const char* name = rights->items[i].name;
        if (held.count(name)) continue;
        if ((flags & kAuthorizationFlagExtendRights) && mayGrant(name, environment, flags)) {
            granted.emplace_back(name);
        } else if (!(flags & kAuthorizationFlagPartialRights)) {
            return errAuthorizationDenied;
        }
    }
    held.insert(granted.begin(), granted.end());
    return errAuthorizationSuccess;
}

// --- Starting the tool ---------------------------------------------------

// A descriptor closed when the scope ends, unless released.
class Fd {
public:
    explicit Fd(int fd = -1) noexcept : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const noexcept { return fd_; }
    int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// `fd` moved to a number above the standard descriptors, close-on-exec, so
// that putting the tool's standard input and output in place cannot
// overwrite it. -1 on failure (the original is closed either way).
int aboveStandard(int fd) noexcept {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

// Everything the tool's process needs, made before forking: after fork the
// child of a threaded process may only make async-signal-safe calls.
struct Launch {
    const char* path;
    std::vector<char*> argv;
    int stream = -1;      // the tool's end of the socket pair, or -1
    int failure = -1;     // write end of the close-on-exec pipe
    int maxFd = 0;        // for closing descriptors where close_range is missing
    sigset_t emptyMask;
};

[[noreturn]] void reportAndExit(int fd, int error) noexcept {
    while (::write(fd, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

// Closes the descriptors from `first` to `last`; where the kernel lacks
// close_range, those below `maxFd` one by one.
void closeFrom(int first, int last, int maxFd) noexcept {
    if (first > last) return;
    if (::syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0u) == 0) return;
    for (int fd = first; fd <= last && fd < maxFd; ++fd) ::close(fd);
}

// In the grandchild: standard descriptors in place, the rest closed, signals
// at their defaults, then exec. Only async-signal-safe calls.
[[noreturn]] void execTool(const Launch& launch) noexcept {
    if (launch.stream >= 0) {
        if (::dup2(launch.stream, STDIN_FILENO) < 0 || ::dup2(launch.stream, STDOUT_FILENO) < 0) {
            reportAndExit(launch.failure, errno);
        }
    }
    closeFrom(STDERR_FILENO + 1, launch.failure - 1, launch.maxFd);
    closeFrom(launch.failure + 1, INT_MAX, launch.maxFd);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &defaults, nullptr);
    ::sigprocmask(SIG_SETMASK, &launch.emptyMask, nullptr);
    ::execv(launch.path, launch.argv.data());
    reportAndExit(launch.failure, errno);
}

// Starts the tool detached (fork, fork again, the middle process exits at
// once and is reaped here). Returns 0, or the errno of what failed; an exec
// failure is reported through the close-on-exec pipe, so it is known here.
int startDetached(Launch& launch, int failureRead) {
    const pid_t middle = ::fork();
    if (middle < 0) return errno;
    if (middle == 0) {
        const pid_t tool = ::_Fork();
        if (tool < 0) reportAndExit(launch.failure, errno);
        if (tool == 0) execTool(launch);
        ::_exit(0);
    }
    ::close(launch.failure);
    launch.failure = -1;
    if (launch.stream >= 0) {
        ::close(launch.stream);
        launch.stream = -1;
    }

    int error = 0;
    std::size_t got = 0;
    char buffer[sizeof error];
    for (;;) {
        const ssize_t n = ::read(failureRead, buffer + got, sizeof buffer - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
        if (got == sizeof buffer) break;
    }
    if (got == sizeof buffer) std::memcpy(&error, buffer, sizeof error);
    while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    return error;
}

OSStatus execute(const char* path, char* const* arguments, std::FILE** pipe) {
    Launch launch;
    launch.path = path;
    launch.argv.push_back(const_cast<char*>(path));
    for (char* const* arg = arguments; arg && *arg; ++arg) launch.argv.push_back(*arg);
    launch.argv.push_back(nullptr);
    sigemptyset(&launch.emptyMask);
    if (struct rlimit limit; ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
                             limit.rlim_cur < 0x7fffffff) {
        launch.maxFd = static_cast<int>(limit.rlim_cur);
    } else {
        launch.maxFd = 65536;
    }

    int failurePipe[2];
    if (::pipe2(failurePipe, O_CLOEXEC) != 0) return errAuthorizationInternal;
    Fd failureRead(aboveStandard(failurePipe[0]));
    Fd failureWrite(aboveStandard(failurePipe[1]));
    if (failureRead.get() < 0 || failureWrite.get() < 0) return errAuthorizationInternal;

    Fd ours, theirs;
    if (pipe) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return errAuthorizationInternal;
        ours.reset(aboveStandard(pair[0]));
        theirs.reset(aboveStandard(pair[1]));
        if (ours.get() < 0 || theirs.get() < 0) return errAuthorizationInternal;
    }

    launch.failure = failureWrite.release();
    launch.stream = theirs.release();
    const int error = startDetached(launch, failureRead.get());
    if (launch.failure >= 0) ::close(launch.failure);  // fork failed
    if (launch.stream >= 0) ::close(launch.stream);
    if (error != 0) return errAuthorizationToolExecuteFailure;

    if (pipe) {
        std::FILE* stream = ::fdopen(ours.get(), "r+");
        if (!stream) return errAuthorizationInternal;  // the tool sees its input end
        ours.release();
        *pipe = stream;
    }
    return errAuthorizationSuccess;
}

}  // namespace

OSStatus AuthorizationCreate(const AuthorizationRights* rights, const AuthorizationEnvironment* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization) noexcept {
    if (flags & ~kDefinedFlags) return errAuthorizationInvalidFlags;
    try {
        Authorization created;
        if (rights) {
            if (const OSStatus status = obtain(created.rights, rights, environment, flags)) return status;
        } else if (environment && !validSet(environment)) {
            return errAuthorizationInvalidSet;
        }
        if (!authorization) return errAuthorizationSuccess;
        Registry& r = registry();
        const std::lock_guard lock(r.mutex);
        const std::uintptr_t id = r.next++;
        r.live.emplace(id, std::move(created));
        *authorization = reinterpret_cast<AuthorizationRef>(id);
        return errAuthorizationSuccess;
    } catch (...) {
        return errAuthorizationInternal;
    }
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment* environment, AuthorizationFlags flags,
                                 AuthorizationItemSet** authorizedRights) noexcept {
    if (flags & ~kDefinedFlags) return errAuthorizationInvalidFlags;
    if (!rights) return errAuthorizationInvalidSet;
    if (authorizedRights) return errAuthorizationInvalidPointer;
    try {
        Registry& r = registry();
        const std::lock_guard lock(r.mutex);
        const auto found = r.live.find(number(authorization));
        if (found == r.live.end()) return errAuthorizationInvalidRef;
        return obtain(found->second.rights, rights, environment, flags);
    } catch (...) {
        return errAuthorizationInternal;
    }
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            std::FILE** communicationsPipe) noexcept {
    if (communicationsPipe) *communicationsPipe = nullptr;
    if (options != kAuthorizationFlagDefaults) return errAuthorizationInvalidFlags;
    if (!pathToTool) return errAuthorizationInvalidPointer;
    try {
        {
            Registry& r = registry();
            const std::lock_guard lock(r.mutex);
            const auto found = r.live.find(number(authorization));
            if (found == r.live.end()) return errAuthorizationInvalidRef;
            AuthorizationItem admin{kAuthorizationRightExecute, 0, nullptr, 0};
            const AuthorizationRights rights{1, &admin};
            const OSStatus status = obtain(found->second.rights, &rights, nullptr,
                                           kAuthorizationFlagExtendRights | kAuthorizationFlagInteractionAllowed);
            if (status) return status;
        }
        return execute(pathToTool, arguments, communicationsPipe);
    } catch (...) {
        return errAuthorizationInternal;
    }
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) noexcept {
    if (flags & ~kAuthorizationFlagDestroyRights) return errAuthorizationInvalidFlags;
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    return r.live.erase(number(authorization)) ? errAuthorizationSuccess : errAuthorizationInvalidRef;
}

}  // namespace platform
