#pragma once
// The streaming reader behind ITLibrary: turns a library's XML property list
// into ITLibrary's media items and playlists in one pass, keeping of the XML
// only the values it delivers. Private to platform/itlibrary (and its tests).
//
// Bytes go through XmlByteCleaner before they are parsed. A file is first
// read with PlistScanner, made for the export's XML; where it gives up, the
// file is read again from its start with libxml2's SAX2 push parser, which
// decides every file the scanner does not read and words every error. Both
// hand the same events to the same code, so a file gives one library
// whichever reads it. The parser never loads anything from outside the file
// and expands no entity the document declares. Values the
// reader does not deliver (smart-playlist criteria, artwork data, unknown
// keys with nested dictionaries) are skipped without being built. Playlist
// members are resolved by track ID once the whole document is read, so the
// order of "Tracks" and "Playlists" in the file does not matter.
//
// One reader reads one document; not thread-safe.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/itlibrary/ITLibrary.h"
#include "platform/itlibrary/internal/PlistScanner.h"
#include "platform/itlibrary/internal/TextEncoding.h"
#include "platform/itlibrary/internal/XmlByteCleaner.h"

struct _xmlParserCtxt;
struct _xmlError;

namespace platform {

// The key vocabulary, defined with the reader.
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

    // Who reads: the scanner and, where it gives up, the parser; for tests
    // that compare them, one of them alone (the scanner's giving up is then
    // the error kScannerGaveUp).
    enum class Readers : std::uint8_t { Both, ScannerOnly, ParserOnly };
    static constexpr std::string_view kScannerGaveUp = "the scanner gave up";

    // Reads `bytes` as the content of a library file named `name`, handing
    // them to the reader `chunkSize` bytes at a time.
    static Result<std::unique_ptr<ITLibrary>> readBytes(std::string_view bytes, std::string_view name,
                                                        std::size_t chunkSize = kChunkSize,
                                                        Readers readers = Readers::Both);

    ITLibraryReader(const ITLibraryReader&) = delete;
    ITLibraryReader& operator=(const ITLibraryReader&) = delete;
    ~ITLibraryReader();

private:
    friend class PlistScanner<ITLibraryReader>;
    enum class Parser : std::uint8_t { Scanner, Xml };

    // Reads the document whose pieces `next` gives in order (an empty piece
    // ends it) into `library`, with the scanner and, where it gives up,
    // with the parser.
    template <class Next>
    static Status read(ITLibrary& library, std::string_view name, std::size_t size, Next&& next, Readers readers);
    // Empties `library` of what a read that gave up put there.
    static void clear(ITLibrary& library) noexcept;

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
    // Cleaned bytes handed to the parser at a time: small enough that the
    // parser copies them while they are still in cache.
    static constexpr std::size_t kSliceSize = std::size_t{64} << 10;

    ITLibraryReader(ITLibrary& library, std::string_view name, std::size_t sizeHint, Parser parser);

    // Tells where the prolog (the declarations before the root element)
    // ends: the root's start tag begins at the first "<" that opens neither
    // a declaration, a comment nor a processing instruction, with quoted
    // literals and the internal subset of the document type passed over.
    class PrologScanner {
    public:
        // Scans the next piece of the text; true once the root has begun.
        bool scan(std::string_view text) noexcept;

    private:
        enum class State : std::uint8_t {
            Top, Lt, Bang, BangDash, Comment, Instruction, Declaration, Quoted, Subset, SubsetLt, SubsetBang,
            SubsetBangDash, Done,
        };
        State state_ = State::Top;
        State resume_ = State::Top;  // where a comment, instruction or literal returns to
        char quote_ = 0;
        std::uint8_t run_ = 0;  // "-" at the end of a comment, "?" at the end of an instruction
    };

    // Feeds the next piece of the document; `last` ends it. Gives false once
    // the document failed (see failed()).
    Status feed(std::string_view bytes, bool last);
    // The steps a piece goes through: to UTF-8, repaired, parsed.
    Status decode(std::string_view bytes, bool last);
    Status clean(std::string_view bytes, bool last);
    Status parse(std::string_view text, bool end);
    Status parseChunk(std::string_view text, bool end);
    // After the last piece: checks the document was a library and resolves
    // playlist members.
    Status finish();
    Error failed() const;
    // Marks the document as not a library and stops the parser.
    void notALibrary(std::string_view reason);

    // The scanner's events, as the parser's callbacks give them.
    void element(PlistElement element) {
        if (skipDepth_ != 0) {
            ++skipDepth_;
            return;
        }
        start(element, "plist", nullptr);  // the scanner reads no other root
    }
    void elementEnd() {
        if (skipDepth_ != 0) {
            --skipDepth_;
            return;
        }
        end();
    }
    bool wantsText() const noexcept { return collecting_; }
    // A leaf's text that comes in one piece is read where the scanner holds
    // it; only more pieces, or the scanner's buffer moving, copy it.
    void characters(std::string_view text) {
        if (!pieceHeld_ && text_.empty()) {
            piece_ = text;
            pieceHeld_ = true;
            return;
        }
        holdText();
        text_.append(text);
    }
    void decodedCharacters(std::string_view text) {
        holdText();
        text_.append(text);
    }
    void holdText() {
        if (!pieceHeld_) return;
        text_.assign(piece_);
        pieceHeld_ = false;
    }
    bool stopped() const noexcept { return !failure_.empty() || outOfMemory_; }
    // Marks the scanner's reading as given up.
    Error gaveUp();

    // The parser's callbacks (libxml2's xmlChar is unsigned char).
    using XmlChar = unsigned char;
    static void onStart(void* self, const XmlChar* name, const XmlChar* prefix, const XmlChar* uri,
                        int namespaceCount, const XmlChar** namespaces, int attributeCount, int defaultedCount,
                        const XmlChar** attributes);
    static void onEnd(void* self, const XmlChar* name, const XmlChar* prefix, const XmlChar* uri);
    static void onText(void* self, const XmlChar* text, int length);
    static void onReference(void* self, const XmlChar* name);
    static void onEntityDecl(void* self, const XmlChar* name, int type, const XmlChar* publicID,
                             const XmlChar* systemID, XmlChar* content);
    static void onError(void* self, const _xmlError* error);
    // Stops the parser after a callback failed to allocate.
    void outOfMemory() noexcept;
    void parseError(const _xmlError& error);
    void reference(std::string_view name);
    PlistElement elementNamed(const XmlChar* name) noexcept;
    void start(PlistElement element, const char* name, const char* prefix);
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
    void collect(bool on) { collecting_ = on; }
    // A copy of `text` in the library's storage.
    std::string_view store(std::string_view text) { return library_.texts_.add(text); }
    void skip() { skipDepth_ = 1; }

    ITLibrary& library_;
    std::string name_;
    struct FreeParser {
        void operator()(_xmlParserCtxt* parser) const noexcept;
    };
    std::unique_ptr<_xmlParserCtxt, FreeParser> parser_;  // none while the scanner reads
    std::unique_ptr<PlistScanner<ITLibraryReader>> scanner_;
    bool gaveUp_ = false;  // the scanner met what it does not read
    bool encodingKnown_ = false;
    std::string head_;                         // the file's first bytes, until they tell its encoding
    std::unique_ptr<TextConverter> converter_;  // none: the file is read as UTF-8
    std::string decoded_;                      // the converter's output, handed on to the cleaner
    XmlByteCleaner cleaner_;
    PrologScanner prologScanner_;
    bool prologRead_ = false;
    std::string prolog_;  // the cleaned prolog, held back until it is whole
    std::unique_ptr<char[]> cleaned_;  // the cleaner's output, handed on to the parser
    std::string failure_;      // why the document is not a library or cannot be read (empty: not failed)
    bool outOfMemory_ = false;  // a callback could not allocate
    // The first fatal error the parser reported: its position and its text.
    struct ParseError {
        int code = 0, line = 0, column = 0;
        std::string message;
    } parseError_;
    // Where the text handed to the parser so far ends.
    struct {
        int line = 1, column = 1;
    } end_;
    bool endAfterReturn_ = false;  // the text so far ends in a carriage return
    std::unordered_set<std::string> declaredEntities_;  // general entities the document type declares
    bool sawRootElement_ = false;  // the document has begun its root element
    std::array<std::pair<const XmlChar*, PlistElement>, 16> elementNames_{};  // see elementNamed()

    std::vector<Frame> frames_;
    std::size_t skipDepth_ = 0;  // >0 while inside a value that is skipped
    bool inLeaf_ = false;        // inside a <key>, <string>, <integer>, <date> or <true/>/<false/>
    PlistElement leafElement_{};
    LibraryKey leafKey_{};     // the key the leaf is the value of
    LibraryKey pendingKey_{};  // the key just read in the current dictionary
    std::string text_;           // text of the current leaf
    std::string_view piece_;     // the leaf's text while it is one piece in the scanner's buffer
    bool pieceHeld_ = false;
    std::string_view value_;     // the text of the leaf just ended
    bool collecting_ = false;    // text_ takes the character data
    bool sawRoot_ = false, sawTracks_ = false;

    // The track or playlist being read.
    ITLibMediaItem* item_ = nullptr;
    std::uint32_t itemFlags_ = 0;
    std::optional<std::int64_t> trackKey_, trackID_;
    std::optional<std::int64_t> memberID_;  // the track ID of the playlist member being read
    ITLibPlaylist* playlist_ = nullptr;
    std::uint32_t playlistFlags_ = 0;

    std::vector<std::pair<std::int64_t, std::uint32_t>> trackIndex_;  // track ID -> index in items
    std::vector<std::vector<std::int64_t>> memberIDs_;                // per playlist, its members' track IDs
};

}  // namespace platform
