#include "platform/itlibrary/PlistValues.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

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

TEST(PlistValues, IntegersAreSixtyFourBitAndWhole) {
    EXPECT_EQ(parsePlistInteger("0"), 0);
    EXPECT_EQ(parsePlistInteger("-255"), -255);
    EXPECT_EQ(parsePlistInteger("+7"), 7);
    EXPECT_EQ(parsePlistInteger(" 42\n"), 42);
    EXPECT_EQ(parsePlistInteger("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(parsePlistInteger("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    for (const char* text : {"", "-", "+", "+-1", "9223372036854775808", "12abc", "1.5", "0x10", "1 2"}) {
        EXPECT_EQ(parsePlistInteger(text), std::nullopt) << text;
    }
    EXPECT_EQ(parsePlistUnsigned("18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(parsePlistUnsigned("-1"), std::nullopt);
    EXPECT_EQ(parsePlistUnsigned("18446744073709551616"), std::nullopt);
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
