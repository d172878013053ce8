#pragma once
// The streaming reader behind ITLibrary: turns a library's XML property list
// into ITLibrary's media items and playlists in one pass, keeping of the XML
// only the values it delivers. Private to platform/itlibrary (and its tests).
//
// Bytes go through XmlByteCleaner before the parser sees them. Values the
// reader does not deliver (smart-playlist criteria, artwork data, unknown
// keys with nested dictionaries) are skipped without being built. Playlist
// members are resolved by track ID once the whole document is read, so the
// order of "Tracks" and "Playlists" in the file does not matter.
//
// One reader reads one document; not thread-safe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/itlibrary/ITLibrary.h"
#include "platform/itlibrary/XmlByteCleaner.h"

struct XML_ParserStruct;

namespace platform {

// The element and key vocabularies, defined with the reader.
enum class PlistElement : std::uint8_t;
enum class LibraryKey : std::uint8_t;

// The next serial number for an opened library object (see ITLibrary::hash).
std::int64_t nextLibrarySerial() noexcept;

class ITLibraryReader {
public:
    // Bytes handed to the parser at a time when reading a file.
    static constexpr std::size_t kChunkSize = std::size_t{1} << 20;

    // Reads the library file at `path` into `library` (whose items and
    // playlists must be empty) and records the file's identity. On failure
    // `library` holds partial data and the error says what went wrong.
    static Status readFile(const std::string& path, ITLibrary& library);

    // Reads `bytes` as the content of a library file named `name`, handing
    // them to the parser `chunkSize` bytes at a time.
    static Result<std::unique_ptr<ITLibrary>> readBytes(std::string_view bytes, std::string_view name,
                                                        std::size_t chunkSize = kChunkSize);

    ITLibraryReader(const ITLibraryReader&) = delete;
    ITLibraryReader& operator=(const ITLibraryReader&) = delete;
    ~ITLibraryReader();

private:
    // Where in the property list the parser stands.
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
    ITLibraryReader(ITLibrary& library, std::string_view name, std::size_t sizeHint);

    // Feeds the next piece of the document; `last` ends it. Gives false once
    // the document failed (see error()).
    Status feed(std::string_view bytes, bool last);
    // After the last piece: checks the document was a library and resolves
    // playlist members.
    Status finish();
    Error failed() const;
    // Marks the document as not a library and stops the parser.
    void notALibrary(std::string_view reason);

    static void onStart(void* self, const char* name, const char** attributes);
    static void onEnd(void* self, const char* name);
    static void onText(void* self, const char* text, int length);
    void start(const char* name);
    void end();
    void startValue(PlistElement element);
    void beginLeaf(PlistElement element, LibraryKey key);
    void endLeaf();
    void endKey();
    void endTrackLeaf();
    void endPlaylistLeaf();
    void beginTrack();
    void finishTrack();
    void beginPlaylist();
    void finishPlaylist();
    void collect(bool on);
    void skip() { skipDepth_ = 1; }

    ITLibrary& library_;
    std::string name_;
    XML_ParserStruct* parser_ = nullptr;
    XmlByteCleaner cleaner_;
    std::string failure_;      // why the document is not a library (empty: not failed)
    bool outOfMemory_ = false;  // a callback could not allocate

    std::vector<Frame> frames_;
    std::size_t skipDepth_ = 0;  // >0 while inside a value that is skipped
    bool inLeaf_ = false;        // inside a <key>, <string>, <integer>, <date> or <true/>/<false/>
    PlistElement leafElement_{};
    LibraryKey leafKey_{};     // the key the leaf is the value of
    LibraryKey pendingKey_{};  // the key just read in the current dictionary
    std::string text_;           // text of the current leaf
    bool sawRoot_ = false, sawTracks_ = false;

    // The track or playlist being read.
    ITLibMediaItem* item_ = nullptr;
    std::uint32_t itemFlags_ = 0;
    std::optional<std::int64_t> trackKey_, trackID_;
    ITLibPlaylist* playlist_ = nullptr;
    std::uint32_t playlistFlags_ = 0;

    std::vector<std::pair<std::int64_t, std::uint32_t>> trackIndex_;  // track ID -> index in items
    std::vector<std::vector<std::int64_t>> memberIDs_;                // per playlist, its members' track IDs
};

}  // namespace platform
