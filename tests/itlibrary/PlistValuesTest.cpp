#include "platform/itlibrary/internal/PlistValues.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace platform {
namespace {

TEST(PlistValues, DatesAreUTCSecondsWithOrWithoutZ) {
    EXPECT_EQ(parsePlistDate("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parsePlistDate("2014-04-24T09:28:38Z"), 1398331718);
    EXPECT_EQ(parsePlistDate("2014-04-24T09:28:38"), 1398331718);
    EXPECT_EQ(parsePlistDate(" 2014-04-24T09:28:38Z\n"), 1398331718);
    EXPECT_EQ(parsePlistDate("1969-12-31T23:59:59Z"), -1);
    EXPECT_EQ(parsePlistDate("1904-01-01T00:00:00Z"), -2082844800);
    EXPECT_EQ(parsePlistDate("1901-12-13T20:45:51Z"), -2147483649LL);  // just before 32-bit time
    EXPECT_EQ(parsePlistDate("2038-01-19T03:14:08Z"), 2147483648LL);   // just after
    EXPECT_EQ(parsePlistDate("2040-02-29T12:00:00Z"), 2214129600LL);
    EXPECT_EQ(parsePlistDate("0001-01-01T00:00:00Z"), -62135596800LL);
    EXPECT_EQ(parsePlistDate("-0001-03-01T00:00:00Z"), -62193657600LL);
    EXPECT_EQ(parsePlistDate("10000-01-01T00:00:00Z"), 253402300800LL);
    EXPECT_EQ(parsePlistDate("2016-12-31T23:59:60Z"), 1483228800);  // a leap second
}

TEST(PlistValues, DatesCoverTheWholeSixtyFourBitRange) {
    // 292277026596-12-04T15:30:07Z is the last second in 64 bits.
    EXPECT_EQ(parsePlistDate("292277026596-12-04T15:30:07Z"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(parsePlistDate("292277026596-12-04T15:30:08Z"), std::nullopt);
    EXPECT_EQ(parsePlistDate("-292277022657-01-27T08:29:52Z"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(parsePlistDate("-292277022657-01-27T08:29:51Z"), std::nullopt);
    EXPECT_EQ(parsePlistDate("999999999999999-01-01T00:00:00Z"), std::nullopt);
    EXPECT_EQ(parsePlistDate("9999999999999999-01-01T00:00:00Z"), std::nullopt);
}

TEST(PlistValues, MalformedDatesGiveNone) {
    for (const char* text :
         {"", "Z", "2014-04-24", "2014-04-24 09:28:38Z", "2014-4-24T09:28:38Z", "14-04-24T09:28:38Z",
          "2014-13-01T00:00:00Z", "2014-00-01T00:00:00Z", "2014-02-29T00:00:00Z", "1900-02-29T00:00:00Z",
          "2014-04-31T00:00:00Z", "2014-04-24T24:00:00Z", "2014-04-24T23:60:00Z", "2014-04-24T23:00:61Z",
          "2014-04-24T09:28:38ZZ", "2014-04-24T09:28:38+01:00", "2014-04-24T09:28:38.5Z", "2O14-04-24T09:28:38Z",
          "--2014-04-24T09:28:38Z"}) {
        EXPECT_EQ(parsePlistDate(text), std::nullopt) << text;
    }
    EXPECT_EQ(parsePlistDate("2000-02-29T00:00:00Z"), 951782400);  // 400-year leap day
}

TEST(PlistValues, IntegersAreSignedDecimalOrHexAndSaturateAtTheFieldsRange) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::uint64_t kUMax = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        const char* text;
        std::optional<std::int64_t> integer;
        std::optional<std::uint64_t> unsignedValue;
        std::optional<std::int64_t> identifier;
    };
    const Case cases[] = {
        {"0", 0, 0u, 0},
        {"-255", -255, 0u, -255},
        {"+7", 7, 7u, 7},
        {" 42\n", 42, 42u, 42},
        {"0x1F", 31, 31u, 31},
        {"0XfF", 255, 255u, 255},
        {"-0x10", -16, 0u, -16},
        {"9223372036854775807", kMax, 9223372036854775807u, kMax},
        {"-9223372036854775808", kMin, 0u, kMin},
        {"9223372036854775808", kMax, 9223372036854775808u, std::nullopt},
        {"-9223372036854775809", kMin, 0u, std::nullopt},
        {"18446744073709551615", kMax, kUMax, std::nullopt},
        {"99999999999999999999999", kMax, kUMax, std::nullopt},
        {"-99999999999999999999999", kMin, 0u, std::nullopt},
        {"0xFFFFFFFFFFFFFFFFFF", kMax, kUMax, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parsePlistInteger(c.text), c.integer) << c.text;
        EXPECT_EQ(parsePlistUnsigned(c.text), c.unsignedValue) << c.text;
        EXPECT_EQ(parsePlistIdentifier(c.text), c.identifier) << c.text;
    }
    for (const char* text : {"", "-", "+", "+-1", "--1", "12abc", "1.5", "1 2", "0x", "0x-1", "0xg", "1e3", "x10"}) {
        EXPECT_EQ(parsePlistInteger(text), std::nullopt) << text;
        EXPECT_EQ(parsePlistUnsigned(text), std::nullopt) << text;
        EXPECT_EQ(parsePlistIdentifier(text), std::nullopt) << text;
    }
}

TEST(PlistValues, PersistentIDsAreOneToSixteenHexDigits) {
    EXPECT_EQ(parsePersistentID("12ACE9259A434B5E"), 0x12ACE9259A434B5EULL);
    EXPECT_EQ(parsePersistentID("12ace9259a434b5e"), 0x12ACE9259A434B5EULL);
    EXPECT_EQ(parsePersistentID("FFFFFFFFFFFFFFFF"), 0xFFFFFFFFFFFFFFFFULL);
    EXPECT_EQ(parsePersistentID("1F"), 0x1FULL);
    for (const char* text : {"", "0x1F", "12ACE9259A434B5E0", "12ACE9259A434B5G", "-1", "12 AC"}) {
        EXPECT_EQ(parsePersistentID(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace platform
