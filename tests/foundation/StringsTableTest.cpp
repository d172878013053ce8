#include "platform/foundation/internal/StringsTable.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

std::string utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? hi : lo;
        bytes += bigEndian ? lo : hi;
    }
    return bytes;
}

struct TableCase {
    const char* name;
    std::string bytes;
    StringsTable expected;
};

TEST(StringsTable, ReadsEveryFormAndEncoding) {
    const std::u16string table16 = u"/* UTF-16 */ \"k\" = \"caf\u00E9 \U0001F600\";";
    const TableCase cases[] = {
        {"plain entry", R"("a" = "b";)", {{u"a", u"b"}}},
        {"comments anywhere",
         "/* head\n */ \"a\" /* in */ = // to the end\n \"b\"; // tail\n/**/",
         {{u"a", u"b"}}},
        {"escapes", R"("k" = "q\" b\\ \'n\n t\t r\r \U00e9\u20AC x\y";)", {{u"k", u"q\" b\\ 'n\n t\t r\r \u00E9\u20AC xy"}}},
        {"surrogates by escape", R"("e" = "\UD83D\UDE00";)", {{u"e", u"\U0001F600"}}},
        {"unquoted and a key alone", "plain_key = plain.value-1/x;\n\"only\";", {{u"plain_key", u"plain.value-1/x"}, {u"only", u"only"}}},
        {"braces, a line break in a string, the last of two", "{ \"a\" = \"one\"; \"a\" = \"t\nwo\"; }", {{u"a", u"t\nwo"}}},
        {"nothing but comments", "  // none\n/* none */\n", {}},
        {"UTF-8 with its mark", "\xEF\xBB\xBF\"k\" = \"caf\xC3\xA9\";", {{u"k", u"caf\u00E9"}}},
        {"UTF-8 with a bad byte", "\"k\" = \"a\xFF" "b\";", {{u"k", u"a\uFFFDb"}}},
        {"UTF-16 little-endian", utf16(table16, false), {{u"k", u"caf\u00E9 \U0001F600"}}},
        {"UTF-16 big-endian", utf16(table16, true), {{u"k", u"caf\u00E9 \U0001F600"}}},
        {"property list",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict>\n  <key>a &amp; b</key><string>&#x1F600; <![CDATA[<c>]]></string>\n"
         "  <!-- note --><key>empty</key><string/>\n</dict></plist>",
         {{u"a & b", u"\U0001F600 <c>"}, {u"empty", u""}}},
        {"property list in UTF-16", utf16(u"<plist><dict><key>k</key><string>\u00E9</string></dict></plist>", false),
         {{u"k", u"\u00E9"}}},
    };
    for (const TableCase& c : cases) {
        const Result<StringsTable> table = parseStringsTable(c.bytes);
        ASSERT_TRUE(table.ok()) << c.name << ": " << table.error().description;
        EXPECT_EQ(table.value(), c.expected) << c.name;
    }
}

TEST(StringsTable, MalformedTextSaysWhatAndWhere) {
    const struct {
        std::string bytes;
        const char* error;
    } cases[] = {
        {"\"a\" = \"b\"\n\"c\" = \"d\";", "line 2: expected ';' after the value, found '\"'"},
        {"\"a\" = \"b;\n", "line 1: the string is never closed"},
        {"\"a\" = \"b\"; /* open\n", "line 1: the comment is never closed"},
        {"\"a\" =\n;", "line 2: expected a value, found ';'"},
        {"\"a\" = \"\\Uzz\";", "line 1: \\U is not followed by hexadecimal digits"},
        {"{ \"a\" = \"b\";", "line 1: the '{' is never closed"},
        {std::string("\xFF\xFE\"\x00" "a", 5), "the UTF-16 text ends in half a character"},
        {"<plist><dict><key>n</key><integer>1</integer></dict></plist>", "line 1: the value is <integer>, not <string>"},
        {"<plist><array/></plist>", "the property list holds no dictionary"},
        {"<!DOCTYPE plist [<!ENTITY e \"x\">]>\n<plist><dict><key>k</key><string>&e;</string></dict></plist>",
         "line 2: entity 'e' is not expanded in a strings table"},
        {"<plist><dict><key>k</key>\n<string>v</dict></plist>", "line 2: "},
    };
    for (const auto& c : cases) {
        const Result<StringsTable> table = parseStringsTable(c.bytes);
        ASSERT_FALSE(table.ok()) << c.bytes;
        EXPECT_TRUE(table.error().description.starts_with(c.error)) << c.bytes << "\n" << table.error().description;
    }
}

}  // namespace
}  // namespace platform
