#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/File.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UTF8.h"

namespace platform {
namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(UTF8, ValidTextPassesUnchanged) {
    const std::string text = "plain, Caf\xC3\xA9, \xE2\x82\xAC, \xF0\x9F\x8E\xB5, \xF4\x8F\xBF\xBF";
    EXPECT_TRUE(isValidUTF8(text));
    EXPECT_EQ(decodeUTF8Lossy(text), text);
}

TEST(UTF8, EachMaximalIllFormedSubpartBecomesOneReplacement) {
    EXPECT_EQ(decodeUTF8Lossy("a\xFF" "b"), "a" + kFFFD + "b");
    EXPECT_EQ(decodeUTF8Lossy("\xC3"), kFFFD);                          // truncated at the end
    EXPECT_EQ(decodeUTF8Lossy("\xE2\x82" "x"), kFFFD + "x");            // truncated in the middle
    EXPECT_EQ(decodeUTF8Lossy("\xC0\xAF"), kFFFD + kFFFD);              // overlong
    EXPECT_EQ(decodeUTF8Lossy("\xED\xA0\x80"), kFFFD + kFFFD + kFFFD);  // encoded surrogate
    EXPECT_EQ(decodeUTF8Lossy("\xF4\x90\x80\x80"), kFFFD + kFFFD + kFFFD + kFFFD);  // above U+10FFFF
    EXPECT_EQ(decodeUTF8Lossy("\xF0\x9F\x8E"), kFFFD);
    EXPECT_TRUE(isValidUTF8(decodeUTF8Lossy("\x80\xBF\xFE\xFE long enough to pass the eight-byte scan \xFF")));
}

TEST(UTF8, Utf16RoundTripsAndLoneSurrogatesBecomeReplacements) {
    const std::u16string text = u"A\u00E9\u20AC\U0001F3B5";
    EXPECT_EQ(utf16ToUTF8(text), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5");
    EXPECT_EQ(utf8ToUTF16(utf16ToUTF8(text)), text);
    EXPECT_EQ(utf16ToUTF8(std::u16string(1, char16_t(0xD800)) + u"x"), kFFFD + "x");
    EXPECT_EQ(utf16ToUTF8(std::u16string(1, char16_t(0xDC00))), kFFFD);
    EXPECT_EQ(utf16ToUTF8(std::u16string(u"\0", 1)), std::string("\0", 1));
}

TEST(URL, FilePathsAreDecodedForEveryFileUrlForm) {
    EXPECT_EQ(URL::fromString("file:///Users/a/My%20Music/Caf%C3%A9.mp3")->path(), "/Users/a/My Music/Caf\xC3\xA9.mp3");
    EXPECT_EQ(URL::fromString("file://localhost/G:/Music/x%23y.mp3")->path(), "/G:/Music/x#y.mp3");
    EXPECT_EQ(URL::fromString("file:///Users/a/Music/")->path(), "/Users/a/Music");
    EXPECT_EQ(URL::fromString("file:///")->path(), "/");
    EXPECT_EQ(URL::fromString("file:///a%FFb")->path(), "/a" + kFFFD + "b");
    EXPECT_EQ(URL::fromString("file:///100%")->path(), "/100%");
    EXPECT_TRUE(URL::fromString("FILE:///x")->isFileURL());
    EXPECT_FALSE(URL::fromString("http://example.com/feed.mp3")->isFileURL());
    EXPECT_EQ(URL::fromString("http://example.com/feed.mp3?a=1")->path(), "/feed.mp3");
    EXPECT_EQ(URL::fromString(""), std::nullopt);
}

TEST(URL, FileUrlsFromPathsAreEscapedAndAbsolute) {
    EXPECT_EQ(URL::fileURLWithPath("/Volumes/Media/_harmonode/harmonode_itunes.json").absoluteString(),
              "file:///Volumes/Media/_harmonode/harmonode_itunes.json");
    const URL spaced = URL::fileURLWithPath("/tmp/a b/Caf\xC3\xA9%.mp3");
    EXPECT_EQ(spaced.absoluteString(), "file:///tmp/a%20b/Caf%C3%A9%25.mp3");
    EXPECT_EQ(spaced.path(), "/tmp/a b/Caf\xC3\xA9%.mp3");
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(URL::fileURLWithPath("song.mp3").path(), cwd + "/song.mp3");
}

class WriteFileAtomically : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("harmonode-file-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
    }
    std::filesystem::path folder;
};

TEST_F(WriteFileAtomically, CreatesWithUsualModeAndKeepsTheModeOfAReplacedFile) {
    const auto path = folder / "a.json";
    ASSERT_TRUE(writeFileAtomically(path.string(), "one").ok());
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0644));
    std::filesystem::permissions(path, std::filesystem::perms(0600));
    ASSERT_TRUE(writeFileAtomically(path.string(), "two").ok());
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0600));
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "two");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(WriteFileAtomically, AFailedRenameRemovesTheTemporaryFile) {
    const auto path = folder / "taken";
    std::filesystem::create_directories(path / "inside");  // a non-empty folder cannot be renamed over
    const Status status = writeFileAtomically(path.string(), "data");
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.error().description.find(path.string()), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(path / "inside"));
    EXPECT_EQ(entries(), 1u);
}

}  // namespace
}  // namespace platform
