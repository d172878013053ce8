#pragma once
// The library document's JSON text, written straight from an opened
// library's objects in one walk over its items and playlists: the library
// facts, one track record per media item and one playlist record per
// playlist, in library order. Nothing of it is built as JSON values.
//
// The writer is a template over the objects it reads, so any object that
// offers the same properties as the library's media items, playlists and
// library serves (the tests feed them without a library file). The text
// goes to the sink in pieces of about a megabyte. Every text the library
// gives must be valid UTF-8 (an assertion; the library reader delivers
// nothing else). A writer is used by one thread; writers share nothing but
// the constant key texts.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "export/Assert.h"
#include "export/JsonText.h"
#include "export/KeyedHash.h"
#include "export/TrackElementEnum.h"
#include "export/Utils.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/URL.h"
#include "platform/itlibrary/ITLibrary.h"

namespace harmonode {

// What a document takes from the moment it is made rather than from the
// library's content.
struct DocumentFacts {
    std::int64_t createTs = 0;   // "create_ts": when the export began, milliseconds since 1970
    std::int64_t hashValue = 0;  // "hashValue": the library object's identity
};

namespace detail {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

// The magnitude of a signed value as an unsigned term; the most negative
// value gives 2^63, which the unsigned type holds.
constexpr std::uint64_t magnitude(std::int64_t value) noexcept {
    return value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
}

// The text that leads a member of a track record: where the layout has
// them the line feed and indentation, then the quoted key and the
// separator.
struct TrackKeyTexts {
    std::array<std::string, kTrackElemCount> lead;
    std::array<bool, kTrackElemCount> boolean{};  // the field is declared kBool
};
const TrackKeyTexts& trackKeyTexts(JsonLayout layout);

}  // namespace detail

// Writes the text of one document, compact (one line, no blanks between
// tokens) or pretty (one member or element per line, two blanks of
// indentation per level, " : " between a key and its value).
class DocumentWriter {
public:
    // Pieces go to `sink`, which must outlive the writer.
    DocumentWriter(JsonLayout layout, const JsonSink& sink)
        : pretty_(layout == JsonLayout::pretty), keys_(detail::trackKeyTexts(layout)), out_(sink) {}

    // The whole document of `library` with `facts`, then the end of the text.
    template <class Library>
    void document(const Library& library, const DocumentFacts& facts);

    // The playlist record of `playlist`; its "hash" digests its members.
    template <class Playlist>
    void toPlaylist(const Playlist& playlist);

    // The track record of one media item: its 36 properties, each through
    // add, in a fixed order.
    template <class MediaItem>
    void mediaItemToTrack(const MediaItem& item);

    // One member of a track record under the key of `e`, as the kind of
    // `obj` says: nothing for none, the text of a persistent ID,
    // milliseconds for a date, the URL's text (and for a file URL its path
    // under "FilePath"), the raw number of a media kind, the description of
    // a location type or play status, nothing for video information, else
    // the value itself. A track record's members stand at depth 3, where
    // the document puts them.
    template <class Value>
    void add(TrackElem e, const Value& obj);

    // The structure: an object or array opened one level deeper, the
    // separator and line of its next element, or of its next member and
    // that member's key.
    void open(char bracket) {
        out_.raw(bracket);
        ++depth_;
        first_ = true;
    }
    void close(char bracket) {
        --depth_;
        if (!first_ && pretty_) out_.newline(depth_);
        out_.raw(bracket);
        first_ = false;
    }
    void element() {
        if (!first_) out_.raw(',');
        first_ = false;
        if (pretty_) out_.newline(depth_);
    }
    void key(std::string_view key) {
        element();
        out_.string(key);
        out_.raw(pretty_ ? std::string_view(" : ") : std::string_view(":"));
    }
    // Hands over the rest of the text.
    void finish() { out_.finish(); }

private:
    void member(TrackElem e) {
        if (!first_) out_.raw(',');
        first_ = false;
        out_.raw(keys_.lead[static_cast<std::size_t>(e)]);
    }
    void notBoolean(TrackElem e) const { HARMONODE_ASSERT(!keys_.boolean[static_cast<std::size_t>(e)]); }
    void pid(std::uint64_t id) {
        out_.raw('"');
        out_.raw(pidText(id).view());
        out_.raw('"');
    }
    void folder(const std::optional<platform::URL>& url, std::string_view locationKey, std::string_view pathKey) {
        if (!url) return;
        key(locationKey);
        out_.string(url->absoluteString());
        key(pathKey);
        out_.string(url->path());
    }

    bool pretty_;
    const detail::TrackKeyTexts& keys_;
    JsonTextOutput out_;
    int depth_ = 0;
    bool first_ = true;  // nothing written yet in the innermost open object or array
};

template <class Value>
void DocumentWriter::add(TrackElem e, const Value& obj) {
    if constexpr (detail::IsOptional<Value>::value) {
        if (obj) add(e, *obj);
    } else if constexpr (std::is_same_v<Value, bool>) {
        HARMONODE_ASSERT(e != TrackElem::kPersistentID);
        member(e);
        out_.boolean(obj);
    } else if constexpr (std::is_integral_v<Value> && std::is_unsigned_v<Value>) {
        notBoolean(e);
        member(e);
        if (e == TrackElem::kPersistentID) {
            pid(obj);
        } else {
            out_.number(static_cast<std::uint64_t>(obj));
        }
    } else {
        HARMONODE_ASSERT(e != TrackElem::kPersistentID);  // a persistent ID is an unsigned number
        notBoolean(e);
        if constexpr (std::is_same_v<Value, platform::Date>) {
            member(e);
            out_.number(millisecondsSince1970(obj));
        } else if constexpr (std::is_same_v<Value, platform::URL>) {
            HARMONODE_ASSERT(e == TrackElem::kLocation);
            member(e);
            out_.string(obj.absoluteString());
            if (obj.isFileURL()) {
                member(TrackElem::kFilePath);
                out_.string(obj.path());
            }
        } else if constexpr (std::is_same_v<Value, platform::ITLibMediaItemMediaKind>) {
            member(e);
            out_.number(static_cast<std::uint64_t>(obj));
        } else if constexpr (std::is_same_v<Value, platform::ITLibMediaItemLocationType> ||
                             std::is_same_v<Value, platform::ITLibMediaItemPlayStatus>) {
            member(e);
            out_.string(description(obj));
        } else if constexpr (std::is_same_v<Value, platform::ITLibMediaItemVideoInfo>) {
            // no record holds it
        } else if constexpr (std::is_integral_v<Value>) {
            member(e);
            out_.number(static_cast<std::int64_t>(obj));
        } else {
            static_assert(std::is_convertible_v<const Value&, std::string_view>, "a value of a kind no record holds");
            member(e);
            out_.string(std::string_view(obj));
        }
    }
}

template <class MediaItem>
void DocumentWriter::mediaItemToTrack(const MediaItem& item) {
    out_.spill();
    open('{');
    add(TrackElem::kPersistentID, item.persistentID());
    add(TrackElem::kDateAdded, item.addedDate());
    add(TrackElem::kAlbum, item.album().title());
    if (const auto& artist = item.artist()) add(TrackElem::kArtist, artist->name());
    add(TrackElem::kBPM, item.beatsPerMinute());
    add(TrackElem::kComments, item.comments());
    add(TrackElem::kComposer, item.composer());
    add(TrackElem::kContentRating, item.contentRating());
    add(TrackElem::kSize, item.fileSize());
    add(TrackElem::kGenre, item.genre());
    add(TrackElem::kGrouping, item.grouping());
    add(TrackElem::kOnCloud, item.isCloud());
    add(TrackElem::kProtected, item.isDRMProtected());
    add(TrackElem::kHasVideo, item.isVideo());
    add(TrackElem::kPurchased, item.isPurchased());
    add(TrackElem::kRatingComputed, item.isRatingComputed());
    add(TrackElem::kKind, item.kind());
    add(TrackElem::kPlayDate, item.lastPlayedDate());
    add(TrackElem::kLocation, item.location());
    add(TrackElem::kITunesMediaKind, item.mediaKind());
    add(TrackElem::kTrackDateModified, item.modifiedDate());
    add(TrackElem::kPlayCount, item.playCount());
    add(TrackElem::kRating, item.rating());
    add(TrackElem::kReleaseDate, item.releaseDate());
    add(TrackElem::kSampleRate, item.sampleRate());
    add(TrackElem::kSkipCount, item.skipCount());
    add(TrackElem::kSkipDate, item.skipDate());
    add(TrackElem::kStartTime, item.startTime());
    add(TrackElem::kStopTime, item.stopTime());
    add(TrackElem::kSortName, item.sortTitle());
    add(TrackElem::kSortComposer, item.sortComposer());
    add(TrackElem::kTitle, item.title());
    add(TrackElem::kTime, item.totalTime());
    add(TrackElem::kTrackNumber, item.trackNumber());
    add(TrackElem::kVolumeAdjustment, item.volumeAdjustment());
    add(TrackElem::kYear, item.year());
    close('}');
}

template <class Playlist>
void DocumentWriter::toPlaylist(const Playlist& playlist) {
    out_.spill();
    open('{');
    key("distinguishedKind");
    out_.number(static_cast<std::uint64_t>(playlist.distinguishedKind()));
    key("isMaster");
    out_.boolean(playlist.isMaster());
    key("isVisible");
    out_.boolean(playlist.isVisible());
    key("name");
    out_.string(std::string_view(playlist.name()));
    key("persistentID");
    pid(playlist.persistentID());
    if (const auto& parent = playlist.parentID()) {
        key("parentID");
        pid(*parent);
    }
    key("kind");
    out_.number(static_cast<std::uint64_t>(playlist.kind()));

    // The digest is the XOR of every member's hash magnitude, so it does
    // not depend on the members' order, and a member listed twice cancels.
    // It comes before the members it is made of.
    std::uint64_t digest = 1;
    for (const auto& item : playlist.items()) digest ^= detail::magnitude(keyedHash(item->persistentID()));
    key("hash");
    pid(digest);
    key("pids");
    open('[');
    for (const auto& item : playlist.items()) {
        element();
        pid(item->persistentID());
        out_.spill();
    }
    close(']');
    close('}');
}

template <class Library>
void DocumentWriter::document(const Library& library, const DocumentFacts& facts) {
    open('{');
    folder(library.mediaFolderLocation(), "mediaFolderLocation", "mediaFolderPath");
    folder(library.musicFolderLocation(), "musicFolderLocation", "musicFolderPath");
    key("apiMajorVersion");
    out_.number(static_cast<std::uint64_t>(library.apiMajorVersion()));
    key("apiMinorVersion");
    out_.number(static_cast<std::uint64_t>(library.apiMinorVersion()));
    key("create_ts");
    out_.number(facts.createTs);
    key("hashValue");
    out_.number(facts.hashValue);

    key("tracks");
    open('[');
    for (const auto& item : library.allMediaItems()) {
        element();
        mediaItemToTrack(item);
    }
    close(']');

    key("playlists");
    open('[');
    for (const auto& playlist : library.allPlaylists()) {
        element();
        toPlaylist(playlist);
    }
    close(']');
    close('}');
    finish();
}

}  // namespace harmonode
