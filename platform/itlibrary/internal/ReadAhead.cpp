#include "platform/itlibrary/internal/ReadAhead.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace platform {

ReadAhead::ReadAhead(int fd, std::size_t chunkSize, std::uint64_t begin, bool ahead)
    : fd_(fd), chunkSize_(chunkSize), begin_(begin), offset_(begin) {
    if (!ahead) {
        slots_[0].data = std::make_unique_for_overwrite<char[]>(chunkSize_);
        return;
    }
    for (Slot& slot : slots_) slot.data = std::make_unique_for_overwrite<char[]>(chunkSize_);
    try {
        thread_ = std::thread([this] { readAhead(); });
    } catch (const std::system_error&) {
        // No thread to be had: next() reads itself.
    }
}

ReadAhead::~ReadAhead() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool ReadAhead::fill(Slot& slot, std::uint64_t offset) const noexcept {
    for (;;) {
        const ssize_t n = ::pread(fd_, slot.data.get(), chunkSize_, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        slot.size = n > 0 ? static_cast<std::size_t>(n) : 0;
        slot.error = n < 0 ? errno : 0;
        return n > 0;
    }
}

void ReadAhead::readAhead() noexcept {
    std::uint64_t offset = begin_;
    for (std::size_t produce = 0;; produce = (produce + 1) % kSlots) {
        Slot& slot = slots_[produce];
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || !slot.full; });
            if (stop_) return;
        }
        const bool more = fill(slot, offset);
        offset += slot.size;
        {
            const std::lock_guard lock(mutex_);
            slot.full = true;
        }
        changed_.notify_all();
        if (!more) return;
    }
}

ReadAhead::Chunk ReadAhead::next() {
    Slot* slot = &slots_[consume_];
    if (ended_) return {{}, slot->error};
    if (!thread_.joinable()) {
        fill(*slot, offset_);
        offset_ += slot->size;
        ended_ = slot->size == 0;
        return {{slot->data.get(), slot->size}, slot->error};
    }
    std::unique_lock lock(mutex_);
    if (given_) {
        // The caller is done with the chunk it had: its slot may be read into.
        slot->full = false;
        consume_ = (consume_ + 1) % kSlots;
        slot = &slots_[consume_];
        changed_.notify_all();
    }
    changed_.wait(lock, [&] { return slot->full; });
    given_ = true;
    ended_ = slot->size == 0;
    return {{slot->data.get(), slot->size}, slot->error};
}

}  // namespace platform
