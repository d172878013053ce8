#pragma once
// A file read ahead of its reader: a thread of its own copies the next
// chunks in while the caller works on the chunk it was given, so the
// copying costs the caller's thread nothing. Where no thread can be started,
// or where the caller's threads keep every core busy anyway and asks for
// none, the caller's thread reads. Chunks come in file order from a given
// offset. One caller per object; a chunk is valid until the next call of
// next(). Several may read one file at once.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

namespace platform {

class ReadAhead {
public:
    struct Chunk {
        std::string_view bytes;  // empty at the end of the file
        int error = 0;           // the errno of a read that failed
    };

    // Reads the open file `fd` (which it does not own) in chunks of
    // `chunkSize` bytes from `begin` on, ahead of the caller unless `ahead`
    // is false. Throws std::bad_alloc.
    ReadAhead(int fd, std::size_t chunkSize, std::uint64_t begin = 0, bool ahead = true);
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ~ReadAhead();

    Chunk next();

private:
    struct Slot {
        std::unique_ptr<char[]> data;
        std::size_t size = 0;
        int error = 0;
        bool full = false;
    };
    static constexpr std::size_t kSlots = 3;

    // Reads the chunk at `offset` into `slot`; false at the end or on error.
    bool fill(Slot& slot, std::uint64_t offset) const noexcept;
    void readAhead() noexcept;

    const int fd_;
    const std::size_t chunkSize_;
    const std::uint64_t begin_;
    std::array<Slot, kSlots> slots_;
    std::size_t consume_ = 0;  // the slot given out next
    bool given_ = false;       // slots_[consume_] was given out and is still the caller's
    bool ended_ = false;       // the end or an error was given out
    std::uint64_t offset_;     // where the caller's own reads go on (no thread)
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace platform
