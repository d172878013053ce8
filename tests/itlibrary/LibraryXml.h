#pragma once
// Small library property lists for the reader's tests, written the way the
// music application writes them.

#include <string>
#include <string_view>

namespace platform::testing {

inline std::string plist(std::string_view rootEntries) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<dict>\n";
    xml += rootEntries;
    xml += "</dict>\n</plist>\n";
    return xml;
}

inline std::string tracks(std::string_view entries) {
    return "\t<key>Tracks</key>\n\t<dict>\n" + std::string(entries) + "\t</dict>\n";
}

// One entry of "Tracks": its key, and a dictionary with "Track ID" first.
inline std::string track(int id, std::string_view entries) {
    const std::string n = std::to_string(id);
    return "\t\t<key>" + n + "</key>\n\t\t<dict>\n\t\t\t<key>Track ID</key><integer>" + n + "</integer>\n" +
           std::string(entries) + "\t\t</dict>\n";
}

inline std::string playlists(std::string_view entries) {
    return "\t<key>Playlists</key>\n\t<array>\n" + std::string(entries) + "\t</array>\n";
}

inline std::string playlist(std::string_view entries) { return "\t\t<dict>\n" + std::string(entries) + "\t\t</dict>\n"; }

inline std::string members(std::initializer_list<int> trackIDs) {
    std::string xml = "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n";
    for (const int id : trackIDs) {
        xml += "\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>" + std::to_string(id) +
               "</integer>\n\t\t\t\t</dict>\n";
    }
    return xml + "\t\t\t</array>\n";
}

inline std::string entry(std::string_view key, std::string_view type, std::string_view value) {
    return "\t\t\t<key>" + std::string(key) + "</key><" + std::string(type) + ">" + std::string(value) + "</" +
           std::string(type) + ">\n";
}
inline std::string str(std::string_view key, std::string_view value) { return entry(key, "string", value); }
inline std::string integer(std::string_view key, long long value) { return entry(key, "integer", std::to_string(value)); }
inline std::string date(std::string_view key, std::string_view value) { return entry(key, "date", value); }
inline std::string yes(std::string_view key) { return "\t\t\t<key>" + std::string(key) + "</key><true/>\n"; }
inline std::string no(std::string_view key) { return "\t\t\t<key>" + std::string(key) + "</key><false/>\n"; }

}  // namespace platform::testing
