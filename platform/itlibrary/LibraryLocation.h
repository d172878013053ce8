#pragma once
// Where the music library file is on this platform: the path in the
// variable HARMONODE_MUSIC_LIBRARY when it is set and not empty, else the
// first existing of $HOME/Music/Music/Library.xml,
// $HOME/Music/iTunes/iTunes Music Library.xml and
// $HOME/Music/iTunes/iTunes Library.xml.

#include <string>
#include <vector>

#include "platform/foundation/Error.h"

namespace platform {

// The places looked at, in order (the override alone when it is set).
std::vector<std::string> musicLibraryCandidates();

// The library file's path, or an error naming every place looked at.
Result<std::string> musicLibraryFilePath();

}  // namespace platform
