#include "platform/itlibrary/internal/XmlByteCleaner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

// Cleans `input` split into pieces at the given offsets.
std::string cleanSplit(const std::string& input, const std::vector<std::size_t>& cuts) {
    XmlByteCleaner cleaner;
    std::string out;
    std::size_t from = 0;
    auto feed = [&](std::string_view piece) {
        std::string buffer(XmlByteCleaner::maxOutput(piece.size()), '\0');
        buffer.resize(cleaner.feed(piece, buffer.data()));
        out += buffer;
    };
    for (const std::size_t cut : cuts) {
        feed(std::string_view(input).substr(from, cut - from));
        from = cut;
    }
    feed(std::string_view(input).substr(from));
    std::string tail(XmlByteCleaner::maxOutput(0), '\0');
    tail.resize(cleaner.finish(tail.data()));
    return out + tail;
}

TEST(XmlByteCleaner, ValidTextPassesUnchanged) {
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<plist><dict><key>Name</key>"
        "<string>Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5 &amp; &lt; &#233; &#x1F3B5; &#9;&#10;&#13;"
        "\xC2\x85 \x7F \xEF\xBF\xBD</string></dict></plist>\n";
    EXPECT_EQ(XmlByteCleaner::clean(text), text);
}

TEST(XmlByteCleaner, InvalidUTF8BecomesOneReplacementPerMaximalSubpart) {
    EXPECT_EQ(XmlByteCleaner::clean("a\xFF" "b"), "a" + kFFFD + "b");
    EXPECT_EQ(XmlByteCleaner::clean("a\x80\x80" "b"), "a" + kFFFD + kFFFD + "b");          // stray continuations
    EXPECT_EQ(XmlByteCleaner::clean("a\xE2\x82" "b"), "a" + kFFFD + "b");                  // truncated sequence
    EXPECT_EQ(XmlByteCleaner::clean("\xC0\xAF"), kFFFD + kFFFD);                           // overlong
    EXPECT_EQ(XmlByteCleaner::clean("\xED\xA0\x80"), kFFFD + kFFFD + kFFFD);               // encoded surrogate
    EXPECT_EQ(XmlByteCleaner::clean("\xF4\x90\x80\x80"), kFFFD + kFFFD + kFFFD + kFFFD);   // above U+10FFFF
    EXPECT_EQ(XmlByteCleaner::clean("\xE2\x82\xE2\x82\xAC"), kFFFD + "\xE2\x82\xAC");      // broken, then whole
    EXPECT_EQ(XmlByteCleaner::clean("end\xF0\x9F"), "end" + kFFFD);                       // cut off by the end
}

TEST(XmlByteCleaner, CharactersXmlForbidsBecomeReplacement) {
    EXPECT_EQ(XmlByteCleaner::clean(std::string("a\x00" "b\x01\x08\x0B\x0C\x1F" "c", 9)),
              "a" + kFFFD + "b" + kFFFD + kFFFD + kFFFD + kFFFD + kFFFD + "c");
    EXPECT_EQ(XmlByteCleaner::clean("\xEF\xBF\xBE\xEF\xBF\xBF"), kFFFD + kFFFD);  // U+FFFE, U+FFFF
    EXPECT_EQ(XmlByteCleaner::clean("<a>&#0;&#x1;&#31;&#xFFFE;&#xffff;&#x110000;&#99999999999;</a>"),
              "<a>" + kFFFD + kFFFD + kFFFD + kFFFD + kFFFD + kFFFD + kFFFD + "</a>");
}

TEST(XmlByteCleaner, SurrogateReferencesArePairedOrReplaced) {
    EXPECT_EQ(XmlByteCleaner::clean("&#xD83C;&#xDFB5;"), "\xF0\x9F\x8E\xB5");
    EXPECT_EQ(XmlByteCleaner::clean("&#55356;&#57269;"), "\xF0\x9F\x8E\xB5");  // decimal
    EXPECT_EQ(XmlByteCleaner::clean("a&#xD83C;b"), "a" + kFFFD + "b");        // lone high
    EXPECT_EQ(XmlByteCleaner::clean("a&#xDFB5;b"), "a" + kFFFD + "b");        // lone low
    EXPECT_EQ(XmlByteCleaner::clean("&#xD83C;&#xD83C;&#xDFB5;"), kFFFD + "\xF0\x9F\x8E\xB5");
    EXPECT_EQ(XmlByteCleaner::clean("&#xD83C;&amp;"), kFFFD + "&amp;");
    EXPECT_EQ(XmlByteCleaner::clean("&#xD83C;&#65;"), kFFFD + "&#65;");
    EXPECT_EQ(XmlByteCleaner::clean("&#xD83C;<b/>"), kFFFD + "<b/>");
    EXPECT_EQ(XmlByteCleaner::clean("x&#xD83C;"), "x" + kFFFD);  // pending at the end
}

TEST(XmlByteCleaner, WhatIsNotANumericReferenceIsLeftToTheParser) {
    for (const char* text : {"&", "&#", "&#x", "&#;", "&#x;", "&#12a;", "&#X41;", "&amp", "a & b", "&#x41"}) {
        EXPECT_EQ(XmlByteCleaner::clean(text), text) << text;
    }
    // Cut short, an unfinished long reference still is none.
    const std::string unfinished = "&#" + std::string(40, '0') + "65 ";
    EXPECT_EQ(XmlByteCleaner::clean(unfinished), unfinished.substr(0, XmlByteCleaner::kMaxReference) + " ");
}

TEST(XmlByteCleaner, LongReferencesAreReadAsTheirShortFormsAre) {
    const std::string zeros(40, '0');
    EXPECT_EQ(XmlByteCleaner::clean("&#x" + zeros + "41;"), "&#x41;");
    EXPECT_EQ(XmlByteCleaner::clean("&#" + zeros + "233;"), "&#xE9;");
    EXPECT_EQ(XmlByteCleaner::clean("&#" + zeros + ";"), kFFFD);
    EXPECT_EQ(XmlByteCleaner::clean("&#x" + zeros + "D83C;&#x" + zeros + "DFB5;"), "\xF0\x9F\x8E\xB5");
    EXPECT_EQ(XmlByteCleaner::clean("&#x" + zeros + "110000;"), kFFFD);
    EXPECT_EQ(XmlByteCleaner::clean("&#" + std::string(60, '9') + ";"), kFFFD);
}

TEST(XmlByteCleaner, ReferencesInCommentsAndCDataAreText) {
    const std::string text = "<!-- &#xD800; --><![CDATA[&#0; ]] ]]&#xDFFF;]]><a>&#xD800;</a>";
    EXPECT_EQ(XmlByteCleaner::clean(text),
              "<!-- &#xD800; --><![CDATA[&#0; ]] ]]&#xDFFF;]]><a>" + kFFFD + "</a>");
    // Raw bytes the parser would reject are repaired there too.
    EXPECT_EQ(XmlByteCleaner::clean("<!-- \x01\xFF -->"), "<!-- " + kFFFD + kFFFD + " -->");
    // Almost-openers leave references live.
    EXPECT_EQ(XmlByteCleaner::clean("<!DOCTYPE x><!-x &#1;"), "<!DOCTYPE x><!-x " + kFFFD);
}

TEST(XmlByteCleaner, GivesTheSameAtEverySplitPoint) {
    const std::string input = "<a x=\"&#xD83C;&#xDFB5;\">\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5\xE2\x82" "b\x01"
                              "&#xD83C;&#65;&#1;&amp;<!-- &#0; -->&#xDBFF;&#xDFFF;<![CDATA[&#0;]]>\xFF</a>";
    const std::string whole = XmlByteCleaner::clean(input);
    for (std::size_t cut = 1; cut < input.size(); ++cut) {
        ASSERT_EQ(cleanSplit(input, {cut}), whole) << "split at " << cut;
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 1; cut < input.size(); ++cut) everyByte.push_back(cut);
    EXPECT_EQ(cleanSplit(input, everyByte), whole);
}

TEST(XmlByteCleaner, LongPlainRunsBreakAtEveryKindOfByteWherePlaced) {
    // Long runs of plain text are scanned many bytes at a time; whatever
    // stops such a run, at any offset within it, must come out as the byte
    // by byte reading gives it.
    const std::vector<std::string> breakers = {
        std::string(1, '\0'), "\x01", "\x1F", "\x7F", "\t", "\n", "\r", "\x80", "\xC3\xA9", "\xE2\x82\xAC",
        "\xF0\x9F\x8E\xB5", "\xFF", "\xEF\xBF\xBE", "&amp;", "&#1;", "&#xD83C;&#xDFB5;", "<!-- &#0; -->",
        "<![CDATA[&#0;]]>", "!", "<!",
    };
    for (const std::string& breaker : breakers) {
        for (std::size_t before = 0; before < 40; ++before) {
            const std::string input = std::string(before, 'a') + breaker + std::string(37, 'b') + breaker + "<c>";
            std::vector<std::size_t> everyByte;
            for (std::size_t cut = 1; cut < input.size(); ++cut) everyByte.push_back(cut);
            ASSERT_EQ(XmlByteCleaner::clean(input), cleanSplit(input, everyByte))
                << "breaker " << ::testing::PrintToString(breaker) << " after " << before;
        }
    }
    EXPECT_EQ(XmlByteCleaner::clean(std::string(20, 'a') + "\x01" + std::string(20, 'b')),
              std::string(20, 'a') + kFFFD + std::string(20, 'b'));
}

}  // namespace
}  // namespace platform
