// The reader's scanner against the XML parser: what the scanner reads it
// reads as the parser does, and whatever else a file holds, it leaves to
// the parser, so a file gives the parser's library or the parser's error.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/itlibrary/internal/ITLibraryReader.h"
#include "tests/itlibrary/LibraryText.h"
#include "tests/itlibrary/LibraryXml.h"

namespace platform {
namespace {

using namespace platform::testing;
using Readers = ITLibraryReader::Readers;

std::string readWith(const std::string& xml, Readers readers, std::size_t chunk = ITLibraryReader::kChunkSize) {
    return libraryText(ITLibraryReader::readBytes(xml, "Library.xml", chunk, readers));
}

const std::string kGaveUp = "error: " + std::string(ITLibraryReader::kScannerGaveUp);

std::string smallLibrary() {
    return plist(integer("Major Version", 1) + str("Music Folder", "file:///Music/") +
                 tracks(track(1, str("Name", "One &amp; &#233; &#x1F3B5;") + date("Date Added", "2014-04-24T09:28:38Z") +
                                     yes("Podcast") + str("Location", "file:///Music/a%20b.mp3")) +
                        track(2, str("Name", "Two") + str("Comments", "a\nb"))) +
                 playlists(playlist(str("Name", "All") + yes("Master") + members({1, 2, 1}))));
}

// `xml` with the first `from` replaced by `to`.
std::string with(std::string xml, std::string_view from, std::string_view to) {
    return xml.replace(xml.find(from), from.size(), to);
}

TEST(PlistScanner, ReadsTheExportsAsTheParserDoesInAnyPieces) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files = {HARMONODE_SAMPLE_LIBRARY};
    for (const auto& entry : fs::directory_iterator(fs::path(HARMONODE_TEST_DATA_DIR) / "real")) {
        if (entry.path().extension() == ".xml") files.push_back(entry.path());
    }
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string xml(std::istreambuf_iterator<char>(in), {});
        const std::string parsed = readWith(xml, Readers::ParserOnly);
        ASSERT_FALSE(parsed.starts_with("error")) << file << ": " << parsed;
        for (const std::size_t chunk : {std::size_t{7}, std::size_t{4093}, ITLibraryReader::kChunkSize}) {
            EXPECT_EQ(readWith(xml, Readers::ScannerOnly, chunk), parsed) << file << " in pieces of " << chunk;
        }
    }
}

TEST(PlistScanner, ReadsWhatItKnowsAndLeavesTheRestToTheParser) {
    const std::string xml = smallLibrary();
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::size_t doctypeEnd = xml.find('>', xml.find("<!DOCTYPE")) + 1;
    const std::string body = xml.substr(doctypeEnd);
    std::string deep = xml;
    for (int i = 0; i < 200; ++i) deep = with(deep, "<key>Comments</key>", "<key>Comments</key><array>");
    const struct {
        const char* what;
        std::string xml;
        bool scanned;  // the scanner reads it; else it gives up
    } cases[] = {
        {"an export as the music application writes it", xml, true},
        {"CR LF line ends", with(with(xml, "a\nb", "a\r\nb"), "\n<plist", "\r\n<plist"), true},
        {"a lone CR", with(xml, "a\nb", "a\rb"), true},
        {"no declaration and no document type", body, true},
        {"a document type with a system literal only",
         declaration + "<!DOCTYPE plist SYSTEM 'PropertyList-1.0.dtd'>" + body, true},
        {"a document type with no external DTD", declaration + "<!DOCTYPE plist>" + body, true},
        {"a declaration in single quotes, standalone", with(xml, declaration,
                                                            "<?xml version='1.0' encoding='utf-8' standalone='no' ?>\n"), true},
        {"empty elements and blanks in end tags", with(with(xml, "<string>Two</string>", "<string/>"),
                                                       "</dict>\n</plist>", "</dict >\n</plist\t>"), true},
        {"every entity XML defines", with(xml, ">Two<", ">&lt;&gt;&amp;&apos;&quot; &#60;&#x3c;<"), true},
        {"a \"]\" and \"]]\" in text", with(xml, ">Two<", ">a] b]] c<"), true},
        {"comments", with(with(xml, "<dict>", "<dict><!-- a comment -->"), ">Two<", ">T<!---->w<!-- - -->o<"), true},
        {"comments and instructions before and after the root",
         with(xml, "<plist", "<!-- a comment --><?pi?>\n<plist") + "<!-- after -->\n<?pi data?>\n", true},
        {"a comment before the document type", with(xml, "<!DOCTYPE", "<!-- a comment -->\n<!DOCTYPE"), true},
        {"processing instructions", with(with(xml, "<dict>", "<dict><?pi data?>"), ">Two<", ">T<?pi ?>wo<"), true},
        {"CDATA sections", with(with(xml, ">Two<", "><![CDATA[T<&#x41;>]]]><![CDATA[]]>o<"), "<dict>", "<dict><![CDATA[ ]]>"),
         true},
        {"markup longer than a piece", with(xml, ">Two<", "><!--" + std::string(9000, '-' + 1) + "--><![CDATA[" +
                                                          std::string(9000, 'x') + "]]><?pi " + std::string(9000, '?') + "?><"),
         true},
        {"an entity the external DTD may declare", with(xml, ">Two<", ">&nbsp;&a1.-_b;&AMP;<"), true},
        {"an entity of a document type with a system literal only",
         declaration + "<!DOCTYPE plist SYSTEM 'PropertyList-1.0.dtd'>" + with(body, ">Two<", ">&nbsp;<"), true},
        {"an entity nothing declares", with(body, ">Two<", ">&nbsp;<"), false},
        {"an entity of a document type with no external DTD", declaration + "<!DOCTYPE plist>" + with(body, ">Two<", ">&nbsp;<"),
         false},
        {"an entity in a standalone document",
         with(with(xml, "encoding=\"UTF-8\"", "encoding=\"UTF-8\" standalone=\"yes\""), ">Two<", ">&nbsp;<"), false},
        {"an entity with a prefixed name", with(xml, ">Two<", ">&a:b;<"), false},
        {"an entity whose name is beyond ASCII", with(xml, ">Two<", ">&\xC3\xA9;<"), false},
        {"a double hyphen in a comment", with(xml, "<dict>", "<dict><!-- a -- b -->"), false},
        {"a comment that ends in three hyphens", with(xml, "<dict>", "<dict><!-- a --->"), false},
        {"an instruction whose target begins with xml", with(xml, "<dict>", "<dict><?xml-stylesheet href=\"a\"?>"), false},
        {"an instruction with no blank after its target", with(xml, "<dict>", "<dict><?pi?data?>"), false},
        {"an instruction with no target", with(xml, "<dict>", "<dict><? data?>"), false},
        {"a CDATA section with a carriage return", with(xml, ">Two<", "><![CDATA[a\r\nb]]><"), false},
        {"a CDATA section outside the root", xml + "<![CDATA[x]]>", false},
        {"an internal subset", with(xml, ".dtd\">", ".dtd\" [<!ENTITY e \"x\">]>"), false},
        {"an attribute on a dictionary", with(xml, "<dict>", "<dict id=\"1\">"), false},
        {"an element of no property list", with(xml, "<true/>", "<yes/>"), false},
        {"a prefixed element", with(xml, "<string>Two</string>", "<p:string xmlns:p=\"urn:x\">Two</p:string>"), false},
        {"a namespace on the root", with(xml, "<plist version=\"1.0\">", "<plist xmlns=\"urn:x\">"), false},
        {"a byte order mark", "\xEF\xBB\xBF" + xml, false},
        {"XML 1.1", with(xml, "version=\"1.0\" encoding", "version=\"1.1\" encoding"), false},
        {"\"]]>\" in text", with(xml, ">Two<", ">a]]>b<"), false},
        {"a mismatched end tag", with(xml, "</string>", "</key>"), false},
        {"an unfinished character reference", with(xml, ">Two<", ">&#x26<"), false},
        {"a cut-off document", xml.substr(0, xml.size() / 2), false},
        {"content after the root", xml + "<plist/>", false},
        {"a root that is no property list", with(with(xml, "<plist version=\"1.0\">", "<dict>"), "</plist>", "</dict>"),
         false},
        {"no tracks", with(xml, "<key>Tracks</key>", "<key>Other</key>"), false},
        {"nesting deeper than an export's", deep, false},
    };
    for (const auto& c : cases) {
        const std::string parsed = readWith(c.xml, Readers::ParserOnly);
        const std::string scanned = readWith(c.xml, Readers::ScannerOnly);
        if (c.scanned) {
            EXPECT_FALSE(parsed.starts_with("error")) << c.what << ": " << parsed;
            EXPECT_EQ(scanned, parsed) << c.what;
            for (const std::size_t chunk : {1, 2, 3, 5, 4093}) {
                EXPECT_EQ(readWith(c.xml, Readers::ScannerOnly, chunk), parsed) << c.what << " in pieces of " << chunk;
            }
        } else {
            EXPECT_EQ(scanned, kGaveUp) << c.what;
        }
        EXPECT_EQ(readWith(c.xml, Readers::Both), parsed) << c.what;
    }
}

TEST(PlistScanner, DamagedBytesAreReadAsTheParserReadsThemOrLeftToIt) {
    // Markup and text that shift what the bytes around them mean.
    const char* const inserts[] = {"<", ">", "&", ";", "/", "\"", "'", "]]>", "<!--", "-->", "<![CDATA[", "\r",
                                   "&amp;", "&#x41;", "&#0;", "<dict>", "</dict>", "<key>", "</key>", "<true/>",
                                   "<string>", "</string>", "<array/>", "?>", " a=\"b\"", "\xEF\xBB\xBF"};
    const std::string xml = smallLibrary();
    std::uint32_t state = 2024;
    const auto next = [&] { return state = state * 1103515245u + 12345u; };
    int scanned = 0;
    for (int round = 0; round < 5000; ++round) {
        std::string damaged = xml;
        for (std::uint32_t i = 0, damages = 1 + next() % 2; i < damages; ++i) {
            const std::size_t at = next() % damaged.size();
            switch (next() % 3) {
                case 0: damaged[at] = static_cast<char>(next() >> 16); break;
                case 1: damaged.erase(at, 1 + next() % 8); break;
                default: damaged.insert(at, inserts[next() % std::size(inserts)]); break;
            }
        }
        const std::size_t chunk = 1 + next() % 64;
        const std::string byScanner = readWith(damaged, Readers::ScannerOnly, chunk);
        if (byScanner == kGaveUp) continue;
        ++scanned;
        ASSERT_EQ(byScanner, readWith(damaged, Readers::ParserOnly)) << "round " << round << ":\n" << damaged;
    }
    EXPECT_GT(scanned, 200) << "the damage left the scanner too little to read";
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

using namespace platform::testing;
using Readers = ITLibraryReader::Readers;

std::string readInParts(const std::string& xml, const ScannerParts& parts, Readers readers = Readers::ScannerOnly,
                        std::size_t chunk = ITLibraryReader::kChunkSize) {
    return libraryText(ITLibraryReader::readBytes(xml, "Library.xml", chunk, readers, parts));
}

// Tracks enough that a part's items fill more than one of the builder's
// chunks, each with a text of its own.
std::string manyTracks(int count) {
    std::string entries;
    for (int id = 1; id <= count; ++id) entries += track(id, str("Name", "Song " + std::to_string(id)));
    return entries;
}

TEST(PlistScannerParts, ReadInPartsTheScannerReadsWhatItReadsWhole) {
    namespace fs = std::filesystem;
    std::vector<std::string> libraries = {
        plist(str("Music Folder", "file:///Music/") + tracks(manyTracks(10000)) +
              playlists(playlist(str("Name", "Some") + members({9999, 2, 5000, 77})))),
    };
    std::vector<fs::path> files = {HARMONODE_SAMPLE_LIBRARY};
    for (const auto& entry : fs::directory_iterator(fs::path(HARMONODE_TEST_DATA_DIR) / "real")) {
        if (entry.path().extension() == ".xml") files.push_back(entry.path());
    }
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        libraries.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    for (const std::string& xml : libraries) {
        const std::string whole = readInParts(xml, {});
        ASSERT_FALSE(whole.starts_with("error")) << whole.substr(0, 200);
        for (const std::size_t parts : {2, 3, 7}) {
            std::size_t taken = 0;
            ScannerParts starts{{}, false, &taken};
            for (std::size_t part = 1; part < parts; ++part) starts.from.push_back(xml.size() * part / parts);
            for (const std::size_t chunk : {std::size_t{4093}, ITLibraryReader::kChunkSize}) {
                EXPECT_EQ(readInParts(xml, starts, Readers::ScannerOnly, chunk), whole)
                    << xml.size() << " bytes in " << parts << " parts, pieces of " << chunk;
                // Some exports hold few tracks at a part's place, or none.
                if (xml.size() > 1'000'000) {
                    EXPECT_EQ(taken, parts - 1) << xml.size() << " bytes";
                }
            }
        }
    }
}

TEST(PlistScannerParts, APartThatBeginsAnywhereGivesWhatOneScanGives) {
    // Each later part begins at every offset in turn, and two parts at
    // offsets apart: only where the scan stands between two tracks there
    // is the part taken; everywhere else the part before reads on.
    const std::string xml =
        plist(tracks(track(1, str("Name", "A &amp; <![CDATA[</dict>\n\t\t<key>7</key>\n\t\t<dict>]]>")) +
                     "\t\t<!-- </dict>\n\t\t<key>8</key>\n\t\t<dict> -->\n" + track(2, str("Name", "B") + yes("Podcast")) +
                     track(3, str("Name", "C\xC3\xA9")) + track(4, "")) +
              integer("Major Version", 2) + str("Music Folder", "file:///Later/") +
              playlists(playlist(str("Name", "All") + members({4, 1, 3, 2, 1}))));
    const std::string whole = readInParts(xml, {});
    ASSERT_FALSE(whole.starts_with("error")) << whole;
    ASSERT_NE(whole.find("file:///Later/ 2.1"), std::string::npos) << "facts after the tracks count: " << whole;
    std::vector<std::size_t> tookParts;
    for (std::size_t at = 0; at < xml.size(); ++at) {
        std::size_t taken = 0;
        ASSERT_EQ(readInParts(xml, {{at}, true, &taken}, Readers::ScannerOnly, 1 + at % 5), whole) << "a part from " << at;
        if (taken != 0) tookParts.push_back(at);
        ASSERT_EQ(readInParts(xml, {{at, at + 1 + at % 97}, true}, Readers::ScannerOnly, 3), whole)
            << "parts from " << at;
    }
    // Parts are taken from between two entries of "Tracks" (or before the
    // first, or after the last), never from inside an entry, a comment or
    // a CDATA section.
    for (const int id : {2, 3, 4}) {
        const std::size_t key = xml.find("<key>" + std::to_string(id) + "</key>");
        EXPECT_TRUE(std::count(tookParts.begin(), tookParts.end(), key)) << "no part taken at track " << id;
    }
    // Between `open` and the end of the `close` after it.
    const auto within = [&](std::string_view open, std::string_view close) {
        const std::size_t begin = xml.find(open), end = xml.find(close, begin) + close.size();
        return std::any_of(tookParts.begin(), tookParts.end(), [&](std::size_t at) { return at > begin && at < end; });
    };
    EXPECT_FALSE(within("<key>1</key>", "]]></string>\n\t\t</dict>"));
    EXPECT_FALSE(within("<!--", "-->"));
    EXPECT_FALSE(within("<key>2</key>", "</dict>"));
    // A part looked for from a place: the first entry from there on, or
    // what only looks like one in a comment or a CDATA section, whose part
    // is dropped.
    std::size_t taken = 0;
    EXPECT_EQ(readInParts(xml, {{0}, false, &taken}, Readers::ScannerOnly, 3), whole);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(readInParts(xml, {{xml.find("<!--")}, false, &taken}, Readers::ScannerOnly, 3), whole);
    EXPECT_EQ(taken, 0u);
    EXPECT_EQ(readInParts(xml, {{xml.find("-->")}, false, &taken}, Readers::ScannerOnly, 3), whole);
    EXPECT_EQ(taken, 1u);
}

TEST(PlistScannerParts, ALaterPartThatGivesUpGivesTheFileToTheParser) {
    const std::string xml = plist(tracks(manyTracks(50)) + playlists(playlist(str("Name", "All") + members({1, 2}))));
    const std::size_t middle = xml.find("<key>25</key>");
    const struct {
        const char* what;
        std::string xml;
    } cases[] = {
        {"an element of no property list", [&] {
             std::string damaged = xml;
             return damaged.insert(damaged.find("<key>40</key>"), "<yes/>");
         }()},
        {"an entity of an internal subset", [&] {
             std::string damaged = xml;
             damaged.insert(damaged.find("<key>Name</key><string>Song 45"), "&e;");
             return damaged.replace(damaged.find(".dtd\">"), 6, ".dtd\" [<!ENTITY e \"x\">]>");
         }()},
        {"a document cut short", xml.substr(0, xml.find("<key>48</key>"))},
        {"content after the root", xml + "<plist/>"},
    };
    for (const auto& c : cases) {
        const std::string parsed = readInParts(c.xml, {}, Readers::ParserOnly);
        EXPECT_EQ(readInParts(c.xml, {{middle}}), kGaveUp) << c.what;
        EXPECT_EQ(readInParts(c.xml, {{middle}}, Readers::Both), parsed) << c.what;
        EXPECT_EQ(readInParts(c.xml, {{middle, c.xml.find("<key>30</key>")}}, Readers::Both, 11), parsed) << c.what;
    }
}

}  // namespace
}  // namespace platform
