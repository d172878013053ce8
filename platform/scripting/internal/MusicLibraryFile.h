#pragma once
// The music library file as the music application keeps it on this
// platform: the XML export the library reader reads (same lookup,
// LibraryLocation.h), changed in place. Private to platform/scripting.
//
// Every change runs under an exclusive advisory lock (flock) on the file
// "<library>.lock" beside it, which the atomic replace of the library
// leaves alone, and listing the tracks under a shared one. Under the lock
// the library's outline (LibraryOutline.h) is taken: the one this process
// kept from its last command when the file is still the one it read or
// put in place then (same device, inode, size, modification and
// status-change time), else one made by reading the file again: its bytes
// are scanned, then dropped, and the reader reads the file on a thread of
// its own while the change's new file is written; nothing is put in place
// before the reader and the scan agree. A change is written as a new file
// made of the old file's bytes and the change's edits, piece by piece, and
// renamed into place (AtomicFileWriter) before the lock is released; the outline is then made to follow the change and
// kept with the new file's identity, while the file system's clock shows
// that any later change of the file would change that identity. A
// complete temporary file of the library left by a writer that was killed
// is removed when a change begins and again once it is saved. A
// cooperating tool takes the same lock for its own read-modify-write. A
// file the outline does not understand is never written. Thread-safe:
// calls run one at a time, each locking on its own.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/scripting/internal/AudioFile.h"

namespace platform {

// A track as a change finds it again: by persistent ID, and by track ID
// where several tracks share the persistent ID.
struct TrackHandle {
    std::uint64_t persistentID = 0;
    std::optional<std::int64_t> trackID;
};

// The library's tracks in library order.
Result<std::vector<TrackHandle>> libraryTracks();

// The largest entry of one new track in the library file: 64 KiB. Its
// texts are bounded (kTagTextLimit) so that it holds them all, escaped, with
// room to spare; a larger entry is never written.
inline constexpr std::size_t kTrackEntryLimit = std::size_t{64} << 10;

// Adds one track per file to the library and to its master playlist's
// items; gives the new tracks in the order of `files`. An error, and
// nothing written, when the entry of one of them would pass
// kTrackEntryLimit.
Result<std::vector<TrackHandle>> addLibraryTracks(const std::vector<AudioFileInfo>& files);

// Removes the track and every playlist member entry that names its track
// ID. An error when no track, or more than one, is that track.
Status deleteLibraryTrack(const TrackHandle& track);

// `text` as character data of the library file: "&", "<" and ">" written
// as the export writes them ("&#38;", "&#60;", "&#62;"), a carriage return
// as "&#13;" so that it survives reading, characters XML cannot hold as
// U+FFFD, and with `asciiOnly` everything beyond ASCII as a character
// reference. Bytes that are not UTF-8 become U+FFFD first.
std::string plistText(std::string_view text, bool asciiOnly);

}  // namespace platform
