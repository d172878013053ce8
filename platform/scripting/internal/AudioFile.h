#pragma once
// What an audio file tells of itself: its tags and audio properties, as the
// music application takes them when it imports the file. Private to
// platform/scripting. The file is opened here; TagLib reads it only in the
// tag reader, a process of its own with limits of its own (TagReader.h,
// AudioTags.h), so that no file can take the caller down. Thread-safe.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/scripting/internal/AudioTags.h"

namespace platform {

struct AudioFileInfo : AudioTags {
    // Where the file is: the path the system opened for the path given,
    // every symbolic link and "." or ".." part resolved through the file
    // system.
    std::string path;
    std::uint64_t size = 0;  // bytes
};

// The facts of the audio file at `path` (a relative path is taken against
// the working directory). A title that is missing (absent, empty, or not
// decodable) is the file's name without its extension. An error, whose text
// names the path (bytes that are not UTF-8 shown as U+FFFD) and says why,
// when the path holds a NUL or ends in "/" while naming a file, when there
// is no such file, when it is not a regular file or cannot be read, when it
// is not audio the tag reader reads (the type is told by the content, not by
// the name), or when reading it reaches one of the tag reader's limits.
Result<AudioFileInfo> readAudioFile(const std::string& path);

}  // namespace platform
