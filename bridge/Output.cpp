#include "bridge/Output.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace harmonode {

namespace {

// Copying text into the pipe to the host is left to a thread of its own,
// so the bridge's thread goes on making the next text meanwhile. The text
// is collected in pieces; at most two wait for the writer at a time, so
// little is held. Where no thread can be started, the caller writes.
class Writer {
public:
    ~Writer() {
        flush();
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void write(std::string_view text) {
        if (!started_) start();
        if (!thread_.joinable()) return put(text);
        current_.append(text);
        if (current_.size() >= kPiece) submit();
    }

    void flush() {
        if (!thread_.joinable()) {
            std::fflush(stdout);
            return;
        }
        if (!current_.empty()) submit();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return queue_.empty() && !writing_; });
        std::fflush(stdout);
    }

private:
    static constexpr std::size_t kPiece = std::size_t{256} << 10;
    static constexpr std::size_t kWaiting = 2;

    static void put(std::string_view text) {
        // A failed write (the host went away) has no one to be reported to.
        static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
    }

    void start() {
        started_ = true;
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // The caller writes.
        }
    }

    void submit() {
        std::string full;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return queue_.size() < kWaiting; });
            queue_.push_back(std::move(current_));
            if (!spare_.empty()) {
                full = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        changed_.notify_all();
        current_ = std::move(full);
        current_.clear();
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) return;
            std::string piece = std::move(queue_.front());
            queue_.pop_front();
            writing_ = true;
            lock.unlock();
            put(piece);
            lock.lock();
            writing_ = false;
            if (spare_.size() < kWaiting) spare_.push_back(std::move(piece));
            changed_.notify_all();
        }
    }

    bool started_ = false;
    std::string current_;  // the piece being collected, the bridge thread's
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;   // pieces waiting for the writer
    std::vector<std::string> spare_;  // written pieces, their room to be used again
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

void endOpenLine() {
    if (lineOpen) writeOutput("\n");
}

void writeLine(std::string_view line) {
    writeOutput(line);
    writeOutput("\n");
}

void flushOutput() { writer().flush(); }

}  // namespace harmonode
