#pragma once
// The wording of what goes wrong reading a library file, for the parts of
// the reader that find it out. `name` is the file's path, shown with
// U+FFFD for bytes that are not UTF-8. Pure; thread-safe.

#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace platform {

inline std::string quotedFileName(std::string_view name) { return '"' + shownPath(name) + '"'; }

// The file is XML, or may be, but no library: `reason` says why ("its top
// level is not a dictionary").
inline Error notALibraryError(std::string_view name, std::string_view reason) {
    std::string text = "The file " + quotedFileName(name) + " is not a music library property list: ";
    text += reason;
    return Error{std::move(text)};
}

// The XML is not well-formed, or holds what is refused: `message` says what,
// at a line and column counted from 1 (columns in characters).
inline Error malformedError(std::string_view name, int line, int column, std::string_view message) {
    std::string text = "The music library file " + quotedFileName(name) + " is malformed at line " +
                       std::to_string(line) + " column " + std::to_string(column) + ": ";
    text += message;
    return Error{std::move(text)};
}

inline Error outOfMemoryError(std::string_view name) {
    return Error{"There is not enough memory to read the music library file " + quotedFileName(name)};
}

}  // namespace platform
