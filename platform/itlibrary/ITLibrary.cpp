#include "platform/itlibrary/ITLibrary.h"

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/itlibrary/internal/ITLibraryReader.h"
#include "platform/itlibrary/internal/LibraryBuilder.h"
#include "platform/itlibrary/internal/ReadErrors.h"
#include "platform/itlibrary/LibraryLocation.h"

namespace platform {

std::int64_t nextLibrarySerial() noexcept {
    static std::atomic<std::int64_t> serial{0};
    return serial.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::string description(ITLibMediaItemLocationType value) {
    switch (value) {
        case ITLibMediaItemLocationType::Unknown: return "ITLibMediaItemLocationTypeUnknown";
        case ITLibMediaItemLocationType::File: return "ITLibMediaItemLocationTypeFile";
        case ITLibMediaItemLocationType::URL: return "ITLibMediaItemLocationTypeURL";
        case ITLibMediaItemLocationType::Remote: return "ITLibMediaItemLocationTypeRemote";
    }
    return "ITLibMediaItemLocationType(" + std::to_string(static_cast<std::uint64_t>(value)) + ")";
}

std::string description(ITLibMediaItemPlayStatus value) {
    switch (value) {
        case ITLibMediaItemPlayStatus::None: return "ITLibMediaItemPlayStatusNone";
        case ITLibMediaItemPlayStatus::PartiallyPlayed: return "ITLibMediaItemPlayStatusPartiallyPlayed";
        case ITLibMediaItemPlayStatus::Unplayed: return "ITLibMediaItemPlayStatusUnplayed";
    }
    return "ITLibMediaItemPlayStatus(" + std::to_string(static_cast<std::uint64_t>(value)) + ")";
}

std::string_view LibraryTexts::add(std::string_view text) {
    if (text.empty()) return "";
    char* stored = room(text.size());
    std::memcpy(stored, text.data(), text.size());
    return {stored, text.size()};
}

char* LibraryTexts::room(std::size_t size) {
    // Small texts share blocks; one that would take much of a block gets
    // one of its own, so little of any block goes unused.
    constexpr std::size_t kBlock = std::size_t{256} << 10;
    if (size == 0) return nullptr;
    if (size > left_) {
        blocks_.reserve(blocks_.size() + 1);
        if (size > kBlock / 8) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
            return blocks_.back().get();
        }
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
        next_ = blocks_.back().get();
        left_ = kBlock;
    }
    char* stored = next_;
    next_ += size;
    left_ -= size;
    return stored;
}

void LibraryTexts::adopt(LibraryTexts&& other) {
    // The block that texts are added to goes on being next_'s.
    blocks_.insert(blocks_.end(), std::make_move_iterator(other.blocks_.begin()),
                   std::make_move_iterator(other.blocks_.end()));
    other.clear();
}

void LibraryTexts::clear() noexcept {
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
}

const ITLibMediaItem& ITLibMediaItems::at(std::size_t index) const {
    if (index >= size_) throw std::out_of_range("no media item at " + std::to_string(index));
    return (*this)[index];
}

std::optional<std::size_t> ITLibMediaItems::indexOf(const ITLibMediaItem* item) const noexcept {
    for (std::size_t run = 0; run < runs_.size(); ++run) {
        const auto& items = runs_[run];
        if (!items.empty() && item >= items.data() && item < items.data() + items.size()) {
            return firsts_[run] + static_cast<std::size_t>(item - items.data());
        }
    }
    return std::nullopt;
}

void ITLibMediaItems::append(std::vector<ITLibMediaItem>&& run) {
    if (run.empty()) return;
    runs_.reserve(runs_.size() + 1);
    firsts_.reserve(runs_.size() + 1);
    firsts_.push_back(size_);
    size_ += run.size();
    runs_.push_back(std::move(run));
}

void ITLibMediaItems::clear() noexcept {
    runs_.clear();
    firsts_.clear();
    size_ = 0;
}

ITLibrary::ITLibrary() = default;
ITLibrary::~ITLibrary() = default;

Result<std::unique_ptr<ITLibrary>> ITLibrary::initWithAPIVersion(std::string_view apiVersion) {
    if (apiVersion != "1.0" && apiVersion != "1.1") {
        return Error{"The music library API version \"" + std::string(apiVersion) +
                     "\" is not supported (supported: 1.0, 1.1)"};
    }
    Result<std::string> path = musicLibraryFilePath();
    if (!path) return path.error();
    return initWithFile(path.value());
}

Result<std::unique_ptr<ITLibrary>> ITLibrary::initWithFile(const std::string& path) {
    std::unique_ptr<ITLibrary> library;
    try {
        library.reset(new ITLibrary());
        library->path_ = path;
    } catch (const std::bad_alloc&) {
        return outOfMemoryError(path);
    }
    if (Status status = ITLibraryReader::readFile(path, *library); !status) return status.error();
    library->hash_ = nextLibrarySerial();
    return Result<std::unique_ptr<ITLibrary>>(std::move(library));
}

bool ITLibrary::reloadData() {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return false;
    const FileIdentity now{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                           static_cast<std::uint64_t>(st.st_size),
                           static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
    if (now == identity_) return true;

    ITLibrary fresh;
    try {
        fresh.path_ = path_;
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!ITLibraryReader::readFile(path_, fresh)) return false;
    // Moving the vectors keeps their storage, so the playlists' item
    // pointers stay valid.
    identity_ = fresh.identity_;
    mediaFolderLocation_ = std::move(fresh.mediaFolderLocation_);
    musicFolderLocation_ = std::move(fresh.musicFolderLocation_);
    apiMajorVersion_ = fresh.apiMajorVersion_;
    apiMinorVersion_ = fresh.apiMinorVersion_;
    items_ = std::move(fresh.items_);
    playlists_ = std::move(fresh.playlists_);
    texts_ = std::move(fresh.texts_);
    return true;
}

}  // namespace platform
