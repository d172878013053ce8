#include "tests/bridge/BridgeProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "bench/EnterPrivateRoot.h"

namespace harmonode::testing {

std::string bridgePath() { return HARMONODE_BRIDGE_PATH; }

namespace {
namespace fs = std::filesystem;
}  // namespace

PrivateRoot::PrivateRoot() {
    static std::atomic<int> serial{0};
    root_ = (fs::temp_directory_path() /
             ("harmonode-root-" + std::to_string(::getpid()) + "-" + std::to_string(serial++)))
                .string();
    fs::create_directories(destinationFolder());
}

PrivateRoot::~PrivateRoot() {
    // The mount points are empty folders out here; remove them one by one,
    // never recursively, so nothing outside the folder can be touched.
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root_, ignored)) {
        if (entry.path().filename() != "Volumes") fs::remove(entry.path(), ignored);
    }
    fs::remove_all(fs::path(root_) / "Volumes", ignored);
    fs::remove(root_, ignored);
}

std::string PrivateRoot::destinationFolder() const { return root_ + "/Volumes/Media/_harmonode"; }

void PrivateRoot::enterIn(BridgeOptions& options) const {
    options.prepareChild = [root = root_] { return enterPrivateRoot(root); };
}

std::vector<std::string> BridgeRun::lines() const {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t lf = out.find('\n', start);
        if (lf == std::string::npos) {
            result.push_back(out.substr(start));
            break;
        }
        result.push_back(out.substr(start, lf - start));
        start = lf + 1;
    }
    return result;
}

std::vector<std::vector<std::string>> BridgeRun::blocks() const {
    std::vector<std::vector<std::string>> result;
    std::vector<std::string> current;
    for (auto& line : lines()) {
        if (line == "###") {
            result.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(std::move(line));
        }
    }
    return result;
}

std::vector<std::string> BridgeRun::replies() const {
    std::vector<std::string> result;
    for (const auto& block : blocks()) result.push_back(block.empty() ? std::string() : block.back());
    return result;
}

BridgeRun runBridge(const std::string& input, const BridgeOptions& options) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
        if (options.prepareChild) {
            if (const auto problem = options.prepareChild()) {
                static_cast<void>(write(2, problem->data(), problem->size()));
                _exit(125);
            }
        }
        const std::string path = options.program.empty() ? bridgePath() : options.program;
        execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);

    BridgeRun run;
    std::size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    bool outOpen = true, errOpen = true;
    char buffer[1 << 16];
    while (outOpen || errOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
        if (!outOpen) fds[0].fd = -1;
        if (!errOpen) fds[1].fd = -1;
        if (poll(fds, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        if (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) {
            const ssize_t n = write(inFd, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n < 0 || written == input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
        for (int k = 0; k < 2; ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                (k == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(n));
            } else {
                (k == 0 ? outOpen : errOpen) = false;
            }
        }
    }
    if (inFd >= 0) close(inFd);
    close(out[0]);
    close(err[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    run.maxResidentKiB = usage.ru_maxrss;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

}  // namespace harmonode::testing
