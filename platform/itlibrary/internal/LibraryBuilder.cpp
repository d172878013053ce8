#include "platform/itlibrary/internal/LibraryBuilder.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <array>

#include "platform/itlibrary/internal/PlistValues.h"

namespace platform {

// Every dictionary key the builder delivers something for.
enum class LibraryKey : std::uint8_t {
    None,
    // the top-level dictionary
    MajorVersion, MinorVersion, MusicFolder, Tracks, Playlists,
    // a track (Name and Track ID serve playlists and their members too)
    Name, TrackID, Artist, Album, Composer, Genre, SortName, SortComposer, Kind, Comments, Grouping,
    ContentRating, Location, TrackType, PersistentID,
    BPM, Size, PlayCount, Rating, SampleRate, SkipCount, StartTime, StopTime, TotalTime, TrackNumber,
    VolumeAdjustment, Year,
    DateAdded, DateModified, PlayDateUTC, ReleaseDate, SkipDate,
    Protected, HasVideo, Purchased, RatingComputed, Matched, AppleMusic, PlaylistOnly,
    Podcast, Movie, TVShow, MusicVideo, ITunesU, Audiobook, VoiceMemo, Ringtone,
    // a playlist
    PlaylistPersistentID, ParentPersistentID, Master, Visible, Folder, GeniusTrackID, SmartInfo,
    DistinguishedKind, PlaylistItems,
    Count
};

namespace {

using Key = LibraryKey;
using Element = PlistElement;

// What a key's value must be for the reader to take it.
enum class Value : std::uint8_t { String, Integer, Date, Bool, Dict, Array, Any };

// Which dictionaries a key is read in.
enum : std::uint8_t { kInRoot = 1, kInTrack = 2, kInPlaylist = 4, kInMember = 8 };

// Flags gathered while a track is read, decided on at its end.
enum : std::uint32_t {
    kPodcast = 1u << 0,
    kMovie = 1u << 1,
    kTVShow = 1u << 2,
    kMusicVideo = 1u << 3,
    kITunesU = 1u << 4,
    kAudiobook = 1u << 5,
    kVoiceMemo = 1u << 6,
    kRingtone = 1u << 7,
    kMatched = 1u << 8,
    kAppleMusic = 1u << 9,
    kPlaylistOnly = 1u << 10,
    kRemote = 1u << 11,
};
// ... and while a playlist is read.
enum : std::uint32_t { kFolder = 1u << 0, kGenius = 1u << 1, kSmart = 1u << 2 };

struct KeyInfo {
    std::string_view text;
    Key key;
    Value value;
    std::uint8_t where;
    std::uint32_t trackFlag = 0;  // the flag a track's boolean gathers, if any
};

constexpr KeyInfo kKeys[] = {
    {"Major Version", Key::MajorVersion, Value::Integer, kInRoot},
    {"Minor Version", Key::MinorVersion, Value::Integer, kInRoot},
    {"Music Folder", Key::MusicFolder, Value::String, kInRoot},
    {"Tracks", Key::Tracks, Value::Dict, kInRoot},
    {"Playlists", Key::Playlists, Value::Array, kInRoot},
    {"Name", Key::Name, Value::String, kInTrack | kInPlaylist},
    {"Track ID", Key::TrackID, Value::Integer, kInTrack | kInMember},
    {"Artist", Key::Artist, Value::String, kInTrack},
    {"Album", Key::Album, Value::String, kInTrack},
    {"Composer", Key::Composer, Value::String, kInTrack},
    {"Genre", Key::Genre, Value::String, kInTrack},
    {"Sort Name", Key::SortName, Value::String, kInTrack},
    {"Sort Composer", Key::SortComposer, Value::String, kInTrack},
    {"Kind", Key::Kind, Value::String, kInTrack},
    {"Comments", Key::Comments, Value::String, kInTrack},
    {"Grouping", Key::Grouping, Value::String, kInTrack},
    {"Content Rating", Key::ContentRating, Value::String, kInTrack},
    {"Location", Key::Location, Value::String, kInTrack},
    {"Track Type", Key::TrackType, Value::String, kInTrack},
    {"Persistent ID", Key::PersistentID, Value::String, kInTrack},
    {"BPM", Key::BPM, Value::Integer, kInTrack},
    {"Size", Key::Size, Value::Integer, kInTrack},
    {"Play Count", Key::PlayCount, Value::Integer, kInTrack},
    {"Rating", Key::Rating, Value::Integer, kInTrack},
    {"Sample Rate", Key::SampleRate, Value::Integer, kInTrack},
    {"Skip Count", Key::SkipCount, Value::Integer, kInTrack},
    {"Start Time", Key::StartTime, Value::Integer, kInTrack},
    {"Stop Time", Key::StopTime, Value::Integer, kInTrack},
    {"Total Time", Key::TotalTime, Value::Integer, kInTrack},
    {"Track Number", Key::TrackNumber, Value::Integer, kInTrack},
    {"Volume Adjustment", Key::VolumeAdjustment, Value::Integer, kInTrack},
    {"Year", Key::Year, Value::Integer, kInTrack},
    {"Date Added", Key::DateAdded, Value::Date, kInTrack},
    {"Date Modified", Key::DateModified, Value::Date, kInTrack},
    {"Play Date UTC", Key::PlayDateUTC, Value::Date, kInTrack},
    {"Release Date", Key::ReleaseDate, Value::Date, kInTrack},
    {"Skip Date", Key::SkipDate, Value::Date, kInTrack},
    {"Protected", Key::Protected, Value::Bool, kInTrack},
    {"Has Video", Key::HasVideo, Value::Bool, kInTrack},
    {"Purchased", Key::Purchased, Value::Bool, kInTrack},
    {"Rating Computed", Key::RatingComputed, Value::Bool, kInTrack},
    {"Matched", Key::Matched, Value::Bool, kInTrack, kMatched},
    {"Apple Music", Key::AppleMusic, Value::Bool, kInTrack, kAppleMusic},
    {"Playlist Only", Key::PlaylistOnly, Value::Bool, kInTrack, kPlaylistOnly},
    {"Podcast", Key::Podcast, Value::Bool, kInTrack, kPodcast},
    {"Movie", Key::Movie, Value::Bool, kInTrack, kMovie},
    {"TV Show", Key::TVShow, Value::Bool, kInTrack, kTVShow},
    {"Music Video", Key::MusicVideo, Value::Bool, kInTrack, kMusicVideo},
    {"iTunes U", Key::ITunesU, Value::Bool, kInTrack, kITunesU},
    {"Audiobook", Key::Audiobook, Value::Bool, kInTrack, kAudiobook},
    {"Voice Memo", Key::VoiceMemo, Value::Bool, kInTrack, kVoiceMemo},
    {"Ringtone", Key::Ringtone, Value::Bool, kInTrack, kRingtone},
    {"Playlist Persistent ID", Key::PlaylistPersistentID, Value::String, kInPlaylist},
    {"Parent Persistent ID", Key::ParentPersistentID, Value::String, kInPlaylist},
    {"Master", Key::Master, Value::Bool, kInPlaylist},
    {"Visible", Key::Visible, Value::Bool, kInPlaylist},
    {"Folder", Key::Folder, Value::Bool, kInPlaylist},
    {"Genius Track ID", Key::GeniusTrackID, Value::Any, kInPlaylist},
    {"Smart Info", Key::SmartInfo, Value::Any, kInPlaylist},
    {"Distinguished Kind", Key::DistinguishedKind, Value::Integer, kInPlaylist},
    {"Playlist Items", Key::PlaylistItems, Value::Array, kInPlaylist},
};
static_assert(std::size(kKeys) == static_cast<std::size_t>(Key::Count) - 1);

// Length and three characters tell the keys of interest apart well enough
// for a table this sparse, and cost far less than hashing every character.
constexpr std::uint32_t keyHash(std::string_view text) noexcept {
    if (text.empty()) return 0;
    const auto at = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])); };
    return static_cast<std::uint32_t>(text.size()) * 97u + at(0) * 7u + at(text.size() / 2) * 3u + at(text.size() - 1);
}

// An open-addressed table from key text to its entry in kKeys, built at
// compile time: a lookup hashes the text once and usually compares once.
class KeyTable {
public:
    constexpr KeyTable() {
        for (std::size_t i = 0; i < std::size(kKeys); ++i) {
            std::size_t slot = keyHash(kKeys[i].text) & (kSlots - 1);
            while (slots_[slot] != 0) slot = (slot + 1) & (kSlots - 1);
            slots_[slot] = static_cast<std::uint8_t>(i + 1);
        }
    }
    const KeyInfo* find(std::string_view text) const noexcept {
        for (std::size_t slot = keyHash(text) & (kSlots - 1);; slot = (slot + 1) & (kSlots - 1)) {
            const std::uint8_t entry = slots_[slot];
            if (entry == 0) return nullptr;
            if (kKeys[entry - 1].text == text) return &kKeys[entry - 1];
        }
    }
    constexpr const KeyInfo& info(Key key) const noexcept { return kKeys[static_cast<std::size_t>(key) - 1]; }

private:
    static constexpr std::size_t kSlots = 256;
    std::array<std::uint8_t, kSlots> slots_{};
};
constexpr KeyTable kKeyTable;

// The media kind a track's flags give: the first kind flag set, in the
// order the music application itself decides by.
ITLibMediaItemMediaKind mediaKindOf(std::uint32_t flags) noexcept {
    using K = ITLibMediaItemMediaKind;
    static constexpr std::pair<std::uint32_t, K> kOrder[] = {
        {kPodcast, K::Podcast},     {kMovie, K::Movie},         {kTVShow, K::TVShow},
        {kMusicVideo, K::MusicVideo}, {kITunesU, K::ITunesU},   {kAudiobook, K::Audiobook},
        {kVoiceMemo, K::VoiceMemo}, {kRingtone, K::Ringtone},
    };
    for (const auto& [flag, kind] : kOrder) {
        if (flags & flag) return kind;
    }
    return K::Song;
}

// The XML's "Distinguished Kind" numbers as the framework numbers them.
ITLibDistinguishedPlaylistKind distinguishedKindOf(std::int64_t xml) noexcept {
    using D = ITLibDistinguishedPlaylistKind;
    switch (xml) {
        case 2: return D::Movies;
        case 3: return D::TVShows;
        case 4: return D::Music;
        case 5: return D::Audiobooks;
        case 6: return D::Ringtones;
        case 10: return D::Podcasts;
        case 17: return D::VoiceMemos;
        case 18: return D::Applications;
        case 19: return D::Purchases;
        case 31: return D::ITunesU;
        case 48: return D::HomeVideos;
        default: return D::None;
    }
}

void setBit(std::uint32_t& flags, std::uint32_t bit, bool on) noexcept { flags = on ? flags | bit : flags & ~bit; }

std::optional<Date> dateOf(std::string_view text) noexcept {
    if (const auto seconds = parsePlistDate(text)) return Date{static_cast<double>(*seconds)};
    return std::nullopt;
}

void setInteger(std::int64_t& field, std::string_view text) noexcept {
    if (const auto value = parsePlistInteger(text)) field = *value;
}

// Asks for the whole huge pages inside [data, data + size) to be backed by
// huge pages: the item array is written front to back once, and each small
// page it touches would otherwise cost a fault of its own. Only a hint.
void preferHugePages(void* data, std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

constexpr std::uint32_t kNoTrack = UINT32_MAX;  // no track has the ID

}  // namespace

LibraryBuilder::LibraryBuilder(ITLibrary& library, std::size_t sizeHint, bool laterPart) : library_(library) {
    clear();
    frames_.reserve(16);
    frames_.push_back(Frame::Document);
    if (laterPart) {
        frames_.insert(frames_.end(), {Frame::Plist, Frame::Root, Frame::Tracks});
        sawRoot_ = sawTracks_ = true;
    }
    text_.reserve(256);
    // Reserving by the file's size keeps the item array from moving while
    // it grows; exports spend well over 700 bytes on each track, and the
    // part of the reservation that is never written costs no memory.
    const std::size_t expected = std::min<std::size_t>(sizeHint / 700, std::size_t{1} << 21) + 16;
    trackIndex_.reserve(expected);
    items_.reserve(expected);
    preferHugePages(items_.data(), items_.capacity() * sizeof(ITLibMediaItem));
}

bool LibraryBuilder::standsBetweenTracks() const noexcept {
    constexpr Frame kBetweenTracks[] = {Frame::Document, Frame::Plist, Frame::Root, Frame::Tracks};
    return std::equal(frames_.begin(), frames_.end(), std::begin(kBetweenTracks), std::end(kBetweenTracks)) &&
           skipDepth_ == 0 && !inLeaf_ && !trackKey_ && pendingKey_ == Key::None && !stopped_;
}

void LibraryBuilder::append(LibraryBuilder& later) {
    // The later part's items join the library as they lie.
    joinItems();
    const std::size_t offset = library_.items_.size();
    library_.items_.append(std::move(later.items_));
    later.items_ = {};
    trackIndex_.reserve(trackIndex_.size() + later.trackIndex_.size());
    for (const auto& [id, index] : later.trackIndex_) {
        trackIndex_.emplace_back(id, static_cast<std::uint32_t>(index + offset));
    }
    later.trackIndex_ = {};
    auto& playlists = library_.playlists_;
    playlists.insert(playlists.end(), std::make_move_iterator(later.library_.playlists_.begin()),
                     std::make_move_iterator(later.library_.playlists_.end()));
    later.library_.playlists_.clear();
    memberIDs_.insert(memberIDs_.end(), std::make_move_iterator(later.memberIDs_.begin()),
                      std::make_move_iterator(later.memberIDs_.end()));
    later.memberIDs_.clear();
    library_.texts_.adopt(std::move(later.library_.texts_));

    const ITLibrary& facts = later.library_;
    if (later.factsSet_ & kSetMusicFolder) {
        library_.musicFolderLocation_ = facts.musicFolderLocation_;
        library_.mediaFolderLocation_ = facts.mediaFolderLocation_;
    }
    if (later.factsSet_ & kSetMajorVersion) library_.apiMajorVersion_ = facts.apiMajorVersion_;
    if (later.factsSet_ & kSetMinorVersion) library_.apiMinorVersion_ = facts.apiMinorVersion_;
    factsSet_ |= later.factsSet_;

    // Where the events stand is where the later part's ended.
    frames_ = std::move(later.frames_);
    skipDepth_ = later.skipDepth_;
    inLeaf_ = later.inLeaf_;
    leafElement_ = later.leafElement_;
    leafKey_ = later.leafKey_;
    pendingKey_ = later.pendingKey_;
    wantsText_ = later.wantsText_;
    stopped_ = stopped_ || later.stopped_;
    if (failure_.empty()) failure_ = later.failure_;
    sawRoot_ = sawRoot_ || later.sawRoot_;
    sawTracks_ = sawTracks_ || later.sawTracks_;
}

void LibraryBuilder::joinItems() {
    library_.items_.append(std::move(items_));
    items_ = {};
}

std::unique_ptr<ITLibrary> LibraryBuilder::newLibrary(std::string_view path) {
    std::unique_ptr<ITLibrary> library(new ITLibrary());
    library->path_ = path;
    library->hash_ = nextLibrarySerial();
    return library;
}

std::unique_ptr<ITLibrary> LibraryBuilder::partLibrary() { return std::unique_ptr<ITLibrary>(new ITLibrary()); }

void LibraryBuilder::identify(ITLibrary& library, const struct stat& file) noexcept {
    library.identity_.device = static_cast<std::uint64_t>(file.st_dev);
    library.identity_.inode = static_cast<std::uint64_t>(file.st_ino);
    library.identity_.size = static_cast<std::uint64_t>(file.st_size);
    library.identity_.modifiedNanoseconds =
        static_cast<std::int64_t>(file.st_mtim.tv_sec) * 1'000'000'000 + file.st_mtim.tv_nsec;
}

void LibraryBuilder::clear() noexcept {
    library_.mediaFolderLocation_.reset();
    library_.musicFolderLocation_.reset();
    library_.apiMajorVersion_ = ITLibrary().apiMajorVersion_;
    library_.apiMinorVersion_ = ITLibrary().apiMinorVersion_;
    library_.items_.clear();
    items_.clear();
    library_.playlists_.clear();
    library_.texts_.clear();
}

bool LibraryBuilder::finish() {
    joinItems();
    if (!sawRoot_) notALibrary("it holds no top-level dictionary");
    if (!sawTracks_) notALibrary("its top-level dictionary has no \"Tracks\" dictionary");
    if (stopped()) return false;
    resolveMembers();
    return true;
}

// Playlist members are found by track ID; where two tracks claim one ID,
// the first in the file keeps it.
void LibraryBuilder::resolveMembers() {
    const auto resolve = [this](const auto& indexOf) {
        const auto& items = library_.items_;
        for (std::size_t p = 0; p < library_.playlists_.size(); ++p) {
            auto& members = library_.playlists_[p].items_;
            const auto& ids = memberIDs_[p];
            members.reserve(ids.size());
            for (const std::int64_t id : ids) {
                if (const std::uint32_t index = indexOf(id); index != kNoTrack) members.push_back(&items[index]);
            }
        }
    };
    if (trackIndex_.empty()) return resolve([](std::int64_t) { return kNoTrack; });
    const auto [low, high] = std::minmax_element(trackIndex_.begin(), trackIndex_.end(),
                                                 [](const auto& a, const auto& b) { return a.first < b.first; });
    const std::int64_t first = low->first, last = high->first;
    const std::uint64_t span = static_cast<std::uint64_t>(last) - static_cast<std::uint64_t>(first);
    if (span < 4 * static_cast<std::uint64_t>(trackIndex_.size()) + 1024) {
        // Track IDs are mostly dense: a table indexed by ID.
        const auto offset = [first](std::int64_t id) {
            return static_cast<std::size_t>(static_cast<std::uint64_t>(id) - static_cast<std::uint64_t>(first));
        };
        std::vector<std::uint32_t> table(static_cast<std::size_t>(span) + 1, kNoTrack);
        for (const auto& [id, index] : trackIndex_) {
            std::uint32_t& slot = table[offset(id)];
            if (slot == kNoTrack) slot = index;
        }
        resolve([&](std::int64_t id) { return id < first || id > last ? kNoTrack : table[offset(id)]; });
    } else {
        const auto byID = [](const auto& a, const auto& b) { return a.first < b.first; };
        if (!std::is_sorted(trackIndex_.begin(), trackIndex_.end(), byID)) {
            std::stable_sort(trackIndex_.begin(), trackIndex_.end(), byID);
        }
        resolve([&](std::int64_t id) {
            const auto it = std::lower_bound(trackIndex_.begin(), trackIndex_.end(), id,
                                             [](const auto& entry, std::int64_t value) { return entry.first < value; });
            return it != trackIndex_.end() && it->first == id ? it->second : kNoTrack;
        });
    }
}

void LibraryBuilder::start(Element element) {
    if (inLeaf_) return skip();  // markup inside a value: not a property list value; ignore it
    switch (frames_.back()) {
        case Frame::Document:  // the root, which a source gives only when it is <plist>
            frames_.push_back(Frame::Plist);
            return;
        case Frame::Plist:
            if (sawRoot_) return skip();
            sawRoot_ = true;
            if (element != Element::Dict) return notALibrary("its top level is not a dictionary");
            frames_.push_back(Frame::Root);
            return;
        case Frame::Playlists:
            return element == Element::Dict ? beginPlaylist() : skip();
        case Frame::PlaylistItems:
            if (element != Element::Dict) return skip();
            memberID_.reset();
            frames_.push_back(Frame::PlaylistItem);
            return;
        case Frame::Root:
        case Frame::Tracks:
        case Frame::Track:
        case Frame::Playlist:
        case Frame::PlaylistItem:
            return element == Element::Key ? beginLeaf(element, Key::None) : startValue(element);
    }
}

void LibraryBuilder::startValue(Element element) {
    Key key = Key::None;
    switch (valueStart(element, key)) {
        case Start::Leaf: return beginLeaf(element, key);
        case Start::Skip: return skip();
        case Start::Opened: return;
    }
}

// Decides what the value that `element` starts in the current dictionary
// is: a leaf read under `key`, a dictionary or array the events go into, or
// a value skipped.
LibraryBuilder::Start LibraryBuilder::valueStart(Element element, Key& key) {
    key = pendingKey_;
    pendingKey_ = Key::None;
    const Frame frame = frames_.back();
    if (frame == Frame::Tracks) {
        if (element == Element::Dict) {
            beginTrack();
            return Start::Opened;
        }
        trackKey_.reset();
        return Start::Skip;
    }
    if (key == Key::None) return Start::Skip;
    // A member's last "Track ID" is its ID, whatever its value.
    if (frame == Frame::PlaylistItem && key == Key::TrackID) memberID_.reset();
    const KeyInfo& info = kKeyTable.info(key);
    const std::uint8_t where = frame == Frame::Root    ? kInRoot
                               : frame == Frame::Track ? kInTrack
                               : frame == Frame::Playlist ? kInPlaylist
                                                          : kInMember;
    if ((info.where & where) == 0) return Start::Skip;
    switch (info.value) {
        case Value::String:
            if (element == Element::String) return Start::Leaf;
            break;
        case Value::Integer:
            if (element == Element::Integer) return Start::Leaf;
            break;
        case Value::Date:
            if (element == Element::Date) return Start::Leaf;
            break;
        case Value::Bool:
            if (element == Element::True || element == Element::False) return Start::Leaf;
            break;
        case Value::Dict:  // "Tracks"
            if (element == Element::Dict) {
                sawTracks_ = true;
                frames_.push_back(Frame::Tracks);
                return Start::Opened;
            }
            break;
        case Value::Array:  // "Playlists" or "Playlist Items"
            if (element == Element::Array) {
                frames_.push_back(key == Key::Playlists ? Frame::Playlists : Frame::PlaylistItems);
                return Start::Opened;
            }
            break;
        case Value::Any:  // the key's presence is what counts
            playlistFlags_ |= key == Key::GeniusTrackID ? kGenius : kSmart;
            break;
    }
    return Start::Skip;
}

void LibraryBuilder::leaf(Element element, std::string_view text) {
    if (skipDepth_ != 0 || inLeaf_) {
        // Inside a value that is skipped, or inside a value's text: the
        // element's start and end cancel, and its text is the outer value's
        // where that takes text.
        if (wantsText_ && !text.empty()) characters(text);
        return;
    }
    switch (frames_.back()) {
        case Frame::Root:
        case Frame::Tracks:
        case Frame::Track:
        case Frame::Playlist:
        case Frame::PlaylistItem:
            break;
        default:
            return PlistHandler::leaf(element, text);
    }
    // What start() and end() make of the element, without the text taking
    // the way through the leaf's buffer.
    value_ = text;
    if (element == Element::Key) return endKey();
    Key key = Key::None;
    if (valueStart(element, key) != Start::Leaf) return;  // skipped
    leafElement_ = element;
    leafKey_ = key;
    endLeaf();
}

void LibraryBuilder::beginLeaf(Element element, Key key) {
    inLeaf_ = true;
    leafElement_ = element;
    leafKey_ = key;
    if (element != Element::True && element != Element::False) {
        text_.clear();
        pieceHeld_ = false;
        wantsText_ = true;  // text_ takes the character data
    }
}

void LibraryBuilder::end() {
    if (inLeaf_) {
        inLeaf_ = false;
        wantsText_ = false;
        value_ = pieceHeld_ ? piece_ : std::string_view(text_);
        return leafElement_ == Element::Key ? endKey() : endLeaf();
    }
    const Frame frame = frames_.back();
    frames_.pop_back();
    pendingKey_ = Key::None;
    if (frame == Frame::Track) {
        finishTrack();
    } else if (frame == Frame::Playlist) {
        finishPlaylist();
    } else if (frame == Frame::PlaylistItem && memberID_) {
        memberIDs_.back().push_back(*memberID_);
    }
}

void LibraryBuilder::endKey() {
    if (frames_.back() == Frame::Tracks) {
        trackKey_ = parsePlistIdentifier(value_);
        return;
    }
    const KeyInfo* info = kKeyTable.find(value_);
    pendingKey_ = info ? info->key : Key::None;
}

void LibraryBuilder::endLeaf() {
    switch (frames_.back()) {
        case Frame::Track:
            return endTrackLeaf();
        case Frame::Playlist:
            return endPlaylistLeaf();
        case Frame::PlaylistItem:
            memberID_ = parsePlistIdentifier(value_);
            return;
        case Frame::Root:
            if (leafKey_ == Key::MusicFolder) {
                library_.musicFolderLocation_ = URL::fromString(value_);
                library_.mediaFolderLocation_ = library_.musicFolderLocation_;
                factsSet_ |= kSetMusicFolder;
            } else if (const auto version = parsePlistUnsigned(value_)) {
                const bool major = leafKey_ == Key::MajorVersion;
                (major ? library_.apiMajorVersion_ : library_.apiMinorVersion_) = *version;
                factsSet_ |= major ? kSetMajorVersion : kSetMinorVersion;
            }
            return;
        default:
            return;
    }
}

void LibraryBuilder::beginTrack() {
    // Nothing points into the items before they join the library, so they
    // may move while they are made.
    item_ = &items_.emplace_back();
    itemFlags_ = 0;
    trackID_.reset();
    trackTexts_.clear();
    frames_.push_back(Frame::Track);
}

void LibraryBuilder::keepText(ITLibMediaItem::Text text) {
    TrackText& kept = trackText_[text];
    kept.begin = static_cast<std::uint32_t>(trackTexts_.size());
    if (trackTexts_.size() + value_.size() > UINT32_MAX) throw std::bad_alloc();  // a track's texts are counted in 32 bits
    trackTexts_.append(value_);
    kept.end = static_cast<std::uint32_t>(trackTexts_.size());
    item_->flags_ |= ITLibMediaItem::kHasText << text;
}

void LibraryBuilder::storeTexts() {
    ITLibMediaItem& item = *item_;
    std::uint32_t size = 0;
    for (std::size_t t = 0; t < ITLibMediaItem::kTexts; ++t) {
        if (item.flags_ & (ITLibMediaItem::kHasText << t)) size += trackText_[t].end - trackText_[t].begin;
        item.textEnds_[t] = size;
    }
    char* stored = library_.texts_.room(size);
    item.text_ = stored;
    for (std::size_t t = 0; t < ITLibMediaItem::kTexts; ++t) {
        const TrackText& kept = trackText_[t];
        // An empty text copies nothing; where all are empty there is no room to copy to.
        if (!(item.flags_ & (ITLibMediaItem::kHasText << t)) || kept.end == kept.begin) continue;
        std::memcpy(stored, trackTexts_.data() + kept.begin, kept.end - kept.begin);
        stored += kept.end - kept.begin;
    }
}

void LibraryBuilder::endTrackLeaf() {
    ITLibMediaItem& item = *item_;
    const bool flag = leafElement_ == Element::True;
    switch (leafKey_) {
        case Key::Name: keepText(ITLibMediaItem::kTitle); break;
        case Key::TrackID: trackID_ = parsePlistIdentifier(value_); break;
        case Key::Artist: keepText(ITLibMediaItem::kArtistName); break;
        case Key::Album: keepText(ITLibMediaItem::kAlbumTitle); break;
        case Key::Composer: keepText(ITLibMediaItem::kComposer); break;
        case Key::Genre: keepText(ITLibMediaItem::kGenre); break;
        case Key::SortName: keepText(ITLibMediaItem::kSortTitle); break;
        case Key::SortComposer: keepText(ITLibMediaItem::kSortComposer); break;
        case Key::Kind: keepText(ITLibMediaItem::kKind); break;
        case Key::Comments: keepText(ITLibMediaItem::kComments); break;
        case Key::Grouping: keepText(ITLibMediaItem::kGrouping); break;
        case Key::ContentRating: keepText(ITLibMediaItem::kContentRating); break;
        case Key::Location:
            // An empty location is none, as URL::fromString says.
            if (value_.empty()) {
                item.flags_ &= ~(ITLibMediaItem::kHasText << ITLibMediaItem::kLocation);
            } else {
                keepText(ITLibMediaItem::kLocation);
            }
            break;
        case Key::TrackType: setBit(itemFlags_, kRemote, value_ == "Remote"); break;
        case Key::PersistentID: item.persistentID_ = parsePersistentID(value_).value_or(0); break;
        case Key::BPM: setInteger(item.beatsPerMinute_, value_); break;
        case Key::Size:
            if (const auto size = parsePlistUnsigned(value_)) item.fileSize_ = *size;
            break;
        case Key::PlayCount: setInteger(item.playCount_, value_); break;
        case Key::Rating: setInteger(item.rating_, value_); break;
        case Key::SampleRate: setInteger(item.sampleRate_, value_); break;
        case Key::SkipCount: setInteger(item.skipCount_, value_); break;
        case Key::StartTime: setInteger(item.startTime_, value_); break;
        case Key::StopTime: setInteger(item.stopTime_, value_); break;
        case Key::TotalTime: setInteger(item.totalTime_, value_); break;
        case Key::TrackNumber: setInteger(item.trackNumber_, value_); break;
        case Key::VolumeAdjustment: setInteger(item.volumeAdjustment_, value_); break;
        case Key::Year: setInteger(item.year_, value_); break;
        case Key::DateAdded: item.setDate(ITLibMediaItem::kAdded, dateOf(value_)); break;
        case Key::DateModified: item.setDate(ITLibMediaItem::kModified, dateOf(value_)); break;
        case Key::PlayDateUTC: item.setDate(ITLibMediaItem::kLastPlayed, dateOf(value_)); break;
        case Key::ReleaseDate: item.setDate(ITLibMediaItem::kRelease, dateOf(value_)); break;
        case Key::SkipDate: item.setDate(ITLibMediaItem::kSkip, dateOf(value_)); break;
        case Key::Protected: item.setFlag(ITLibMediaItem::kDRMProtected, flag); break;
        case Key::HasVideo: item.setFlag(ITLibMediaItem::kVideo, flag); break;
        case Key::Purchased: item.setFlag(ITLibMediaItem::kPurchased, flag); break;
        case Key::RatingComputed: item.setFlag(ITLibMediaItem::kRatingComputed, flag); break;
        default:
            setBit(itemFlags_, kKeyTable.info(leafKey_).trackFlag, flag);
            break;
    }
}

void LibraryBuilder::finishTrack() {
    ITLibMediaItem& item = *item_;
    storeTexts();
    item.mediaKind_ = static_cast<std::uint8_t>(mediaKindOf(itemFlags_));
    item.setFlag(ITLibMediaItem::kCloud, (itemFlags_ & (kMatched | kAppleMusic | kPlaylistOnly | kRemote)) != 0);
    const std::optional<std::int64_t> id = trackID_ ? trackID_ : trackKey_;
    const std::size_t index = library_.items_.size() + items_.size() - 1;  // past the items joined before
    if (id) trackIndex_.emplace_back(*id, static_cast<std::uint32_t>(index));
    trackKey_.reset();
    trackID_.reset();
    item_ = nullptr;
}

void LibraryBuilder::beginPlaylist() {
    playlist_ = &library_.playlists_.emplace_back();
    memberIDs_.emplace_back();
    playlistFlags_ = 0;
    frames_.push_back(Frame::Playlist);
}

void LibraryBuilder::endPlaylistLeaf() {
    ITLibPlaylist& playlist = *playlist_;
    const bool flag = leafElement_ == Element::True;
    switch (leafKey_) {
        case Key::Name: playlist.name_ = store(value_); break;
        case Key::PlaylistPersistentID: playlist.persistentID_ = parsePersistentID(value_).value_or(0); break;
        case Key::ParentPersistentID: playlist.parentID_ = parsePersistentID(value_); break;
        case Key::Master: playlist.isMaster_ = flag; break;
        case Key::Visible: playlist.isVisible_ = flag; break;
        case Key::Folder: setBit(playlistFlags_, kFolder, flag); break;
        case Key::DistinguishedKind:
            if (const auto kind = parsePlistInteger(value_)) playlist.distinguishedKind_ = distinguishedKindOf(*kind);
            break;
        default: break;
    }
}

void LibraryBuilder::finishPlaylist() {
    ITLibPlaylist& playlist = *playlist_;
    playlist.kind_ = (playlistFlags_ & kFolder)   ? ITLibPlaylistKind::Folder
                     : (playlistFlags_ & kGenius) ? ITLibPlaylistKind::Genius
                     : (playlistFlags_ & kSmart)  ? ITLibPlaylistKind::Smart
                                                  : ITLibPlaylistKind::Regular;
    playlist_ = nullptr;
}

}  // namespace platform
