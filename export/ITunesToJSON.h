#pragma once
// The converter from an opened music library to the library document: the
// library facts, one track record per media item and one playlist record
// per playlist, in library order.
//
// The conversions are templates over the objects they read, so any object
// that offers the same properties as the library's media items, playlists
// and library serves (the tests feed them without a library file). A
// converter is used by one thread. Records it makes live in its arena and
// are valid while the converter lives; readLibrary hands that arena over to
// the document it returns, which then outlives the converter.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/storage_ptr.hpp>

#include "export/DocumentArena.h"
#include "export/KeyedHash.h"
#include "export/TrackElement.h"
#include "export/TrackElementMap.h"
#include "export/Utils.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/URL.h"
#include "platform/itlibrary/ITLibrary.h"

namespace harmonode {

// The album and artist of a media item as the conversion sees them.
struct AlbumValue {
    std::optional<std::string_view> title;
};
struct ArtistValue {
    std::optional<std::string_view> name;
};

// A property value as a media item delivers it: exactly one of these kinds.
// std::monostate is a property without a value. Texts and URLs are borrowed
// from the media item for the duration of the call.
using TrackValue = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, std::string_view, platform::Date,
                                std::reference_wrapper<const platform::URL>, AlbumValue, ArtistValue,
                                platform::ITLibMediaItemMediaKind, platform::ITLibMediaItemLocationType,
                                platform::ITLibMediaItemPlayStatus, platform::ITLibMediaItemVideoInfo>;

namespace detail {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

// The kind of value a property of type T delivers.
template <class T>
TrackValue trackValue(const T& value) {
    if constexpr (IsOptional<T>::value) {
        if (!value) return std::monostate{};
        return trackValue(*value);
    } else if constexpr (std::is_same_v<T, bool>) {
        return value;
    } else if constexpr (std::is_enum_v<T>) {
        return value;
    } else if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
        return static_cast<std::uint64_t>(value);
    } else if constexpr (std::is_integral_v<T>) {
        return static_cast<std::int64_t>(value);
    } else if constexpr (std::is_same_v<T, platform::Date>) {
        return value;
    } else if constexpr (std::is_same_v<T, platform::URL>) {
        return std::cref(value);
    } else {
        static_assert(std::is_convertible_v<const T&, std::string_view>, "a property of a kind the record cannot hold");
        return std::string_view(value);
    }
}

template <class Text>
std::optional<std::string_view> textView(const Text& text) {
    if constexpr (IsOptional<Text>::value) {
        if (!text) return std::nullopt;
        return std::string_view(*text);
    } else {
        return std::string_view(text);
    }
}

// The magnitude of a signed value as an unsigned term; the most negative
// value gives 2^63, which the unsigned type holds.
constexpr std::uint64_t magnitude(std::int64_t value) noexcept {
    return value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
}

}  // namespace detail

// The moment a document is made, its "create_ts": the clock's time, or the
// time fixed by fixDocumentCreationTime.
platform::Date documentCreationTime() noexcept;

// Makes every later document's creation time `time`, for tests that compare
// whole documents byte for byte.
void fixDocumentCreationTime(platform::Date time) noexcept;

class ITunesToJSON {
public:
    ITunesToJSON();

    // The library document of `library`, which the caller has opened and
    // reloaded. Reports no errors; what the library does not know is left out.
    template <class Library>
    JsonDocument readLibrary(const Library& library);

    // The playlist record of `playlist`.
    template <class Playlist>
    boost::json::object toPlaylist(const Playlist& playlist) const;

    // The track record of one media item (exposed for tests; the document
    // builder is its caller).
    template <class MediaItem>
    boost::json::object mediaItemToTrack(const MediaItem& item) const;

    // Writes `obj` into `track` under the key of `e`, as its kind says.
    void add(TrackElem e, const std::optional<TrackValue>& obj, boost::json::object& track) const;

    const TrackElement& filePathTrackElem() const noexcept { return filePathTrackElem_; }

private:
    void putFolder(boost::json::object& document, const std::optional<platform::URL>& folder,
                   std::string_view locationKey, std::string_view pathKey) const;

    const TrackElement& filePathTrackElem_;
    std::unique_ptr<boost::json::monotonic_resource> arena_;
    boost::json::storage_ptr storage_;  // arena_, uncounted
};

template <class MediaItem>
boost::json::object ITunesToJSON::mediaItemToTrack(const MediaItem& item) const {
    using detail::trackValue;
    const auto& artist = item.artist();
    // The 36 properties in the order they are written.
    const std::pair<TrackElem, TrackValue> rows[] = {
        {TrackElem::kPersistentID, trackValue(item.persistentID())},
        {TrackElem::kDateAdded, trackValue(item.addedDate())},
        {TrackElem::kAlbum, AlbumValue{detail::textView(item.album().title())}},
        {TrackElem::kArtist, artist ? TrackValue(ArtistValue{detail::textView(artist->name())}) : TrackValue()},
        {TrackElem::kBPM, trackValue(item.beatsPerMinute())},
        {TrackElem::kComments, trackValue(item.comments())},
        {TrackElem::kComposer, trackValue(item.composer())},
        {TrackElem::kContentRating, trackValue(item.contentRating())},
        {TrackElem::kSize, trackValue(item.fileSize())},
        {TrackElem::kGenre, trackValue(item.genre())},
        {TrackElem::kGrouping, trackValue(item.grouping())},
        {TrackElem::kOnCloud, trackValue(item.isCloud())},
        {TrackElem::kProtected, trackValue(item.isDRMProtected())},
        {TrackElem::kHasVideo, trackValue(item.isVideo())},
        {TrackElem::kPurchased, trackValue(item.isPurchased())},
        {TrackElem::kRatingComputed, trackValue(item.isRatingComputed())},
        {TrackElem::kKind, trackValue(item.kind())},
        {TrackElem::kPlayDate, trackValue(item.lastPlayedDate())},
        {TrackElem::kLocation, trackValue(item.location())},
        {TrackElem::kITunesMediaKind, trackValue(item.mediaKind())},
        {TrackElem::kTrackDateModified, trackValue(item.modifiedDate())},
        {TrackElem::kPlayCount, trackValue(item.playCount())},
        {TrackElem::kRating, trackValue(item.rating())},
        {TrackElem::kReleaseDate, trackValue(item.releaseDate())},
        {TrackElem::kSampleRate, trackValue(item.sampleRate())},
        {TrackElem::kSkipCount, trackValue(item.skipCount())},
        {TrackElem::kSkipDate, trackValue(item.skipDate())},
        {TrackElem::kStartTime, trackValue(item.startTime())},
        {TrackElem::kStopTime, trackValue(item.stopTime())},
        {TrackElem::kSortName, trackValue(item.sortTitle())},
        {TrackElem::kSortComposer, trackValue(item.sortComposer())},
        {TrackElem::kTitle, trackValue(item.title())},
        {TrackElem::kTime, trackValue(item.totalTime())},
        {TrackElem::kTrackNumber, trackValue(item.trackNumber())},
        {TrackElem::kVolumeAdjustment, trackValue(item.volumeAdjustment())},
        {TrackElem::kYear, trackValue(item.year())},
    };
    // Room for exactly the keys the record gets (at most one too many, for
    // an album without a title), so no record holds unused slots.
    std::size_t keys = 0;
    for (const auto& [e, value] : rows) {
        if (std::holds_alternative<std::monostate>(value)) continue;
        const auto* url = std::get_if<std::reference_wrapper<const platform::URL>>(&value);
        keys += url && url->get().isFileURL() ? 2 : 1;
    }
    boost::json::object track(storage_);
    track.reserve(keys);
    for (const auto& [e, value] : rows) add(e, value, track);
    return track;
}

template <class Playlist>
boost::json::object ITunesToJSON::toPlaylist(const Playlist& playlist) const {
    boost::json::object record(storage_);
    record.reserve(9);
    record.emplace("distinguishedKind", static_cast<std::uint64_t>(playlist.distinguishedKind()));
    record.emplace("isMaster", playlist.isMaster());
    record.emplace("isVisible", playlist.isVisible());
    record.emplace("name", std::string_view(playlist.name()));
    record.emplace("persistentID", pidText(playlist.persistentID()).view());
    if (const auto& parent = playlist.parentID()) record.emplace("parentID", pidText(*parent).view());
    record.emplace("kind", static_cast<std::uint64_t>(playlist.kind()));

    // The digest is the XOR of every member's hash magnitude, so it does
    // not depend on the members' order, and a member listed twice cancels.
    std::uint64_t digest = 1;
    boost::json::array pids(storage_);
    pids.reserve(playlist.items().size());
    for (const auto& item : playlist.items()) {
        const std::uint64_t id = item->persistentID();
        digest ^= detail::magnitude(keyedHash(id));
        pids.emplace_back(pidText(id).view());
    }
    record.emplace("hash", pidText(digest).view());
    record.emplace("pids", std::move(pids));
    return record;
}

template <class Library>
JsonDocument ITunesToJSON::readLibrary(const Library& library) {
    boost::json::object document(storage_);
    boost::json::array tracks(storage_);
    boost::json::array playlists(storage_);
    const std::int64_t hashValue = library.hash();
    const platform::Date created = documentCreationTime();
    putFolder(document, library.mediaFolderLocation(), "mediaFolderLocation", "mediaFolderPath");
    putFolder(document, library.musicFolderLocation(), "musicFolderLocation", "musicFolderPath");
    document.emplace("apiMajorVersion", static_cast<std::uint64_t>(library.apiMajorVersion()));
    document.emplace("apiMinorVersion", static_cast<std::uint64_t>(library.apiMinorVersion()));
    document.emplace("create_ts", millisecondsSince1970(created));
    document.emplace("hashValue", hashValue);

    tracks.reserve(library.allMediaItems().size());
    for (const auto& item : library.allMediaItems()) tracks.emplace_back(mediaItemToTrack(item));
    document.emplace("tracks", std::move(tracks));

    playlists.reserve(library.allPlaylists().size());
    for (const auto& playlist : library.allPlaylists()) playlists.emplace_back(toPlaylist(playlist));
    document.emplace("playlists", std::move(playlists));

    JsonDocument built(std::move(arena_), std::move(document));
    arena_ = makeDocumentArena();  // later records need an arena of their own
    storage_ = boost::json::storage_ptr(arena_.get());
    return built;
}

}  // namespace harmonode
