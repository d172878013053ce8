// The tag reader's answer as the importing side reads it: whatever the
// reader sends, only bounded, valid fields come out of it.

#include "platform/scripting/internal/AudioTags.h"

#include <gtest/gtest.h>

#include <functional>

namespace platform {
namespace {

std::string field(std::string_view name, std::string_view value) {
    return std::string(name) + " " + std::to_string(value.size()) + "\n" + std::string(value) + "\n";
}

std::string answer(const std::string& records) { return "harmonode-tags 1\n" + records + "end\n"; }

TEST(AudioTags, WhatTheReaderSendsIsBoundedAgainOrRefused) {
    const std::string euro = "\xE2\x82\xAC";  // three bytes
    std::string euros;
    while (euros.size() < 2 * kTagTextLimit) euros += euro;
    struct Case {
        std::string name, text;
        std::function<void(const AudioTags&)> check;  // none: refused
        std::string reason;
    };
    const Case cases[] = {
        {"a long text is cut before the character the bound falls in", answer(field("title", euros)),
         [&](const AudioTags& t) {
             ASSERT_TRUE(t.title);
             EXPECT_EQ(t.title->size(), kTagTextLimit / 3 * 3);
             EXPECT_EQ(t.title->substr(0, 3), euro);
         },
         ""},
        {"a text that is not UTF-8 is none", answer(field("artist", "ab\xFF") + field("album", "ok")),
         [](const AudioTags& t) {
             EXPECT_FALSE(t.artist);
             EXPECT_EQ(t.album, "ok");
         },
         ""},
        {"numbers outside their range are 0",
         answer(field("year", "-1") + field("trackNumber", "99999999999") + field("discNumber", "0") +
                field("trackCount", "12x") + field("totalTime", "-5") + field("discCount", "2")),
         [](const AudioTags& t) {
             EXPECT_EQ(t.year, 0);
             EXPECT_EQ(t.trackNumber, 0);
             EXPECT_EQ(t.discNumber, 0);
             EXPECT_EQ(t.trackCount, 0);
             EXPECT_EQ(t.totalTime, 0);
             EXPECT_EQ(t.discCount, 2);
         },
         ""},
        {"a year past 9999 is none", answer(field("year", "10000")), [](const AudioTags& t) { EXPECT_EQ(t.year, 0); }, ""},
        {"a refusal gives its reason", encodeRefusal("it is not audio"), nullptr, "it is not audio"},
        {"no end", "harmonode-tags 1\n" + field("title", "x"), nullptr, "cannot be read"},
        {"a length past the end", "harmonode-tags 1\ntitle 99\nx\nend\n", nullptr, "cannot be read"},
        {"a negative length", "harmonode-tags 1\ntitle -1\nend\n", nullptr, "cannot be read"},
        {"no header", field("title", "x") + "end\n", nullptr, "cannot be read"},
        {"an unknown field", answer(field("bogus", "x")), nullptr, "cannot be read"},
        {"nothing at all", "", nullptr, "cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<AudioTags> decoded = decodeAudioTags(c.text);
        ASSERT_EQ(decoded.ok(), c.check != nullptr) << (decoded ? "" : decoded.error().description);
        if (decoded) {
            c.check(decoded.value());
        } else {
            EXPECT_NE(decoded.error().description.find(c.reason), std::string::npos) << decoded.error().description;
        }
    }
}

}  // namespace
}  // namespace platform
