#pragma once
// Where the running program's executable is, for the files that ship with it
// and are found relative to it (the same wherever it is installed or
// unpacked, and in the build tree).
//
// Read from /proc/self/exe at each call, so symbolic links to the program
// are resolved: a link elsewhere leads to the files beside the real file.
// Thread-safe; nothing here throws but std::bad_alloc.

#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace platform {

// The absolute path of the folder that holds the running executable.
Result<std::string> executableFolder();

// The path of the file `name` in the folder of the running executable (a
// helper program installed beside it, say), whether or not it exists.
Result<std::string> besideExecutable(std::string_view name);

}  // namespace platform
