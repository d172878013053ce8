#include "bridge/LineReader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

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
    try {
        return nextLine();
    } catch (const std::bad_alloc&) {
        skipLine();
        throw;
    } catch (const std::length_error&) {
        skipLine();
        throw;
    }
}

void LineReader::skipLine() noexcept {
    if (const std::size_t lf = buffer_.find('\n', start_); lf != std::string::npos) {
        start_ = lf + 1;
        return;
    }
    buffer_.clear();
    buffer_.shrink_to_fit();
    start_ = 0;
    char chunk[1 << 16];
    while (!ended_) {
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended_ = true;
            return;
        }
        const char* const end = chunk + n;
        if (const auto* lf = static_cast<const char*>(std::memchr(chunk, '\n', static_cast<std::size_t>(n)))) {
            try {
                buffer_.assign(lf + 1, end);  // the start of the next line
            } catch (...) {
                ended_ = true;  // not even that fits: nothing more can be read
            }
            return;
        }
    }
}

std::optional<std::string> LineReader::waitingLine() {
    // A line longer than this is not looked at ahead: it is read when its
    // turn comes.
    constexpr std::size_t kMostAhead = std::size_t{1} << 20;
    std::size_t searched = 0;  // of what follows start_
    for (;;) {
        if (const std::size_t lf = buffer_.find('\n', start_ + searched); lf != std::string::npos) {
            const std::size_t end = lf > start_ && buffer_[lf - 1] == '\r' ? lf - 1 : lf;
            return platform::decodeUTF8Lossy(std::string_view(buffer_).substr(start_, end - start_));
        }
        searched = buffer_.size() - start_;
        pollfd ready{fd_, POLLIN, 0};
        if (ended_ || searched >= kMostAhead || ::poll(&ready, 1, 0) != 1 || !fill()) return std::nullopt;
    }
}

std::optional<std::string> LineReader::nextLine() {
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
