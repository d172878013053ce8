// The bridge's library document of real exports written by the music
// application, against what Python's plistlib reads from the same files
// (tests/data/real/*.expected.json, made by make_expected.py there).

#include <gtest/gtest.h>

#include <fstream>

#include <boost/json/parse.hpp>

#include "tests/bridge/BridgeProcess.h"

namespace harmonode::testing {
namespace {

const std::string kData = HARMONODE_SOURCE_DIR "/tests/data/real/";

boost::json::value readJSON(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return boost::json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
}

// The member `key` of `object`, or null when it is absent.
boost::json::value member(const boost::json::object& object, std::string_view key) {
    const auto* found = object.if_contains(key);
    return found ? *found : boost::json::value();
}

class RealLibrary : public ::testing::TestWithParam<std::string> {};

TEST_P(RealLibrary, DocumentShowsWhatTheFileHolds) {
    const auto expected = readJSON(kData + GetParam() + ".expected.json").as_object();
    BridgeOptions options;
    options.environment["HARMONODE_MUSIC_LIBRARY"] = kData + GetParam() + ".xml";
    const BridgeRun run = runBridge("library\nquit\n", options);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto document = boost::json::parse(run.replies().at(0)).as_object();

    EXPECT_EQ(document.at("apiMajorVersion"), expected.at("majorVersion"));
    EXPECT_EQ(document.at("apiMinorVersion"), expected.at("minorVersion"));
    EXPECT_EQ(member(document, "musicFolderLocation"), member(expected, "musicFolder"));
    EXPECT_EQ(member(document, "musicFolderPath"), member(expected, "musicFolderPath"));
    EXPECT_EQ(member(document, "mediaFolderLocation"), member(expected, "musicFolder"));
    EXPECT_EQ(member(document, "mediaFolderPath"), member(expected, "musicFolderPath"));

    const auto& tracks = document.at("tracks").as_array();
    const auto& expectedTracks = expected.at("tracks").as_array();
    ASSERT_EQ(tracks.size(), expectedTracks.size());
    // Keys of the expectation and the record keys they must match.
    const std::pair<const char*, const char*> kFields[] = {
        {"persistentID", "Persistent ID"}, {"artist", "Artist"},           {"album", "Album"},
        {"dateAdded", "Date Added"},       {"dateModified", "Date Modified"}, {"playDateUTC", "Play Date"},
        {"releaseDate", "Release Date"},   {"skipDate", "Skip Date"},     {"location", "Location"},
        {"filePath", "FilePath"},          {"totalTime", "Time"},
    };
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const auto& track = tracks[i].as_object();
        const auto& want = expectedTracks[i].as_object();
        for (const auto& [from, to] : kFields) {
            EXPECT_EQ(member(track, to), member(want, from)) << GetParam() << " track " << i << " " << to;
        }
        EXPECT_EQ(track.at("Title"), want.contains("name") ? want.at("name") : boost::json::value(""));
        EXPECT_EQ(track.at("Size").to_number<std::int64_t>(), want.contains("size") ? want.at("size").as_int64() : 0);
    }

    const auto& playlists = document.at("playlists").as_array();
    const auto& expectedPlaylists = expected.at("playlists").as_array();
    ASSERT_EQ(playlists.size(), expectedPlaylists.size());
    for (std::size_t i = 0; i < playlists.size(); ++i) {
        const auto& playlist = playlists[i].as_object();
        const auto& want = expectedPlaylists[i].as_object();
        EXPECT_EQ(playlist.at("name"), want.at("name")) << i;
        EXPECT_EQ(playlist.at("persistentID"), want.at("persistentID")) << i;
        EXPECT_EQ(member(playlist, "parentID"), member(want, "parentID")) << i;
        EXPECT_EQ(playlist.at("pids"), want.at("items")) << playlist.at("name");
    }
}

INSTANTIATE_TEST_SUITE_P(Exports, RealLibrary,
                         ::testing::Values("beets-12.1-unix", "beets-12.1-windows", "lastfm-itunes-11.1",
                                           "libpytunes-12.6", "dwittenberg-11.1-windows"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

}  // namespace
}  // namespace harmonode::testing
