#pragma once
// Where the parts of a library file stand in the file's own bytes, for
// changing it by splicing: a change replaces or removes only the byte
// ranges named here, and every other byte (keys nobody reads, data blobs,
// comments, whitespace, the file's own escaping) stays as it was.
//
// The ranges come from a scan of the bytes as they are, since the reader
// parses repaired bytes (XmlByteCleaner.h) whose offsets differ from the
// file's wherever a repair was made or the text was converted from another
// encoding, and the XML parser that reads whatever the reader's scanner
// does not tells no offsets of its own. So that the two cannot disagree about
// what the file holds, an outline is made only of a file the reader reads,
// and only when its tracks and playlists are the reader's, in the reader's
// order, with the reader's persistent IDs; a file that is not understood
// that well has no outline and must not be changed.
//
// A change made through the outline (addition, removal) is a list of byte
// edits; once they are written, apply() makes the outline that of the new
// file, so a caller that keeps an outline need not read and scan the file
// again for its next change.
//
// An outline is a plain value that owns nothing but its ranges and texts;
// safe to read from several threads, changed by one.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/itlibrary/ITLibrary.h"

namespace platform {

// The bytes [begin, end) of the file.
struct ByteRange {
    std::size_t begin = 0, end = 0;
    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// A dictionary or array that entries are added to.
struct OutlineContainer {
    ByteRange startTag;      // its start tag, or its whole empty-element tag ("<dict/>")
    bool emptyElement = false;
    std::size_t append = 0;  // where a new last entry goes: after the last entry, else after the start tag
    friend bool operator==(const OutlineContainer&, const OutlineContainer&) = default;
};

// Whitespace to write around a new entry, copied from the file's last entry
// of the kind, or made from the container's indentation when it has none.
struct EntryLayout {
    std::string lead;            // before the entry (a track's key, a member's <dict>)
    std::string keyToDict;       // between a track's key and its <dict>
    std::string field;           // before each key inside the entry
    std::string keyToValue;      // between a key and its value
    std::string close;           // before the entry's </dict>
    std::string containerClose;  // before the container's end tag, when an empty-element one is opened
    friend bool operator==(const EntryLayout&, const EntryLayout&) = default;
};

// An entry's range runs from just after the markup before it (so it takes
// the whitespace that leads it) to just after its </dict>: removing it
// leaves its neighbours exactly as they would be without it.
struct OutlineTrack {
    ByteRange entry;
    std::optional<std::int64_t> trackID;  // its "Track ID", else its key in "Tracks"
    std::uint64_t persistentID = 0;
    friend bool operator==(const OutlineTrack&, const OutlineTrack&) = default;
};

struct OutlineMember {
    ByteRange entry;
    std::optional<std::int64_t> trackID;
    friend bool operator==(const OutlineMember&, const OutlineMember&) = default;
};

struct OutlinePlaylist {
    std::uint64_t persistentID = 0;
    bool master = false;
    std::optional<OutlineContainer> items;  // its "Playlist Items" array
    std::vector<OutlineMember> members;
    // Where a "Playlist Items" key and array go when it has none (none for
    // a playlist written as "<dict/>"), and the whitespace before its keys.
    std::optional<std::size_t> keyAppend;
    std::string field, keyToValue;
    friend bool operator==(const OutlinePlaylist&, const OutlinePlaylist&) = default;
};

// What an outline must agree with of the library as the reader read it:
// each track's persistent ID and each playlist's, with whether it is the
// master, in library order; and the first track whose location is a file
// URL, with whether it is written "file://localhost/...". Small next to
// the library, so that the library and the file's bytes need never be held
// at once.
struct ReaderListing {
    explicit ReaderListing(const ITLibrary& library);

    std::vector<std::uint64_t> tracks;
    std::vector<std::pair<std::uint64_t, bool>> playlists;
    std::optional<std::size_t> firstFileLocation;
    bool localhostLocations = false;
};

// One replacement of the file's bytes [begin, end) by `text`.
struct OutlineEdit {
    std::size_t begin = 0, end = 0;
    std::string text;
};

// A new track's entry in "Tracks", written with the outline's trackLayout()
// (its key, then its dictionary with "Track ID" first), and its IDs. Its
// location is a file URL, as every track this platform adds is a file.
struct NewTrackEntry {
    std::string text;
    std::int64_t trackID = 0;
    std::uint64_t persistentID = 0;
};

// A change of the file that an outline made and can follow: its edits, in
// file order, none overlapping.
class OutlineChange {
public:
    const std::vector<OutlineEdit>& edits() const noexcept { return edits_; }

private:
    friend class LibraryOutline;
    std::vector<OutlineEdit> edits_;
    // An addition: the new tracks; which edit holds them and where in its
    // text the first begins; likewise for their members in the master
    // playlist (none without one), and the length of each member entry.
    std::vector<NewTrackEntry> added_;
    std::size_t tracksEdit_ = 0, tracksAt_ = 0;
    std::optional<std::size_t> master_;
    std::size_t membersEdit_ = 0, membersAt_ = 0;
    std::vector<std::size_t> memberLengths_;
    // A removal: the track, and the members (playlist, member) taken out.
    std::optional<std::size_t> removed_;
    std::vector<std::pair<std::size_t, std::size_t>> removedMembers_;
};

class LibraryOutline {
public:
    // The outline of `bytes`, the content of the library file `name`, as
    // the reader reads them; the error says why the file is not read or not
    // understood.
    static Result<LibraryOutline> of(std::string_view bytes, std::string_view name);
    // The same, for bytes the reader has read already, as `read` lists them.
    static Result<LibraryOutline> of(std::string_view bytes, std::string_view name, const ReaderListing& read);
    // The outline of the scan alone, for a caller that has the reader read
    // the file meanwhile: it must not be used to write the file before
    // agreeWith() has said that the reader and the scan agree. Until then
    // localhostLocations() is the scan's guess.
    static Result<LibraryOutline> scan(std::string_view bytes, std::string_view name);
    // Whether the scan's tracks and playlists are those `read` lists (the
    // error says they are not); takes the reader's first file location.
    Status agreeWith(const ReaderListing& read, std::string_view name);

    const OutlineContainer& tracksContainer() const noexcept { return tracksContainer_; }
    const std::vector<OutlineTrack>& tracks() const noexcept { return tracks_; }
    const std::vector<OutlinePlaylist>& playlists() const noexcept { return playlists_; }
    const EntryLayout& trackLayout() const noexcept { return trackLayout_; }
    const EntryLayout& memberLayout() const noexcept { return memberLayout_; }
    // The file's line break ("\n" or "\r\n").
    const std::string& newline() const noexcept { return newline_; }
    // The file declares an encoding other than UTF-8: text written into it
    // must keep to ASCII (character references for the rest).
    bool asciiOnly() const noexcept { return asciiOnly_; }
    // The library's first file location is written "file://localhost/...":
    // new locations are written so too.
    bool localhostLocations() const noexcept { return localhostLocations_; }

    // The change that adds `entries` after the last track, and a member
    // entry for each (in memberLayout()) at the end of the master
    // playlist's items, which it makes when the master has none; no members
    // when there is no master playlist.
    OutlineChange addition(std::vector<NewTrackEntry> entries) const;
    // The change that removes track `index` and, unless another track has
    // its track ID, every playlist member naming that ID.
    OutlineChange removal(std::size_t index) const;
    // Makes this the outline of the file as `change`, made by this outline
    // as it is, leaves it. False when the outline cannot follow (the change
    // removes the entry that new entries copy their layout from, or the
    // first file location): the outline is then to be made again from the
    // new file, and not used.
    bool apply(const OutlineChange& change);

    friend bool operator==(const LibraryOutline&, const LibraryOutline&) = default;

private:
    friend class Outliner;
    LibraryOutline() = default;

    OutlineContainer tracksContainer_;
    std::vector<OutlineTrack> tracks_;
    std::vector<OutlinePlaylist> playlists_;
    EntryLayout trackLayout_, memberLayout_;
    std::string newline_ = "\n";
    bool asciiOnly_ = false;
    bool localhostLocations_ = false;
    // Where the layouts and the location form come from: the last track
    // with a key and fields, the last member (playlist, member) with fields,
    // the first track with a file location; none when none has.
    std::optional<std::size_t> trackLayoutSource_;
    std::optional<std::pair<std::size_t, std::size_t>> memberLayoutSource_;
    std::optional<std::size_t> locationSource_;
};

}  // namespace platform
