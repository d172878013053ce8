#pragma once
// The files that ship with the bridge, found from the folder of its own
// executable: installed, the bridge sits in <prefix>/libexec/harmonode/ and
// its data in <prefix>/share/harmonode/ (wherever the prefix is, an
// unpacked package included); in the build tree the build puts the data
// beside the bridge. Never a path of the source tree.
//
// Pure but for the file-system look-ups; thread-safe.

#include <optional>
#include <string>

namespace harmonode {

// The sample audio file that `test` imports, for a bridge whose executable
// is in `programFolder`: the installed one where it is, else the one beside
// the executable. When neither is there, the installed one's path, so that
// the failed import names the file it missed.
std::string sampleAudioFile(const std::string& programFolder);

// The same for this bridge. None when the system does not say where the
// executable is; the reason then goes to standard error.
std::optional<std::string> sampleAudioFile();

}  // namespace harmonode
