#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "export/JsonText.h"
#include "export/Utils.h"
#include "platform/foundation/UTF8.h"

namespace harmonode {
namespace {

namespace fs = std::filesystem;

TEST(PidToString, IsSixteenUpperCaseHexDigitsLikePrintf) {
    EXPECT_EQ(pidToString(0), "0000000000000000");
    EXPECT_EQ(pidToString(UINT64_MAX), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(pidToString(1345706736388098910ULL), "12ACE9259A434B5E");
    EXPECT_EQ(pidToString(255), "00000000000000FF");
    std::mt19937_64 random(7);
    for (int i = 0; i < 10000; ++i) {
        const std::uint64_t value = random() >> (i % 64);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%016" PRIX64, value);
        ASSERT_EQ(pidToString(value), expected);
    }
}

TEST(MillisecondsSince1970, RoundsHalvesAwayFromZero) {
    using platform::Date;
    EXPECT_EQ(millisecondsSince1970(Date{0.0}), 0);
    EXPECT_EQ(millisecondsSince1970(Date{-1.0}), -1000);
    EXPECT_EQ(millisecondsSince1970(Date{0.0625}), 63);
    EXPECT_EQ(millisecondsSince1970(Date{-0.0625}), -63);
    EXPECT_EQ(millisecondsSince1970(Date{1.2344}), 1234);
    EXPECT_EQ(millisecondsSince1970(Date{4102444800.0}), 4102444800000);     // 2100, past 2038
    EXPECT_EQ(millisecondsSince1970(Date{-2208988800.0}), -2208988800000);   // 1900, before 1901
}

TEST(MillisecondsSince1970, TimesOutsideTheRangeAreClampedNotUndefined) {
    EXPECT_EQ(millisecondsSince1970(platform::Date{1e300}), INT64_MAX);
    EXPECT_EQ(millisecondsSince1970(platform::Date{-1e300}), INT64_MIN);
    EXPECT_EQ(millisecondsSince1970(platform::Date{std::nan("")}), 0);
}

TEST(JsonText, PrettyTextIsIndentedAndReadsBackTheSame) {
    const boost::json::object document = {
        {"name", "Caf\xC3\xA9 \xF0\x9F\x8E\xB5"},
        {"n", -5},
        {"big", UINT64_MAX},
        {"flag", true},
        {"list", boost::json::array{"a\nb", 1, boost::json::object{}}},
        {"empty", boost::json::array{}},
    };
    const auto text = jsonToString(document);
    ASSERT_TRUE(text.ok());
    EXPECT_GT(std::count(text.value().begin(), text.value().end(), '\n'), 5);
    EXPECT_NE(text.value().find("\n  \"name\" : "), std::string::npos) << text.value();
    EXPECT_NE(text.value().find("\n    \"a\\nb\""), std::string::npos) << text.value();
    EXPECT_EQ(boost::json::parse(text.value()), boost::json::value(document));
}

TEST(JsonText, CompactTextIsOneLineWithEveryControlCharacterEscaped) {
    std::string controls;
    for (char c = 1; c < 0x20; ++c) controls += c;
    const boost::json::object reply = {{"error", controls + "\"\\/"}};
    const auto text = serializeJSON(reply, JsonLayout::compact);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text.value().find_first_of("\n\r\t"), std::string::npos);
    EXPECT_EQ(text.value().find(' '), std::string::npos);
    EXPECT_EQ(boost::json::parse(text.value()), boost::json::value(reply));
}

TEST(JsonText, ValuesThatCannotBeTextAreErrorsNotBadText) {
    EXPECT_FALSE(serializeJSON(boost::json::object{{"t", "bad \xFF byte"}}, JsonLayout::compact).ok());
    EXPECT_FALSE(serializeJSON(boost::json::object{{"\xC0", 1}}, JsonLayout::pretty).ok());
    EXPECT_FALSE(serializeJSON(boost::json::value(std::nan("")), JsonLayout::compact).ok());
    EXPECT_EQ(serializeJSON(boost::json::value(0.5), JsonLayout::compact).value(), "0.5");
}

class WriteJSON : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("harmonode-writejson-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path folder;
};

TEST_F(WriteJSON, ReplacesAnEarlierFileWholeWithExactlyTheText) {
    const fs::path path = folder / "library.json";
    std::ofstream(path) << std::string(100000, 'x');
    const boost::json::object document = {{"tracks", boost::json::array{}}, {"apiMajorVersion", 1}};
    ASSERT_TRUE(writeJSON(platform::URL::fileURLWithPath(path.string()), document).ok());
    EXPECT_EQ(read(path), jsonToString(document).value());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(WriteJSON, AMissingFolderIsAnErrorAndLeavesNothing) {
    const fs::path path = folder / "absent" / "library.json";
    const auto status = writeJSON(platform::URL::fileURLWithPath(path.string()), {{"a", 1}});
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.error().description.find(path.string()), std::string::npos) << status.error().description;
    EXPECT_FALSE(fs::exists(folder / "absent"));
}

TEST_F(WriteJSON, AFailedWriteKeepsTheOldFileAndRemovesTheTemporary) {
    const fs::path path = folder / "library.json";
    std::ofstream(path) << "old";
    // Text that cannot be serialised fails before anything is written.
    EXPECT_FALSE(writeJSON(platform::URL::fileURLWithPath(path.string()), {{"t", "\xFF"}}).ok());
    EXPECT_EQ(read(path), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST(RunTests, PassesSilently) {
    ::testing::internal::CaptureStdout();
    runTests();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace harmonode

namespace harmonode {
namespace {

TEST(JsonText, StreamedTextComesInBoundedPiecesAndEqualsTheWholeText) {
    boost::json::object document;
    boost::json::array tracks;
    for (int i = 0; i < 60000; ++i) tracks.emplace_back(boost::json::object{{"Title", "Song " + std::to_string(i)}, {"n", i}});
    document["tracks"] = std::move(tracks);
    ASSERT_TRUE(checkJSON(document).ok());
    for (const auto layout : {JsonLayout::compact, JsonLayout::pretty}) {
        std::string streamed;
        std::size_t pieces = 0, largest = 0;
        streamJSON(document, layout, [&](std::string_view piece) {
            ++pieces;
            largest = std::max(largest, piece.size());
            streamed += piece;
        });
        EXPECT_EQ(streamed, serializeJSON(document, layout).value());
        EXPECT_GT(pieces, 1u);
        EXPECT_LT(largest, 2u << 20);
    }
}

TEST(JsonText, CheckFindsWhatCannotBeWrittenAnywhereInTheDocument) {
    const boost::json::object deep = {{"a", boost::json::array{1, boost::json::object{{"b", "ok"}, {"c", "\xED\xA0\x80"}}}}};
    const auto status = checkJSON(deep);
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.error().description.find("UTF-8"), std::string::npos);
    EXPECT_FALSE(checkJSON(boost::json::object{{"x", boost::json::array{INFINITY}}}).ok());
    EXPECT_TRUE(checkJSON(boost::json::object{{"x", "Caf\xC3\xA9"}}).ok());
}

}  // namespace
}  // namespace harmonode

namespace harmonode {
namespace {

TEST(JsonText, EscapingMatchesAnIndependentWriterAtEveryPosition) {
    // Each byte that must be escaped, and some that must not, at every offset
    // of strings long enough to span several eight-byte words.
    const std::string specials = std::string("\"\\\n\x01\x1f\x7f ", 7) + "\xC3\xA9" + "\xE2\x82\xAC";
    for (std::size_t length = 0; length < 20; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
            for (const char special : specials) {
                std::string text(length, 'a');
                text.insert(at, 1, special);
                if (!platform::isValidUTF8(text)) continue;
                const boost::json::object object = {{"k", text}};
                ASSERT_EQ(serializeJSON(object, JsonLayout::compact).value(), boost::json::serialize(object))
                    << "length " << length << " at " << at;
            }
        }
    }
}

}  // namespace
}  // namespace harmonode
