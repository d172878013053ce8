#pragma once
// Internal to the AppKit model: how a sheet that has begun reaches the user
// agent. Not part of the stand-in's face.

#include <functional>
#include <string>

#include "platform/appkit/NSApplication.h"

namespace platform::appkit::detail {

// Submits one block to the main queue that asks the user agent installed at
// that time about the sheet: ask(agent). With no agent it logs one line,
// "No user agent answers the sheet: " and `ending` (what the system does
// instead), and runs systemEnds(); so it does too when the agent throws.
void presentSheet(std::function<void(NSUserAgent&)> ask, std::function<void()> systemEnds, std::string ending);

}  // namespace platform::appkit::detail
