#include "platform/itlibrary/internal/ITLibraryReader.h"

#include <fcntl.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/foundation/FileDescriptor.h"
#include "platform/itlibrary/internal/PlistValues.h"
#include "platform/itlibrary/internal/ReadAhead.h"

namespace platform {

// Every dictionary key the reader delivers something for.
enum class LibraryKey : std::uint8_t {
    None,
    // the top-level dictionary
    MajorVersion, MinorVersion, MusicFolder, Tracks, Playlists,
    // a track (Name and Track ID serve playlists and their members too)
    Name, TrackID, Artist, Album, Composer, Genre, SortName, SortComposer, Kind, Comments, Grouping,
    ContentRating, Location, TrackType, PersistentID,
    BPM, Size, PlayCount, Rating, SampleRate, SkipCount, StartTime, StopTime, TotalTime, TrackNumber,
    VolumeAdjustment, Year,
    DateAdded, DateModified, PlayDateUTC, ReleaseDate, SkipDate,
    Protected, HasVideo, Purchased, RatingComputed, Matched, AppleMusic, PlaylistOnly,
    Podcast, Movie, TVShow, MusicVideo, ITunesU, Audiobook, VoiceMemo, Ringtone,
    // a playlist
    PlaylistPersistentID, ParentPersistentID, Master, Visible, Folder, GeniusTrackID, SmartInfo,
    DistinguishedKind, PlaylistItems,
    Count
};

namespace {

using Key = LibraryKey;
using Element = PlistElement;

// What a key's value must be for the reader to take it.
enum class Value : std::uint8_t { String, Integer, Date, Bool, Dict, Array, Any };

// Which dictionaries a key is read in.
enum : std::uint8_t { kInRoot = 1, kInTrack = 2, kInPlaylist = 4, kInMember = 8 };

struct KeyInfo {
    std::string_view text;
    Key key;
    Value value;
    std::uint8_t where;
};

constexpr KeyInfo kKeys[] = {
    {"Major Version", Key::MajorVersion, Value::Integer, kInRoot},
    {"Minor Version", Key::MinorVersion, Value::Integer, kInRoot},
    {"Music Folder", Key::MusicFolder, Value::String, kInRoot},
    {"Tracks", Key::Tracks, Value::Dict, kInRoot},
    {"Playlists", Key::Playlists, Value::Array, kInRoot},
    {"Name", Key::Name, Value::String, kInTrack | kInPlaylist},
    {"Track ID", Key::TrackID, Value::Integer, kInTrack | kInMember},
    {"Artist", Key::Artist, Value::String, kInTrack},
    {"Album", Key::Album, Value::String, kInTrack},
    {"Composer", Key::Composer, Value::String, kInTrack},
    {"Genre", Key::Genre, Value::String, kInTrack},
    {"Sort Name", Key::SortName, Value::String, kInTrack},
    {"Sort Composer", Key::SortComposer, Value::String, kInTrack},
    {"Kind", Key::Kind, Value::String, kInTrack},
    {"Comments", Key::Comments, Value::String, kInTrack},
    {"Grouping", Key::Grouping, Value::String, kInTrack},
    {"Content Rating", Key::ContentRating, Value::String, kInTrack},
    {"Location", Key::Location, Value::String, kInTrack},
    {"Track Type", Key::TrackType, Value::String, kInTrack},
    {"Persistent ID", Key::PersistentID, Value::String, kInTrack},
    {"BPM", Key::BPM, Value::Integer, kInTrack},
    {"Size", Key::Size, Value::Integer, kInTrack},
    {"Play Count", Key::PlayCount, Value::Integer, kInTrack},
    {"Rating", Key::Rating, Value::Integer, kInTrack},
    {"Sample Rate", Key::SampleRate, Value::Integer, kInTrack},
    {"Skip Count", Key::SkipCount, Value::Integer, kInTrack},
    {"Start Time", Key::StartTime, Value::Integer, kInTrack},
    {"Stop Time", Key::StopTime, Value::Integer, kInTrack},
    {"Total Time", Key::TotalTime, Value::Integer, kInTrack},
    {"Track Number", Key::TrackNumber, Value::Integer, kInTrack},
    {"Volume Adjustment", Key::VolumeAdjustment, Value::Integer, kInTrack},
    {"Year", Key::Year, Value::Integer, kInTrack},
    {"Date Added", Key::DateAdded, Value::Date, kInTrack},
    {"Date Modified", Key::DateModified, Value::Date, kInTrack},
    {"Play Date UTC", Key::PlayDateUTC, Value::Date, kInTrack},
    {"Release Date", Key::ReleaseDate, Value::Date, kInTrack},
    {"Skip Date", Key::SkipDate, Value::Date, kInTrack},
    {"Protected", Key::Protected, Value::Bool, kInTrack},
    {"Has Video", Key::HasVideo, Value::Bool, kInTrack},
    {"Purchased", Key::Purchased, Value::Bool, kInTrack},
    {"Rating Computed", Key::RatingComputed, Value::Bool, kInTrack},
    {"Matched", Key::Matched, Value::Bool, kInTrack},
    {"Apple Music", Key::AppleMusic, Value::Bool, kInTrack},
    {"Playlist Only", Key::PlaylistOnly, Value::Bool, kInTrack},
    {"Podcast", Key::Podcast, Value::Bool, kInTrack},
    {"Movie", Key::Movie, Value::Bool, kInTrack},
    {"TV Show", Key::TVShow, Value::Bool, kInTrack},
    {"Music Video", Key::MusicVideo, Value::Bool, kInTrack},
    {"iTunes U", Key::ITunesU, Value::Bool, kInTrack},
    {"Audiobook", Key::Audiobook, Value::Bool, kInTrack},
    {"Voice Memo", Key::VoiceMemo, Value::Bool, kInTrack},
    {"Ringtone", Key::Ringtone, Value::Bool, kInTrack},
    {"Playlist Persistent ID", Key::PlaylistPersistentID, Value::String, kInPlaylist},
    {"Parent Persistent ID", Key::ParentPersistentID, Value::String, kInPlaylist},
    {"Master", Key::Master, Value::Bool, kInPlaylist},
    {"Visible", Key::Visible, Value::Bool, kInPlaylist},
    {"Folder", Key::Folder, Value::Bool, kInPlaylist},
    {"Genius Track ID", Key::GeniusTrackID, Value::Any, kInPlaylist},
    {"Smart Info", Key::SmartInfo, Value::Any, kInPlaylist},
    {"Distinguished Kind", Key::DistinguishedKind, Value::Integer, kInPlaylist},
    {"Playlist Items", Key::PlaylistItems, Value::Array, kInPlaylist},
};
static_assert(std::size(kKeys) == static_cast<std::size_t>(Key::Count) - 1);

// Length and three characters tell the keys of interest apart well enough
// for a table this sparse, and cost far less than hashing every character.
constexpr std::uint32_t keyHash(std::string_view text) noexcept {
    if (text.empty()) return 0;
    const auto at = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])); };
    return static_cast<std::uint32_t>(text.size()) * 97u + at(0) * 7u + at(text.size() / 2) * 3u + at(text.size() - 1);
}

// An open-addressed table from key text to its entry in kKeys, built at
// compile time: a lookup hashes the text once and usually compares once.
class KeyTable {
public:
    constexpr KeyTable() {
        for (std::size_t i = 0; i < std::size(kKeys); ++i) {
            std::size_t slot = keyHash(kKeys[i].text) & (kSlots - 1);
            while (slots_[slot] != 0) slot = (slot + 1) & (kSlots - 1);
            slots_[slot] = static_cast<std::uint8_t>(i + 1);
        }
    }
    const KeyInfo* find(std::string_view text) const noexcept {
        for (std::size_t slot = keyHash(text) & (kSlots - 1);; slot = (slot + 1) & (kSlots - 1)) {
            const std::uint8_t entry = slots_[slot];
            if (entry == 0) return nullptr;
            if (kKeys[entry - 1].text == text) return &kKeys[entry - 1];
        }
    }
    constexpr const KeyInfo& info(Key key) const noexcept { return kKeys[static_cast<std::size_t>(key) - 1]; }

private:
    static constexpr std::size_t kSlots = 256;
    std::array<std::uint8_t, kSlots> slots_{};
};
constexpr KeyTable kKeyTable;

// Flags gathered while a track is read, decided on at its end.
enum : std::uint32_t {
    kPodcast = 1u << 0,
    kMovie = 1u << 1,
    kTVShow = 1u << 2,
    kMusicVideo = 1u << 3,
    kITunesU = 1u << 4,
    kAudiobook = 1u << 5,
    kVoiceMemo = 1u << 6,
    kRingtone = 1u << 7,
    kMatched = 1u << 8,
    kAppleMusic = 1u << 9,
    kPlaylistOnly = 1u << 10,
    kRemote = 1u << 11,
};
// ... and while a playlist is read.
enum : std::uint32_t { kFolder = 1u << 0, kGenius = 1u << 1, kSmart = 1u << 2 };

std::uint32_t trackFlag(Key key) noexcept {
    switch (key) {
        case Key::Podcast: return kPodcast;
        case Key::Movie: return kMovie;
        case Key::TVShow: return kTVShow;
        case Key::MusicVideo: return kMusicVideo;
        case Key::ITunesU: return kITunesU;
        case Key::Audiobook: return kAudiobook;
        case Key::VoiceMemo: return kVoiceMemo;
        case Key::Ringtone: return kRingtone;
        case Key::Matched: return kMatched;
        case Key::AppleMusic: return kAppleMusic;
        case Key::PlaylistOnly: return kPlaylistOnly;
        default: return 0;
    }
}

// The media kind a track's flags give: the first kind flag set, in the
// order the music application itself decides by.
ITLibMediaItemMediaKind mediaKindOf(std::uint32_t flags) noexcept {
    using K = ITLibMediaItemMediaKind;
    static constexpr std::pair<std::uint32_t, K> kOrder[] = {
        {kPodcast, K::Podcast},     {kMovie, K::Movie},         {kTVShow, K::TVShow},
        {kMusicVideo, K::MusicVideo}, {kITunesU, K::ITunesU},   {kAudiobook, K::Audiobook},
        {kVoiceMemo, K::VoiceMemo}, {kRingtone, K::Ringtone},
    };
    for (const auto& [flag, kind] : kOrder) {
        if (flags & flag) return kind;
    }
    return K::Song;
}

// The XML's "Distinguished Kind" numbers as the framework numbers them.
ITLibDistinguishedPlaylistKind distinguishedKindOf(std::int64_t xml) noexcept {
    using D = ITLibDistinguishedPlaylistKind;
    switch (xml) {
        case 2: return D::Movies;
        case 3: return D::TVShows;
        case 4: return D::Music;
        case 5: return D::Audiobooks;
        case 6: return D::Ringtones;
        case 10: return D::Podcasts;
        case 17: return D::VoiceMemos;
        case 18: return D::Applications;
        case 19: return D::Purchases;
        case 31: return D::ITunesU;
        case 48: return D::HomeVideos;
        default: return D::None;
    }
}

std::optional<Date> dateOf(std::string_view text) noexcept {
    if (const auto seconds = parsePlistDate(text)) return Date{static_cast<double>(*seconds)};
    return std::nullopt;
}

void setInteger(std::int64_t& field, std::string_view text) noexcept {
    if (const auto value = parsePlistInteger(text)) field = *value;
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    out += shownPath(text);
    out += '"';
    return out;
}

Error unreadable(const std::string& path, int error) {
    return Error{"The music library file " + quoted(path) + " cannot be read: " + systemReason(error)};
}

// Why a file of this type cannot be read as a library, if it cannot.
std::optional<Error> notARegularFile(const std::string& path, mode_t mode) {
    if (S_ISREG(mode)) return std::nullopt;
    if (S_ISDIR(mode)) return unreadable(path, EISDIR);
    const char* what = S_ISFIFO(mode)  ? "a named pipe (FIFO)"
                       : S_ISCHR(mode) ? "a character device"
                       : S_ISBLK(mode) ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "not a plain file";
    return Error{"The music library file " + quoted(path) + " cannot be read: it is " + what +
                 ", not a regular file"};
}

Error notALibraryError(std::string_view name, std::string_view reason) {
    std::string text = "The file " + quoted(name) + " is not a music library property list: ";
    text += reason;
    return Error{std::move(text)};
}

// Recognises at its first bytes a file that cannot be a library export.
std::optional<Error> rejectAtStart(std::string_view first, std::string_view name) {
    if (first.empty()) return notALibraryError(name, "the file is empty");
    if (first.starts_with("bplist")) {
        return notALibraryError(name, "it is a binary property list; the library's XML export is needed");
    }
    return std::nullopt;
}

// What the parser does and never does: nothing from the network, no
// external DTD (no XML_PARSE_DTDLOAD) and no entity substitution (no
// XML_PARSE_NOENT; entities the document declares are refused, see
// ITLibraryReader::reference), text nodes of any length, and the document
// read as the UTF-8 the cleaner hands on, whatever encoding it declares.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_IGNORE_ENC;

// libxml2's global state is set up once per process. xmlCleanupParser is
// never called: other code in the process may be using libxml2 too.
void initParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// The structured error callback's argument became const in libxml2 2.12.
#if LIBXML_VERSION >= 21200
using ErrorArgument = const xmlError*;
#else
using ErrorArgument = xmlError*;
#endif

const char* chars(const xmlChar* text) noexcept { return reinterpret_cast<const char*>(text); }

std::string malformed(std::string_view name, int line, int column, std::string_view message) {
    std::string text = "The music library file " + quoted(name) + " is malformed at line " + std::to_string(line) +
                       " column " + std::to_string(column) + ": ";
    text += message;
    return text;
}

Error outOfMemoryError(std::string_view name) {
    return Error{"There is not enough memory to read the music library file " + quoted(name)};
}

std::string refusedEntity(std::string_view name) {
    std::string text = "Entity '";
    text += name;
    text += "' is declared in the document type; entities a document declares are not expanded";
    return text;
}

// Asks for the whole huge pages inside [data, data + size) to be backed by
// huge pages: the item array is written front to back once, and each small
// page it touches would otherwise cost a fault of its own. Only a hint.
void preferHugePages(void* data, std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

constexpr std::uint32_t kNoTrack = UINT32_MAX;  // no track has the ID

}  // namespace

ITLibraryReader::ITLibraryReader(ITLibrary& library, std::string_view name, std::size_t sizeHint, Parser parser)
    : library_(library), name_(name) {
    if (parser == Parser::Scanner) {
        scanner_ = std::make_unique<PlistScanner<ITLibraryReader>>(*this);
    } else {
        cleaned_.reset(new char[XmlByteCleaner::maxOutput(kSliceSize)]);
        initParser();
        xmlSAXHandler handler{};
        handler.initialized = XML_SAX2_MAGIC;
        handler.startElementNs = &onStart;
        handler.endElementNs = &onEnd;
        handler.characters = &onText;
        // Blank text between elements goes to the same callback, which spares
        // the parser working out whether it could be ignored.
        handler.ignorableWhitespace = &onText;
        handler.reference = &onReference;
        handler.entityDecl = &onEntityDecl;
        handler.serror = [](void* self, ErrorArgument error) { onError(self, error); };
        parser_.reset(xmlCreatePushParserCtxt(&handler, this, nullptr, 0, nullptr));
        if (parser_ == nullptr) throw std::bad_alloc();
        xmlCtxtUseOptions(parser_.get(), kParseOptions);
    }
    frames_.reserve(16);
    frames_.push_back(Frame::Document);
    text_.reserve(256);
    // Reserving by the file's size keeps the item array from moving while
    // it grows; exports spend well over 700 bytes on each track, and the
    // part of the reservation that is never written costs no memory.
    const std::size_t expected = std::min<std::size_t>(sizeHint / 700, std::size_t{1} << 21) + 16;
    library_.items_.reserve(expected);
    trackIndex_.reserve(expected);
    preferHugePages(library_.items_.data(), library_.items_.capacity() * sizeof(ITLibMediaItem));
}

ITLibraryReader::~ITLibraryReader() = default;

void ITLibraryReader::FreeParser::operator()(_xmlParserCtxt* parser) const noexcept {
    // An entity declaration makes the parser keep a document of its own
    // for it, which is the caller's to free.
    if (parser->myDoc != nullptr) xmlFreeDoc(parser->myDoc);
    xmlFreeParserCtxt(parser);
}

template <class Next>
Status ITLibraryReader::read(ITLibrary& library, std::string_view name, std::size_t size, Next&& next,
                             Readers readers) {
    for (const Parser parser : {Parser::Scanner, Parser::Xml}) {
        if (parser == Parser::Scanner && readers == Readers::ParserOnly) continue;
        if (parser == Parser::Xml && readers == Readers::ScannerOnly) return Error{std::string(kScannerGaveUp)};
        if (parser == Parser::Xml) clear(library);
        ITLibraryReader reader(library, name, size, parser);
        Status status = success();
        for (std::uint64_t offset = 0;;) {
            Result<std::string_view> piece = next(offset);
            if (!piece) return piece.error();
            const std::string_view bytes = piece.value();
            if (offset == 0) {
                if (auto error = rejectAtStart(bytes, name)) return *error;
            }
            offset += bytes.size();
            status = reader.feed(bytes, bytes.empty());
            if (!status || bytes.empty()) break;
        }
        if (status) status = reader.finish();
        if (!reader.gaveUp_) return status;
    }
    return Error{"unreachable"};  // the parser never gives up
}

void ITLibraryReader::clear(ITLibrary& library) noexcept {
    library.mediaFolderLocation_.reset();
    library.musicFolderLocation_.reset();
    library.apiMajorVersion_ = ITLibrary().apiMajorVersion_;
    library.apiMinorVersion_ = ITLibrary().apiMinorVersion_;
    library.items_.clear();
    library.playlists_.clear();
    library.texts_.clear();
}

Error ITLibraryReader::gaveUp() {
    gaveUp_ = true;
    return Error{"the file is read again with the XML parser"};
}

Status ITLibraryReader::readFile(const std::string& path, ITLibrary& library) {
    // Only a regular file can be a library. Anything else is refused before
    // it is opened (opening a FIFO waits for a writer, a device may do
    // anything), and once more after, should the name have changed hands.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return unreadable(path, errno);
    if (auto error = notARegularFile(path, st.st_mode)) return *error;
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file) return unreadable(path, errno);
    if (::fstat(file.get(), &st) != 0) return unreadable(path, errno);
    if (auto error = notARegularFile(path, st.st_mode)) return *error;
    library.identity_.device = static_cast<std::uint64_t>(st.st_dev);
    library.identity_.inode = static_cast<std::uint64_t>(st.st_ino);
    library.identity_.size = static_cast<std::uint64_t>(st.st_size);
    library.identity_.modifiedNanoseconds =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;

    try {
        // The file from its start, read ahead on a thread of its own; read
        // again from its start should the scanner give up.
        std::optional<ReadAhead> reader;
        const auto next = [&](std::uint64_t offset) -> Result<std::string_view> {
            if (offset == 0) reader.emplace(file.get(), kChunkSize);
            const ReadAhead::Chunk chunk = reader->next();
            if (chunk.error != 0) return unreadable(path, chunk.error);
            return chunk.bytes;
        };
        return read(library, path, static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)), next, Readers::Both);
    } catch (const std::bad_alloc&) {
        return outOfMemoryError(path);
    }
}

Result<std::unique_ptr<ITLibrary>> ITLibraryReader::readBytes(std::string_view bytes, std::string_view name,
                                                               std::size_t chunkSize, Readers readers) {
    chunkSize = std::clamp<std::size_t>(chunkSize, 1, kChunkSize);
    if (auto error = rejectAtStart(bytes, name)) return *error;
    std::unique_ptr<ITLibrary> library;
    try {
        library.reset(new ITLibrary());
        library->path_ = name;
        const auto next = [&](std::uint64_t offset) -> Result<std::string_view> {
            return bytes.substr(std::min<std::size_t>(offset, bytes.size()), chunkSize);
        };
        if (auto status = read(*library, name, bytes.size(), next, readers); !status) return status.error();
    } catch (const std::bad_alloc&) {
        return outOfMemoryError(name);
    }
    library->hash_ = nextLibrarySerial();
    return Result<std::unique_ptr<ITLibrary>>(std::move(library));
}

bool ITLibraryReader::PrologScanner::scan(std::string_view text) noexcept {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // A byte that only ends the state it met is looked at again in the
        // state it leads back to ("--i; continue").
        switch (state_) {
            case State::Done:
                return true;
            case State::Top:
                if (c == '<') state_ = State::Lt;
                break;
            case State::Lt:
                if (c == '?') {
                    resume_ = State::Top;
                    run_ = 0;
                    state_ = State::Instruction;
                } else if (c == '!') {
                    state_ = State::Bang;
                } else {
                    state_ = State::Done;
                    return true;
                }
                break;
            case State::Bang:
                if (c == '-') {
                    state_ = State::BangDash;
                } else {
                    state_ = State::Declaration;
                    --i;
                    continue;
                }
                break;
            case State::BangDash:
                if (c == '-') {
                    resume_ = State::Top;
                    run_ = 0;
                    state_ = State::Comment;
                } else {
                    state_ = State::Declaration;
                    --i;
                    continue;
                }
                break;
            case State::Comment:
                if (c == '>' && run_ >= 2) {
                    state_ = resume_;
                } else {
                    run_ = c == '-' ? static_cast<std::uint8_t>(std::min(run_ + 1, 2)) : 0;
                }
                break;
            case State::Instruction:
                if (c == '>' && run_ > 0) {
                    state_ = resume_;
                } else {
                    run_ = c == '?' ? 1 : 0;
                }
                break;
            case State::Declaration:
                if (c == '"' || c == '\'') {
                    quote_ = c;
                    resume_ = State::Declaration;
                    state_ = State::Quoted;
                } else if (c == '[') {
                    state_ = State::Subset;
                } else if (c == '>') {
                    state_ = State::Top;
                }
                break;
            case State::Quoted:
                if (c == quote_) state_ = resume_;
                break;
            case State::Subset:
                if (c == '"' || c == '\'') {
                    quote_ = c;
                    resume_ = State::Subset;
                    state_ = State::Quoted;
                } else if (c == '<') {
                    state_ = State::SubsetLt;
                } else if (c == ']') {
                    state_ = State::Declaration;  // its ">" follows
                }
                break;
            case State::SubsetLt:
                if (c == '?') {
                    resume_ = State::Subset;
                    run_ = 0;
                    state_ = State::Instruction;
                } else if (c == '!') {
                    state_ = State::SubsetBang;
                } else {
                    state_ = State::Subset;
                    --i;
                    continue;
                }
                break;
            case State::SubsetBang:
                if (c == '-') {
                    state_ = State::SubsetBangDash;
                } else {
                    state_ = State::Subset;
                    --i;
                    continue;
                }
                break;
            case State::SubsetBangDash:
                if (c == '-') {
                    resume_ = State::Subset;
                    run_ = 0;
                    state_ = State::Comment;
                } else {
                    state_ = State::Subset;
                    --i;
                    continue;
                }
                break;
        }
    }
    return state_ == State::Done;
}

Status ITLibraryReader::feed(std::string_view bytes, bool last) {
    if (!encodingKnown_) {
        // The file's first bytes say what it is written in; they wait here
        // until there are enough of them to tell.
        head_.append(bytes);
        const auto encoding = detectTextEncoding(head_, last);
        if (!encoding) return success();
        encodingKnown_ = true;
        if (!encoding->empty()) converter_ = std::make_unique<TextConverter>(*encoding);
        const std::string head = std::move(head_);
        head_ = std::string();
        return decode(head, last);
    }
    return decode(bytes, last);
}

Status ITLibraryReader::decode(std::string_view bytes, bool last) {
    if (!converter_) return clean(bytes, last);
    do {
        const std::string_view slice = bytes.substr(0, kSliceSize);
        bytes.remove_prefix(slice.size());
        const bool end = last && bytes.empty();
        decoded_.clear();
        converter_->convert(slice, decoded_);
        if (end) converter_->finish(decoded_);
        if (auto status = clean(decoded_, end); !status) return status;
    } while (!bytes.empty());
    return success();
}

Status ITLibraryReader::clean(std::string_view bytes, bool last) {
    do {
        const std::string_view slice = bytes.substr(0, kSliceSize);
        bytes.remove_prefix(slice.size());
        const bool end = last && bytes.empty();
        if (scanner_) holdText();  // the scanner's buffer may move
        char* out = scanner_ ? scanner_->space(XmlByteCleaner::maxOutput(slice.size())) : cleaned_.get();
        std::size_t length = cleaner_.feed(slice, out);
        if (end) length += cleaner_.finish(out + length);
        if (scanner_) {
            if (scanner_->scan(length, end) == PlistScanner<ITLibraryReader>::State::GaveUp) return gaveUp();
        } else if (auto status = parse(std::string_view(out, length), end); !status) {
            return status;
        }
    } while (!bytes.empty());
    return success();
}

Status ITLibraryReader::parse(std::string_view text, bool end) {
    if (!prologRead_) {
        // The parser judges whether a declaration before the root element
        // is complete by looking for a ">", which a quoted literal may hold:
        // it is handed the whole prolog at once, never a piece of it.
        prolog_.append(text);
        if (!prologScanner_.scan(text) && !end) return success();
        prologRead_ = true;
        const std::string prolog = std::move(prolog_);
        prolog_ = std::string();
        return parseChunk(prolog, end);
    }
    return parseChunk(text, end);
}

Status ITLibraryReader::parseChunk(std::string_view text, bool end) {
    constexpr std::size_t kMostAtOnce = std::size_t{1} << 30;  // the parser counts bytes in an int
    // Where the text ends, counted as the parser counts: lines end at a
    // line feed, a carriage return or both, columns count characters.
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            if (c == '\r' || !endAfterReturn_) ++end_.line;
            end_.column = 1;
            endAfterReturn_ = c == '\r';
        } else {
            endAfterReturn_ = false;
            if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++end_.column;
        }
    }
    do {
        const std::string_view piece = text.substr(0, kMostAtOnce);
        text.remove_prefix(piece.size());
        const bool terminate = end && text.empty();
        const int status = xmlParseChunk(parser_.get(), piece.data(), static_cast<int>(piece.size()), terminate ? 1 : 0);
        if (status != XML_ERR_OK || !failure_.empty() || outOfMemory_) return failed();
    } while (!text.empty());
    return success();
}

Error ITLibraryReader::failed() const {
    if (!failure_.empty()) return Error{failure_};
    if (outOfMemory_ || parseError_.code == XML_ERR_NO_MEMORY) return outOfMemoryError(name_);
    if (parseError_.code == 0) {  // stopped without saying why
        return Error{malformed(name_, xmlSAX2GetLineNumber(parser_.get()), xmlSAX2GetColumnNumber(parser_.get()),
                               "error " + std::to_string(parser_->errNo))};
    }
    // Lines are those of the file. Columns count characters from 1 and are
    // where the parser noticed the error, mostly just after the offending
    // markup; they match the file's except after a surrogate pair written
    // as two character references on the same line, which the cleaner has
    // joined into one character.
    return Error{malformed(name_, parseError_.line, parseError_.column, parseError_.message)};
}

void ITLibraryReader::notALibrary(std::string_view reason) {
    if (failure_.empty()) failure_ = notALibraryError(name_, reason).description;
    if (parser_) xmlStopParser(parser_.get());
}

Status ITLibraryReader::finish() {
    // Whatever the scanner does not make a library of, the parser judges.
    if (scanner_ && (!sawRoot_ || !sawTracks_)) return gaveUp();
    if (!sawRoot_) return notALibraryError(name_, "it holds no top-level dictionary");
    if (!sawTracks_) return notALibraryError(name_, "its top-level dictionary has no \"Tracks\" dictionary");

    // Resolve playlist members by track ID; where two tracks claim one ID,
    // the first in the file keeps it.
    const auto resolve = [this](const auto& indexOf) {
        const auto& items = library_.items_;
        for (std::size_t p = 0; p < library_.playlists_.size(); ++p) {
            auto& members = library_.playlists_[p].items_;
            const auto& ids = memberIDs_[p];
            members.reserve(ids.size());
            for (const std::int64_t id : ids) {
                if (const std::uint32_t index = indexOf(id); index != kNoTrack) members.push_back(&items[index]);
            }
        }
    };
    if (trackIndex_.empty()) {
        resolve([](std::int64_t) { return kNoTrack; });
        return success();
    }
    const auto [low, high] = std::minmax_element(trackIndex_.begin(), trackIndex_.end(),
                                                 [](const auto& a, const auto& b) { return a.first < b.first; });
    const std::int64_t first = low->first, last = high->first;
    const std::uint64_t span = static_cast<std::uint64_t>(last) - static_cast<std::uint64_t>(first);
    if (span < 4 * static_cast<std::uint64_t>(trackIndex_.size()) + 1024) {
        // Track IDs are mostly dense: a table indexed by ID.
        const auto offset = [first](std::int64_t id) {
            return static_cast<std::size_t>(static_cast<std::uint64_t>(id) - static_cast<std::uint64_t>(first));
        };
        std::vector<std::uint32_t> table(static_cast<std::size_t>(span) + 1, kNoTrack);
        for (const auto& [id, index] : trackIndex_) {
            std::uint32_t& slot = table[offset(id)];
            if (slot == kNoTrack) slot = index;
        }
        resolve([&](std::int64_t id) { return id < first || id > last ? kNoTrack : table[offset(id)]; });
    } else {
        const auto byID = [](const auto& a, const auto& b) { return a.first < b.first; };
        if (!std::is_sorted(trackIndex_.begin(), trackIndex_.end(), byID)) {
            std::stable_sort(trackIndex_.begin(), trackIndex_.end(), byID);
        }
        resolve([&](std::int64_t id) {
            const auto it = std::lower_bound(trackIndex_.begin(), trackIndex_.end(), id,
                                             [](const auto& entry, std::int64_t value) { return entry.first < value; });
            return it != trackIndex_.end() && it->first == id ? it->second : kNoTrack;
        });
    }
    return success();
}

// The parser calls back through C frames: nothing may be thrown across
// them, so each callback turns an allocation failure into a stopped parser.
void ITLibraryReader::outOfMemory() noexcept {
    outOfMemory_ = true;
    if (parser_) xmlStopParser(parser_.get());
}

void ITLibraryReader::onStart(void* self, const XmlChar* name, const XmlChar* prefix, const XmlChar*, int,
                              const XmlChar**, int, int, const XmlChar**) {
    auto& reader = *static_cast<ITLibraryReader*>(self);
    if (reader.skipDepth_ != 0) {
        ++reader.skipDepth_;
        return;
    }
    try {
        // A prefixed name is none of the property list's elements.
        const Element element = prefix == nullptr ? reader.elementNamed(name) : Element::Other;
        reader.start(element, chars(name), chars(prefix));
    } catch (...) {
        reader.outOfMemory();
    }
}

void ITLibraryReader::onEnd(void* self, const XmlChar*, const XmlChar*, const XmlChar*) {
    auto& reader = *static_cast<ITLibraryReader*>(self);
    if (reader.skipDepth_ != 0) {
        --reader.skipDepth_;
        return;
    }
    try {
        reader.end();
    } catch (...) {
        reader.outOfMemory();
    }
}

void ITLibraryReader::onText(void* self, const XmlChar* text, int length) {
    auto& reader = *static_cast<ITLibraryReader*>(self);
    if (!reader.collecting_) return;
    try {
        reader.text_.append(chars(text), static_cast<std::size_t>(length));
    } catch (...) {
        reader.outOfMemory();
    }
}

void ITLibraryReader::onReference(void* self, const XmlChar* name) {
    auto& reader = *static_cast<ITLibraryReader*>(self);
    try {
        reader.reference(chars(name));
    } catch (...) {
        reader.outOfMemory();
    }
}

void ITLibraryReader::onEntityDecl(void* self, const XmlChar* name, int type, const XmlChar*, const XmlChar*,
                                   XmlChar*) {
    auto& reader = *static_cast<ITLibraryReader*>(self);
    if (type != XML_INTERNAL_GENERAL_ENTITY && type != XML_EXTERNAL_GENERAL_PARSED_ENTITY &&
        type != XML_EXTERNAL_GENERAL_UNPARSED_ENTITY) {
        return;  // a parameter entity: never expanded, and never met in content
    }
    try {
        reader.declaredEntities_.emplace(chars(name));
    } catch (...) {
        reader.outOfMemory();
    }
}

void ITLibraryReader::onError(void* self, const _xmlError* error) {
    auto& reader = *static_cast<ITLibraryReader*>(self);
    // Warnings and recoverable errors (a namespace prefix never bound, a
    // reference to an entity an unread external DTD may declare) leave the
    // document readable; the first fatal error is the one to report.
    if (error == nullptr || error->level != XML_ERR_FATAL || reader.parseError_.code != 0) return;
    try {
        reader.parseError(*error);
    } catch (...) {
        reader.outOfMemory();
    }
}

void ITLibraryReader::parseError(const _xmlError& error) {
    parseError_.code = error.code;
    parseError_.line = error.line;
    parseError_.column = error.int2;
    std::string_view message = error.message != nullptr ? error.message : "";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.remove_suffix(1);
    switch (error.code) {
        case XML_ERR_DOCUMENT_EMPTY:  // what the push parser says of a file of plain text
            parseError_.message = "Start tag expected, '<' not found";
            return;
        case XML_ERR_DOCUMENT_END:
            // At the end of the input the push parser calls an unfinished
            // document "extra content"; say that it was cut short.
            if (parser_->nameNr > 0 && parser_->name != nullptr) {
                parseError_.message = std::string("Premature end of data in tag ") + chars(parser_->name);
                // The data ended where the file did. (The parser may tell
                // where an unfinished CDATA section began instead, or a
                // place between, depending on how the text came in pieces.)
                parseError_.line = end_.line;
                parseError_.column = end_.column;
                return;
            }
            if (!sawRootElement_) {
                parseError_.message = "Premature end of data before the root element";
                return;
            }
            break;
        case XML_ERR_UNDECLARED_ENTITY:
            if (error.str1 != nullptr && declaredEntities_.contains(error.str1)) {
                parseError_.message = refusedEntity(error.str1);
                return;
            }
            break;
        default:
            break;
    }
    parseError_.message = message;
}

// A reference to an entity the parser does not know, in a document whose
// external DTD (never read) might declare it: kept as written, so nothing
// of the text is lost. One the document declares itself is refused, as the
// parser refuses it in a document without an external DTD.
void ITLibraryReader::reference(std::string_view name) {
    if (declaredEntities_.contains(std::string(name))) {
        if (failure_.empty()) {
            failure_ = malformed(name_, xmlSAX2GetLineNumber(parser_.get()), xmlSAX2GetColumnNumber(parser_.get()),
                                 refusedEntity(name));
        }
        xmlStopParser(parser_.get());
        return;
    }
    if (!collecting_) return;
    text_ += '&';
    text_ += name;
    text_ += ';';
}

// The parser hands on each element name as the one string its dictionary
// keeps for that name, so a name's kind is looked up by its address once
// it has been classified.
Element ITLibraryReader::elementNamed(const XmlChar* name) noexcept {
    const auto address = reinterpret_cast<std::uintptr_t>(name);
    const std::size_t slot = static_cast<std::size_t>((address * 0x9E3779B97F4A7C15ull) >> 60);
    auto& [cached, element] = elementNames_[slot];
    if (cached != name) {
        cached = name;
        element = plistElementNamed(chars(name));
    }
    return element;
}

void ITLibraryReader::start(Element element, const char* name, const char* prefix) {
    if (inLeaf_) {  // markup inside a value: not a property list value; ignore it
        skip();
        return;
    }
    switch (frames_.back()) {
        case Frame::Document:
            sawRootElement_ = true;
            if (element != Element::Plist) {
                std::string qualified = prefix != nullptr ? std::string(prefix) + ':' + name : std::string(name);
                notALibrary("its root element is <" + qualified + ">, not <plist>");
                return;
            }
            frames_.push_back(Frame::Plist);
            return;
        case Frame::Plist:
            if (sawRoot_) {
                skip();
                return;
            }
            sawRoot_ = true;
            if (element != Element::Dict) {
                notALibrary("its top level is not a dictionary");
                return;
            }
            frames_.push_back(Frame::Root);
            return;
        case Frame::Playlists:
            if (element == Element::Dict) {
                beginPlaylist();
            } else {
                skip();
            }
            return;
        case Frame::PlaylistItems:
            if (element == Element::Dict) {
                memberID_.reset();
                frames_.push_back(Frame::PlaylistItem);
            } else {
                skip();
            }
            return;
        case Frame::Root:
        case Frame::Tracks:
        case Frame::Track:
        case Frame::Playlist:
        case Frame::PlaylistItem:
            if (element == Element::Key) {
                beginLeaf(element, Key::None);
            } else {
                startValue(element);
            }
            return;
    }
}

void ITLibraryReader::startValue(Element element) {
    const Key key = pendingKey_;
    pendingKey_ = Key::None;
    const Frame frame = frames_.back();
    if (frame == Frame::Tracks) {
        if (element == Element::Dict) {
            beginTrack();
        } else {
            skip();
            trackKey_.reset();
        }
        return;
    }
    if (key == Key::None) {
        skip();
        return;
    }
    // A member's last "Track ID" is its ID, whatever its value.
    if (frame == Frame::PlaylistItem && key == Key::TrackID) memberID_.reset();
    const KeyInfo& info = kKeyTable.info(key);
    const std::uint8_t where = frame == Frame::Root    ? kInRoot
                               : frame == Frame::Track ? kInTrack
                               : frame == Frame::Playlist ? kInPlaylist
                                                          : kInMember;
    if ((info.where & where) == 0) {
        skip();
        return;
    }
    switch (info.value) {
        case Value::String:
            if (element == Element::String) return beginLeaf(element, key);
            break;
        case Value::Integer:
            if (element == Element::Integer) return beginLeaf(element, key);
            break;
        case Value::Date:
            if (element == Element::Date) return beginLeaf(element, key);
            break;
        case Value::Bool:
            if (element == Element::True || element == Element::False) return beginLeaf(element, key);
            break;
        case Value::Dict:  // "Tracks"
            if (element == Element::Dict) {
                sawTracks_ = true;
                frames_.push_back(Frame::Tracks);
                return;
            }
            break;
        case Value::Array:  // "Playlists" or "Playlist Items"
            if (element == Element::Array) {
                frames_.push_back(key == Key::Playlists ? Frame::Playlists : Frame::PlaylistItems);
                return;
            }
            break;
        case Value::Any:  // the key's presence is what counts
            playlistFlags_ |= key == Key::GeniusTrackID ? kGenius : kSmart;
            break;
    }
    skip();
}

void ITLibraryReader::beginLeaf(Element element, Key key) {
    inLeaf_ = true;
    leafElement_ = element;
    leafKey_ = key;
    if (element != Element::True && element != Element::False) {
        text_.clear();
        pieceHeld_ = false;
        collect(true);
    }
}

void ITLibraryReader::end() {
    if (inLeaf_) {
        inLeaf_ = false;
        collect(false);
        value_ = pieceHeld_ ? piece_ : std::string_view(text_);
        if (leafElement_ == Element::Key) {
            endKey();
        } else {
            endLeaf();
        }
        return;
    }
    const Frame frame = frames_.back();
    frames_.pop_back();
    pendingKey_ = Key::None;
    if (frame == Frame::Track) {
        finishTrack();
    } else if (frame == Frame::Playlist) {
        finishPlaylist();
    } else if (frame == Frame::PlaylistItem && memberID_) {
        memberIDs_.back().push_back(*memberID_);
    }
}

void ITLibraryReader::endKey() {
    if (frames_.back() == Frame::Tracks) {
        trackKey_ = parsePlistIdentifier(value_);
        return;
    }
    const KeyInfo* info = kKeyTable.find(value_);
    pendingKey_ = info ? info->key : Key::None;
}

void ITLibraryReader::endLeaf() {
    switch (frames_.back()) {
        case Frame::Track:
            endTrackLeaf();
            return;
        case Frame::Playlist:
            endPlaylistLeaf();
            return;
        case Frame::PlaylistItem:
            memberID_ = parsePlistIdentifier(value_);
            return;
        case Frame::Root:
            if (leafKey_ == Key::MusicFolder) {
                library_.musicFolderLocation_ = URL::fromString(value_);
                library_.mediaFolderLocation_ = library_.musicFolderLocation_;
            } else if (const auto version = parsePlistUnsigned(value_)) {
                (leafKey_ == Key::MajorVersion ? library_.apiMajorVersion_ : library_.apiMinorVersion_) = *version;
            }
            return;
        default:
            return;
    }
}

void ITLibraryReader::beginTrack() {
    item_ = &library_.items_.emplace_back();
    itemFlags_ = 0;
    trackID_.reset();
    frames_.push_back(Frame::Track);
}

void ITLibraryReader::endTrackLeaf() {
    ITLibMediaItem& item = *item_;
    const bool flag = leafElement_ == Element::True;
    switch (leafKey_) {
        case Key::Name: item.title_ = store(value_); break;
        case Key::TrackID: trackID_ = parsePlistIdentifier(value_); break;
        case Key::Artist: item.artistName_ = store(value_); break;
        case Key::Album: item.album_.title_ = store(value_); break;
        case Key::Composer: item.composer_ = store(value_); break;
        case Key::Genre: item.genre_ = store(value_); break;
        case Key::SortName: item.sortTitle_ = store(value_); break;
        case Key::SortComposer: item.sortComposer_ = store(value_); break;
        case Key::Kind: item.kind_ = store(value_); break;
        case Key::Comments: item.comments_ = store(value_); break;
        case Key::Grouping: item.grouping_ = store(value_); break;
        case Key::ContentRating: item.contentRating_ = store(value_); break;
        case Key::Location: item.location_ = value_.empty() ? std::string_view() : store(value_); break;  // as URL::fromString
        case Key::TrackType:
            if (value_ == "Remote") {
                itemFlags_ |= kRemote;
            } else {
                itemFlags_ &= ~kRemote;
            }
            break;
        case Key::PersistentID: item.persistentID_ = parsePersistentID(value_).value_or(0); break;
        case Key::BPM: setInteger(item.beatsPerMinute_, value_); break;
        case Key::Size:
            if (const auto size = parsePlistUnsigned(value_)) item.fileSize_ = *size;
            break;
        case Key::PlayCount: setInteger(item.playCount_, value_); break;
        case Key::Rating: setInteger(item.rating_, value_); break;
        case Key::SampleRate: setInteger(item.sampleRate_, value_); break;
        case Key::SkipCount: setInteger(item.skipCount_, value_); break;
        case Key::StartTime: setInteger(item.startTime_, value_); break;
        case Key::StopTime: setInteger(item.stopTime_, value_); break;
        case Key::TotalTime: setInteger(item.totalTime_, value_); break;
        case Key::TrackNumber: setInteger(item.trackNumber_, value_); break;
        case Key::VolumeAdjustment: setInteger(item.volumeAdjustment_, value_); break;
        case Key::Year: setInteger(item.year_, value_); break;
        case Key::DateAdded: item.setDate(ITLibMediaItem::kAdded, dateOf(value_)); break;
        case Key::DateModified: item.setDate(ITLibMediaItem::kModified, dateOf(value_)); break;
        case Key::PlayDateUTC: item.setDate(ITLibMediaItem::kLastPlayed, dateOf(value_)); break;
        case Key::ReleaseDate: item.setDate(ITLibMediaItem::kRelease, dateOf(value_)); break;
        case Key::SkipDate: item.setDate(ITLibMediaItem::kSkip, dateOf(value_)); break;
        case Key::Protected: item.setFlag(ITLibMediaItem::kDRMProtected, flag); break;
        case Key::HasVideo: item.setFlag(ITLibMediaItem::kVideo, flag); break;
        case Key::Purchased: item.setFlag(ITLibMediaItem::kPurchased, flag); break;
        case Key::RatingComputed: item.setFlag(ITLibMediaItem::kRatingComputed, flag); break;
        default:
            if (const std::uint32_t bit = trackFlag(leafKey_); bit != 0) {
                if (flag) {
                    itemFlags_ |= bit;
                } else {
                    itemFlags_ &= ~bit;
                }
            }
            break;
    }
}

void ITLibraryReader::finishTrack() {
    ITLibMediaItem& item = *item_;
    item.mediaKind_ = mediaKindOf(itemFlags_);
    item.setFlag(ITLibMediaItem::kCloud, (itemFlags_ & (kMatched | kAppleMusic | kPlaylistOnly | kRemote)) != 0);
    const std::optional<std::int64_t> id = trackID_ ? trackID_ : trackKey_;
    if (id) trackIndex_.emplace_back(*id, static_cast<std::uint32_t>(library_.items_.size() - 1));
    trackKey_.reset();
    trackID_.reset();
    item_ = nullptr;
}

void ITLibraryReader::beginPlaylist() {
    playlist_ = &library_.playlists_.emplace_back();
    memberIDs_.emplace_back();
    playlistFlags_ = 0;
    frames_.push_back(Frame::Playlist);
}

void ITLibraryReader::endPlaylistLeaf() {
    ITLibPlaylist& playlist = *playlist_;
    const bool flag = leafElement_ == Element::True;
    switch (leafKey_) {
        case Key::Name: playlist.name_ = store(value_); break;
        case Key::PlaylistPersistentID: playlist.persistentID_ = parsePersistentID(value_).value_or(0); break;
        case Key::ParentPersistentID: playlist.parentID_ = parsePersistentID(value_); break;
        case Key::Master: playlist.isMaster_ = flag; break;
        case Key::Visible: playlist.isVisible_ = flag; break;
        case Key::Folder:
            if (flag) {
                playlistFlags_ |= kFolder;
            } else {
                playlistFlags_ &= ~kFolder;
            }
            break;
        case Key::DistinguishedKind:
            if (const auto kind = parsePlistInteger(value_)) playlist.distinguishedKind_ = distinguishedKindOf(*kind);
            break;
        default: break;
    }
}

void ITLibraryReader::finishPlaylist() {
    ITLibPlaylist& playlist = *playlist_;
    playlist.kind_ = (playlistFlags_ & kFolder)   ? ITLibPlaylistKind::Folder
                     : (playlistFlags_ & kGenius) ? ITLibPlaylistKind::Genius
                     : (playlistFlags_ & kSmart)  ? ITLibPlaylistKind::Smart
                                                  : ITLibPlaylistKind::Regular;
    playlist_ = nullptr;
}

}  // namespace platform
