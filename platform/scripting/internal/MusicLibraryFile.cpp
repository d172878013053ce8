#include "platform/scripting/internal/MusicLibraryFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <system_error>
#include <thread>

#include "platform/foundation/File.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UTF8.h"
#include "platform/itlibrary/ITLibrary.h"
#include "platform/itlibrary/LibraryLocation.h"
#include "platform/itlibrary/LibraryOutline.h"

namespace platform {
namespace {

// The library file the reader would open, with symbolic links resolved, so
// that a save replaces the file itself and not a link to it.
Result<std::string> libraryPath() {
    Result<std::string> found = musicLibraryFilePath();
    if (!found) return found.error();
    char resolved[PATH_MAX];
    if (::realpath(found.value().c_str(), resolved) == nullptr) return systemError("open", found.value(), errno);
    return std::string(resolved);
}

// The library as this process last read or wrote it: the outline of the
// file at `path` that had `identity`. Kept from one command to the next, so
// that a change to an unchanged file needs neither a read nor a scan of it.
struct KeptLibrary {
    std::string path;
    FileIdentity identity;
    LibraryOutline outline;
    bool agreed = false;  // the reader and the outline agree (never kept otherwise)
};

std::mutex gKeptMutex;                // held for a whole command
std::optional<KeptLibrary> gKept;     // under gKeptMutex

// The library file open for one command, with its outline kept; for an
// outline made afresh, the reader's reading of the file, which runs on a
// thread of its own until agreed() waits for it.
struct OpenLibrary {
    FileDescriptor file;
    FileIdentity identity;
    std::future<Result<ReaderListing>> reading;
};

Result<FileIdentity> identityOf(int fd, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return systemError("read", path, errno);
    if (!S_ISREG(st.st_mode)) return Error{"could not read \"" + shownPath(path) + "\": it is not a regular file"};
    return FileIdentity::of(st);
}

Result<ReaderListing> readerListing(const std::string& path) {
    Result<std::unique_ptr<ITLibrary>> library = ITLibrary::initWithFile(path);
    if (!library) return library.error();
    return ReaderListing(*library.value());
}

// Opens the library file at `path` and makes `gKept` its outline: the kept
// one when the file is the one it was made of, else one made from the file
// (whose bytes are dropped once scanned, before the reader reads the file,
// so that the two are never held at once).
Result<OpenLibrary> openLibrary(const std::string& path) {
    OpenLibrary open{FileDescriptor(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)), {}, {}};
    if (!open.file) return systemError("read", path, errno);
    const Result<FileIdentity> identity = identityOf(open.file.get(), path);
    if (!identity) return identity.error();
    open.identity = identity.value();
    if (gKept && gKept->path == path && gKept->identity == open.identity) return open;

    gKept.reset();
    std::optional<LibraryOutline> outline;
    {
        const Result<std::string> bytes = readFile(open.file.get(), path);
        if (!bytes) return bytes.error();
        Result<LibraryOutline> scanned = LibraryOutline::scan(bytes.value(), path);
        if (scanned) outline.emplace(std::move(scanned.value()));
        if (!scanned) {
            // The reader's word on a file it does not read comes first.
            if (Result<ReaderListing> read = readerListing(path); !read) return read.error();
            return scanned.error();
        }
    }
    open.reading = std::async(std::launch::async, readerListing, path);
    gKept = KeptLibrary{path, open.identity, std::move(*outline)};
    return open;
}

// Waits for the reader's reading of a fresh outline, if any, and keeps the
// outline only where the reader read this very file, unchanged, and agrees
// with it: nothing may be written before this has said so.
Status agreed(OpenLibrary& open, const std::string& path) {
    if (!open.reading.valid()) return success();
    Result<ReaderListing> read = open.reading.get();
    if (!read) {
        gKept.reset();
        return read.error();
    }
    // The reader opened the path itself: it read this file only if the
    // path still names it, unchanged.
    struct stat named {};
    const Result<FileIdentity> now = identityOf(open.file.get(), path);
    if (!now || now.value() != open.identity || ::stat(path.c_str(), &named) != 0 ||
        FileIdentity::of(named) != open.identity) {
        gKept.reset();
        return Error{"The music library file \"" + shownPath(path) + "\" changed while it was read; nothing was written"};
    }
    if (Status agrees = gKept->outline.agreeWith(read.value(), path); !agrees) {
        gKept.reset();
        return agrees;
    }
    gKept->agreed = true;
    return success();
}

// The library anew in a temporary file, not yet in place: the bytes of
// `source` with `edits` made, piece by piece.
Result<AtomicFileWriter> writeNew(const std::string& path, const OpenLibrary& source,
                                  const std::vector<OutlineEdit>& edits) {
    Result<AtomicFileWriter> file = AtomicFileWriter::create(path);
    if (!file) return file;
    std::uint64_t at = 0;
    for (const OutlineEdit& edit : edits) {
        file.value().copy(source.file.get(), at, edit.begin - at);
        file.value().write(edit.text);
        at = edit.end;
    }
    file.value().copy(source.file.get(), at, source.identity.size - at);
    return file;
}

// Puts the file `writeNew` made in place, unless a tool that does not lock
// wrote the library meanwhile: then what was copied is not what the
// outline describes.
Status putInPlace(AtomicFileWriter& file, const std::string& path, const OpenLibrary& source, FileIdentity& placed) {
    struct stat st {};
    if (::fstat(source.file.get(), &st) != 0 || FileIdentity::of(st) != source.identity) {
        return Error{"The music library file \"" + shownPath(path) + "\" changed while it was being saved; nothing was written"};
    }
    return file.commit(&placed);
}

// The change a command makes of the library, made with its outline.
using Change = std::function<Result<OutlineChange>(const LibraryOutline&)>;

// Runs `change` on the library under the lock and saves what it gives (no
// edits, nothing is written). Without a change (`change` empty) only
// reads, under a shared lock, and hands the outline to `read`.
Status useLibrary(const Change& change, const std::function<void(const LibraryOutline&)>& read = {}) {
    const std::lock_guard<std::mutex> command(gKeptMutex);
    const Result<std::string> path = libraryPath();
    if (!path) return path.error();
    const std::string lockPath = path.value() + ".lock";
    FileDescriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock && change) return systemError("lock the music library with", lockPath, errno);
    while (lock && ::flock(lock.get(), change ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) return systemError("lock the music library with", lockPath, errno);
    }
    // Closing the descriptor releases the lock, after the save.
    // The outline is kept only while a later change of the file would show
    // in its identity; so it is tested against the clock of the lock's file
    // system, whatever the command came to, and never kept without the lock.
    struct KeepOnlyWhileChangesShow {
        int lock;
        ~KeepOnlyWhileChangesShow() {
            if (gKept && (!gKept->agreed || lock < 0 || !laterChangesShow(gKept->identity, lock))) gKept.reset();
        }
    } const keep{lock.get()};
    if (change) removeLeftoverTemporaries(path.value());
    Result<OpenLibrary> open = openLibrary(path.value());
    if (!open) return open.error();
    if (!change) {
        if (Status confirmed = agreed(open.value(), path.value()); !confirmed) return confirmed;
        if (read) read(gKept->outline);
        return success();
    }
    Result<OutlineChange> made = change(gKept->outline);
    // A fresh outline's new file is written while the reader reads the old
    // one, and put in place only once the two agree; should the reader
    // write locations otherwise than the scan guessed, it is made again.
    const bool localhost = gKept->outline.localhostLocations();
    std::optional<Result<AtomicFileWriter>> file;
    if (made && !made.value().edits().empty()) file.emplace(writeNew(path.value(), open.value(), made.value().edits()));
    if (Status confirmed = agreed(open.value(), path.value()); !confirmed) return confirmed;
    if (gKept->outline.localhostLocations() != localhost) {
        file.reset();
        made = change(gKept->outline);
        if (made && !made.value().edits().empty()) file.emplace(writeNew(path.value(), open.value(), made.value().edits()));
    }
    if (!made) return made.error();
    if (!file) return success();  // no edits: nothing to write
    if (!file->ok()) return file->error();
    FileIdentity placed;
    if (Status saved = putInPlace(file->value(), path.value(), open.value(), placed); !saved) return saved;
    // The replaced file's data is freed as its last descriptor closes,
    // which takes a while for a large file: not in the caller's time
    // (or here, when no thread can be had).
    try {
        std::thread([file = std::move(open.value().file)]() mutable { file.reset(); }).detach();
    } catch (const std::system_error&) {
    }
    // The file is saved, whatever happens to the outline now.
    bool follows = false;
    try {
        follows = gKept->outline.apply(made.value());
    } catch (const std::bad_alloc&) {
    }
    if (follows) {
        gKept->identity = placed;
    } else {
        gKept.reset();
    }
    return success();
}

std::string formatPersistentID(std::uint64_t id) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(id));
    return text;
}

std::string utcDateNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The location of `path` as the library writes its locations: a
// percent-encoded file URL, with "file://localhost/" where the library's
// own locations have that form.
std::string locationOf(const std::string& path, const LibraryOutline& outline) {
    std::string location = URL::fileURLWithPath(path).absoluteString();
    if (outline.localhostLocations()) location.insert(7, "localhost");
    return location;
}

// The text of one new track's entry in "Tracks", with the fields in the
// order the music application writes them.
class TrackEntryWriter {
public:
    TrackEntryWriter(const EntryLayout& layout, bool asciiOnly) : layout_(layout), asciiOnly_(asciiOnly) {}

    std::string entry(const AudioFileInfo& file, std::int64_t trackID, std::uint64_t persistentID,
                      const std::string& date, const std::string& location) {
        out_.clear();
        const std::string id = std::to_string(trackID);
        out_ += layout_.lead + "<key>" + id + "</key>" + layout_.keyToDict + "<dict>";
        value("Track ID", "integer", id);
        text("Name", file.title);
        text("Artist", file.artist);
        text("Album Artist", file.albumArtist);
        text("Composer", file.composer);
        text("Album", file.album);
        text("Genre", file.genre);
        text("Kind", file.kind);
        number("Size", static_cast<std::int64_t>(std::min<std::uint64_t>(file.size, INT64_MAX)));
        number("Total Time", file.totalTime);
        number("Disc Number", file.discNumber);
        number("Disc Count", file.discCount);
        number("Track Number", file.trackNumber);
        number("Track Count", file.trackCount);
        number("Year", file.year);
        value("Date Modified", "date", date);
        value("Date Added", "date", date);
        number("Bit Rate", file.bitRate);
        number("Sample Rate", file.sampleRate);
        text("Comments", file.comments);
        value("Persistent ID", "string", formatPersistentID(persistentID));
        value("Track Type", "string", "File");
        text("Location", location);
        out_ += layout_.close + "</dict>";
        return out_;
    }

private:
    void value(std::string_view key, std::string_view type, std::string_view content) {
        out_ += layout_.field;
        out_ += "<key>";
        out_ += key;
        out_ += "</key>";
        out_ += layout_.keyToValue;
        out_ += '<';
        out_ += type;
        out_ += '>';
        out_ += content;
        out_ += "</";
        out_ += type;
        out_ += '>';
    }
    void text(std::string_view key, const std::optional<std::string>& content) {
        if (content) value(key, "string", plistText(*content, asciiOnly_));
    }
    // Numbers the file does not have (0) are left out, as the export does.
    void number(std::string_view key, std::int64_t content) {
        if (content != 0) value(key, "integer", std::to_string(content));
    }

    const EntryLayout& layout_;
    bool asciiOnly_;
    std::string out_;
};

Result<OutlineChange> additions(const LibraryOutline& outline, const std::vector<AudioFileInfo>& files,
                                std::vector<TrackHandle>& added) {
    // New track IDs follow the highest the file uses, members included, so
    // that no member left naming a removed track comes to name a new one.
    std::int64_t highest = 0;
    for (const auto& track : outline.tracks()) highest = std::max(highest, track.trackID.value_or(0));
    for (const auto& playlist : outline.playlists()) {
        for (const auto& member : playlist.members) highest = std::max(highest, member.trackID.value_or(0));
    }
    if (highest > std::numeric_limits<std::int64_t>::max() - static_cast<std::int64_t>(files.size())) {
        return Error{"the library's track IDs are exhausted"};
    }

    // A random ID is all but never taken; each is checked all the same.
    const auto taken = [&](std::uint64_t id) {
        return std::any_of(outline.tracks().begin(), outline.tracks().end(), [&](const auto& t) { return t.persistentID == id; }) ||
               std::any_of(outline.playlists().begin(), outline.playlists().end(),
                           [&](const auto& p) { return p.persistentID == id; }) ||
               std::any_of(added.begin(), added.end(), [&](const TrackHandle& t) { return t.persistentID == id; });
    };
    std::random_device random;
    const auto newPersistentID = [&] {
        for (;;) {
            const std::uint64_t id = (static_cast<std::uint64_t>(random()) << 32) ^ random();
            if (id != 0 && !taken(id)) return id;
        }
    };

    const std::string date = utcDateNow();
    TrackEntryWriter writer(outline.trackLayout(), outline.asciiOnly());
    std::vector<NewTrackEntry> entries;
    for (const AudioFileInfo& file : files) {
        const TrackHandle track{newPersistentID(), ++highest};
        std::string entry = writer.entry(file, *track.trackID, track.persistentID, date, locationOf(file.path, outline));
        if (entry.size() > kTrackEntryLimit) {
            return Error{"the entry of \"" + shownPath(file.path) + "\" would be larger than " +
                         std::to_string(kTrackEntryLimit) + " bytes"};
        }
        entries.push_back({std::move(entry), *track.trackID, track.persistentID});
        added.push_back(track);
    }
    return outline.addition(std::move(entries));
}

Result<OutlineChange> removal(const LibraryOutline& outline, const TrackHandle& wanted) {
    const auto& tracks = outline.tracks();
    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].persistentID == wanted.persistentID) matches.push_back(i);
    }
    if (matches.size() > 1 && wanted.trackID) {
        std::erase_if(matches, [&](std::size_t i) { return tracks[i].trackID != wanted.trackID; });
    }
    if (matches.empty()) return Error{"no track " + formatPersistentID(wanted.persistentID) + " in the library"};
    if (matches.size() > 1) {
        return Error{"more than one track " + formatPersistentID(wanted.persistentID) + " in the library"};
    }
    return outline.removal(matches.front());
}

void appendReference(std::string& out, char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "&#%u;", static_cast<unsigned>(c));
    out += text;
}

}  // namespace

Result<std::vector<TrackHandle>> libraryTracks() {
    std::vector<TrackHandle> tracks;
    const Status status = useLibrary({}, [&](const LibraryOutline& outline) {
        tracks.reserve(outline.tracks().size());
        for (const auto& track : outline.tracks()) tracks.push_back({track.persistentID, track.trackID});
    });
    if (!status) return status.error();
    return tracks;
}

Result<std::vector<TrackHandle>> addLibraryTracks(const std::vector<AudioFileInfo>& files) {
    if (files.empty()) return std::vector<TrackHandle>{};
    std::vector<TrackHandle> added;
    const Status saved = useLibrary([&](const LibraryOutline& outline) {
        added.clear();
        return additions(outline, files, added);
    });
    if (!saved) return saved.error();
    return added;
}

Status deleteLibraryTrack(const TrackHandle& track) {
    return useLibrary([&](const LibraryOutline& outline) { return removal(outline, track); });
}

std::string plistText(std::string_view text, bool asciiOnly) {
    const std::string valid = decodeUTF8Lossy(text);
    std::string out;
    out.reserve(valid.size() + 16);
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const auto lead = static_cast<unsigned char>(valid[i]);
        if (lead < 0x80) {
            switch (lead) {
                case '&': out += "&#38;"; break;
                case '<': out += "&#60;"; break;
                case '>': out += "&#62;"; break;
                case '\r': out += "&#13;"; break;
                default:
                    // XML holds no other control character, not even as a reference.
                    if (lead < 0x20 && lead != '\t' && lead != '\n') {
                        out += asciiOnly ? "&#65533;" : "\xEF\xBF\xBD";
                    } else {
                        out += static_cast<char>(lead);
                    }
            }
            continue;
        }
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::string_view sequence = std::string_view(valid).substr(i, length);
        i += length - 1;
        if (sequence == "\xEF\xBF\xBE" || sequence == "\xEF\xBF\xBF") sequence = "\xEF\xBF\xBD";  // not characters
        if (!asciiOnly) {
            out += sequence;
            continue;
        }
        char32_t c = lead & (0xFFu >> (length + 1));
        for (std::size_t k = 1; k < sequence.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(sequence[k]) & 0x3Fu);
        appendReference(out, c);
    }
    return out;
}

}  // namespace platform
