#pragma once
// Whole-file writes as the platform's atomic data writing does them.

#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace platform {

// Writes `bytes` to `path` atomically: into a new temporary file in the same
// folder, flushed to disk, then renamed over `path` in one step. A reader
// sees either the old file or the complete new one. On failure the
// temporary file is removed, an existing file at `path` is left as it was,
// and the error names the path and the system's reason. A new file gets
// mode 0644; a replaced file keeps its mode.
Status writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace platform
