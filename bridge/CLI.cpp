#include "bridge/CLI.h"

#include <unistd.h>

#include <array>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/LibraryCommands.h"
#include "bridge/LineReader.h"
#include "bridge/MusicControl.h"
#include "bridge/Output.h"
#include "bridge/Request.h"
#include "bridge/ShippedFiles.h"
#include "export/Assert.h"
#include "export/JsonText.h"
#include "platform/foundation/UTF8.h"

namespace harmonode {
namespace {

constexpr std::array<std::string_view, 8> kCommandWords = {
    "quit", "help", "ping", "test", "library", "write", "add_track", "delete_track",
};

// The reply line is written in place of a reply that cannot be turned into
// JSON text. It is deliberately not JSON.
constexpr std::string_view kFatalReply = "{error:\"fatal\"}";

// The reply line of a pass that could not even make its error reply.
constexpr std::string_view kNoMemoryReply = "{\"error\":\"not enough memory to answer the request\"}";

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
    // Without a sample to import, the answer is the one of any import.
    const std::optional<std::string> sample = sampleAudioFile();
    if (!sample) return {{"pid", "testing..."}};
    const Reply reply = handle(Request{"add_track", *sample});
    HARMONODE_ASSERT(reply.json() != nullptr);  // add_track answers with a dictionary
    return *reply.json();  // a copy: the reply ends here
}

// Every error reply is made here: whatever its source put in the message
// (a path's bytes, a system's text), the reply holds UTF-8, so it is never
// replaced by the fatal line.
boost::json::object CLI::error(std::string_view message) { return {{"error", platform::decodeUTF8Lossy(message)}}; }

Reply CLI::handle(const Request& request) {
    if (!request.cmd) return error("no cmd");
    const auto cmd = cmdFromString(*request.cmd);
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
            if (!request.path) return error("add_track needs a \"path\" text");
            return boost::json::object{{"pid", addFile(*request.path)}};
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

Reply CLI::answer(const std::optional<std::string>& line, LineReader& input) {
    if (!line) {
        // Every further read would end the same way: stop as quit does.
        quit_ = true;
        return error("empty command?");
    }
    if (!line->starts_with('{')) return handle(Request::fromWord(*line));
    auto request = parseRequest(*line);
    if (!request) return error("json error " + request.error().description);
    if (request.value().cmd == rawValue(Cmd::add_track) && request.value().path) {
        return addWaiting(*request.value().path, input);
    }
    return handle(request.value());
}

Reply CLI::addWaiting(const std::string& path, LineReader& input) {
    std::vector<std::string> paths;
    paths.reserve(kMostFilesInOneImport);
    paths.push_back(path);
    while (paths.size() < kMostFilesInOneImport) {
        const std::optional<std::string> line = input.waitingLine();
        if (!line || !line->starts_with('{')) break;
        auto request = parseRequest(*line);
        if (!request || request.value().cmd != rawValue(Cmd::add_track) || !request.value().path) break;
        // Taken whole or not at all: a request is answered from imported_
        // once its line is taken, and read again otherwise.
        imported_.push_back(*request.value().path);
        paths.push_back(std::move(*request.value().path));
        static_cast<void>(input.readLine());
    }
    return boost::json::object{{"pid", addFiles(paths)}};
}

Reply CLI::serve(LineReader& input) {
    // Whatever one request runs into, the loop goes on with the next.
    try {
        if (!imported_.empty()) {
            const std::string path = std::move(imported_.front());
            imported_.pop_front();
            return boost::json::object{{"pid", addedFile(path)}};
        }
        return answer(input.readLine(), input);
    } catch (const std::bad_alloc&) {
        return error("not enough memory to answer the request");
    } catch (const std::length_error&) {
        return error("the request is too large to be answered");
    } catch (const std::exception& failure) {
        return error(std::string("the request failed: ") + failure.what());
    }
}

void CLI::run() {
    LineReader input(STDIN_FILENO);
    while (!quit_) {
        try {
            const Reply reply = serve(input);
            // A command that failed half-way may have left progress text
            // without its line feed; the reply line is a line of its own.
            endOpenLine();
            // The reply line goes out as it is made (the library document
            // makes a long one), never cut short.
            if (reply.writeCompact([](std::string_view piece) {
                    HARMONODE_ASSERT(piece.find('\n') == piece.npos && piece.find('\r') == piece.npos);
                    writeOutput(piece);
                })) {
                writeOutput("\n");
            } else {
                writeLine(kFatalReply);
            }
        } catch (const std::exception&) {
            // Not even the reply could be made: a fixed one, written without
            // allocating, after whatever part of a line went out.
            endOpenLine();
            writeOutput(kNoMemoryReply);
            writeOutput("\n");
        }
        writeOutput("###\n");
        flushOutput();
    }
}

}  // namespace harmonode
