#pragma once
// What an audio file tells of itself, read with TagLib: its tags and audio
// properties, as the music application takes them when it imports the
// file. Private to platform/scripting. Pure functions; thread-safe.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

namespace platform {

struct AudioFileInfo {
    std::string path;  // absolute, without "." or ".." parts
    // Tags; a tag that is absent or empty is none, except the title, which
    // falls back to the file's name without its extension.
    std::optional<std::string> title, artist, albumArtist, composer, album, genre, comments;
    // Numbers; 0 where the file has none.
    int year = 0, trackNumber = 0, trackCount = 0, discNumber = 0, discCount = 0;
    std::int64_t totalTime = 0;  // milliseconds
    int bitRate = 0;             // kilobits per second
    int sampleRate = 0;          // hertz
    std::uint64_t size = 0;      // bytes
    std::string kind;            // as the music application names the file type: "MPEG audio file"
};

// The facts of the audio file at `path` (a relative path is taken against
// the working directory). An error when there is no such file, when it is
// not a regular file or cannot be read, or when it is not audio TagLib
// reads (the type is told by the content, not by the name).
Result<AudioFileInfo> readAudioFile(const std::string& path);

}  // namespace platform
