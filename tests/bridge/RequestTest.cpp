#include "bridge/Request.h"

#include <gtest/gtest.h>

#include <vector>

#include <boost/json/parser.hpp>

namespace harmonode {
namespace {

// What the value-building parser says of a line, as the loop words it.
std::string parserDescription(std::string_view line) {
    boost::json::parser parser;
    boost::system::error_code ec;
    const std::size_t consumed = parser.write(line.data(), line.size(), ec);
    return ec ? ec.message() + " at byte offset " + std::to_string(consumed) : "(parsed)";
}

TEST(Request, LinesFailExactlyWhereTheValueParserFails) {
    const std::string deep = std::string(40, '[') + std::string(40, ']');
    for (const std::string& line : std::vector<std::string>{"{", "{\"cmd\":", "{\"cmd\":\"ping\"} trailing", "{\"cmd\":\"ping\",}", "{'cmd':1}",
                                   "{\"cmd\":\"\\x\"}", "{\"a\":1e99999}", "{\"a\":tru}", "{\"a\":" + deep + "}",
                                   "{\"a\":1} /* c */", "{\"cmd\":\"p\ting\"}"}) {
        const auto parsed = parseRequest(line);
        EXPECT_EQ(parsed ? "(parsed)" : parsed.error().description, parserDescription(line)) << line;
    }
}

TEST(Request, OnlyTopLevelTextsUnderCmdAndPathAreKept) {
    struct Case {
        std::string line;
        std::optional<std::string> cmd, path;
    };
    const std::string longWord(1000, 'w');
    const Case cases[] = {
        {R"({"cmd":"ping"})", "ping", std::nullopt},
        {R"({"x":[1,{"cmd":"quit"}],"cmd":"add_track","path":"/a \"b\"\u00e9"})", "add_track", "/a \"b\"\xC3\xA9"},
        {R"({"cmd":5,"path":null})", std::nullopt, std::nullopt},
        {R"({"cmd":{"cmd":"ping"}})", std::nullopt, std::nullopt},
        {R"({"nested":{"cmd":"ping","path":"/x"}})", std::nullopt, std::nullopt},
        {R"({"cmd":"ping","cmd":"quit"})", "quit", std::nullopt},  // the last of duplicates
        {R"({"cmd":"ping","cmd":[]})", std::nullopt, std::nullopt},
        {R"({"cmdx":"ping","cm":"ping","Path":"/x"})", std::nullopt, std::nullopt},
        {"{\"cmd\":\"" + longWord + "\"}", longWord.substr(0, kMaxCommandText + 1), std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = parseRequest(c.line);
        ASSERT_TRUE(parsed) << c.line << ": " << parsed.error().description;
        EXPECT_EQ(parsed.value().cmd, c.cmd) << c.line;
        EXPECT_EQ(parsed.value().path, c.path) << c.line;
    }
    EXPECT_EQ(Request::fromWord(longWord).cmd, longWord.substr(0, kMaxCommandText + 1));
}

}  // namespace
}  // namespace harmonode
