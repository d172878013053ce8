#include "platform/security/Authorization.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/FileDescriptor.h"

extern char** environ;

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
//
// The tool is started by a short-lived middle process that shares this
// process's memory, as a vfork child does (clone with CLONE_VM and
// CLONE_VFORK, on a stack of its own), so nothing of the caller is copied
// however large its heap. The middle starts the tool with posix_spawn
// (glibc's starts the same way and reports a failed exec as its result) and
// ends at once; the calling thread resumes when it has ended and reaps it.
// The tool, whose parent is gone, is adopted by init and never waits to be
// reaped here.

// `fd` moved to a number above the standard descriptors, close-on-exec, so
// that putting the tool's standard input and output in place cannot
// overwrite it. -1 on failure (the original is closed either way).
int aboveStandard(int fd) noexcept {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

class SpawnActions {
public:
    SpawnActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const noexcept { return ok_; }
    posix_spawn_file_actions_t* get() noexcept { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = ::posix_spawnattr_init(&attributes_) == 0; }
    ~SpawnAttributes() {
        if (ok_) ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const noexcept { return ok_; }
    posix_spawnattr_t* get() noexcept { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
    bool ok_ = false;
};

// Every signal, glibc's own included. sigfillset leaves out the signals
// glibc keeps for itself (from __SIGRTMIN up to SIGRTMIN), and its
// posix_spawn leaves those ignored in the new process, which exec keeps;
// named here, they are put back at their defaults, as fork and exec left
// them.
sigset_t everySignal() noexcept {
    sigset_t set;
    sigfillset(&set);
    constexpr int kBitsPerWord = 8 * sizeof set.__val[0];
    for (int sig = __SIGRTMIN; sig < SIGRTMIN; ++sig) {
        set.__val[(sig - 1) / kBitsPerWord] |= 1UL << ((sig - 1) % kBitsPerWord);
    }
    return set;
}

// What the middle process needs, made before it starts; it writes `error`
// alone.
struct Spawn {
    const char* path;
    char* const* argv;
    const posix_spawn_file_actions_t* actions;
    const posix_spawnattr_t* attributes;
    int error = ECHILD;  // stays so when the middle dies before it can say
};

// The middle process: this process's memory on its own stack, every signal
// blocked, so none of the caller's handlers can run here. Not instrumented:
// the sanitizers do not know this stack.
__attribute__((no_sanitize("address", "undefined"))) int middle(void* argument) noexcept {
    Spawn& spawn = *static_cast<Spawn*>(argument);
    pid_t tool = 0;
    spawn.error = ::posix_spawn(&tool, spawn.path, spawn.actions, spawn.attributes, spawn.argv, environ);
    return 0;
}

// The middle's stack: mapped for one start, with a guard page below it.
class MiddleStack {
public:
    static constexpr std::size_t kSize = 128 * 1024;
    MiddleStack() noexcept {
        void* base = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (base == MAP_FAILED) return;
        base_ = static_cast<char*>(base);
        ::mprotect(base_, static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)), PROT_NONE);
    }
    ~MiddleStack() {
        if (base_) ::munmap(base_, kSize);
    }
    MiddleStack(const MiddleStack&) = delete;
    MiddleStack& operator=(const MiddleStack&) = delete;
    void* top() const noexcept { return base_ ? base_ + kSize : nullptr; }

private:
    char* base_ = nullptr;
};

// Starts the tool detached: 0, or the errno of what failed (a failed exec
// included).
int startDetached(Spawn& spawn) noexcept {
    MiddleStack stack;
    if (!stack.top()) return errno;
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::clone(middle, stack.top(), CLONE_VM | CLONE_VFORK | SIGCHLD, &spawn);
    const int cloneError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) return cloneError;
    // It has ended already: CLONE_VFORK held this thread until then.
    int status = 0;
    pid_t reaped;
    while ((reaped = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (reaped == pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) return ECHILD;
    return spawn.error;
}

OSStatus execute(const char* path, char* const* arguments, std::FILE** pipe) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path));
    for (char* const* arg = arguments; arg && *arg; ++arg) argv.push_back(*arg);
    argv.push_back(nullptr);

    FileDescriptor ours, theirs;
    if (pipe) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return errAuthorizationInternal;
        ours = FileDescriptor(aboveStandard(pair[0]));
        theirs = FileDescriptor(aboveStandard(pair[1]));
        if (!ours || !theirs) return errAuthorizationInternal;
    }

    // The tool's input and output are the stream where asked, its standard
    // error the caller's, every other descriptor closed; no signal blocked,
    // every signal at its default.
    SpawnActions actions;
    SpawnAttributes attributes;
    if (!actions.ok() || !attributes.ok()) return errAuthorizationInternal;
    if (theirs && (::posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), STDIN_FILENO) != 0 ||
                   ::posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), STDOUT_FILENO) != 0)) {
        return errAuthorizationInternal;
    }
    sigset_t none;
    sigemptyset(&none);
    const sigset_t all = everySignal();
    if (::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1) != 0 ||
        ::posix_spawnattr_setsigmask(attributes.get(), &none) != 0 ||
        ::posix_spawnattr_setsigdefault(attributes.get(), &all) != 0 ||
        ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0) {
        return errAuthorizationInternal;
    }

    Spawn spawn{path, argv.data(), actions.get(), attributes.get()};
    const int error = startDetached(spawn);
    theirs.reset();  // the tool has its own copies
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
