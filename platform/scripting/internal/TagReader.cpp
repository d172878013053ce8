#include "platform/scripting/internal/TagReader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/foundation/Executable.h"
#include "platform/foundation/FileDescriptor.h"

extern char** environ;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kOverride = "HARMONODE_TAGS_HELPER";
constexpr const char* kProgram = "harmonode-tags";

// Kills and waits for the reader when it is left before it has been waited for.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            static_cast<void>(wait());
        }
    }

    void kill() { ::kill(pid_, SIGKILL); }

    // Waits for the end; gives the wait status.
    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

    // Waits for the end until `deadline`; false when it has not ended by then.
    bool waitUntil(Clock::time_point deadline, int* status) {
        for (auto pause = std::chrono::microseconds(200);; pause = std::min(pause * 2, std::chrono::microseconds(20000))) {
            const pid_t done = ::waitpid(pid_, status, WNOHANG);
            if (done == pid_ || (done < 0 && errno != EINTR)) {
                pid_ = -1;
                return true;
            }
            if (Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(pause);
        }
    }

private:
    pid_t pid_;
};

std::string describeEnd(int status, bool killedForTime) {
    if (killedForTime) {
        return "reading its tags took longer than " + std::to_string(kTagReaderWallSeconds) + " seconds";
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (signal == SIGXCPU || signal == SIGKILL) {
            return "reading its tags took more than " + std::to_string(kTagReaderProcessorSeconds) +
                   " seconds of processor time";
        }
        const char* name = ::strsignal(signal);
        return "reading its tags made the tag reader fail (signal " + std::to_string(signal) +
               (name ? std::string(", ") + name : std::string()) + ")";
    }
    return "reading its tags made the tag reader fail (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
}

}  // namespace

std::string tagReaderPath() {
    if (const char* path = std::getenv(kOverride); path != nullptr && *path != '\0') return path;
    Result<std::string> beside = besideExecutable(kProgram);
    return beside ? std::move(beside).value() : std::string(kProgram);
}

Result<AudioTags> readTagsInReader(int fd) {
    const std::string program = tagReaderPath();
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return Error{"the tag reader cannot be started: " + systemReason(errno), errno};
    }
    FileDescriptor answerIn(pipeEnds[0]), answerOut(pipeEnds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_adddup2(&actions, fd, STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, answerOut.get(), STDOUT_FILENO);
    // Signals as a new program has them: none blocked, and a reader whose
    // caller has gone away ends on its next write.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXCPU);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* const argv[] = {const_cast<char*>(kProgram), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        return Error{"the tag reader \"" + shownPath(program) + "\" cannot be started: " + systemReason(spawned), spawned};
    }
    Child child(pid);
    answerOut.reset();

    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kTagReaderWallSeconds);
    std::string answer;
    bool killedForTime = false, tooLong = false;
    char buffer[16384];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            killedForTime = true;
            break;
        }
        pollfd ready{answerIn.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno != EINTR) break;
        if (polled <= 0) continue;
        const ssize_t n = ::read(answerIn.get(), buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        if (answer.size() + static_cast<std::size_t>(n) > kTagReaderAnswerLimit) {
            tooLong = true;
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    if (killedForTime || tooLong || !child.waitUntil(deadline, &status)) {
        killedForTime = !tooLong;
        child.kill();
        status = child.wait();
    }
    if (tooLong) {
        return Error{"the tag reader answered more than " + std::to_string(kTagReaderAnswerLimit) + " bytes"};
    }
    if (killedForTime || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return Error{describeEnd(status, killedForTime)};
    return decodeAudioTags(answer);
}

}  // namespace platform
