#include "bridge/Output.h"

#include <cstdio>
#include <string>

namespace harmonode {

void writeOutput(std::string_view text) {
    // A failed write (the host went away) has no one to be reported to.
    if (!text.empty()) static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
}

void writeLine(std::string_view line) {
    // Short lines go out in one write together with their line feed; long
    // ones are not copied just to append one byte.
    constexpr std::size_t kCopyLimit = 64 * 1024;
    if (line.size() < kCopyLimit) {
        std::string buffer;
        buffer.reserve(line.size() + 1);
        buffer.append(line);
        buffer.push_back('\n');
        writeOutput(buffer);
    } else {
        writeOutput(line);
        writeOutput("\n");
    }
}

void flushOutput() { std::fflush(stdout); }

}  // namespace harmonode
