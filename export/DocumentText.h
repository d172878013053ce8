#pragma once
// The library document's JSON text, written straight from an opened
// library's objects in one walk over its items and playlists: the library
// facts, one track record per media item and one playlist record per
// playlist, in library order. Nothing of it is built as JSON values.
//
// The text is planned as a row of pieces (DocumentPlan): the head, runs of
// track records, the part between, runs of playlist records or of one
// long playlist's members, the tail. A piece's text depends on nothing but
// the library and which piece it is, so pieces may be written apart, on
// several threads at once, and joined in order into the very text one
// writer makes in one walk.
//
// The writer is a template over the objects it reads, so any object that
// offers the same properties as the library's media items, playlists and
// library serves (the tests feed them without a library file). Every text
// the library gives must be valid UTF-8 (an assertion; the library reader
// delivers nothing else). A writer is used by one thread; writers share
// nothing but the constant key texts and the library they read.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

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
    // A lead's text, in a room of its own that may be copied whole.
    struct Lead {
        static constexpr std::size_t kRoom = 64;
        char text[kRoom] = {};
        std::uint8_t size = 0;
    };
    std::array<Lead, kTrackElemCount> lead;
    std::array<bool, kTrackElemCount> boolean{};  // the field is declared kBool
};
const TrackKeyTexts& trackKeyTexts(JsonLayout layout);

}  // namespace detail

// One piece of a document's text (see DocumentPlan).
struct DocumentPiece {
    enum class Kind : std::uint8_t {
        Head,       // up to the "tracks" array's opening
        Tracks,     // the records of tracks [first, last)
        Middle,     // from the "tracks" array's end to the "playlists" array's opening
        Playlists,  // the records of playlists [first, last)
        Members,    // of the playlist `first`, the members [from, to): the record's start with the first,
                    // its end with the last
        Tail,       // the "playlists" array's end and the document's
    };
    Kind kind;
    std::size_t first = 0, last = 0, from = 0, to = 0;
};

// The pieces of one library's text, in order, each about a few hundred
// kilobytes: track records in runs of kTracks, playlists in runs of about
// kMembers members, a playlist of more members split into runs of them.
class DocumentPlan {
public:
    static constexpr std::size_t kTracks = 128, kMembers = 8192;

    // (Runs of other lengths, at least 1, give the same text.)
    template <class Library>
    explicit DocumentPlan(const Library& library, std::size_t tracksPerPiece = kTracks,
                          std::size_t membersPerPiece = kMembers);

    const std::vector<DocumentPiece>& pieces() const noexcept { return pieces_; }

private:
    std::vector<DocumentPiece> pieces_;
};

// Writes the text of one document, compact (one line, no blanks between
// tokens) or pretty (one member or element per line, two blanks of
// indentation per level, " : " between a key and its value).
class DocumentWriter {
public:
    // Pieces of about a megabyte go to `sink`, which must outlive the
    // writer.
    DocumentWriter(JsonLayout layout, const JsonSink& sink)
        : pretty_(layout == JsonLayout::pretty), keys_(detail::trackKeyTexts(layout)), out_(sink) {}
    // The text is written over `room` (see JsonTextOutput::Overwrite) and
    // read with text().
    DocumentWriter(JsonLayout layout, std::string& room)
        : pretty_(layout == JsonLayout::pretty),
          keys_(detail::trackKeyTexts(layout)),
          out_(room, JsonTextOutput::Overwrite{}) {}

    // The whole document of `library` with `facts`, then the end of the text.
    template <class Library>
    void document(const Library& library, const DocumentFacts& facts);

    // The text of one piece of the document of `library` with `facts`.
    template <class Library>
    void piece(const Library& library, const DocumentFacts& facts, const DocumentPiece& piece);

    // The text written over the room.
    std::string_view text() const noexcept { return out_.text(); }

    // The playlist record of `playlist`; its "hash" digests its members.
    template <class Playlist>
    void toPlaylist(const Playlist& playlist) {
        toPlaylist(playlist, 0, playlist.items().size());
    }

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
    // The writer stands at `depth` in the document, and `first` says
    // whether nothing has been written yet in the object or array there:
    // where a piece's text begins.
    void at(int depth, bool first) {
        depth_ = depth;
        first_ = first;
    }
    // Of the record of `playlist`, its start with the first member, the
    // members [from, to), and its end with the last.
    template <class Playlist>
    void toPlaylist(const Playlist& playlist, std::size_t from, std::size_t to);
    // Calls `each` with the members [from, to) of a playlist in order. The
    // members lie anywhere among the library's items: the one some places
    // ahead is asked for early, so that it is at hand when its turn comes.
    template <class Members, class Each>
    static void eachMember(const Members& members, std::size_t from, std::size_t to, Each&& each) {
        constexpr std::size_t kAheadOfUse = 16;
        const std::size_t prefetched = std::min(to, members.size() > kAheadOfUse ? members.size() - kAheadOfUse : 0);
        std::size_t i = from;
        for (; i < prefetched; ++i) {
            __builtin_prefetch(&*members[i + kAheadOfUse]);
            each(*members[i]);
        }
        for (; i < to; ++i) each(*members[i]);
    }

    void member(TrackElem e) {
        if (!first_) out_.raw(',');
        first_ = false;
        const detail::TrackKeyTexts::Lead& lead = keys_.lead[static_cast<std::size_t>(e)];
        out_.rawFrom(lead.text, lead.size);
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
void DocumentWriter::toPlaylist(const Playlist& playlist, std::size_t from, std::size_t to) {
    const auto& items = playlist.items();
    if (from == 0) {
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

        // The digest is the XOR of every member's hash magnitude, so it
        // does not depend on the members' order, and a member listed twice
        // cancels. It comes before the members it is made of.
        std::uint64_t digest = 1;
        eachMember(items, 0, items.size(), [&](const auto& item) {
            digest ^= detail::magnitude(keyedHash(item.persistentID()));
        });
        key("hash");
        pid(digest);
        key("pids");
        open('[');
    }
    eachMember(items, from, to, [&](const auto& item) {
        element();
        pid(item.persistentID());
        out_.spill();
    });
    if (to == items.size()) {
        close(']');
        close('}');
    }
}

template <class Library>
DocumentPlan::DocumentPlan(const Library& library, std::size_t tracksPerPiece, std::size_t membersPerPiece) {
    using Kind = DocumentPiece::Kind;
    tracksPerPiece = std::max<std::size_t>(tracksPerPiece, 1);
    membersPerPiece = std::max<std::size_t>(membersPerPiece, 1);
    pieces_.push_back({Kind::Head});
    const std::size_t tracks = library.allMediaItems().size();
    for (std::size_t first = 0; first < tracks; first += tracksPerPiece) {
        pieces_.push_back({Kind::Tracks, first, std::min(first + tracksPerPiece, tracks)});
    }
    pieces_.push_back({Kind::Middle});
    const auto& playlists = library.allPlaylists();
    std::size_t run = 0, runMembers = 0;  // the run of whole playlists so far, and their members
    const auto endRun = [&](std::size_t end) {
        if (end > run) pieces_.push_back({Kind::Playlists, run, end});
        run = end;
        runMembers = 0;
    };
    for (std::size_t p = 0; p < playlists.size(); ++p) {
        const std::size_t members = playlists[p].items().size();
        if (members <= membersPerPiece) {
            // A record's own members count for a few.
            runMembers += members + 16;
            if (runMembers >= membersPerPiece) endRun(p + 1);
            continue;
        }
        endRun(p);
        for (std::size_t from = 0; from < members; from += membersPerPiece) {
            pieces_.push_back({Kind::Members, p, p + 1, from, std::min(from + membersPerPiece, members)});
        }
        run = p + 1;
    }
    endRun(playlists.size());
    pieces_.push_back({Kind::Tail});
}

template <class Library>
void DocumentWriter::piece(const Library& library, const DocumentFacts& facts, const DocumentPiece& piece) {
    using Kind = DocumentPiece::Kind;
    switch (piece.kind) {
        case Kind::Head:
            at(0, true);
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
            return;
        case Kind::Tracks: {
            const auto& items = library.allMediaItems();
            at(2, piece.first == 0);
            for (std::size_t i = piece.first; i < piece.last; ++i) {
                element();
                mediaItemToTrack(items[i]);
            }
            return;
        }
        case Kind::Middle:
            at(2, library.allMediaItems().empty());
            close(']');
            key("playlists");
            open('[');
            return;
        case Kind::Playlists: {
            const auto& playlists = library.allPlaylists();
            at(2, piece.first == 0);
            for (std::size_t p = piece.first; p < piece.last; ++p) {
                element();
                toPlaylist(playlists[p]);
            }
            return;
        }
        case Kind::Members: {
            const auto& playlist = library.allPlaylists()[piece.first];
            if (piece.from == 0) {
                at(2, piece.first == 0);
                element();
            } else {
                at(4, false);
            }
            toPlaylist(playlist, piece.from, piece.to);
            return;
        }
        case Kind::Tail:
            at(2, library.allPlaylists().empty());
            close(']');
            close('}');
            return;
    }
}

template <class Library>
void DocumentWriter::document(const Library& library, const DocumentFacts& facts) {
    for (const DocumentPiece& each : DocumentPlan(library).pieces()) piece(library, facts, each);
    finish();
}

}  // namespace harmonode
