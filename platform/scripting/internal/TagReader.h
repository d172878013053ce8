#pragma once
// Runs the tag reader, the program harmonode-tags, on one open audio file
// and takes its answer. Private to platform/scripting.
//
// The tag reader is found beside the running executable (the folder of
// /proc/self/exe), or where the variable HARMONODE_TAGS_HELPER names it
// when that is set and not empty (for programs that do not live beside it,
// such as tests). It is started with posix_spawn (never a bare fork: the
// caller may have threads), the file as its standard input and a pipe as
// its standard output, and limits itself (AudioTags.h). It is killed once
// it has run kTagReaderWallSeconds or answered more than
// kTagReaderAnswerLimit bytes; every way it can end short of a whole answer
// is an error whose text says why. Blocks the calling thread until the
// reader has ended; thread-safe (the reader is a child of its own, waited
// for by its process ID alone).

#include <string>

#include "platform/foundation/Error.h"
#include "platform/scripting/internal/AudioTags.h"

namespace platform {

// The tags of the audio file open at `fd`, which the tag reader is given as
// its standard input (it shares the file's offset with the caller). The
// error texts are reasons ("reading its tags took longer than 5 seconds").
Result<AudioTags> readTagsInReader(int fd);

// Where the tag reader is looked for.
std::string tagReaderPath();

}  // namespace platform
