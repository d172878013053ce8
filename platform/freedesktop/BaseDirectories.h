#pragma once
// The freedesktop base directories, as the environment names them when the
// call is made: $XDG_DATA_HOME (default ~/.local/share), $XDG_DATA_DIRS
// (default /usr/local/share:/usr/share) and $XDG_CONFIG_HOME (default
// ~/.config). A relative path in any of them is ignored, as the convention
// asks. The home folder is $HOME, else the user database's entry.
//
// The functions read the environment; like getenv they must not run while
// another thread changes it.

#include <optional>
#include <string>
#include <vector>

namespace platform::freedesktop {

// None when neither the variable nor a home folder is known.
std::optional<std::string> dataHome();
std::optional<std::string> configHome();

std::vector<std::string> dataDirs();

// The "applications" folders where desktop entries live, most important
// first: the one under dataHome(), then one under each of dataDirs().
std::vector<std::string> applicationFolders();

}  // namespace platform::freedesktop
