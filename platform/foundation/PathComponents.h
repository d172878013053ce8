#pragma once
// The parts of a file-system path as the platform's string type gives them,
// on UTF-16 text. Pure functions; thread-safe.

#include <string>
#include <string_view>

namespace platform {

// The last component: "/tmp/a.txt" gives "a.txt", "/tmp/" gives "tmp",
// "/" gives "/".
std::u16string lastPathComponent(std::u16string_view path);

// The last component's extension without the dot: "a.tar.gz" gives "gz";
// none ("") when the component has no dot after its first character
// (".profile", "README").
std::u16string pathExtension(std::u16string_view path);

// The path without its last component's extension and that dot:
// "backup.tar.gz" gives "backup.tar", "/tmp/a.txt" gives "/tmp/a"; a path
// with no extension comes back unchanged except for trailing slashes.
std::u16string stringByDeletingPathExtension(std::u16string_view path);

}  // namespace platform
