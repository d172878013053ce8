#pragma once
// Runs the built bridge as a child process, feeds it request lines and
// collects what it writes, for black-box tests.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace harmonode::testing {

struct BridgeRun {
    std::string out;         // everything written to standard output
    std::string err;         // everything written to standard error
    int exitStatus = -1;     // exit status, or 128 + signal
    bool timedOut = false;
    long maxResidentKiB = 0;  // the peak resident memory of the process or of any child it waited for

    // Standard output split into lines (the line feeds removed).
    std::vector<std::string> lines() const;
    // The blocks, each the lines up to and without its "###" marker.
    std::vector<std::vector<std::string>> blocks() const;
    // The last line of each block: the reply lines.
    std::vector<std::string> replies() const;
};

struct BridgeOptions {
    std::map<std::string, std::string> environment;  // set on top of the test's own
    // Runs in the child before the bridge starts; when it gives an error
    // text, the child writes it to standard error and exits with 125.
    std::function<std::optional<std::string>()> prepareChild;
    std::chrono::seconds timeout{60};
    std::string program;  // the executable to run; empty: the bridge under test
};

// Runs `program` with `input` on its standard input (closed afterwards) and
// waits for it to end.
BridgeRun runBridge(const std::string& input, const BridgeOptions& options = {});

// The path of the bridge executable under test.
std::string bridgePath();

// A folder that a bridge run takes for its file system root, in a private
// mount namespace: every top-level folder of the real root is bound in, so
// the bridge and the library are found, while /Volumes is the folder's own,
// with an empty /Volumes/Media/_harmonode. Removed again when dropped.
class PrivateRoot {
public:
    PrivateRoot();
    PrivateRoot(const PrivateRoot&) = delete;
    PrivateRoot& operator=(const PrivateRoot&) = delete;
    ~PrivateRoot();

    // Where the run's /Volumes/Media/_harmonode is.
    std::string destinationFolder() const;
    // Makes `options` run the bridge inside this root; a run that cannot
    // enter it exits with 125, the reason on its standard error.
    void enterIn(BridgeOptions& options) const;

private:
    std::string root_;
};

}  // namespace harmonode::testing
