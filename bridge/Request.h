#pragma once
// A request as the dispatch reads it: the command word under "cmd" and, for
// add_track, the path under "path". Every other member is ignored.
//
// A JSON request line is read without being built: only the top-level
// "cmd" and "path" texts are kept, everything else is checked and dropped,
// so the memory a request takes stays near the size of its line whatever
// the line holds. A line that is not JSON fails with the description that
// Boost.JSON's parser gives for it. Pure functions; thread-safe.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace harmonode {

struct Request {
    // The text of "cmd", none when it is absent or not a text; of duplicate
    // keys the last counts, as in any JSON object. A text longer than any
    // command word is kept cut short (it matches none either way).
    std::optional<std::string> cmd;
    // The text of "path", none when it is absent or not a text.
    std::optional<std::string> path;

    // The request of a bare command word: {"cmd": word}.
    static Request fromWord(std::string_view word);
};

// The longest "cmd" text a request keeps.
inline constexpr std::size_t kMaxCommandText = 64;

// The request of a line that begins with "{", or the parser's description
// of what is wrong with it followed by " at byte offset N".
platform::Result<Request> parseRequest(std::string_view line);

}  // namespace harmonode
