#include "export/Utils.h"

#include <gtest/gtest.h>

#include <vector>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include <boost/json/serialize.hpp>

#include "export/ITunesToJSON.h"
#include "export/JsonText.h"
#include "platform/foundation/UTF8.h"
#include "platform/itlibrary/ITLibrary.h"

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
    static LibraryDocument sampleDocument() {
        auto library = platform::ITLibrary::initWithFile(HARMONODE_SAMPLE_LIBRARY);
        if (!library) throw std::runtime_error(library.error().description);
        return ITunesToJSON().readLibrary(std::move(library.value()));
    }
    fs::path folder;
};

TEST_F(WriteJSON, ReplacesAnEarlierFileWholeWithExactlyThePrettyTextItAlsoEchoes) {
    const fs::path path = folder / "library.json";
    std::ofstream(path) << std::string(100000, 'x');
    const LibraryDocument document = sampleDocument();
    std::string echoed, pretty;
    ASSERT_TRUE(writeJSON(platform::URL::fileURLWithPath(path.string()), document,
                          [&](std::string_view piece) { echoed += piece; })
                    .ok());
    jsonToString(document, [&](std::string_view piece) { pretty += piece; });
    EXPECT_EQ(read(path), pretty);
    EXPECT_EQ(echoed, pretty);
    EXPECT_GT(std::count(pretty.begin(), pretty.end(), '\n'), 100) << "pretty-printed";
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(WriteJSON, AFileThatCannotBeWrittenIsAnErrorKeepsWhatWasThereAndStillEchoesTheText) {
    const fs::path absent = folder / "absent" / "library.json";
    const fs::path taken = folder / "taken";  // a folder, which no file replaces
    fs::create_directories(taken / "inside");
    struct Case {
        const char* what;
        platform::URL destination;
        std::string named;  // in the error
    } cases[] = {
        {"a missing folder", platform::URL::fileURLWithPath(absent.string()), absent.string()},
        {"a folder in the way", platform::URL::fileURLWithPath(taken.string()), taken.string()},
        {"not a file URL", *platform::URL::fromString("http://example.com/library.json"), "http://example.com"},
    };
    const LibraryDocument document = sampleDocument();
    std::string pretty;
    jsonToString(document, [&](std::string_view piece) { pretty += piece; });
    for (const Case& c : cases) {
        std::string echoed;
        const auto status = writeJSON(c.destination, document, [&](std::string_view piece) { echoed += piece; });
        ASSERT_FALSE(status.ok()) << c.what;
        EXPECT_NE(status.error().description.find(c.named), std::string::npos) << c.what << ": " << status.error().description;
        EXPECT_EQ(echoed, pretty) << c.what;
        EXPECT_FALSE(writeJSON(c.destination, document).ok()) << c.what << ", without an echo";
    }
    EXPECT_FALSE(fs::exists(folder / "absent"));
    EXPECT_TRUE(fs::is_directory(taken / "inside"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "no temporary file left";
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

TEST(JsonText, CheckFindsWhatCannotBeWrittenAnywhereInTheDocument) {
    const boost::json::object deep = {{"a", boost::json::array{1, boost::json::object{{"b", "ok"}, {"c", "\xED\xA0\x80"}}}}};
    const auto status = checkJSON(deep);
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.error().description.find("UTF-8"), std::string::npos);
    EXPECT_FALSE(checkJSON(boost::json::object{{"x", boost::json::array{INFINITY}}}).ok());
    EXPECT_FALSE(checkJSON(boost::json::object{{"t", "bad \xFF byte"}}).ok());
    EXPECT_FALSE(checkJSON(boost::json::object{{"\xC0", 1}}).ok());
    EXPECT_TRUE(checkJSON(boost::json::object{{"x", "Caf\xC3\xA9"}}).ok());
}

}  // namespace
}  // namespace harmonode

namespace harmonode {
namespace {

TEST(JsonText, StringsAreEscapedAsAnIndependentWriterEscapesThemAtEveryPosition) {
    // Each byte that must be escaped, and some that must not, at every offset
    // of strings long enough to span several eight-byte words.
    const std::string specials = std::string("\"\\\n\x01\x1f\x7f ", 7) + "\xC3\xA9" + "\xE2\x82\xAC";
    for (std::size_t length = 0; length < 20; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
            for (const char special : specials) {
                std::string text(length, 'a');
                text.insert(at, 1, special);
                if (!platform::isValidUTF8(text)) continue;
                std::string written;
                {
                    JsonTextOutput out(written);
                    out.string(text);
                }
                ASSERT_EQ(written, boost::json::serialize(boost::json::value(text))) << "length " << length << " at " << at;
            }
        }
    }
}

TEST(JsonText, NumbersAreWrittenAsTheirDecimalDigits) {
    std::vector<std::int64_t> signedValues = {0, 9, 10, 99, 100, -1, -9, -10, INT64_MAX, INT64_MIN, INT64_MIN + 1};
    std::vector<std::uint64_t> unsignedValues = {0, 9, 10, 99, 100, UINT64_MAX};
    for (std::uint64_t power = 1; power <= UINT64_MAX / 10; power *= 10) {
        for (const std::uint64_t value : {power - 1, power, power + 1, power * 10 - 1}) {
            unsignedValues.push_back(value);
            if (value <= static_cast<std::uint64_t>(INT64_MAX)) {
                signedValues.push_back(static_cast<std::int64_t>(value));
                signedValues.push_back(-static_cast<std::int64_t>(value));
            }
        }
    }
    for (const std::int64_t value : signedValues) {
        std::string written;
        JsonTextOutput(written).number(value);
        EXPECT_EQ(written, std::to_string(value));
    }
    for (const std::uint64_t value : unsignedValues) {
        std::string written;
        JsonTextOutput(written).number(value);
        EXPECT_EQ(written, std::to_string(value));
    }
}

}  // namespace
}  // namespace harmonode
