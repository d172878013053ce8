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
// and the error names the path and the system's reason.
//
// The temporary file has no name until it is complete, where the file
// system allows (otherwise, and for the moment between naming and renaming,
// it is ".<name>.tmp-XXXXXX", locked by its writer), so a writer that is
// killed leaves nothing behind, and each write first removes the named
// temporary files of `path` that no live writer holds.
//
// A replaced regular file keeps its permission bits (never setuid, setgid
// or sticky); anything else at `path`, a symbolic link included, is
// replaced by a new file of mode 0644. Safe to call from several threads
// and processes at once; the last rename wins.
Status writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace platform
