#pragma once
// The library document as JSON text, written straight from an opened
// library's objects in one walk over its items and playlists, never built
// as JSON values: the bytes that the document of ITunesToJSON::readLibrary
// gives through streamJSON, for the same creation time and hash value.
//
// Like ITunesToJSON, a template over the objects it reads. The text goes to
// the sink in pieces of about a megabyte. Every text the library gives must
// be valid UTF-8 (an assertion; the library reader delivers nothing else).
// Thread-safe: writers share nothing but the constant key texts.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "export/Assert.h"
#include "export/ITunesToJSON.h"
#include "export/JsonText.h"
#include "export/KeyedHash.h"
#include "export/Utils.h"

namespace harmonode {

// What a document takes from the moment it is made rather than from the
// library's content.
struct DocumentFacts {
    std::int64_t createTs = 0;   // "create_ts": when the export began, milliseconds since 1970
    std::int64_t hashValue = 0;  // "hashValue": the library object's identity
};

// The facts of a document of `library` made now.
template <class Library>
DocumentFacts documentFacts(const Library& library) {
    const std::int64_t hashValue = library.hash();
    return {millisecondsSince1970(documentCreationTime()), hashValue};
}

// Writes the document of `library` with `facts` in `layout` to `sink`.
template <class Library>
void writeDocumentText(const Library& library, const DocumentFacts& facts, JsonLayout layout, const JsonSink& sink);

namespace detail {

// The text that leads a member of a track record: where the layout has
// them the line feed and indentation, then the quoted key and the
// separator.
struct TrackKeyTexts {
    std::array<std::string, kTrackElemCount> lead;
    std::array<bool, kTrackElemCount> boolean{};  // the field is declared kBool
};
const TrackKeyTexts& trackKeyTexts(JsonLayout layout);

class DocumentWriter {
public:
    DocumentWriter(JsonLayout layout, const JsonSink& sink)
        : pretty_(layout == JsonLayout::pretty), keys_(trackKeyTexts(layout)), out_(sink) {}

    // The structure: an object or array opened at `depth`, its members or
    // elements at depth + 1.
    void open(char bracket) { out_.raw(bracket); }
    void close(char bracket, int depth, bool empty) {
        if (!empty && pretty_) out_.newline(depth);
        out_.raw(bracket);
    }
    void key(std::string_view key, int depth, bool& first) {
        element(depth, first);
        out_.string(key);
        out_.raw(pretty_ ? std::string_view(" : ") : std::string_view(":"));
    }
    void element(int depth, bool& first) {
        if (!first) out_.raw(',');
        first = false;
        if (pretty_) out_.newline(depth);
    }
    void pid(std::uint64_t id) {
        out_.raw('"');
        out_.raw(pidText(id).view());
        out_.raw('"');
    }
    JsonTextOutput& out() noexcept { return out_; }

    template <class MediaItem>
    void track(const MediaItem& item);
    template <class Playlist>
    void playlist(const Playlist& playlist);

private:
    // A member of a track record (at depth 3).
    void trackKey(TrackElem e, bool& first) {
        if (!first) out_.raw(',');
        first = false;
        out_.raw(keys_.lead[static_cast<std::size_t>(e)]);
    }
    void notBoolean(TrackElem e) const { HARMONODE_ASSERT(!keys_.boolean[static_cast<std::size_t>(e)]); }

    template <class Value>
    void field(TrackElem e, const Value& value, bool& first);

    bool pretty_;
    const TrackKeyTexts& keys_;
    JsonTextOutput out_;
};

// One property as add() writes it: nothing for none, the text of a
// persistent ID, milliseconds for a date, the URL's text (and for a file
// URL its path under "FilePath"), the title or name of an album or artist,
// the raw number of a media kind, else the value itself.
template <class Value>
void DocumentWriter::field(TrackElem e, const Value& value, bool& first) {
    if constexpr (IsOptional<Value>::value) {
        if (value) field(e, *value, first);
    } else if constexpr (std::is_same_v<Value, bool>) {
        trackKey(e, first);
        out_.boolean(value);
    } else if constexpr (std::is_same_v<Value, platform::Date>) {
        notBoolean(e);
        trackKey(e, first);
        out_.number(millisecondsSince1970(value));
    } else if constexpr (std::is_same_v<Value, platform::URL>) {
        HARMONODE_ASSERT(e == TrackElem::kLocation);
        trackKey(e, first);
        out_.string(value.absoluteString());
        if (value.isFileURL()) {
            trackKey(TrackElem::kFilePath, first);
            out_.string(value.path());
        }
    } else if constexpr (std::is_same_v<Value, AlbumValue>) {
        if (value.title) field(e, *value.title, first);
    } else if constexpr (std::is_same_v<Value, ArtistValue>) {
        if (value.name) field(e, *value.name, first);
    } else if constexpr (std::is_same_v<Value, platform::ITLibMediaItemMediaKind>) {
        notBoolean(e);
        trackKey(e, first);
        out_.number(static_cast<std::uint64_t>(value));
    } else if constexpr (std::is_integral_v<Value>) {
        notBoolean(e);
        trackKey(e, first);
        if (e == TrackElem::kPersistentID) {
            HARMONODE_ASSERT(std::is_unsigned_v<Value>);
            pid(static_cast<std::uint64_t>(value));
        } else if constexpr (std::is_unsigned_v<Value>) {
            out_.number(static_cast<std::uint64_t>(value));
        } else {
            out_.number(static_cast<std::int64_t>(value));
        }
    } else {
        static_assert(std::is_convertible_v<const Value&, std::string_view>, "a property of a kind the record cannot hold");
        notBoolean(e);
        HARMONODE_ASSERT(e != TrackElem::kPersistentID);
        trackKey(e, first);
        out_.string(std::string_view(value));
    }
}

template <class MediaItem>
void DocumentWriter::track(const MediaItem& item) {
    out_.spill();
    open('{');
    bool first = true;
    forEachTrackProperty(item, [&](TrackElem e, const auto& value) { field(e, value, first); });
    close('}', 2, first);
}

template <class Playlist>
void DocumentWriter::playlist(const Playlist& playlist) {
    out_.spill();
    open('{');
    bool first = true;
    key("distinguishedKind", 3, first);
    out_.number(static_cast<std::uint64_t>(playlist.distinguishedKind()));
    key("isMaster", 3, first);
    out_.boolean(playlist.isMaster());
    key("isVisible", 3, first);
    out_.boolean(playlist.isVisible());
    key("name", 3, first);
    out_.string(std::string_view(playlist.name()));
    key("persistentID", 3, first);
    pid(playlist.persistentID());
    if (const auto& parent = playlist.parentID()) {
        key("parentID", 3, first);
        pid(*parent);
    }
    key("kind", 3, first);
    out_.number(static_cast<std::uint64_t>(playlist.kind()));

    // The digest comes before the members it is made of.
    std::uint64_t digest = 1;
    for (const auto& item : playlist.items()) digest ^= magnitude(keyedHash(item->persistentID()));
    key("hash", 3, first);
    pid(digest);
    key("pids", 3, first);
    open('[');
    bool firstMember = true;
    for (const auto& item : playlist.items()) {
        element(4, firstMember);
        pid(item->persistentID());
        out_.spill();
    }
    close(']', 3, firstMember);
    close('}', 2, first);
}

}  // namespace detail

template <class Library>
void writeDocumentText(const Library& library, const DocumentFacts& facts, JsonLayout layout, const JsonSink& sink) {
    detail::DocumentWriter w(layout, sink);
    JsonTextOutput& out = w.out();
    w.open('{');
    bool first = true;
    const auto folder = [&](const auto& url, std::string_view locationKey, std::string_view pathKey) {
        if (!url) return;
        w.key(locationKey, 1, first);
        out.string(url->absoluteString());
        w.key(pathKey, 1, first);
        out.string(url->path());
    };
    folder(library.mediaFolderLocation(), "mediaFolderLocation", "mediaFolderPath");
    folder(library.musicFolderLocation(), "musicFolderLocation", "musicFolderPath");
    w.key("apiMajorVersion", 1, first);
    out.number(static_cast<std::uint64_t>(library.apiMajorVersion()));
    w.key("apiMinorVersion", 1, first);
    out.number(static_cast<std::uint64_t>(library.apiMinorVersion()));
    w.key("create_ts", 1, first);
    out.number(facts.createTs);
    w.key("hashValue", 1, first);
    out.number(facts.hashValue);

    w.key("tracks", 1, first);
    w.open('[');
    bool firstTrack = true;
    for (const auto& item : library.allMediaItems()) {
        w.element(2, firstTrack);
        w.track(item);
    }
    w.close(']', 1, firstTrack);

    w.key("playlists", 1, first);
    w.open('[');
    bool firstPlaylist = true;
    for (const auto& playlist : library.allPlaylists()) {
        w.element(2, firstPlaylist);
        w.playlist(playlist);
    }
    w.close(']', 1, firstPlaylist);
    w.close('}', 0, first);
    out.finish();
}

}  // namespace harmonode
