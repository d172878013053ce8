#include "export/OrderedPieces.h"

#include <array>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace harmonode {
namespace {

// Rooms that one text's pieces were made in, lent to the next text's, so
// that texts after the first neither grow nor touch fresh ones. Each room
// starts out large enough for a piece, so it seldom grows.
class RoomPool {
public:
    static constexpr std::size_t kRoom = std::size_t{256} << 10;
    static constexpr std::size_t kKept = 2 * kAhead;

    std::string take() {
        {
            const std::lock_guard lock(mutex_);
            if (!rooms_.empty()) {
                std::string room = std::move(rooms_.back());
                rooms_.pop_back();
                if (room.size() >= kRoom) return room;
            }
        }
        std::string room;
        room.resize(kRoom);
        return room;
    }
    void give(std::string&& room) noexcept {
        const std::lock_guard lock(mutex_);
        if (rooms_.size() < kKept && room.size() >= kRoom) {
            try {
                rooms_.push_back(std::move(room));
            } catch (const std::bad_alloc&) {
                // The room is dropped.
            }
        }
    }

private:
    std::mutex mutex_;
    std::vector<std::string> rooms_;
};

RoomPool& roomPool() {
    static RoomPool pool;
    return pool;
}

class InOrder {
public:
    InOrder(std::size_t count, const PieceMaker& make) : count_(count), make_(make) {}
    ~InOrder() {
        for (Slot& slot : slots_) roomPool().give(std::move(slot.room));
    }

    void run(const RoomSink& sink) {
        try {
            helper_ = std::thread([this] { help(); });
        } catch (const std::system_error&) {
            // The caller makes every piece.
        }
        try {
            handOn(sink);
        } catch (...) {
            stop(std::current_exception());
        }
        stop(nullptr);
        if (helper_.joinable()) helper_.join();
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    struct Slot {
        std::string room;
        std::size_t length = 0;
        bool made = false;
    };

    // Whether piece next_ may be made now: it is one, and its slot is free.
    bool mayMake() const noexcept { return next_ < count_ && next_ < handed_ + kAhead && !stopped_; }

    // Makes piece next_, with the lock held on entry and on return.
    void makeNext(std::unique_lock<std::mutex>& lock) {
        const std::size_t piece = next_++;
        Slot& slot = slots_[piece % kAhead];
        lock.unlock();
        std::size_t length = 0;
        try {
            if (slot.room.size() < RoomPool::kRoom) slot.room = roomPool().take();
            length = make_(piece, slot.room);
        } catch (...) {
            lock.lock();
            throw;
        }
        lock.lock();
        slot.length = length;
        slot.made = true;
        changed_.notify_all();
    }

    void help() noexcept {
        std::unique_lock lock(mutex_);
        try {
            for (;;) {
                changed_.wait(lock, [&] { return stopped_ || next_ >= count_ || mayMake(); });
                if (stopped_ || next_ >= count_) return;
                makeNext(lock);
            }
        } catch (...) {
            if (!failure_) failure_ = std::current_exception();
            stopped_ = true;
            changed_.notify_all();
        }
    }

    // Hands the pieces on in order as they are made, making pieces itself
    // while the next one to hand on is not ready.
    void handOn(const RoomSink& sink) {
        std::unique_lock lock(mutex_);
        while (handed_ < count_ && !stopped_) {
            Slot& slot = slots_[handed_ % kAhead];
            if (slot.made) {
                // The slot is the handing thread's alone while it is made
                // and not handed on.
                lock.unlock();
                if (slot.length > 0) sink(slot.room, slot.length);
                lock.lock();
                slot.made = false;
                ++handed_;
                changed_.notify_all();
            } else if (mayMake()) {
                makeNext(lock);
            } else {
                changed_.wait(lock);
            }
        }
    }

    void stop(std::exception_ptr failure) noexcept {
        const std::lock_guard lock(mutex_);
        if (failure && !failure_) failure_ = failure;
        stopped_ = true;
        changed_.notify_all();
    }

    const std::size_t count_;
    const PieceMaker& make_;
    std::array<Slot, kAhead> slots_;  // piece i is made in slot i % kAhead
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;    // the next piece to make
    std::size_t handed_ = 0;  // the pieces handed on
    bool stopped_ = false;
    std::exception_ptr failure_;
    std::thread helper_;
};

}  // namespace

void writeInOrder(std::size_t count, const PieceMaker& make, const RoomSink& sink) {
    if (count == 0) return;
    InOrder(count, make).run(sink);
}

void writeInOrder(std::size_t count, const PieceMaker& make, const JsonSink& sink) {
    writeInOrder(count, make, RoomSink([&](std::string& room, std::size_t length) {
                     sink(std::string_view(room.data(), length));
                 }));
}

}  // namespace harmonode
