#pragma once
// The bridge's standard output: progress lines, reply lines and markers.
// Standard output is unbuffered once the process entry has switched it, so
// every call here goes out at once, in large writes. Bridge thread only.

#include <string_view>

namespace harmonode {

// Writes `text` as it stands.
void writeOutput(std::string_view text);

// Writes `line` followed by one line feed.
void writeLine(std::string_view line);

void flushOutput();

}  // namespace harmonode
