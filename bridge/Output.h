#pragma once
// The bridge's standard output: progress lines, reply lines and markers,
// in the order they are written, to standard output (unbuffered once the
// process entry has switched it). A large piece of text is written by a
// thread of the output's own while the bridge goes on; anything else has
// gone out when the call returns, and so has everything before it. Where
// standard output is a pipe, its room is made a large piece's once the
// first such piece is written. Bridge thread only.

#include <string>
#include <string_view>

namespace harmonode {

// Writes `text` as it stands.
void writeOutput(std::string_view text);

// Writes the first `length` bytes of `room` as they stand. A large piece is
// taken whole for the output's thread rather than copied: `room` is then
// left holding room of another piece, which the output's thread is done
// with, for the next piece to be written into.
void writeOutput(std::string& room, std::size_t length);

// Writes `line` followed by one line feed, as one line whatever it holds,
// so that a progress line can never end a block or forge a reply: bytes
// that are not UTF-8 become U+FFFD, and control characters (C0, DEL, C1)
// and the Unicode line and paragraph separators are written as escapes in
// the way JSON writes them ("\n", "\r", "\t", "\u001B", "\u2028"). A
// backslash is written as it stands.
void writeLine(std::string_view line);

// `line` as writeLine writes it, without the line feed.
std::string lineText(std::string_view line);

// Ends the line that a write cut short by a failure left open, so that
// what follows starts a line of its own; does nothing otherwise.
void endOpenLine();

void flushOutput();

}  // namespace harmonode
