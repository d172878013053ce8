// The reader's scanner against the XML parser: what the scanner reads it
// reads as the parser does, and whatever else a file holds, it leaves to
// the parser, so a file gives the parser's library or the parser's error.

#include <gtest/gtest.h>

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
