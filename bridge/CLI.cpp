#include "bridge/CLI.h"

#include <unistd.h>

#include <array>
#include <string>

#include <boost/json/parser.hpp>

#include "bridge/LibraryCommands.h"
#include "bridge/LineReader.h"
#include "bridge/Output.h"
#include "export/Assert.h"
#include "export/JsonText.h"

namespace harmonode {
namespace {

constexpr std::array<std::string_view, 8> kCommandWords = {
    "quit", "help", "ping", "test", "library", "write", "add_track", "delete_track",
};

// The reply line is written in place of a reply that cannot be turned into
// JSON text. It is deliberately not JSON.
constexpr std::string_view kFatalReply = "{error:\"fatal\"}";

// The request of a line that begins with "{", or the "json error " reply.
struct Parsed {
    boost::json::object request;
    std::optional<std::string> error;
};

Parsed parseRequest(std::string_view line) {
    boost::json::parser parser;
    boost::system::error_code ec;
    const std::size_t consumed = parser.write(line.data(), line.size(), ec);
    if (!ec) {
        boost::json::value value = parser.release();
        // A line that begins with "{" and parses can only be an object.
        HARMONODE_ASSERT(value.is_object());
        return {std::move(value.get_object()), std::nullopt};
    }
    return {{}, ec.message() + " at byte offset " + std::to_string(consumed)};
}

}  // namespace

std::optional<CLI::Cmd> CLI::cmdFromString(std::string_view word) noexcept {
    for (std::size_t i = 0; i < kCommandWords.size(); ++i) {
        if (kCommandWords[i] == word) return static_cast<Cmd>(i);
    }
    return std::nullopt;
}

std::string_view CLI::rawValue(Cmd cmd) noexcept { return kCommandWords[static_cast<std::size_t>(cmd)]; }

boost::json::object CLI::help() { return {{"help", "todo"}}; }

boost::json::object CLI::ping() { return {{"pong", "yes..."}}; }

boost::json::object CLI::test() {
    // Copied into the ordinary heap: the reply's own arena ends here.
    return boost::json::object(handle({{"cmd", "add_track"}, {"path", HARMONODE_SAMPLE_AUDIO}}).json(), {});
}

boost::json::object CLI::error(std::string_view message) { return {{"error", message}}; }

JsonDocument CLI::handle(const boost::json::object& request) {
    const auto* cmdValue = request.if_contains("cmd");
    if (!cmdValue || !cmdValue->is_string()) return error("no cmd");
    const auto cmd = cmdFromString(cmdValue->get_string());
    if (!cmd) return error("no such command");

    switch (*cmd) {
        case Cmd::quit:
            quit_ = true;
            return boost::json::object();
        case Cmd::help:
            return help();
        case Cmd::ping:
            return ping();
        case Cmd::test:
            return test();
        case Cmd::add_track: {
            const auto* path = request.if_contains("path");
            if (!path || !path->is_string()) return error("add_track needs a \"path\" text");
            return error("add_track is not available yet");
        }
        case Cmd::library: {
            auto document = libraryToJSON();
            if (!document) return error("error " + document.error().description);
            return std::move(document).value();
        }
        case Cmd::write:
            if (const auto status = writeLibrary(); !status) return error("error " + status.error().description);
            return boost::json::object();
        case Cmd::delete_track:
            break;
    }
    return error("unhandled " + std::string(rawValue(*cmd)));
}

JsonDocument CLI::answer(const std::optional<std::string>& line) {
    if (!line) {
        // Every further read would end the same way: stop as quit does.
        quit_ = true;
        return error("empty command?");
    }
    if (!line->starts_with('{')) return handle({{"cmd", *line}});
    Parsed parsed = parseRequest(*line);
    if (parsed.error) return error("json error " + *parsed.error);
    return handle(parsed.request);
}

void CLI::run() {
    LineReader input(STDIN_FILENO);
    while (!quit_) {
        const JsonDocument answered = answer(input.readLine());
        const boost::json::object& reply = answered.json();

        // The reply line goes out as it is made (the library document makes
        // a long one); checked first, so it is never cut short.
        if (checkJSON(reply)) {
            streamJSON(reply, JsonLayout::compact, [](std::string_view piece) {
                HARMONODE_ASSERT(piece.find('\n') == piece.npos && piece.find('\r') == piece.npos);
                writeOutput(piece);
            });
            writeOutput("\n");
        } else {
            writeLine(kFatalReply);
        }
        writeLine("###");
        flushOutput();
    }
}

}  // namespace harmonode
