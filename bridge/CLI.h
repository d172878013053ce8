#pragma once
// The command loop and its dispatch.
//
// `run` reads one request line at a time from standard input, answers it in
// full (progress lines, one compact JSON reply line, the marker "###") and
// only then reads the next, until `quit` is set. One exception: when
// add_track requests with a path are waiting in the input already as one
// is taken, they are taken with it, and their files imported with one
// request to the music application; each is then answered in turn, in
// order, none before the import that holds its file is done.
// `handle(request:)` never fails: every failure of a command becomes an
// error reply {"error": text}.
// Single-threaded: one CLI per process, used from the bridge thread.

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/object.hpp>

#include "bridge/LineReader.h"
#include "bridge/Reply.h"
#include "bridge/Request.h"

namespace harmonode {

class CLI {
public:
    // The command words, matched whole and case-sensitively.
    enum class Cmd { quit, help, ping, test, library, write, add_track, delete_track };
    static std::optional<Cmd> cmdFromString(std::string_view word) noexcept;
    static std::string_view rawValue(Cmd cmd) noexcept;

    CLI() = default;
    virtual ~CLI() = default;

    virtual boost::json::object help();
    virtual boost::json::object ping();
    virtual boost::json::object test();
    virtual boost::json::object error(std::string_view message);

    bool quit() const noexcept { return quit_; }
    void setQuit(bool quit) noexcept { quit_ = quit; }

    // Serves requests from standard input until `quit` is set, or until the
    // input has ended (answered once with "empty command?").
    virtual void run();

    // The most add_track requests whose files one import takes.
    static constexpr std::size_t kMostFilesInOneImport = 100;

private:
    Reply handle(const Request& request);
    // The reply to one read of standard input (none: the input has ended).
    Reply answer(const std::optional<std::string>& line, LineReader& input);
    // Reads one line and answers it; any failure becomes an error reply.
    Reply serve(LineReader& input);
    // add_track for `path` and for the add_track requests waiting in the
    // input, which it takes and leaves in `imported_`.
    Reply addWaiting(const std::string& path, LineReader& input);

    bool quit_ = false;
    std::deque<std::string> imported_;  // paths of requests taken, imported, not yet answered
};

}  // namespace harmonode
