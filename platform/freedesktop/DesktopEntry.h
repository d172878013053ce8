#pragma once
// Desktop entries: the "<id>.desktop" files that describe the applications
// installed for the user, found in the applicationFolders() of
// BaseDirectories.h. An id found in a more important folder hides the same id
// further down; an entry marked Hidden counts as deleted and hides it too.
// Only entries directly in a folder are found, not those in subfolders.
//
// Everything here reads the file system when called; nothing is cached. The
// functions read the environment (see BaseDirectories.h).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::freedesktop {

struct DesktopEntry {
    std::string id;    // the file name without ".desktop"
    std::string path;  // where it was found
    std::string name;  // Name of the [Desktop Entry] group, escapes undone
    std::string exec;  // Exec, escapes undone; empty when there is none
};

// The entry of `id` (without ".desktop") that applies, or none when no folder
// has one, the one that applies is marked Hidden or is not a readable
// desktop entry, or `id` cannot name a file in a folder (empty, "/", NUL).
std::optional<DesktopEntry> findDesktopEntry(std::string_view id);

// Every entry that applies and has type Application, most important folder
// first and by id within a folder.
std::vector<DesktopEntry> applicationEntries();

// The program an Exec value starts: its first word, with the quoting of the
// convention undone ("a b" in double quotes, \" \` \$ \\ inside them).
std::string execProgram(std::string_view exec);

}  // namespace platform::freedesktop
