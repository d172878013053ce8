#include "bridge/MusicControl.h"

#include "bridge/Applications.h"
#include "bridge/Output.h"
#include "export/Utils.h"

namespace harmonode {

std::string addFile(std::string_view path) { return addFiles({std::string(path)}); }

std::string addFiles(const std::vector<std::string>& paths) {
    writeLine("add " + paths.front());
    // Without the process entry (a CLI driven on its own) no application is
    // bound: nothing is sent, as when the application does not answer.
    if (!itunes) return "testing...";
    std::vector<platform::URL> urls;
    for (const std::string& path : paths) urls.push_back(platform::URL::fileURLWithPath(path));
    // The new track is not used.
    static_cast<void>(itunes->add(urls, nullptr));
    return "testing...";
}

std::string addedFile(std::string_view path) {
    writeLine("add " + std::string(path));
    return "testing...";
}

void deleteTrack(std::uint64_t persistentID) {
    const std::string text = pidToString(persistentID);
    writeLine("delete track " + text);
    if (!itunes) return;
    const platform::SBElementArray tracks = itunes->tracks();
    const auto predicate = platform::NSPredicate::predicateWithFormat("persistentID == %@", text);
    if (!predicate) return;
    const auto matches = tracks.filteredArrayUsingPredicate(predicate.value());
    if (!matches || matches.value().size() != 1) return;
    iTunesTrack& track = *matches.value().front();
    track.deleteObject();
}

platform::SBElementArray testSBTracks() {
    writeLine("testSBTracks");
    return itunes ? itunes->tracks() : platform::SBElementArray();
}

}  // namespace harmonode
