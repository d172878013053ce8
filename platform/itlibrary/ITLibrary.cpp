#include "platform/itlibrary/ITLibrary.h"

#include <sys/stat.h>

#include <atomic>
#include <new>

#include "platform/itlibrary/ITLibraryReader.h"
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
        return Error{"There is not enough memory to read the music library file \"" + path + "\""};
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
    return true;
}

}  // namespace platform
