// Black-box tests of the library and write commands on library files.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <boost/json/parse.hpp>

#include "tests/bridge/BridgeProcess.h"

namespace harmonode::testing {
namespace {

namespace fs = std::filesystem;

const std::string kSample = HARMONODE_SOURCE_DIR "/samples/Library.xml";
const std::string kDestination = "/Volumes/Media/_harmonode/harmonode_itunes.json";

BridgeOptions withLibrary(const std::string& path) {
    BridgeOptions options;
    options.environment["HARMONODE_MUSIC_LIBRARY"] = path;
    return options;
}

std::string join(const std::vector<std::string>& lines, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += lines[i] + "\n";
    return text;
}

TEST(LibraryCommand, ReplyIsTheCompactDocumentAfterTheSameDocumentPretty) {
    const BridgeRun run = runBridge("library\nquit\n", withLibrary(kSample));
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto blocks = run.blocks();
    ASSERT_EQ(blocks.size(), 2u);
    const auto& block = blocks[0];
    ASSERT_GT(block.size(), 10u);
    const boost::json::value reply = boost::json::parse(block.back());
    const boost::json::value pretty = boost::json::parse(join(block, block.size() - 1));
    EXPECT_EQ(reply, pretty);
    EXPECT_TRUE(block[1].starts_with("  \"")) << block[1];
    EXPECT_GT(reply.at("tracks").as_array().size(), 5u);
    EXPECT_GT(reply.at("playlists").as_array().size(), 3u);
}

TEST(LibraryCommand, TwoRequestsBuildTwoDocumentsFromTwoLibraryObjects) {
    const BridgeRun run = runBridge("library\nlibrary\nquit\n", withLibrary(kSample));
    const auto replies = run.replies();
    ASSERT_EQ(replies.size(), 3u);
    auto first = boost::json::parse(replies[0]).as_object();
    auto second = boost::json::parse(replies[1]).as_object();
    EXPECT_NE(first.at("hashValue"), second.at("hashValue"));
    for (auto* document : {&first, &second}) {
        document->erase("hashValue");
        document->erase("create_ts");
    }
    EXPECT_EQ(first, second);
}

TEST(LibraryCommand, ALibraryThatCannotBeOpenedIsAnErrorReplyAndNothingElse) {
    const fs::path folder = fs::temp_directory_path() / ("harmonode-badlib-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::ofstream(folder / "broken.xml") << "<?xml version=\"1.0\"?><plist><dict><key>Tracks</key><dict>";
    ASSERT_EQ(mkfifo((folder / "fifo.xml").c_str(), 0600), 0);  // opening it for reading would wait for a writer
    for (const std::string& path :
         {(folder / "absent.xml").string(), (folder / "broken.xml").string(), (folder / "fifo.xml").string()}) {
        const BridgeRun run = runBridge("library\nwrite\nping\nquit\n", withLibrary(path));
        const auto blocks = run.blocks();
        ASSERT_EQ(blocks.size(), 4u) << run.out;
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(blocks[i].size(), 1u) << "nothing but the reply";
            const auto error = boost::json::parse(blocks[i][0]).at("error").as_string();
            EXPECT_TRUE(error.starts_with("error ")) << error;
            EXPECT_NE(error.find(path), boost::json::string::npos) << error;
        }
        EXPECT_EQ(blocks[2].back(), R"({"pong":"yes..."})");
    }
    fs::remove_all(folder);
}

// A path's bytes that are not UTF-8, from the override or from HOME, are
// shown as U+FFFD: the reply stays an error reply, never the fatal line.
TEST(LibraryCommand, AnErrorAboutAPathThatIsNotUtf8IsStillAnErrorReply) {
    const struct {
        std::string variable, value, shown;
    } cases[] = {
        {"HARMONODE_MUSIC_LIBRARY", "/tmp/no\xFFne.xml", "/tmp/no\xEF\xBF\xBDne.xml"},
        {"HOME", "/tmp/no\xFFne", "/tmp/no\xEF\xBF\xBDne/Music/Music/Library.xml"},
    };
    for (const auto& c : cases) {
        BridgeOptions options = withLibrary("");  // not set: the usual places
        options.environment[c.variable] = c.value;
        const BridgeRun run = runBridge("library\nquit\n", options);
        const auto replies = run.replies();
        ASSERT_EQ(replies.size(), 2u) << run.out;
        const auto error = boost::json::parse(replies[0]).at("error").as_string();
        EXPECT_TRUE(error.starts_with("error No music library found")) << error;
        EXPECT_NE(error.find(c.shown), boost::json::string::npos) << error;
    }
}

TEST(WriteCommand, AMissingDestinationFolderIsAnErrorAfterTheProgressText) {
    if (fs::exists("/Volumes/Media/_harmonode")) GTEST_SKIP() << "this machine has the destination folder";
    const BridgeRun run = runBridge("write\nquit\n", withLibrary(kSample));
    const auto block = run.blocks().at(0);
    const auto error = boost::json::parse(block.back()).at("error").as_string();
    EXPECT_TRUE(error.starts_with("error ")) << error;
    EXPECT_GT(block.size(), 10u) << "the document was written as progress text first";
    for (const auto& line : block) EXPECT_FALSE(line.starts_with("Wrote to ")) << line;
    EXPECT_FALSE(fs::exists(kDestination));
}

TEST(WriteCommand, ASuccessReplacesTheEarlierFileWholeAndSaysWhere) {
    const PrivateRoot root;
    const fs::path folder = root.destinationFolder();
    std::ofstream(folder / "harmonode_itunes.json") << std::string(1 << 20, '#');

    BridgeOptions options = withLibrary(kSample);
    root.enterIn(options);
    const BridgeRun run = runBridge("write\nlibrary\nquit\n", options);
    const std::string written = [&] {
        std::ifstream in(folder / "harmonode_itunes.json");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const std::size_t filesInFolder = static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));

    if (run.exitStatus == 125) GTEST_SKIP() << "no private mount namespace here: " << run.err;
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto blocks = run.blocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].back(), "{}");
    EXPECT_EQ(blocks[0][blocks[0].size() - 2], "Wrote to file://" + kDestination);
    auto fromFile = boost::json::parse(written).as_object();
    auto fromReply = boost::json::parse(blocks[1].back()).as_object();
    for (auto* document : {&fromFile, &fromReply}) {
        document->erase("hashValue");
        document->erase("create_ts");
    }
    EXPECT_EQ(fromFile, fromReply);
    EXPECT_EQ(written.find('#'), std::string::npos) << "nothing of the earlier file is left";
    EXPECT_EQ(filesInFolder, 1u) << "no temporary file is left";
}

TEST(LibraryCommand, TextWithLineBreaksStaysOnTheOneReplyLine) {
    const BridgeRun run = runBridge("library\nquit\n", withLibrary(kSample));
    const auto blocks = run.blocks();
    ASSERT_FALSE(blocks.empty());
    const auto document = boost::json::parse(blocks[0].back());
    bool found = false;
    for (const auto& track : document.at("tracks").as_array()) {
        if (const auto* comments = track.as_object().if_contains("Comments")) {
            found = found || comments->as_string().find('\n') != boost::json::string::npos;
        }
    }
    EXPECT_TRUE(found) << "the sample holds a comment with a line break";
    // The pretty text and the reply are the only lines: none was split.
    EXPECT_EQ(boost::json::parse(join(blocks[0], blocks[0].size() - 1)), document);
}

}  // namespace
}  // namespace harmonode::testing
