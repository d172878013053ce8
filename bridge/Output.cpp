#include "bridge/Output.h"

#include <cstdio>
#include <string>

namespace harmonode {

namespace {
bool lineOpen = false;  // the last byte written was not a line feed
}  // namespace

void writeOutput(std::string_view text) {
    if (text.empty()) return;
    // A failed write (the host went away) has no one to be reported to.
    static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
    lineOpen = text.back() != '\n';
}

void endOpenLine() {
    if (lineOpen) writeOutput("\n");
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
