#pragma once
// The process-wide handles on the music application and the file manager,
// bound once by the process entry and kept until the process ends.

#include <memory>

#include "platform/scripting/SBApplication.h"

namespace harmonode {

inline std::unique_ptr<platform::SBApplication> itunes;
inline std::unique_ptr<platform::SBApplication> finder;

}  // namespace harmonode
