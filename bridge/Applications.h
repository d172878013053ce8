#pragma once
// The scripting interfaces the bridge uses of the music application, its
// tracks and the file manager, and the process-wide handles on the two
// applications, bound once by the process entry and kept until the process
// ends. The platform's application object answers both application
// interfaces and its generic scripting object the track interface.

#include <memory>

#include "platform/scripting/SBApplication.h"

namespace harmonode {

// `tracks`, `add:to:`
using iTunesApplication = platform::SBApplication;
// `delete`
using iTunesTrack = platform::SBObject;
// `items`
using FinderApplication = platform::SBApplication;

inline std::unique_ptr<iTunesApplication> itunes;
inline std::unique_ptr<FinderApplication> finder;

}  // namespace harmonode
