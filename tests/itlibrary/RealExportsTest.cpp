// The reader against library exports the music application wrote, compared
// with what Python's plistlib reads from the same files (make_expected.py).

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/itlibrary/ITLibrary.h"
#include "platform/itlibrary/internal/ITLibraryReader.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

const fs::path kRealData = fs::path(HARMONODE_TEST_DATA_DIR) / "real";

std::string pidText(std::uint64_t id) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIX64, id);
    return text;
}

json::value load(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return json::parse(text.str());
}

std::string text(const json::object& object, std::string_view key) {
    const json::value* value = object.if_contains(key);
    return value ? std::string(value->as_string()) : std::string();
}

// What the reader gives for a value, in the expected file's terms; empty
// optionals stand for keys the expected file leaves out.
std::optional<std::int64_t> milliseconds(const std::optional<Date>& date) {
    if (!date) return std::nullopt;
    return std::llround(date->timeIntervalSince1970 * 1000);
}
std::optional<std::int64_t> number(const json::object& object, std::string_view key) {
    const json::value* value = object.if_contains(key);
    if (!value) return std::nullopt;
    return value->to_number<std::int64_t>();
}
std::optional<std::string> optionalText(const json::object& object, std::string_view key) {
    const json::value* value = object.if_contains(key);
    if (!value) return std::nullopt;
    return std::string(value->as_string());
}

class RealExport : public ::testing::TestWithParam<std::string> {};

TEST_P(RealExport, ReadsWhatPlistlibReads) {
    const fs::path xml = kRealData / (GetParam() + ".xml");
    const json::object expected = load(kRealData / (GetParam() + ".expected.json")).as_object();
    auto opened = ITLibrary::initWithFile(xml.string());
    ASSERT_TRUE(opened) << opened.error().description;
    const ITLibrary& library = *opened.value();

    EXPECT_EQ(library.apiMajorVersion(), static_cast<std::uint64_t>(expected.at("majorVersion").as_int64()));
    EXPECT_EQ(library.apiMinorVersion(), static_cast<std::uint64_t>(expected.at("minorVersion").as_int64()));
    const auto folder = optionalText(expected, "musicFolder");
    ASSERT_EQ(library.musicFolderLocation().has_value(), folder.has_value());
    if (folder) {
        EXPECT_EQ(library.musicFolderLocation()->absoluteString(), *folder);
        EXPECT_EQ(library.musicFolderLocation()->path(), text(expected, "musicFolderPath"));
        EXPECT_EQ(library.mediaFolderLocation(), library.musicFolderLocation());
    }

    const json::array& tracks = expected.at("tracks").as_array();
    const auto& items = library.allMediaItems();
    ASSERT_EQ(items.size(), tracks.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const json::object& want = tracks[i].as_object();
        const ITLibMediaItem& item = items[i];
        SCOPED_TRACE("track " + std::to_string(i) + " " + text(want, "persistentID"));
        EXPECT_EQ(pidText(item.persistentID()), text(want, "persistentID"));
        EXPECT_EQ(item.title(), text(want, "name"));
        EXPECT_EQ(item.artist() ? item.artist()->name() : std::nullopt, optionalText(want, "artist"));
        EXPECT_EQ(item.album().title(), optionalText(want, "album"));
        EXPECT_EQ(milliseconds(item.addedDate()), number(want, "dateAdded"));
        EXPECT_EQ(milliseconds(item.modifiedDate()), number(want, "dateModified"));
        EXPECT_EQ(milliseconds(item.lastPlayedDate()), number(want, "playDateUTC"));
        EXPECT_EQ(milliseconds(item.releaseDate()), number(want, "releaseDate"));
        EXPECT_EQ(milliseconds(item.skipDate()), number(want, "skipDate"));
        EXPECT_EQ(item.location() ? std::optional(item.location()->absoluteString()) : std::nullopt,
                  optionalText(want, "location"));
        if (item.location() && item.location()->isFileURL()) {
            EXPECT_EQ(item.location()->path(), text(want, "filePath"));
        } else {
            EXPECT_FALSE(want.contains("filePath"));
        }
        EXPECT_EQ(static_cast<std::int64_t>(item.fileSize()), number(want, "size").value_or(0));
        EXPECT_EQ(item.totalTime(), number(want, "totalTime").value_or(0));
    }

    const json::array& playlists = expected.at("playlists").as_array();
    const auto& lists = library.allPlaylists();
    ASSERT_EQ(lists.size(), playlists.size());
    for (std::size_t i = 0; i < lists.size(); ++i) {
        const json::object& want = playlists[i].as_object();
        const ITLibPlaylist& list = lists[i];
        SCOPED_TRACE("playlist " + text(want, "name"));
        EXPECT_EQ(list.name(), text(want, "name"));
        EXPECT_EQ(pidText(list.persistentID()), text(want, "persistentID"));
        EXPECT_EQ(list.parentID() ? std::optional(pidText(*list.parentID())) : std::nullopt,
                  optionalText(want, "parentID"));
        const json::array& members = want.at("items").as_array();
        ASSERT_EQ(list.items().size(), members.size());
        for (std::size_t m = 0; m < members.size(); ++m) {
            EXPECT_EQ(pidText(list.items()[m]->persistentID()), members[m].as_string()) << "member " << m;
        }
    }
}

TEST(RealExports, SpotChecksOfWhatTheFilesHold) {
    auto opened = ITLibrary::initWithFile((kRealData / "libpytunes-12.6.xml").string());
    ASSERT_TRUE(opened) << opened.error().description;
    const ITLibrary& library = *opened.value();
    std::size_t cloud = 0, movies = 0, podcasts = 0;
    for (const auto& item : library.allMediaItems()) {
        cloud += item.isCloud();
        movies += item.mediaKind() == ITLibMediaItemMediaKind::Movie;
        podcasts += item.mediaKind() == ITLibMediaItemMediaKind::Podcast;
    }
    EXPECT_GT(cloud, 0u);  // "Track Type" "Remote"
    EXPECT_GT(movies, 0u);
    EXPECT_GT(podcasts, 0u);
    const auto& lists = library.allPlaylists();
    ASSERT_FALSE(lists.empty());
    EXPECT_TRUE(lists[0].isMaster());
    EXPECT_FALSE(lists[0].isVisible());
    bool smart = false, music = false;
    for (const auto& list : lists) {
        smart |= list.kind() == ITLibPlaylistKind::Smart;
        music |= list.distinguishedKind() == ITLibDistinguishedPlaylistKind::Music;
    }
    EXPECT_TRUE(smart);
    EXPECT_TRUE(music);
}

// The sample library the demo opens holds one of each kind of thing worth
// showing; this keeps it so.
TEST(SampleLibrary, HoldsTheCasesTheDemoShows) {
    auto opened = ITLibrary::initWithFile(HARMONODE_SAMPLE_LIBRARY);
    ASSERT_TRUE(opened) << opened.error().description;
    const ITLibrary& library = *opened.value();
    const auto& items = library.allMediaItems();
    ASSERT_EQ(items.size(), 12u);
    const auto find = [&](std::string_view title) -> const ITLibMediaItem& {
        for (const auto& item : items) {
            if (item.title() == title) return item;
        }
        ADD_FAILURE() << "no track " << title;
        return items.front();
    };
    const ITLibMediaItem& full = find("Clair de lune");
    EXPECT_TRUE(full.comments() && full.grouping() && full.contentRating() && full.sortTitle() &&
                full.sortComposer() && full.lastPlayedDate() && full.skipDate() && full.releaseDate());
    const ITLibMediaItem& podcast = find("Episode 112: Listening Rooms");
    EXPECT_EQ(podcast.mediaKind(), ITLibMediaItemMediaKind::Podcast);
    EXPECT_EQ(podcast.location()->scheme(), "http");
    EXPECT_EQ(find("Night Drive (Official Video)").mediaKind(), ITLibMediaItemMediaKind::MusicVideo);
    const ITLibMediaItem& remote = find("Midnight City");
    EXPECT_TRUE(remote.isCloud());
    EXPECT_FALSE(remote.location());
    const ITLibMediaItem& bare = find("");
    EXPECT_FALSE(bare.artist());
    EXPECT_FALSE(bare.addedDate());
    EXPECT_EQ(find("夜に駆ける").location()->path(),
              "/Users/sample/Music/Music/Media.localized/Music/YOASOBI/THE BOOK/01 夜に駆ける.m4a");

    const auto& lists = library.allPlaylists();
    ASSERT_EQ(lists.size(), 8u);
    EXPECT_TRUE(lists[0].isMaster());
    EXPECT_EQ(lists[0].items().size(), items.size());
    EXPECT_EQ(lists[3].kind(), ITLibPlaylistKind::Folder);
    EXPECT_EQ(lists[4].parentID(), lists[3].persistentID());
    EXPECT_EQ(lists[5].kind(), ITLibPlaylistKind::Smart);
    EXPECT_TRUE(lists[6].items().empty());
    ASSERT_EQ(lists[7].items().size(), 4u);
    EXPECT_EQ(lists[7].items()[0], lists[7].items()[3]);  // listed twice
    ASSERT_TRUE(library.musicFolderLocation());  // written after "Playlists"
}

// Everything the reader made of a file, as one text, or the error.
std::string describe(const Result<std::unique_ptr<ITLibrary>>& opened) {
    if (!opened) return "error: " + opened.error().description;
    const ITLibrary& library = *opened.value();
    std::ostringstream text;
    const auto date = [](const std::optional<Date>& d) { return d ? std::to_string(d->timeIntervalSince1970) : "-"; };
    text << library.apiMajorVersion() << '.' << library.apiMinorVersion() << ' '
         << (library.musicFolderLocation() ? library.musicFolderLocation()->absoluteString() : "-") << '\n';
    for (const auto& item : library.allMediaItems()) {
        text << pidText(item.persistentID()) << '|' << item.title() << '|'
             << (item.artist() ? item.artist()->name().value_or("-") : "-") << '|' << item.album().title().value_or("-")
             << '|' << item.genre() << '|' << item.comments().value_or("-") << '|'
             << (item.location() ? item.location()->absoluteString() : "-") << '|' << date(item.addedDate()) << '|'
             << date(item.lastPlayedDate()) << '|' << item.fileSize() << '|' << item.totalTime() << '|'
             << item.playCount() << '|' << static_cast<int>(item.mediaKind()) << '|' << item.isCloud() << '\n';
    }
    for (const auto& list : library.allPlaylists()) {
        text << pidText(list.persistentID()) << '|' << list.name() << '|' << static_cast<int>(list.kind()) << ':';
        for (const ITLibMediaItem* member : list.items()) text << ' ' << pidText(member->persistentID());
        text << '\n';
    }
    return text.str();
}

TEST(RealExports, TheResultDoesNotDependOnWhereTheFileIsCut) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const char* name : {"beets-12.1-unix", "beets-12.1-windows", "lastfm-itunes-11.1", "libpytunes-12.6",
                             "dwittenberg-11.1-windows"}) {
        std::ifstream in(kRealData / (std::string(name) + ".xml"), std::ios::binary);
        files.emplace_back(name, std::string(std::istreambuf_iterator<char>(in), {}));
    }
    std::ifstream sample(HARMONODE_SAMPLE_LIBRARY, std::ios::binary);
    std::string xml(std::istreambuf_iterator<char>(sample), {});
    // The same with ">" in the document type's literals, which the parser
    // once took for the end of the declaration where a piece ended there.
    const std::size_t doctype = xml.find("<!DOCTYPE");
    std::string tricky = xml;
    tricky.replace(doctype, xml.find('>', doctype) + 1 - doctype,
                   "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://x/a>b>c.dtd\" "
                   "[ <!-- \" ' > --> <!ENTITY e \"a>b]\"> <?pi > ?> ]>");
    files.emplace_back("sample", std::move(xml));
    files.emplace_back("sample with \">\" in its document type", std::move(tricky));

    for (const auto& [name, bytes] : files) {
        const std::string whole = describe(ITLibraryReader::readBytes(bytes, "Library.xml", bytes.size() + 1));
        EXPECT_FALSE(whole.starts_with("error")) << name << ": " << whole;
        std::vector<std::size_t> sizes = {7, 4093, (std::size_t{64} << 10) + 1};
        if (bytes.size() < 1'000'000) sizes.push_back(1);  // byte by byte where that is quick
        for (const std::size_t size : sizes) {
            EXPECT_EQ(describe(ITLibraryReader::readBytes(bytes, "Library.xml", size)), whole)
                << name << " in pieces of " << size;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RealExport,
                         ::testing::Values("beets-12.1-unix", "beets-12.1-windows", "dwittenberg-11.1-windows",
                                           "lastfm-itunes-11.1", "libpytunes-12.6"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace platform
