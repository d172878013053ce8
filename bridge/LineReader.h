#pragma once
// Reads standard input one line at a time. A line ends at a line feed,
// which is not part of it, and a carriage return directly before the line
// feed is dropped too; a last line without a line feed still counts. Lines
// of any length are read whole. Bytes that are not valid UTF-8 come back as
// U+FFFD. Not thread-safe; one reader per descriptor.

#include <optional>
#include <string>

namespace harmonode {

class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}

    // The next line, or none once the input has ended (or cannot be read).
    // A line that cannot be held in memory throws std::bad_alloc (or
    // std::length_error) after the rest of it has been skipped, so the next
    // call reads the line after it.
    std::optional<std::string> readLine();

    // The next line, as readLine() will give it, when the whole of it has
    // arrived already; none when it has not (this never waits for input)
    // or the input has ended. The line is not taken.
    std::optional<std::string> waitingLine();

private:
    std::optional<std::string> nextLine();
    void skipLine() noexcept;
    bool fill();

    int fd_;
    std::string buffer_;
    std::size_t start_ = 0;  // first byte of buffer_ not yet handed out
    bool ended_ = false;
};

}  // namespace harmonode
