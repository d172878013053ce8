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
#include <limits>
#include <random>
#include <unordered_set>

#include "platform/foundation/File.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UTF8.h"
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

// One replacement of the file's bytes [begin, end).
struct Edit {
    std::size_t begin, end;
    std::string text;
};

std::string splice(std::string_view bytes, std::vector<Edit> edits) {
    std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
    std::string out;
    std::size_t size = bytes.size();
    for (const Edit& edit : edits) size += edit.text.size();
    out.reserve(size);
    std::size_t at = 0;
    for (const Edit& edit : edits) {
        out.append(bytes.substr(at, edit.begin - at));
        out.append(edit.text);
        at = std::max(at, edit.end);
    }
    out.append(bytes.substr(at));
    return out;
}

// Runs `change` on the library under the lock and saves what it gives; no
// edits, nothing is written.
Status changeLibrary(const std::function<Result<std::vector<Edit>>(const LibraryOutline&)>& change) {
    const Result<std::string> path = libraryPath();
    if (!path) return path.error();
    const std::string lockPath = path.value() + ".lock";
    const FileDescriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock) return systemError("lock the music library with", lockPath, errno);
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return systemError("lock the music library with", lockPath, errno);
    }
    // Closing the descriptor releases the lock, after the save.
    removeLeftoverTemporaries(path.value());
    const Result<std::string> bytes = readFile(path.value());
    if (!bytes) return bytes.error();
    const Result<LibraryOutline> outline = LibraryOutline::of(bytes.value(), path.value());
    if (!outline) return outline.error();
    const Result<std::vector<Edit>> edits = change(outline.value());
    if (!edits) return edits.error();
    if (edits.value().empty()) return success();
    return writeFileAtomically(path.value(), splice(bytes.value(), edits.value()));
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
std::string locationOf(const std::string& path, const ITLibrary& library) {
    std::string location = URL::fileURLWithPath(path).absoluteString();
    for (const auto& item : library.allMediaItems()) {
        if (!item.location() || !item.location()->isFileURL()) continue;
        if (item.location()->absoluteString().starts_with("file://localhost/")) location.insert(7, "localhost");
        break;
    }
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

std::string memberEntry(const EntryLayout& layout, std::int64_t trackID) {
    return layout.lead + "<dict>" + layout.field + "<key>Track ID</key>" + layout.keyToValue + "<integer>" +
           std::to_string(trackID) + "</integer>" + layout.close + "</dict>";
}

Result<std::vector<Edit>> additions(const LibraryOutline& outline, const std::vector<AudioFileInfo>& files,
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

    std::unordered_set<std::uint64_t> taken;
    for (const auto& item : outline.library().allMediaItems()) taken.insert(item.persistentID());
    for (const auto& playlist : outline.library().allPlaylists()) taken.insert(playlist.persistentID());
    std::random_device random;
    const auto newPersistentID = [&] {
        for (;;) {
            const std::uint64_t id = (static_cast<std::uint64_t>(random()) << 32) ^ random();
            if (id != 0 && taken.insert(id).second) return id;
        }
    };

    const std::string date = utcDateNow();
    TrackEntryWriter writer(outline.trackLayout(), outline.asciiOnly());
    std::string entries, members;
    for (const AudioFileInfo& file : files) {
        const TrackHandle track{newPersistentID(), ++highest};
        const std::string entry =
            writer.entry(file, *track.trackID, track.persistentID, date, locationOf(file.path, outline.library()));
        if (entry.size() > kTrackEntryLimit) {
            return Error{"the entry of \"" + shownPath(file.path) + "\" would be larger than " +
                         std::to_string(kTrackEntryLimit) + " bytes"};
        }
        entries += entry;
        members += memberEntry(outline.memberLayout(), *track.trackID);
        added.push_back(track);
    }

    std::vector<Edit> edits;
    const OutlineContainer& tracks = outline.tracksContainer();
    if (tracks.emptyElement) {
        edits.push_back({tracks.startTag.begin, tracks.startTag.end,
                         "<dict>" + entries + outline.trackLayout().containerClose + "</dict>"});
    } else {
        edits.push_back({tracks.append, tracks.append, entries});
    }
    const auto master = std::find_if(outline.playlists().begin(), outline.playlists().end(),
                                     [](const OutlinePlaylist& playlist) { return playlist.master; });
    if (master != outline.playlists().end()) {
        const std::string array = "<array>" + members + outline.memberLayout().containerClose + "</array>";
        if (master->items && master->items->emptyElement) {
            edits.push_back({master->items->startTag.begin, master->items->startTag.end, array});
        } else if (master->items) {
            edits.push_back({master->items->append, master->items->append, members});
        } else if (master->keyAppend) {
            edits.push_back({*master->keyAppend, *master->keyAppend,
                             master->field + "<key>Playlist Items</key>" + master->keyToValue + array});
        }
    }
    return edits;
}

Result<std::vector<Edit>> removal(const LibraryOutline& outline, const TrackHandle& wanted) {
    const auto& tracks = outline.tracks();
    std::vector<const OutlineTrack*> matches;
    for (const auto& track : tracks) {
        if (track.persistentID == wanted.persistentID) matches.push_back(&track);
    }
    if (matches.size() > 1 && wanted.trackID) {
        std::erase_if(matches, [&](const OutlineTrack* track) { return track->trackID != wanted.trackID; });
    }
    if (matches.empty()) return Error{"no track " + formatPersistentID(wanted.persistentID) + " in the library"};
    if (matches.size() > 1) {
        return Error{"more than one track " + formatPersistentID(wanted.persistentID) + " in the library"};
    }
    const OutlineTrack& track = *matches.front();
    std::vector<Edit> edits{{track.entry.begin, track.entry.end, {}}};
    // Members name tracks by track ID: while another track has the same ID,
    // they stay, since they may be that track's.
    const bool shared = std::count_if(tracks.begin(), tracks.end(), [&](const OutlineTrack& other) {
                            return other.trackID == track.trackID;
                        }) > 1;
    if (track.trackID && !shared) {
        for (const auto& playlist : outline.playlists()) {
            for (const auto& member : playlist.members) {
                if (member.trackID == track.trackID) edits.push_back({member.entry.begin, member.entry.end, {}});
            }
        }
    }
    return edits;
}

void appendReference(std::string& out, char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "&#%u;", static_cast<unsigned>(c));
    out += text;
}

}  // namespace

Result<std::vector<TrackHandle>> libraryTracks() {
    const Result<std::string> path = libraryPath();
    if (!path) return path.error();
    const Result<std::string> bytes = readFile(path.value());
    if (!bytes) return bytes.error();
    const Result<LibraryOutline> outline = LibraryOutline::of(bytes.value(), path.value());
    if (!outline) return outline.error();
    std::vector<TrackHandle> tracks;
    tracks.reserve(outline.value().tracks().size());
    for (const auto& track : outline.value().tracks()) tracks.push_back({track.persistentID, track.trackID});
    return tracks;
}

Result<std::vector<TrackHandle>> addLibraryTracks(const std::vector<AudioFileInfo>& files) {
    if (files.empty()) return std::vector<TrackHandle>{};
    std::vector<TrackHandle> added;
    const Status saved = changeLibrary([&](const LibraryOutline& outline) {
        added.clear();
        return additions(outline, files, added);
    });
    if (!saved) return saved.error();
    return added;
}

Status deleteLibraryTrack(const TrackHandle& track) {
    return changeLibrary([&](const LibraryOutline& outline) { return removal(outline, track); });
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
