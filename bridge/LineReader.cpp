#include "bridge/LineReader.h"

#include <unistd.h>

#include <cerrno>

#include "platform/foundation/UTF8.h"

namespace harmonode {

bool LineReader::fill() {
    if (ended_) return false;
    // Drop what was handed out before growing the buffer.
    if (start_ > 0) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    constexpr std::size_t kChunk = 1 << 16;
    const std::size_t old = buffer_.size();
    buffer_.resize(old + kChunk);
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data() + old, kChunk);
        if (n > 0) {
            buffer_.resize(old + static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        buffer_.resize(old);
        ended_ = true;
        return false;
    }
}

std::optional<std::string> LineReader::readLine() {
    std::size_t searched = start_;
    for (;;) {
        const std::size_t lf = buffer_.find('\n', searched);
        if (lf != std::string::npos) {
            std::size_t end = lf;
            if (end > start_ && buffer_[end - 1] == '\r') --end;
            std::string line = platform::decodeUTF8Lossy(std::string_view(buffer_).substr(start_, end - start_));
            start_ = lf + 1;
            return line;
        }
        searched = buffer_.size() - start_;
        if (!fill()) break;
    }
    if (start_ < buffer_.size()) {
        std::string line = platform::decodeUTF8Lossy(std::string_view(buffer_).substr(start_));
        start_ = buffer_.size();
        return line;
    }
    return std::nullopt;
}

}  // namespace harmonode
