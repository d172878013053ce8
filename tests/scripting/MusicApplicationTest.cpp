// The music application stand-in on library files in a temporary folder:
// imports, deletes, what a save keeps of the file, and what one process
// keeps of the library between its changes.

#include "platform/scripting/SBApplication.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <taglib/mpegfile.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "platform/itlibrary/ITLibrary.h"
#include "tests/itlibrary/LibraryXml.h"
#include "tests/scripting/OtherWriters.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace platform::testing;

const fs::path kSource = HARMONODE_SOURCE_DIR;
const std::string kSampleAudio = (kSource / "samples/sample.mp3").string();

std::string readFile(const fs::path& path) { return fileBytes(path); }

class MusicApplication : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "music-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        library_ = dir_ / "Library.xml";
        ::setenv("HARMONODE_MUSIC_LIBRARY", library_.c_str(), 1);
        // This test does not live beside the tag reader.
        ::setenv("HARMONODE_TAGS_HELPER", HARMONODE_TAGS_HELPER_PATH, 1);
        music_ = SBApplication::applicationWithBundleIdentifier("com.apple.Music");
    }
    void TearDown() override {
        ::unsetenv("HARMONODE_MUSIC_LIBRARY");
        ::unsetenv("HARMONODE_TAGS_HELPER");
        fs::remove_all(dir_);
    }

    void useLibrary(const std::string& bytes) { std::ofstream(library_, std::ios::binary) << bytes; }
    std::shared_ptr<SBObject> add(const std::string& path) {
        return music_->add({URL::fileURLWithPath(path)}, nullptr);
    }
    std::unique_ptr<ITLibrary> read() {
        auto library = ITLibrary::initWithFile(library_.string());
        EXPECT_TRUE(library.ok()) << library.error().description;
        return library ? std::move(library.value()) : nullptr;
    }
    static const ITLibMediaItem* find(const ITLibrary& library, const SBObject& track) {
        for (const auto& item : library.allMediaItems()) {
            char text[17];
            std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(item.persistentID()));
            if (track.valueForKey("persistentID") == text) return &item;
        }
        return nullptr;
    }
    static bool inMaster(const ITLibrary& library, const ITLibMediaItem* item) {
        for (const auto& playlist : library.allPlaylists()) {
            if (playlist.isMaster()) return std::count(playlist.items().begin(), playlist.items().end(), item) == 1;
        }
        return false;
    }

    fs::path dir_, library_;
    std::unique_ptr<SBApplication> music_;
};

TEST_F(MusicApplication, ImportsEachFormatWithItsTagsAsATrackOfTheMasterPlaylist) {
    struct Case {
        std::string file, kind, title, artist;
        std::int64_t trackNumber, sampleRate;
    };
    const Case cases[] = {
        {"samples/sample.mp3", "MPEG audio file", "Ton d’essai à 440 Hz", "Ørjan Šimić", 1, 22050},
        {"tests/data/audio/tone.m4a", "AAC audio file", "Étude m4a", "Ålesund Ensemble", 3, 8000},
        {"tests/data/audio/tone.flac", "FLAC audio file", "Étude flac", "Ålesund Ensemble", 3, 8000},
        {"tests/data/audio/tone.ogg", "Ogg Vorbis audio file", "Étude ogg", "Ålesund Ensemble", 3, 8000},
    };
    useLibrary(readFile(kSource / "samples/Library.xml"));
    for (const Case& c : cases) {
        const fs::path path = kSource / c.file;
        const auto track = add(path.string());
        ASSERT_NE(track, nullptr) << c.file << ": " << music_->lastError()->description;
        const auto library = read();
        const ITLibMediaItem* item = find(*library, *track);
        ASSERT_NE(item, nullptr) << c.file;
        EXPECT_EQ(item->kind(), c.kind);
        EXPECT_EQ(item->title(), c.title);
        EXPECT_EQ(item->artist()->name(), c.artist);
        EXPECT_EQ(item->trackNumber(), c.trackNumber);
        EXPECT_EQ(item->sampleRate(), c.sampleRate);
        EXPECT_GT(item->totalTime(), 0);
        EXPECT_EQ(item->fileSize(), fs::file_size(path));
        EXPECT_EQ(item->location()->path(), path.string());
        EXPECT_TRUE(item->addedDate().has_value());
        EXPECT_TRUE(inMaster(*library, item)) << c.file;
    }
}

TEST_F(MusicApplication, WhatIsNotAudioAddsNothingAndLeavesTheFileAsItWas) {
    const std::string original = readFile(kSource / "samples/Library.xml");
    useLibrary(original);
    std::ofstream(dir_ / "notes.mp3") << "just some text, not audio\n";
    fs::create_directory(dir_ / "folder.mp3");
    ASSERT_EQ(::mkfifo((dir_ / "pipe.mp3").c_str(), 0644), 0);
    for (const char* name : {"missing.mp3", "notes.mp3", "folder.mp3", "pipe.mp3"}) {
        EXPECT_EQ(add((dir_ / name).string()), nullptr) << name;
        ASSERT_TRUE(music_->lastError().has_value()) << name;
        EXPECT_NE(music_->lastError()->description.find(name), std::string::npos) << music_->lastError()->description;
    }
    EXPECT_EQ(readFile(library_), original);
}

TEST_F(MusicApplication, WithoutItsTagReaderNoFileIsAddedAndTheReasonSaysSo) {
    const std::string original = readFile(kSource / "samples/Library.xml");
    useLibrary(original);
    ::setenv("HARMONODE_TAGS_HELPER", (dir_ / "no-such-reader").c_str(), 1);
    EXPECT_EQ(add(kSampleAudio), nullptr);
    ASSERT_TRUE(music_->lastError().has_value());
    EXPECT_NE(music_->lastError()->description.find("the tag reader \"" + (dir_ / "no-such-reader").string() +
                                                    "\" cannot be started: No such file or directory"),
              std::string::npos)
        << music_->lastError()->description;
    EXPECT_EQ(readFile(library_), original);
}

// A save killed between naming its complete file and renaming it leaves
// that file; the next change clears it even when it writes nothing.
TEST_F(MusicApplication, ALeftOverTemporaryOfTheLibraryGoesAtTheStartOfTheNextChange) {
    const std::string original = readFile(kSource / "samples/Library.xml");
    useLibrary(original);
    const fs::path leftover = dir_ / ".Library.xml.tmp-Abc123";
    std::ofstream(leftover, std::ios::binary) << original;
    const auto tracks = music_->tracks();
    ASSERT_GT(tracks.count(), 0u);
    EXPECT_TRUE(fs::exists(leftover)) << "listing the tracks is no change";
    tracks.objectAtIndex(0)->deleteObject();
    ASSERT_FALSE(tracks.objectAtIndex(0)->lastError().has_value());
    std::ofstream(leftover, std::ios::binary) << original;
    tracks.objectAtIndex(0)->deleteObject();  // gone already: nothing to write
    EXPECT_TRUE(tracks.objectAtIndex(0)->lastError().has_value());
    EXPECT_FALSE(fs::exists(leftover));
}

TEST_F(MusicApplication, ALibraryThatIsNotAReadableExportIsNeverWritten) {
    // The last one the outline's scan takes, but not the reader: the new
    // file made meanwhile never appears.
    const std::string mismatchedTags = plist(
        tracks(track(1, "\t\t\t<key>Name</key><string>x</integer>\n" + str("Persistent ID", "00000000000000A1"))));
    for (const std::string& bytes : {std::string("<?xml version=\"1.0\"?><plist><dict><key>Tracks</key><dict>"),
                                    std::string("not a library at all"), mismatchedTags}) {
        useLibrary(bytes);
        EXPECT_EQ(add(kSampleAudio), nullptr);
        EXPECT_EQ(readFile(library_), bytes);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2) << "the library and its lock alone";
    }
}

TEST_F(MusicApplication, TagsWithMarkupCharactersRoundTrip) {
    const std::string title = "<b>Fish & Chips</b> ]]> \"quoted\" 'single'";
    const fs::path copy = dir_ / "markup.mp3";
    fs::copy_file(kSampleAudio, copy);
    {
        TagLib::MPEG::File file(copy.c_str());
        file.tag()->setTitle(TagLib::String(title, TagLib::String::UTF8));
        file.tag()->setComment(TagLib::String("line one\r\nline two\x01", TagLib::String::UTF8));
        ASSERT_TRUE(file.save());
    }
    useLibrary(readFile(kSource / "samples/Library.xml"));
    const auto track = add(copy.string());
    ASSERT_NE(track, nullptr);
    const auto library = read();
    const ITLibMediaItem* item = find(*library, *track);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->title(), title);
    EXPECT_EQ(item->comments(), "line one\r\nline two\xEF\xBF\xBD");
}

TEST_F(MusicApplication, NewTracksGoIntoLibrariesOfEveryShape) {
    const std::string master = str("Playlist Persistent ID", "0995EAABA0F48EB9") + yes("Master");
    const std::string cases[] = {
        plist("\t<key>Tracks</key><dict/>\n" + playlists(playlist(master + members({})))),
        plist(tracks("") + playlists(playlist(master))),
        plist(tracks("") + playlists(playlist(master + "\t\t\t<key>Playlist Items</key><array/>\n"))),
        plist(playlists(playlist(master + members({7}))) + tracks(track(7, str("Persistent ID", "00000000000000AB")))),
    };
    for (const std::string& bytes : cases) {
        useLibrary(bytes);
        const auto track = add(kSampleAudio);
        ASSERT_NE(track, nullptr) << bytes;
        const auto library = read();
        const ITLibMediaItem* item = find(*library, *track);
        ASSERT_NE(item, nullptr) << bytes;
        EXPECT_TRUE(inMaster(*library, item)) << readFile(library_);
    }
}

// New locations take the form of the library's first file location, as the
// reader reads it, whatever a quick look at the file would suggest.
TEST_F(MusicApplication, NewLocationsTakeTheFormOfTheFirstFileLocation) {
    const struct {
        std::string first, second, written;
    } cases[] = {
        {"file:///a.mp3", "file://localhost/b.mp3", "file:///"},
        {"file://localhost/a.mp3", "file:///b.mp3", "file://localhost/"},
        {"http://example.com/a.mp3", "file://localhost/b.mp3", "file://localhost/"},
        {"FILE://localhost/a.mp3", "file://localhost/b.mp3", "file:///"},  // a file URL, in other letters
    };
    const std::string master = str("Playlist Persistent ID", "0995EAABA0F48EB9") + yes("Master") + members({1, 2});
    for (const auto& c : cases) {
        useLibrary(plist(tracks(track(1, str("Persistent ID", "00000000000000A1") + str("Location", c.first)) +
                                track(2, str("Persistent ID", "00000000000000A2") + str("Location", c.second))) +
                         playlists(playlist(master))));
        const auto added = add(kSampleAudio);
        ASSERT_NE(added, nullptr) << c.first;
        const auto library = read();
        const ITLibMediaItem* item = find(*library, *added);
        ASSERT_NE(item, nullptr) << c.first;
        EXPECT_TRUE(item->location()->absoluteString().starts_with(c.written + kSource.string().substr(1)))
            << c.first << ": " << item->location()->absoluteString();
        EXPECT_TRUE(inMaster(*library, item)) << c.first;
    }
}

TEST_F(MusicApplication, DeleteTakesTheTrackOutOfEveryPlaylist) {
    useLibrary(readFile(kSource / "samples/Library.xml"));
    // 209 is in three playlists, twice in one of them.
    const auto tracks = music_->tracks();
    const auto match = tracks.filteredArrayUsingPredicate(
        NSPredicate::predicateWithFormat("persistentID == %@", "9F8E7D6C5B4A3921").value());
    ASSERT_TRUE(match.ok());
    ASSERT_EQ(match.value().size(), 1u);
    match.value().front()->deleteObject();
    ASSERT_FALSE(match.value().front()->lastError().has_value()) << match.value().front()->lastError()->description;

    const auto library = read();
    EXPECT_EQ(library->allMediaItems().size(), tracks.count() - 1);
    for (const auto& playlist : library->allPlaylists()) {
        for (const auto* item : playlist.items()) EXPECT_NE(item->persistentID(), 0x9F8E7D6C5B4A3921u) << playlist.name();
    }
    EXPECT_EQ(readFile(library_).find("<integer>209</integer>"), std::string::npos);
}

TEST_F(MusicApplication, TracksAreFilteredOnlyByWhatTheyAnswer) {
    useLibrary(readFile(kSource / "samples/Library.xml"));
    const auto tracks = music_->tracks();
    EXPECT_FALSE(NSPredicate::predicateWithFormat("persistentID != %@", "12ACE9259A434B5E").ok());
    EXPECT_FALSE(NSPredicate::predicateWithFormat("TRUEPREDICATE", "").ok());
    EXPECT_FALSE(tracks.filteredArrayUsingPredicate(NSPredicate::predicateWithFormat("name == %@", "x").value()).ok());
    const auto found =
        tracks.filteredArrayUsingPredicate(NSPredicate::predicateWithFormat("persistentID == %@", "12ACE9259A434B5E").value());
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(found.value().size(), 1u);
}

TEST_F(MusicApplication, ASaveThroughALinkReplacesTheFileItNames) {
    const fs::path target = dir_ / "real" / "Library.xml";
    fs::create_directory(dir_ / "real");
    std::ofstream(target, std::ios::binary) << readFile(kSource / "samples/Library.xml");
    fs::create_symlink(target, library_);
    ASSERT_NE(add(kSampleAudio), nullptr);
    EXPECT_TRUE(fs::is_symlink(library_));
    EXPECT_NE(readFile(target).find("sample.mp3"), std::string::npos);
}

// Between two adds of this process another writer takes the first new
// track out of the master playlist: the second add sees that change and
// keeps it, however it was made.
TEST_F(MusicApplication, AChangeOfTheFileBetweenTwoAddsIsSeenAndKept) {
    const struct {
        const char* tool;
        std::function<void(const fs::path&)> change;
    } cases[] = {
        {"rewrites it in place with the same size and modification time",
         [](const fs::path& library) {
             ASSERT_TRUE(rewriteInPlaceKeepingSizeAndTime(library, withoutLastMasterMember(readFile(library))));
         }},
        {"replaces it with a file of its own",
         [](const fs::path& library) {
             std::ofstream(library.string() + ".new", std::ios::binary) << withoutLastMasterMember(readFile(library));
             fs::rename(library.string() + ".new", library);
         }},
        {"rewrites it in place, shorter",
         [](const fs::path& library) {
             const std::string bytes = withoutLastMasterMember(readFile(library));
             std::ofstream(library, std::ios::binary | std::ios::trunc) << bytes;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        useLibrary(readFile(kSource / "samples/Library.xml"));
        const auto first = add(kSampleAudio);
        ASSERT_NE(first, nullptr);
        c.change(library_);
        const auto second = add(kSampleAudio);
        ASSERT_NE(second, nullptr) << music_->lastError()->description;
        const auto library = read();
        ASSERT_NE(library, nullptr);
        EXPECT_NE(find(*library, *first), nullptr);
        EXPECT_FALSE(inMaster(*library, find(*library, *first)));
        EXPECT_TRUE(inMaster(*library, find(*library, *second)));
    }
}

// Every byte outside the new track and its member entry is the export's own:
// taking both out again gives back the file.
class RealExport : public MusicApplication, public ::testing::WithParamInterface<std::string> {};

TEST_P(RealExport, AddThenDeleteGivesBackTheFileByteForByte) {
    const std::string original = readFile(kSource / "tests/data/real" / (GetParam() + ".xml"));
    useLibrary(original);
    const auto track = add(kSampleAudio);
    ASSERT_NE(track, nullptr) << music_->lastError()->description;
    ASSERT_NE(readFile(library_), original);
    {
        const auto library = read();
        EXPECT_TRUE(inMaster(*library, find(*library, *track)));
    }
    track->deleteObject();
    ASSERT_FALSE(track->lastError().has_value()) << track->lastError()->description;
    EXPECT_EQ(readFile(library_), original);
}

// Adds in a row, each on what the one before left, then deletes in reverse.
TEST_P(RealExport, AddsInARowThenDeletesGiveBackTheFileByteForByte) {
    const std::string original = readFile(kSource / "tests/data/real" / (GetParam() + ".xml"));
    useLibrary(original);
    std::vector<std::shared_ptr<SBObject>> added;
    for (int i = 0; i < 3; ++i) {
        added.push_back(add(kSampleAudio));
        ASSERT_NE(added.back(), nullptr) << music_->lastError()->description;
    }
    {
        const auto library = read();
        for (const auto& track : added) EXPECT_TRUE(inMaster(*library, find(*library, *track)));
    }
    for (auto it = added.rbegin(); it != added.rend(); ++it) {
        (*it)->deleteObject();
        ASSERT_FALSE((*it)->lastError().has_value()) << (*it)->lastError()->description;
    }
    EXPECT_EQ(readFile(library_), original);
}

INSTANTIATE_TEST_SUITE_P(Exports, RealExport,
                         ::testing::Values("beets-12.1-unix", "beets-12.1-windows", "lastfm-itunes-11.1",
                                           "libpytunes-12.6", "dwittenberg-11.1-windows"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

}  // namespace
}  // namespace platform
