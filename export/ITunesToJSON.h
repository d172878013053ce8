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
    } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, AlbumValue> || std::is_same_v<T, ArtistValue>) {
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

// Hands the 36 properties a track record is made of to `f`, in the order
// they are written: f(field, value), the value as the media item delivers
// it (an optional for a property that may have none), alive for the call.
template <class MediaItem, class F>
void forEachTrackProperty(const MediaItem& item, F&& f) {
    using detail::textView;
    f(TrackElem::kPersistentID, item.persistentID());
    f(TrackElem::kDateAdded, item.addedDate());
    f(TrackElem::kAlbum, AlbumValue{textView(item.album().title())});
    {
        const auto& artist = item.artist();
        f(TrackElem::kArtist, artist ? std::optional<ArtistValue>(ArtistValue{textView(artist->name())}) : std::nullopt);
    }
    f(TrackElem::kBPM, item.beatsPerMinute());
    f(TrackElem::kComments, item.comments());
    f(TrackElem::kComposer, item.composer());
    f(TrackElem::kContentRating, item.contentRating());
    f(TrackElem::kSize, item.fileSize());
    f(TrackElem::kGenre, item.genre());
    f(TrackElem::kGrouping, item.grouping());
    f(TrackElem::kOnCloud, item.isCloud());
    f(TrackElem::kProtected, item.isDRMProtected());
    f(TrackElem::kHasVideo, item.isVideo());
    f(TrackElem::kPurchased, item.isPurchased());
    f(TrackElem::kRatingComputed, item.isRatingComputed());
    f(TrackElem::kKind, item.kind());
    f(TrackElem::kPlayDate, item.lastPlayedDate());
    f(TrackElem::kLocation, item.location());
    f(TrackElem::kITunesMediaKind, item.mediaKind());
    f(TrackElem::kTrackDateModified, item.modifiedDate());
    f(TrackElem::kPlayCount, item.playCount());
    f(TrackElem::kRating, item.rating());
    f(TrackElem::kReleaseDate, item.releaseDate());
    f(TrackElem::kSampleRate, item.sampleRate());
    f(TrackElem::kSkipCount, item.skipCount());
    f(TrackElem::kSkipDate, item.skipDate());
    f(TrackElem::kStartTime, item.startTime());
    f(TrackElem::kStopTime, item.stopTime());
    f(TrackElem::kSortName, item.sortTitle());
    f(TrackElem::kSortComposer, item.sortComposer());
    f(TrackElem::kTitle, item.title());
    f(TrackElem::kTime, item.totalTime());
    f(TrackElem::kTrackNumber, item.trackNumber());
    f(TrackElem::kVolumeAdjustment, item.volumeAdjustment());
    f(TrackElem::kYear, item.year());
}

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
    // Room for exactly the keys the record gets (at most one too many, for
    // an album without a title), so no record holds unused slots.
    std::size_t keys = 0;
    forEachTrackProperty(item, [&](TrackElem, const auto& value) {
        const TrackValue kind = detail::trackValue(value);
        if (std::holds_alternative<std::monostate>(kind)) return;
        const auto* url = std::get_if<std::reference_wrapper<const platform::URL>>(&kind);
        keys += url && url->get().isFileURL() ? 2 : 1;
    });
    boost::json::object track(storage_);
    track.reserve(keys);
    forEachTrackProperty(item, [&](TrackElem e, const auto& value) { add(e, detail::trackValue(value), track); });
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
