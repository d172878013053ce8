#pragma once
// Turns the events of a library's property list (PlistEvents.h) into
// ITLibrary's media items and playlists: the one writer of the library
// model, whoever read the XML. Values it does not deliver (smart-playlist
// criteria, artwork data, unknown keys, whatever they nest) are skipped
// without being built. Playlist members are resolved by track ID once the
// whole document is read, so the order of "Tracks" and "Playlists" in the
// file does not matter.
//
// A large document may be built in parts: a builder of a later part starts
// between two entries of "Tracks", where the builder of the part before
// stood when its part ended, and appending it to that builder gives what
// one builder would have built of both parts.
//
// One builder builds one library from one document, or from one part of
// it; not thread-safe, but builders of different parts may run on threads
// of their own. The library it builds into is its caller's.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/itlibrary/ITLibrary.h"
#include "platform/itlibrary/internal/PlistEvents.h"

namespace platform {

// The key vocabulary, defined with the builder.
enum class LibraryKey : std::uint8_t;

// The next serial number for an opened library object (see ITLibrary::hash).
std::int64_t nextLibrarySerial() noexcept;

class LibraryBuilder final : public PlistHandler {
public:
    // Builds into `library`, emptied of its items, playlists and facts (not
    // of its file's path and identity), from a document of about `sizeHint`
    // bytes, or from a later part of one (`laterPart`), whose events start
    // between two entries of "Tracks". Throws std::bad_alloc.
    LibraryBuilder(ITLibrary& library, std::size_t sizeHint, bool laterPart = false);
    LibraryBuilder(const LibraryBuilder&) = delete;
    LibraryBuilder& operator=(const LibraryBuilder&) = delete;

    // The events, as PlistEvents.h says; each may throw std::bad_alloc.
    void element(PlistElement element) override {
        if (skipDepth_ == 0) return start(element);
        ++skipDepth_;
    }
    void elementEnd() override {
        if (skipDepth_ == 0) return end();
        --skipDepth_;
    }
    // A leaf's text that comes in one piece is read where the source holds
    // it; only more pieces, or the source moving it, copy it.
    void characters(std::string_view text) override {
        if (pieceHeld_ || !text_.empty()) return decodedCharacters(text);
        piece_ = text;
        pieceHeld_ = true;
    }
    void decodedCharacters(std::string_view text) override {
        holdText();
        text_.append(text);
    }
    void holdText() override {
        if (pieceHeld_) text_.assign(piece_);
        pieceHeld_ = false;
    }
    void leaf(PlistElement element, std::string_view text) override;

    // Whether the events so far end between two entries of "Tracks", with
    // nothing of an entry pending: where a builder of the later part would
    // go on alike.
    bool standsBetweenTracks() const noexcept;

    // Takes over what the builder of the later part that followed this
    // builder's events built, as if this builder had had its events too;
    // `later` is left with nothing. Throws std::bad_alloc.
    void append(LibraryBuilder& later);

    // After the last event: checks that the document was a library and
    // resolves playlist members. False when it was none (see failure()).
    bool finish();
    // Why the document is not a library ("its top level is not a
    // dictionary"); empty while it may be one.
    std::string_view failure() const noexcept { return failure_; }

    // A new library object for the file `path`, numbered (see
    // ITLibrary::hash). Throws std::bad_alloc.
    static std::unique_ptr<ITLibrary> newLibrary(std::string_view path);
    // A library object that a later part is built into, unnumbered.
    // Throws std::bad_alloc.
    static std::unique_ptr<ITLibrary> partLibrary();
    // Records which file `library` is read from, as fstat gave it.
    static void identify(ITLibrary& library, const struct stat& file) noexcept;

private:
    // Where in the property list the events stand.
    enum class Frame : std::uint8_t {
        Document,       // before the root element
        Plist,          // inside <plist>
        Root,           // the top-level dictionary
        Tracks,         // the "Tracks" dictionary, keyed by track ID
        Track,          // one track's dictionary
        Playlists,      // the "Playlists" array
        Playlist,       // one playlist's dictionary
        PlaylistItems,  // a playlist's "Playlist Items" array
        PlaylistItem,   // one member's dictionary
    };

    void clear() noexcept;
    void start(PlistElement element);
    void end();
    void startValue(PlistElement element);
    enum class Start : std::uint8_t { Leaf, Skip, Opened };
    Start valueStart(PlistElement element, LibraryKey& key);
    void beginLeaf(PlistElement element, LibraryKey key);
    void endLeaf();
    void endKey();
    void endTrackLeaf();
    void endPlaylistLeaf();
    void beginTrack();
    void keepText(ITLibMediaItem::Text text);
    void storeTexts();
    void finishTrack();
    void beginPlaylist();
    void finishPlaylist();
    // Puts the items made so far into the library, after those it has.
    void joinItems();
    void resolveMembers();
    // Marks the document as not a library, for the source to stop.
    void notALibrary(std::string_view reason) noexcept {
        if (failure_.empty()) failure_ = reason;
        stopped_ = true;
    }
    // A copy of `text` in the library's storage.
    std::string_view store(std::string_view text) { return library_.texts_.add(text); }
    void skip() { skipDepth_ = 1; }

    ITLibrary& library_;
    std::string_view failure_;  // a reason, always a literal

    std::vector<Frame> frames_;
    std::size_t skipDepth_ = 0;  // >0 while inside a value that is skipped
    bool inLeaf_ = false;        // inside a <key>, <string>, <integer>, <date> or <true/>/<false/>
    PlistElement leafElement_{};
    LibraryKey leafKey_{};     // the key the leaf is the value of
    LibraryKey pendingKey_{};  // the key just read in the current dictionary
    std::string text_;           // text of the current leaf
    std::string_view piece_;     // the leaf's text while it is one piece where the source holds it
    bool pieceHeld_ = false;
    std::string_view value_;     // the text of the leaf just ended
    bool sawRoot_ = false, sawTracks_ = false;

    // The track or playlist being read.
    ITLibMediaItem* item_ = nullptr;
    // The track's texts as they come, each (the last of its key) a range
    // of trackTexts_; stored together once the track ends.
    struct TrackText {
        std::uint32_t begin = 0, end = 0;
    };
    std::string trackTexts_;
    TrackText trackText_[ITLibMediaItem::kTexts] = {};
    std::uint32_t itemFlags_ = 0;
    std::optional<std::int64_t> trackKey_, trackID_;
    std::optional<std::int64_t> memberID_;  // the track ID of the playlist member being read
    ITLibPlaylist* playlist_ = nullptr;
    std::uint32_t playlistFlags_ = 0;

    std::vector<std::pair<std::int64_t, std::uint32_t>> trackIndex_;  // track ID -> index in items
    std::vector<std::vector<std::int64_t>> memberIDs_;                // per playlist, its members' track IDs

    // The root's facts this builder's events set, which a later part's
    // override.
    enum : std::uint8_t { kSetMusicFolder = 1, kSetMajorVersion = 2, kSetMinorVersion = 4 };
    std::uint8_t factsSet_ = 0;

    // The items this builder makes, which join the library's as a run of
    // their own: when a later part's are appended, or at finish().
    std::vector<ITLibMediaItem> items_;
};

}  // namespace platform
