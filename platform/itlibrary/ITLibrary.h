#pragma once
// The music library, read-only: library facts, media items in library order
// and playlists in library order.
//
// On this platform the library is read from the XML property list that the
// music application exports (see LibraryLocation.h for where it is found).
// Opening parses the whole file into these objects; nothing is kept of the
// XML. An `ITLibrary` owns its media items and playlists; a playlist's
// `items()` point to items of the library's `allMediaItems()` and stay
// valid until the library is reloaded or destroyed, and so do the texts
// they give, which the library stores compactly. Objects are not thread-safe to
// mutate, safe to read from several threads once loaded.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"

namespace platform {

// Media kind codes, with the framework's raw numbers.
enum class ITLibMediaItemMediaKind : std::uint64_t {
    Unknown = 1,
    Song = 2,
    Movie = 3,
    Podcast = 4,
    Audiobook = 5,
    PDFBooklet = 6,
    MusicVideo = 7,
    TVShow = 8,
    InteractiveBooklet = 9,
    HomeVideo = 12,
    Ringtone = 14,
    DigitalBooklet = 15,
    IOSApplication = 16,
    VoiceMemo = 17,
    ITunesU = 18,
    Book = 19,
    PDFBook = 20,
    AlertTone = 21,
};

// Where an item's media lives, and whether it was played. The export model
// knows these kinds of value; the reader does not deliver them.
enum class ITLibMediaItemLocationType : std::uint64_t { Unknown = 0, File = 1, URL = 2, Remote = 3 };
enum class ITLibMediaItemPlayStatus : std::uint64_t { None = 0, PartiallyPlayed = 1, Unplayed = 2 };
// The platform's text form of those values ("ITLibMediaItemLocationTypeFile").
std::string description(ITLibMediaItemLocationType value);
std::string description(ITLibMediaItemPlayStatus value);

// Video facts of an item; carries nothing the export uses.
struct ITLibMediaItemVideoInfo {};

enum class ITLibPlaylistKind : std::uint64_t { Regular = 0, Smart = 1, Genius = 2, Folder = 3, GeniusMix = 4 };

// Distinguished (built-in) playlists, with the framework's raw numbers.
enum class ITLibDistinguishedPlaylistKind : std::uint64_t {
    None = 0,
    Movies = 1,
    TVShows = 2,
    Music = 3,
    Audiobooks = 4,
    Ringtones = 5,
    Podcasts = 7,
    VoiceMemos = 14,
    Purchases = 16,
    ITunesU = 26,
    HomeVideos = 50,
    Applications = 51,
};

// The texts a library keeps for its objects, each stored once and never
// moved, all freed with the library. A stored text is a view that is valid
// while the library holds it; a text that is absent is a view whose data()
// is null (a stored empty text's is not).
class LibraryTexts {
public:
    LibraryTexts() = default;
    LibraryTexts(LibraryTexts&&) noexcept = default;
    LibraryTexts& operator=(LibraryTexts&&) noexcept = default;

    // A stored copy of `text`. Throws std::bad_alloc.
    std::string_view add(std::string_view text);
    // Room for `size` bytes of text stored together, for the caller to
    // write (none for none). Throws std::bad_alloc.
    char* room(std::size_t size);
    // Keeps the texts `other` stored, where they are. Throws std::bad_alloc.
    void adopt(LibraryTexts&& other);
    void clear() noexcept;

    static std::optional<std::string_view> present(std::string_view stored) noexcept {
        if (stored.data() == nullptr) return std::nullopt;
        return stored;
    }

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
};

class ITLibAlbum {
public:
    std::optional<std::string_view> title() const noexcept { return LibraryTexts::present(title_); }

private:
    friend class ITLibMediaItem;
    std::string_view title_;
};

class ITLibArtist {
public:
    std::optional<std::string_view> name() const noexcept { return LibraryTexts::present(name_); }

private:
    friend class ITLibMediaItem;
    std::string_view name_;
};

// A media item. Its texts are views into its library's storage, valid as
// long as the item is.
class ITLibMediaItem {
public:
    std::uint64_t persistentID() const noexcept { return persistentID_; }
    std::optional<Date> addedDate() const noexcept { return date(kAdded); }
    ITLibAlbum album() const noexcept {
        ITLibAlbum album;
        if (has(kAlbumTitle)) album.title_ = text(kAlbumTitle);
        return album;
    }
    std::optional<ITLibArtist> artist() const noexcept {
        if (!has(kArtistName)) return std::nullopt;
        ITLibArtist artist;
        artist.name_ = text(kArtistName);
        return artist;
    }
    std::int64_t beatsPerMinute() const noexcept { return beatsPerMinute_; }
    std::optional<std::string_view> comments() const noexcept { return optionalText(kComments); }
    std::string_view composer() const noexcept { return text(kComposer); }
    std::optional<std::string_view> contentRating() const noexcept { return optionalText(kContentRating); }
    std::uint64_t fileSize() const noexcept { return fileSize_; }
    std::string_view genre() const noexcept { return text(kGenre); }
    std::optional<std::string_view> grouping() const noexcept { return optionalText(kGrouping); }
    bool isCloud() const noexcept { return flags_ & kCloud; }
    bool isDRMProtected() const noexcept { return flags_ & kDRMProtected; }
    bool isVideo() const noexcept { return flags_ & kVideo; }
    bool isPurchased() const noexcept { return flags_ & kPurchased; }
    bool isRatingComputed() const noexcept { return flags_ & kRatingComputed; }
    std::optional<std::string_view> kind() const noexcept { return optionalText(kKind); }
    std::optional<Date> lastPlayedDate() const noexcept { return date(kLastPlayed); }
    // Made from the stored text on each call.
    std::optional<URL> location() const {
        if (!has(kLocation)) return std::nullopt;
        return URL::fromString(text(kLocation));
    }
    ITLibMediaItemMediaKind mediaKind() const noexcept { return static_cast<ITLibMediaItemMediaKind>(mediaKind_); }
    std::optional<Date> modifiedDate() const noexcept { return date(kModified); }
    std::int64_t playCount() const noexcept { return playCount_; }
    std::int64_t rating() const noexcept { return rating_; }
    std::optional<Date> releaseDate() const noexcept { return date(kRelease); }
    std::int64_t sampleRate() const noexcept { return sampleRate_; }
    std::int64_t skipCount() const noexcept { return skipCount_; }
    std::optional<Date> skipDate() const noexcept { return date(kSkip); }
    std::int64_t startTime() const noexcept { return startTime_; }
    std::int64_t stopTime() const noexcept { return stopTime_; }
    std::optional<std::string_view> sortTitle() const noexcept { return optionalText(kSortTitle); }
    std::optional<std::string_view> sortComposer() const noexcept { return optionalText(kSortComposer); }
    std::string_view title() const noexcept { return text(kTitle); }
    std::int64_t totalTime() const noexcept { return totalTime_; }
    std::int64_t trackNumber() const noexcept { return trackNumber_; }
    std::int64_t volumeAdjustment() const noexcept { return volumeAdjustment_; }
    std::int64_t year() const noexcept { return year_; }

private:
    friend class LibraryBuilder;
    enum DateField : std::uint8_t { kAdded, kLastPlayed, kModified, kRelease, kSkip, kDateFields };
    enum Flag : std::uint32_t {
        kCloud = 1u << 0,
        kDRMProtected = 1u << 1,
        kVideo = 1u << 2,
        kPurchased = 1u << 3,
        kRatingComputed = 1u << 4,
        kHasDate = 1u << 5,   // kHasDate << field: that date is present
        kHasText = 1u << 10,  // kHasText << text: that text is present
    };
    // The texts, stored one after another (see text_). The first three
    // are always present, empty where the library holds none.
    enum Text : std::uint8_t {
        kTitle, kComposer, kGenre,
        kComments, kContentRating, kGrouping, kKind, kSortTitle, kSortComposer, kArtistName, kLocation, kAlbumTitle,
        kTexts
    };
    bool has(Text t) const noexcept { return flags_ & (kHasText << t); }
    std::string_view text(Text t) const noexcept {
        if (text_ == nullptr) return "";
        const std::uint32_t begin = t == 0 ? 0 : textEnds_[t - 1];
        return {text_ + begin, textEnds_[t] - begin};
    }
    std::optional<std::string_view> optionalText(Text t) const noexcept {
        if (!has(t)) return std::nullopt;
        return text(t);
    }
    std::optional<Date> date(DateField field) const noexcept {
        if (!(flags_ & (kHasDate << field))) return std::nullopt;
        return Date{dates_[field]};
    }
    void setDate(DateField field, std::optional<Date> date) noexcept {
        if (date) {
            dates_[field] = date->timeIntervalSince1970;
            flags_ |= kHasDate << field;
        } else {
            flags_ &= ~(kHasDate << field);
        }
    }
    void setFlag(Flag flag, bool on) noexcept { flags_ = on ? flags_ | flag : flags_ & ~flag; }

    std::uint64_t persistentID_ = 0;
    std::uint64_t fileSize_ = 0;
    std::int64_t beatsPerMinute_ = 0;
    std::int64_t playCount_ = 0;
    std::int64_t rating_ = 0;
    std::int64_t sampleRate_ = 0;
    std::int64_t skipCount_ = 0;
    std::int64_t startTime_ = 0;
    std::int64_t stopTime_ = 0;
    std::int64_t totalTime_ = 0;
    std::int64_t trackNumber_ = 0;
    std::int64_t volumeAdjustment_ = 0;
    std::int64_t year_ = 0;
    double dates_[kDateFields] = {};
    // The texts of the item, one after another in its library's storage:
    // text t ends textEnds_[t] bytes past text_ and begins where the one
    // before ends (the first at text_). None when all are empty.
    const char* text_ = nullptr;
    std::uint32_t textEnds_[kTexts] = {};
    std::uint32_t flags_ = 0;
    std::uint8_t mediaKind_ = static_cast<std::uint8_t>(ITLibMediaItemMediaKind::Song);
};

// A library's media items in library order: a random-access range of
// items that never move while the library holds them, kept in runs (the
// parts of a library read apart join it as runs of their own, without a
// copy). Indexing and iterating are cheap; thread-safe to read.
class ITLibMediaItems {
public:
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = ITLibMediaItem;
        using difference_type = std::ptrdiff_t;
        using pointer = const ITLibMediaItem*;
        using reference = const ITLibMediaItem&;

        const_iterator() = default;
        reference operator*() const noexcept { return (*items_)[index_]; }
        pointer operator->() const noexcept { return &**this; }
        reference operator[](difference_type n) const noexcept { return (*items_)[index_ + n]; }
        const_iterator& operator++() noexcept { return ++index_, *this; }
        const_iterator& operator--() noexcept { return --index_, *this; }
        const_iterator operator++(int) noexcept { return {items_, index_++}; }
        const_iterator operator--(int) noexcept { return {items_, index_--}; }
        const_iterator& operator+=(difference_type n) noexcept { return index_ += n, *this; }
        const_iterator& operator-=(difference_type n) noexcept { return index_ -= n, *this; }
        friend const_iterator operator+(const_iterator it, difference_type n) noexcept { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) noexcept { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) noexcept { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) noexcept {
            return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) noexcept { return a.index_ == b.index_; }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) noexcept { return a.index_ <=> b.index_; }

    private:
        friend class ITLibMediaItems;
        const_iterator(const ITLibMediaItems* items, std::size_t index) noexcept : items_(items), index_(index) {}
        const ITLibMediaItems* items_ = nullptr;
        std::size_t index_ = 0;
    };
    using value_type = ITLibMediaItem;
    using size_type = std::size_t;
    using iterator = const_iterator;

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    // The item at `index`, which must be below size().
    const ITLibMediaItem& operator[](std::size_t index) const noexcept {
        std::size_t run = runs_.size() - 1;
        while (firsts_[run] > index) --run;
        return runs_[run][index - firsts_[run]];
    }
    // Throws std::out_of_range for an index past the end.
    const ITLibMediaItem& at(std::size_t index) const;
    const ITLibMediaItem& front() const noexcept { return (*this)[0]; }
    const ITLibMediaItem& back() const noexcept { return (*this)[size_ - 1]; }
    const_iterator begin() const noexcept { return {this, 0}; }
    const_iterator end() const noexcept { return {this, size_}; }

    // Where `item` stands in the list; none for an item of no place in it.
    std::optional<std::size_t> indexOf(const ITLibMediaItem* item) const noexcept;

private:
    friend class LibraryBuilder;
    // Takes `run` as the items after these. Throws std::bad_alloc.
    void append(std::vector<ITLibMediaItem>&& run);
    void clear() noexcept;

    std::vector<std::vector<ITLibMediaItem>> runs_;
    std::vector<std::size_t> firsts_;  // the index of each run's first item
    std::size_t size_ = 0;
};

class ITLibPlaylist {
public:
    std::string_view name() const noexcept { return name_; }
    std::uint64_t persistentID() const noexcept { return persistentID_; }
    const std::optional<std::uint64_t>& parentID() const noexcept { return parentID_; }
    bool isMaster() const noexcept { return isMaster_; }
    bool isVisible() const noexcept { return isVisible_; }
    ITLibPlaylistKind kind() const noexcept { return kind_; }
    ITLibDistinguishedPlaylistKind distinguishedKind() const noexcept { return distinguishedKind_; }
    // The playlist's media items in playlist order; an item listed as often
    // as it occurs.
    const std::vector<const ITLibMediaItem*>& items() const noexcept { return items_; }

private:
    friend class LibraryBuilder;
    std::string_view name_ = "";
    std::uint64_t persistentID_ = 0;
    std::optional<std::uint64_t> parentID_;
    bool isMaster_ = false;
    bool isVisible_ = true;
    ITLibPlaylistKind kind_ = ITLibPlaylistKind::Regular;
    ITLibDistinguishedPlaylistKind distinguishedKind_ = ITLibDistinguishedPlaylistKind::None;
    std::vector<const ITLibMediaItem*> items_;
};

class ITLibrary {
public:
    // Opens the user's library (found as LibraryLocation.h says) for the
    // given API version ("1.0" or "1.1"). The error's description says what
    // went wrong: no library found and where it looked, not readable, not a
    // library property list, or malformed at a line and column.
    static Result<std::unique_ptr<ITLibrary>> initWithAPIVersion(std::string_view apiVersion);

    // Opens the library file at `path` directly.
    static Result<std::unique_ptr<ITLibrary>> initWithFile(const std::string& path);

    ITLibrary(const ITLibrary&) = delete;
    ITLibrary& operator=(const ITLibrary&) = delete;
    ~ITLibrary();

    // Re-reads the library file. An unchanged file (same device, inode, size
    // and modification time) is not parsed again. Gives false, and keeps the
    // data read before, when the file cannot be read again.
    bool reloadData();

    const std::optional<URL>& mediaFolderLocation() const noexcept { return mediaFolderLocation_; }
    const std::optional<URL>& musicFolderLocation() const noexcept { return musicFolderLocation_; }
    std::uint64_t apiMajorVersion() const noexcept { return apiMajorVersion_; }
    std::uint64_t apiMinorVersion() const noexcept { return apiMinorVersion_; }
    const ITLibMediaItems& allMediaItems() const noexcept { return items_; }
    const std::vector<ITLibPlaylist>& allPlaylists() const noexcept { return playlists_; }

    // Identifies this opened object within the process; no two library
    // objects of one process share it.
    std::int64_t hash() const noexcept { return hash_; }

private:
    friend class LibraryBuilder;
    ITLibrary();

    std::string path_;
    struct FileIdentity {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedNanoseconds = 0;
        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    } identity_;
    std::optional<URL> mediaFolderLocation_;
    std::optional<URL> musicFolderLocation_;
    std::uint64_t apiMajorVersion_ = 1;
    std::uint64_t apiMinorVersion_ = 1;
    ITLibMediaItems items_;
    std::vector<ITLibPlaylist> playlists_;
    LibraryTexts texts_;  // the texts of the items and playlists
    std::int64_t hash_ = 0;
};

}  // namespace platform
