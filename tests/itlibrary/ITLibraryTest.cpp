#include "platform/itlibrary/ITLibrary.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "platform/itlibrary/LibraryLocation.h"
#include "tests/itlibrary/LibraryXml.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace platform::testing;

// Restores an environment variable when it goes.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_); }

private:
    void set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> old_;
};

class ITLibraryFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "itlibrary-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const fs::path& relative, const std::string& content) {
        const fs::path path = dir_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        return path.string();
    }
    // Sets the file's modification time, so that changes never hide in the
    // clock's granularity.
    static void touch(const std::string& path, long seconds, long nanoseconds = 0) {
        const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    static std::string oneTrack(std::string_view name) {
        return plist(tracks(track(1, str("Name", name))) + playlists(playlist(str("Name", "All") + members({1}))));
    }

    fs::path dir_;
};

TEST_F(ITLibraryFiles, OpensAFileAndGivesEachObjectItsOwnHash) {
    const std::string path = write("Library.xml", oneTrack("Song"));
    auto first = ITLibrary::initWithFile(path);
    auto second = ITLibrary::initWithFile(path);
    ASSERT_TRUE(first) << first.error().description;
    ASSERT_TRUE(second) << second.error().description;
    EXPECT_EQ(first.value()->allMediaItems().at(0).title(), "Song");
    EXPECT_NE(first.value()->hash(), second.value()->hash());
}

TEST_F(ITLibraryFiles, OpeningErrorsNameTheFileAndTheCause) {
    const std::string missing = (dir_ / "missing.xml").string();
    auto result = ITLibrary::initWithFile(missing);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description,
              "The music library file \"" + missing + "\" cannot be read: No such file or directory");

    result = ITLibrary::initWithFile(dir_.string());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description,
              "The music library file \"" + dir_.string() + "\" cannot be read: Is a directory");

    const std::string text = write("notes.txt", "just some notes\n");
    result = ITLibrary::initWithFile(text);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description, "The music library file \"" + text +
                                              "\" is malformed at line 1 column 1: Start tag expected, '<' not found");

    const std::string empty = write("empty.xml", "");
    result = ITLibrary::initWithFile(empty);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description,
              "The file \"" + empty + "\" is not a music library property list: the file is empty");
}

TEST_F(ITLibraryFiles, OnlyARegularFileIsOpenedAndNothingElseBlocks) {
    const std::string fifo = (dir_ / "fifo.xml").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = (dir_ / "socket.xml").string();
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string link = (dir_ / "link.xml").string();
    fs::create_symlink(fifo, link);

    const std::pair<std::string, std::string> cases[] = {
        {fifo, "it is a named pipe (FIFO), not a regular file"},
        {link, "it is a named pipe (FIFO), not a regular file"},
        {"/dev/null", "it is a character device, not a regular file"},
        {socketPath, "it is a socket, not a regular file"},
    };
    for (const auto& [path, reason] : cases) {
        auto result = ITLibrary::initWithFile(path);
        ASSERT_FALSE(result) << path;
        EXPECT_EQ(result.error().description, "The music library file \"" + path + "\" cannot be read: " + reason);
    }
    ::close(listening);
}

TEST_F(ITLibraryFiles, AFileWithoutReadPermissionIsNotReadable) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    const std::string path = write("Library.xml", oneTrack("Song"));
    fs::permissions(path, fs::perms::none);
    auto result = ITLibrary::initWithFile(path);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().description, "The music library file \"" + path + "\" cannot be read: Permission denied");
}

TEST_F(ITLibraryFiles, APIVersionsOneZeroAndOneOneOpenTheLibraryOthersDoNot) {
    const ScopedEnv library("HARMONODE_MUSIC_LIBRARY", write("elsewhere/My Library.xml", oneTrack("Found")));
    for (const char* version : {"1.0", "1.1"}) {
        auto result = ITLibrary::initWithAPIVersion(version);
        ASSERT_TRUE(result) << result.error().description;
        EXPECT_EQ(result.value()->allMediaItems().at(0).title(), "Found");
    }
    for (const char* version : {"2.0", "", "1"}) {
        auto result = ITLibrary::initWithAPIVersion(version);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().description, "The music library API version \"" + std::string(version) +
                                                  "\" is not supported (supported: 1.0, 1.1)");
    }
}

TEST_F(ITLibraryFiles, OpeningPassesOnWhatTheFileIsMissing) {
    const ScopedEnv library("HARMONODE_MUSIC_LIBRARY", write("Library.xml", plist(str("Name", "x"))));
    auto result = ITLibrary::initWithAPIVersion("1.0");
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().description.find("is not a music library property list"), std::string::npos);
}

TEST_F(ITLibraryFiles, LookupTakesTheVariableThenTheUsualPlacesInOrder) {
    const ScopedEnv home("HOME", dir_.string());
    const ScopedEnv unset("HARMONODE_MUSIC_LIBRARY", std::nullopt);
    const std::string music = (dir_ / "Music/Music/Library.xml").string();
    const std::string itunesMusic = (dir_ / "Music/iTunes/iTunes Music Library.xml").string();
    const std::string itunes = (dir_ / "Music/iTunes/iTunes Library.xml").string();
    EXPECT_EQ(musicLibraryCandidates(), (std::vector<std::string>{music, itunesMusic, itunes}));

    auto found = musicLibraryFilePath();
    ASSERT_FALSE(found);
    EXPECT_EQ(found.error().description,
              "No music library found; looked at \"" + music + "\", \"" + itunesMusic + "\", \"" + itunes +
                  "\" (set HARMONODE_MUSIC_LIBRARY to the library file's path to use another)");
    auto opened = ITLibrary::initWithAPIVersion("1.0");
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().description, found.error().description);

    write("Music/iTunes/iTunes Library.xml", oneTrack("c"));
    EXPECT_EQ(musicLibraryFilePath().value(), itunes);
    write("Music/iTunes/iTunes Music Library.xml", oneTrack("b"));
    EXPECT_EQ(musicLibraryFilePath().value(), itunesMusic);
    fs::create_directories(music);  // a folder by that name is not the library
    EXPECT_EQ(musicLibraryFilePath().value(), itunesMusic);
    fs::remove(music);
    write("Music/Music/Library.xml", oneTrack("a"));
    EXPECT_EQ(musicLibraryFilePath().value(), music);
    EXPECT_EQ(ITLibrary::initWithAPIVersion("1.0").value()->allMediaItems().at(0).title(), "a");

    {
        const std::string chosen = write("chosen.xml", oneTrack("chosen"));
        const ScopedEnv override("HARMONODE_MUSIC_LIBRARY", chosen);
        EXPECT_EQ(musicLibraryCandidates(), std::vector<std::string>{chosen});
        EXPECT_EQ(musicLibraryFilePath().value(), chosen);
    }
    {
        const ScopedEnv empty("HARMONODE_MUSIC_LIBRARY", "");
        EXPECT_EQ(musicLibraryFilePath().value(), music);
    }
    {
        const std::string absent = (dir_ / "absent.xml").string();
        const ScopedEnv override("HARMONODE_MUSIC_LIBRARY", absent);
        found = musicLibraryFilePath();
        ASSERT_FALSE(found);
        EXPECT_EQ(found.error().description,
                  "No music library found; looked at \"" + absent + "\" (named by HARMONODE_MUSIC_LIBRARY)");
    }
}

TEST_F(ITLibraryFiles, ReloadReadsAgainOnlyWhenTheFileChanged) {
    const std::string path = write("Library.xml", oneTrack("First"));
    touch(path, 1'700'000'000);
    auto opened = ITLibrary::initWithFile(path);
    ASSERT_TRUE(opened) << opened.error().description;
    ITLibrary& library = *opened.value();
    const std::int64_t hash = library.hash();
    const ITLibMediaItem* before = &library.allMediaItems().at(0);

    EXPECT_TRUE(library.reloadData());
    EXPECT_EQ(&library.allMediaItems().at(0), before);  // not parsed again

    // Same size, one nanosecond later: read again.
    write("Library.xml", oneTrack("Fresh"));
    touch(path, 1'700'000'000, 1);
    EXPECT_TRUE(library.reloadData());
    ASSERT_EQ(library.allMediaItems().size(), 1u);
    EXPECT_EQ(library.allMediaItems()[0].title(), "Fresh");
    EXPECT_EQ(library.allPlaylists().at(0).items().at(0), &library.allMediaItems()[0]);
    EXPECT_EQ(library.hash(), hash);  // still the same object

    write("Library.xml", plist(tracks(track(1, str("Name", "A")) + track(2, str("Name", "B")))));
    EXPECT_TRUE(library.reloadData());
    EXPECT_EQ(library.allMediaItems().size(), 2u);
    EXPECT_TRUE(library.allPlaylists().empty());
}

TEST_F(ITLibraryFiles, AFailedReloadKeepsWhatWasRead) {
    const std::string path = write("Library.xml", oneTrack("Kept"));
    auto opened = ITLibrary::initWithFile(path);
    ASSERT_TRUE(opened);
    ITLibrary& library = *opened.value();

    write("Library.xml", "<plist><dict><key>Tracks</key><dict>");  // a half-written export
    touch(path, 1'600'000'000);
    EXPECT_FALSE(library.reloadData());
    EXPECT_EQ(library.allMediaItems().at(0).title(), "Kept");
    EXPECT_EQ(library.allPlaylists().at(0).items().at(0)->title(), "Kept");

    fs::remove(path);
    EXPECT_FALSE(library.reloadData());
    EXPECT_EQ(library.allMediaItems().at(0).title(), "Kept");

    write("Library.xml", oneTrack("Back"));  // a later reload recovers
    touch(path, 1'650'000'000);
    EXPECT_TRUE(library.reloadData());
    EXPECT_EQ(library.allMediaItems().at(0).title(), "Back");
}

TEST_F(ITLibraryFiles, NothingOutsideTheLibraryFileIsRead) {
    // A DTD and an entity file beside the library, named by it both
    // relatively and by absolute file URL: neither is ever opened.
    write("ext.dtd", "<!ENTITY x \"from the DTD\">\n");
    write("secret.txt", "from the secret file");
    const auto library = [&](const std::string& doctype, std::string_view name) {
        std::string xml = plist(tracks(track(1, str("Name", name))));
        const std::size_t start = xml.find("<!DOCTYPE");
        xml.replace(start, xml.find('\n', start) - start, doctype);
        return ITLibrary::initWithFile(write("Library.xml", xml));
    };
    const std::string dir = "file://" + dir_.string() + "/";
    for (const std::string& dtd : {std::string("ext.dtd"), dir + "ext.dtd"}) {
        auto opened = library("<!DOCTYPE plist SYSTEM \"" + dtd + "\">", "&x;");
        ASSERT_TRUE(opened) << opened.error().description;
        EXPECT_EQ(opened.value()->allMediaItems().at(0).title(), "&x;") << dtd;
    }
    for (const std::string& file : {std::string("secret.txt"), dir + "secret.txt"}) {
        auto opened = library("<!DOCTYPE plist [<!ENTITY e SYSTEM \"" + file + "\">]>", "&e;");
        ASSERT_FALSE(opened) << file;
        EXPECT_NE(opened.error().description.find("Entity 'e' is declared in the document type"), std::string::npos)
            << opened.error().description;
    }
}

TEST(ITLibraryDescriptions, LocationTypesAndPlayStatusesHaveThePlatformsNames) {
    EXPECT_EQ(description(ITLibMediaItemLocationType::File), "ITLibMediaItemLocationTypeFile");
    EXPECT_EQ(description(ITLibMediaItemLocationType::Remote), "ITLibMediaItemLocationTypeRemote");
    EXPECT_EQ(description(ITLibMediaItemPlayStatus::PartiallyPlayed), "ITLibMediaItemPlayStatusPartiallyPlayed");
    EXPECT_EQ(description(static_cast<ITLibMediaItemPlayStatus>(9)), "ITLibMediaItemPlayStatus(9)");
}

}  // namespace
}  // namespace platform
