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
// An outline is a plain value that owns the reader's library object; safe
// to read from several threads.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/itlibrary/ITLibrary.h"

namespace platform {

// The bytes [begin, end) of the file.
struct ByteRange {
    std::size_t begin = 0, end = 0;
};

// A dictionary or array that entries are added to.
struct OutlineContainer {
    ByteRange startTag;      // its start tag, or its whole empty-element tag ("<dict/>")
    bool emptyElement = false;
    std::size_t append = 0;  // where a new last entry goes: after the last entry, else after the start tag
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
};

// An entry's range runs from just after the markup before it (so it takes
// the whitespace that leads it) to just after its </dict>: removing it
// leaves its neighbours exactly as they would be without it.
struct OutlineTrack {
    ByteRange entry;
    std::optional<std::int64_t> trackID;  // its "Track ID", else its key in "Tracks"
    std::uint64_t persistentID = 0;
};

struct OutlineMember {
    ByteRange entry;
    std::optional<std::int64_t> trackID;
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
};

class LibraryOutline {
public:
    // The outline of `bytes`, the content of the library file `name`; the
    // error says why the file is not read or not understood.
    static Result<LibraryOutline> of(std::string_view bytes, std::string_view name);

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
    // The library as the reader reads it.
    const ITLibrary& library() const noexcept { return *library_; }

private:
    friend class Outliner;
    LibraryOutline() = default;

    OutlineContainer tracksContainer_;
    std::vector<OutlineTrack> tracks_;
    std::vector<OutlinePlaylist> playlists_;
    EntryLayout trackLayout_, memberLayout_;
    std::string newline_ = "\n";
    bool asciiOnly_ = false;
    std::shared_ptr<const ITLibrary> library_;
};

}  // namespace platform
