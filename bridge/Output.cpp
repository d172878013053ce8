#include "bridge/Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/foundation/UTF8.h"

namespace harmonode {

namespace {

// Copying large texts into the pipe to the host is left to a thread of its
// own, so the bridge's thread goes on making the next piece meanwhile; at
// most two pieces wait for it. Anything smaller is written at once, after
// whatever still waits, so that every line has gone out when the call that
// wrote it returns. Where no thread can be started, the caller writes all.
class Writer {
public:
    ~Writer() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void write(std::string_view text) {
        if (!started_) start();
        if (!thread_.joinable() || text.size() < kLarge) {
            drain();
            put(text);
            return;
        }
        Piece piece;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return queue_.size() < kWaiting; });
            if (!spare_.empty()) {
                piece.text = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        piece.text.assign(text);  // the caller's text is its own again once this returns
        piece.length = text.size();
        queue(std::move(piece));
    }

    void write(std::string& room, std::size_t length) {
        if (!started_) start();
        if (!thread_.joinable() || length < kLarge) return write(std::string_view(room.data(), length));
        Piece piece{std::move(room), length};
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return queue_.size() < kWaiting; });
            room = std::string();
            if (!spare_.empty()) {
                room = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        queue(std::move(piece));
    }

    void flush() {
        drain();
        std::fflush(stdout);
    }

private:
    static constexpr std::size_t kLarge = std::size_t{64} << 10;
    static constexpr std::size_t kWaiting = 2;
    // Room a pipe to the host is given: a large piece's (the most an
    // unprivileged process may ask for on most systems).
    static constexpr int kPipeRoom = 1 << 20;

    // A piece waiting to be written: the first `length` bytes of `text`.
    struct Piece {
        std::string text;
        std::size_t length = 0;
    };

    void queue(Piece&& piece) {
        {
            const std::lock_guard lock(mutex_);
            queue_.push_back(std::move(piece));
        }
        changed_.notify_all();
    }

    static void put(std::string_view text) {
        // A failed write (the host went away) has no one to be reported to.
        static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
    }

    void start() {
        started_ = true;
        // Fewer, larger transfers to the host; the pipe keeps its room if
        // it cannot have more.
        struct stat st {};
        if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISFIFO(st.st_mode)) {
            static_cast<void>(::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kPipeRoom));
        }
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // The caller writes.
        }
    }

    // Waits until everything queued has been written.
    void drain() {
        if (!thread_.joinable()) return;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return queue_.empty() && !writing_; });
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) return;
            Piece piece = std::move(queue_.front());
            queue_.pop_front();
            writing_ = true;
            lock.unlock();
            put(std::string_view(piece.text.data(), piece.length));
            lock.lock();
            writing_ = false;
            if (spare_.size() < kSpares) spare_.push_back(std::move(piece.text));
            changed_.notify_all();
        }
    }

    bool started_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> queue_;         // pieces waiting for the writer
    std::vector<std::string> spare_;  // written pieces, their room to be used again
    // Spare rooms kept: enough for the pieces that wait and a text's pieces
    // to circulate without fresh ones.
    static constexpr std::size_t kSpares = 4;
    bool writing_ = false;
    bool stop_ = false;
    std::thread thread_;
};

Writer& writer() {
    static Writer instance;
    return instance;
}

bool lineOpen = false;  // the last byte written was not a line feed

}  // namespace

void writeOutput(std::string_view text) {
    if (text.empty()) return;
    writer().write(text);
    lineOpen = text.back() != '\n';
}

void writeOutput(std::string& room, std::size_t length) {
    if (length == 0) return;
    lineOpen = room[length - 1] != '\n';
    writer().write(room, length);
}

void endOpenLine() {
    if (lineOpen) writeOutput("\n");
}

std::string lineText(std::string_view line) {
    const std::string valid = platform::decodeUTF8Lossy(line);
    std::string out;
    out.reserve(valid.size());
    const auto escape = [&](char32_t c) {
        char text[8];
        std::snprintf(text, sizeof text, "\\u%04X", static_cast<unsigned>(c));
        out += text;
    };
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const auto b = static_cast<unsigned char>(valid[i]);
        if (b == '\n') {
            out += "\\n";
        } else if (b == '\r') {
            out += "\\r";
        } else if (b == '\t') {
            out += "\\t";
        } else if (b < 0x20 || b == 0x7F) {
            escape(b);
        } else if (b == 0xC2 && static_cast<unsigned char>(valid[i + 1]) < 0xA0) {
            // U+0080 to U+009F, the C1 controls (NEL among them).
            escape(static_cast<unsigned char>(valid[++i]));
        } else if (b == 0xE2 && valid.compare(i + 1, 1, "\x80") == 0 &&
                   (valid.compare(i + 2, 1, "\xA8") == 0 || valid.compare(i + 2, 1, "\xA9") == 0)) {
            escape(static_cast<unsigned char>(valid[i + 2]) == 0xA8 ? 0x2028 : 0x2029);
            i += 2;
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

void writeLine(std::string_view line) {
    writeOutput(lineText(line));
    writeOutput("\n");
}

void flushOutput() { writer().flush(); }

}  // namespace harmonode
