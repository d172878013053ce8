// The outline of a library file: its ranges are the file's own bytes,
// whatever the reader repaired or converted and whatever markup stands
// between the entries; new entries copy the file's own layout; a file it
// does not understand is refused with the reason; an outline follows the
// changes made through it as a new scan of the changed file would see them.

#include "platform/itlibrary/LibraryOutline.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/itlibrary/LibraryXml.h"

namespace platform {
namespace {

using namespace platform::testing;

std::string_view at(std::string_view bytes, ByteRange range) { return bytes.substr(range.begin, range.end - range.begin); }

// An entry's range: the line break before the entry's text, and that text
// without the line break that ends it.
std::string entryText(std::string_view text) { return "\n" + std::string(text.substr(0, text.size() - 1)); }

LibraryOutline outlineOf(const std::string& bytes) {
    auto outline = LibraryOutline::of(bytes, "Library.xml");
    if (!outline) ADD_FAILURE() << outline.error().description;
    return std::move(outline.value());
}

TEST(LibraryOutline, RangesAreTheFilesOwnBytesWhateverTheReaderRepairedOrConverted) {
    // What the reader reads is longer or shorter than the file wherever it
    // repairs (a bad byte becomes three, two surrogate references four
    // bytes, an overlong reference its short form) or converts (a declared
    // single-byte encoding).
    const std::string damages[] = {"", "\xFF\x01", "&#xD83C;&#xDFB5;", "&#x" + std::string(40, '0') + "41;"};
    for (const char* encoding : {"UTF-8", "ISO-8859-1"}) {
        for (const std::string& damage : damages) {
            const std::string one = track(1, str("Name", "Caf\xE9 " + damage) + str("Persistent ID", "00000000000000A1"));
            const std::string two = track(2, str("Persistent ID", "00000000000000A2"));
            const std::string member = "\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>2</integer>\n\t\t\t\t</dict>\n";
            std::string bytes = plist(tracks(one + two) +
                                      playlists(playlist(str("Playlist Persistent ID", "00000000000000F0") +
                                                         yes("Master") + members({1, 2}))));
            bytes.replace(bytes.find("UTF-8"), 5, encoding);
            SCOPED_TRACE(encoding + (" " + damage));
            const LibraryOutline outline = outlineOf(bytes);
            ASSERT_EQ(outline.tracks().size(), 2u);
            EXPECT_EQ(at(bytes, outline.tracks()[0].entry), entryText(one));
            EXPECT_EQ(at(bytes, outline.tracks()[1].entry), entryText(two));
            EXPECT_EQ(outline.tracks()[1].trackID, 2);
            EXPECT_EQ(outline.tracks()[1].persistentID, 0xA2u);
            EXPECT_EQ(at(bytes, outline.tracksContainer().startTag), "<dict>");
            EXPECT_EQ(outline.tracksContainer().startTag.begin, bytes.find("<dict>", bytes.find("Tracks")));
            EXPECT_EQ(outline.tracksContainer().append, outline.tracks()[1].entry.end);
            ASSERT_EQ(outline.playlists().size(), 1u);
            const OutlinePlaylist& playlist = outline.playlists()[0];
            EXPECT_TRUE(playlist.master);
            EXPECT_EQ(playlist.persistentID, 0xF0u);
            ASSERT_TRUE(playlist.items);
            EXPECT_EQ(playlist.items->startTag.begin, bytes.find("<array>", bytes.find("Playlist Items")));
            ASSERT_EQ(playlist.members.size(), 2u);
            EXPECT_EQ(at(bytes, playlist.members[1].entry), entryText(member));
            EXPECT_EQ(playlist.items->append, playlist.members[1].entry.end);
            EXPECT_EQ(outline.asciiOnly(), encoding != std::string("UTF-8"));
        }
    }
}

TEST(LibraryOutline, DeclarationsCommentsAndCDataAreNoEntries) {
    std::string bytes = plist(tracks(track(1, str("Name", "<![CDATA[</dict><key>9</key><dict>]]>")) +
                                     "\t\t<!-- <key>8</key><dict></dict> --><?pi </dict>?>" +
                                     track(2, "\t\t\t<!-- Track ID --><key>Persistent ID</key><string>0000<!-- x -->"
                                              "00000000000B</string>\n")));
    const std::size_t doctype = bytes.find("<!DOCTYPE");
    bytes.replace(doctype, bytes.find('\n', doctype) - doctype,
                  "<!-- <plist><dict> --><!DOCTYPE plist [\n<!ENTITY e \"</dict>]>\">\n<!-- ]> -->\n]>");
    const LibraryOutline outline = outlineOf(bytes);
    ASSERT_EQ(outline.tracks().size(), 2u);
    EXPECT_EQ(outline.tracks()[0].trackID, 1);
    EXPECT_EQ(outline.tracks()[1].trackID, 2);
    EXPECT_EQ(outline.tracks()[1].persistentID, 0xBu);
    // The entry after the instruction leads with what follows it.
    EXPECT_EQ(outline.tracks()[1].entry.begin, bytes.find("?>", bytes.find("<?pi")) + 2);
}

TEST(LibraryOutline, NewEntriesCopyTheLastEntryWithFieldsOrTheContainersIndentation) {
    const std::string bytes = plist(
        "\t<key>Tracks</key>\n\t<dict>\n" + track(1, "") +
        "  <key>2</key> <dict>\n    <key>Track ID</key>\t<integer>2</integer>\n      <key>Name</key> <string/>\n  </dict>" +
        "\n\t\t<key>3</key><dict/>\n\t</dict>\n" +
        playlists(playlist("\t\t\t<key>Master</key>  <true/>\n" + members({1}))));
    const LibraryOutline outline = outlineOf(bytes);
    const EntryLayout& track = outline.trackLayout();
    EXPECT_EQ(track.lead, "\n  ");
    EXPECT_EQ(track.keyToDict, " ");
    EXPECT_EQ(track.field, "\n    ");
    EXPECT_EQ(track.keyToValue, "\t");
    EXPECT_EQ(track.close, "\n  ");
    EXPECT_EQ(track.containerClose, "\n\t");
    EXPECT_EQ(outline.memberLayout().lead, "\n\t\t\t\t");
    EXPECT_EQ(outline.memberLayout().field, "\n\t\t\t\t\t");
    EXPECT_EQ(outline.memberLayout().close, "\n\t\t\t\t");
    ASSERT_EQ(outline.playlists().size(), 1u);
    EXPECT_EQ(outline.playlists()[0].field, "\n\t\t\t");
    EXPECT_EQ(outline.playlists()[0].keyToValue, "  ");

    // With no entry to copy: one tab deeper than the container, in the
    // file's line breaks.
    std::string empty = plist("\t<key>Tracks</key>\n\t<dict/>\n" + playlists(playlist(yes("Master"))));
    for (std::size_t lf = empty.find('\n'); lf != std::string::npos; lf = empty.find('\n', lf + 2)) empty.insert(lf, "\r");
    const LibraryOutline bare = outlineOf(empty);
    EXPECT_EQ(bare.newline(), "\r\n");
    EXPECT_EQ(bare.trackLayout().lead, "\r\n\t\t");
    EXPECT_EQ(bare.trackLayout().field, "\r\n\t\t\t");
    EXPECT_EQ(bare.trackLayout().containerClose, "\r\n\t");
    EXPECT_EQ(bare.memberLayout().lead, "\r\n\t\t\t\t");
}

TEST(LibraryOutline, AFileItDoesNotUnderstandIsRefusedWithTheReason) {
    const std::string cannot = "The music library file \"Library.xml\" cannot be changed: ";
    const std::string twoTracks = plist(tracks(track(1, "")) + tracks(track(2, "")));
    const std::string twoPlaylists = plist(tracks("") + playlists("") + playlists(""));
    const std::pair<std::string, std::string> cases[] = {
        {std::string("\xFF\xFE<\0?\0", 6), cannot + "it is not in an encoding that extends ASCII"},
        {twoTracks, cannot + "more than one \"Tracks\" dictionary"},
        {twoPlaylists, cannot + "more than one \"Playlists\" array"},
        {"", "The file \"Library.xml\" is not a music library property list: the file is empty"},
    };
    for (const auto& [bytes, error] : cases) {
        const auto outline = LibraryOutline::of(bytes, "Library.xml");
        ASSERT_FALSE(outline) << bytes;
        EXPECT_EQ(outline.error().description, error);
    }
}

TEST(LibraryOutline, TextWrittenIntoTheFileKeepsToASCIIWhereItDeclaresAnotherEncoding) {
    const std::pair<std::string, bool> cases[] = {
        {"UTF-8", false}, {"utf8", false}, {"ISO-8859-1", true}, {"US-ASCII", true}, {"windows-1252", true},
    };
    for (const auto& [encoding, asciiOnly] : cases) {
        std::string bytes = plist(tracks(""));
        bytes.replace(bytes.find("UTF-8"), 5, encoding);
        EXPECT_EQ(outlineOf(bytes).asciiOnly(), asciiOnly) << encoding;
        EXPECT_EQ(outlineOf("\xEF\xBB\xBF" + bytes).asciiOnly(), asciiOnly) << encoding;
    }
}


TEST(LibraryOutline, TrackAndPersistentIDsAreReadWhateverElseTheDictionaryHolds) {
    // Dictionaries written as exports write them are read in a quick pass;
    // anything else is walked in full, to the same result.
    const struct {
        std::string fields;
        std::optional<std::int64_t> trackID;  // track(7, ...) writes Track ID 7 first
        std::uint64_t persistentID;
    } cases[] = {
        {str("Persistent ID", "00000000000000A1"), 7, 0xA1},
        {str("Persistent ID", "00000000000000A1") + integer("Track ID", 9), 9, 0xA1},
        {"\t\t\t<key>Track&#32;ID</key><integer>&#52;2</integer>\n" + str("Persistent&#x20;ID", "00000000000000B&#50;"), 42, 0xB2},
        {"\t\t\t<key>Name</key><key>Track ID</key><integer>8</integer>\n", 8, 0},
        {"\t\t\t<key/><key>Persistent ID</key><string>00000000000000C1</string>\n", 7, 0xC1},
        {"\t\t\t<key>Track ID</key><integer/>\n", std::nullopt, 0},
        {"\t\t\t<key>Name</key><string>a <!-- b --> c</string>\n" + str("Persistent ID", "00000000000000D1"), 7, 0xD1},
        {"\t\t\t<key>Art</key><dict><key>Track ID</key><integer>5</integer></dict>\n", 7, 0},
        {"\t\t\t<key>Data</key><data/><key>Persistent ID</key> <string>00000000000000E1</string>\n", 7, 0xE1},
        {"\t\t\tstray text<key>Persistent ID</key><string>00000000000000F1</string>\n", 7, 0xF1},
    };
    for (const auto& c : cases) {
        const std::string entry = track(7, c.fields);
        const std::string bytes = plist(tracks(entry + track(8, str("Persistent ID", "0000000000000099"))));
        const auto outline = LibraryOutline::of(bytes, "Library.xml");
        ASSERT_TRUE(outline) << c.fields << outline.error().description;
        ASSERT_EQ(outline.value().tracks().size(), 2u) << c.fields;
        const OutlineTrack& first = outline.value().tracks()[0];
        EXPECT_EQ(first.trackID.value_or(7), c.trackID.value_or(7)) << c.fields;
        EXPECT_EQ(first.persistentID, c.persistentID) << c.fields;
        EXPECT_EQ(at(bytes, first.entry), entryText(entry)) << c.fields;
        EXPECT_EQ(outline.value().tracks()[1].persistentID, 0x99u) << c.fields;
    }
}

// The outline after a change made through it against a new scan of the
// changed file, over a run of additions and removals on libraries of many
// shapes. Where the outline cannot follow, it says so, and is made anew.
std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string changed(const std::string& bytes, const OutlineChange& change) {
    std::string out;
    std::size_t at = 0;
    for (const OutlineEdit& edit : change.edits()) {
        out.append(bytes, at, edit.begin - at);
        out += edit.text;
        at = edit.end;
    }
    return out.append(bytes, at);
}

NewTrackEntry newEntry(const LibraryOutline& outline, std::int64_t id) {
    const EntryLayout& l = outline.trackLayout();
    const std::string n = std::to_string(id);
    char pid[17];
    std::snprintf(pid, sizeof pid, "%016llX", static_cast<unsigned long long>(0xFEED0000 + id));
    const auto field = [&](std::string_view key, std::string_view type, std::string_view value) {
        return l.field + "<key>" + std::string(key) + "</key>" + l.keyToValue + "<" + std::string(type) + ">" +
               std::string(value) + "</" + std::string(type) + ">";
    };
    return {l.lead + "<key>" + n + "</key>" + l.keyToDict + "<dict>" + field("Track ID", "integer", n) +
                field("Persistent ID", "string", pid) + field("Location", "string", "file:///music/" + n + ".mp3") +
                l.close + "</dict>",
            id, 0xFEED0000u + static_cast<std::uint64_t>(id)};
}

TEST(LibraryOutline, FollowsItsChangesAsANewScanOfTheChangedFileSeesThem) {
    const std::string master = str("Playlist Persistent ID", "0995EAABA0F48EB9") + yes("Master");
    const std::string other = playlist(str("Playlist Persistent ID", "00000000000000F2") + members({1, 2, 1}));
    std::string crlf = plist(tracks(track(1, str("Persistent ID", "00000000000000A1")) +
                                    track(2, str("Persistent ID", "00000000000000A2"))) +
                             playlists(playlist(master + members({1, 2})) + other));
    for (std::size_t lf = crlf.find('\n'); lf != std::string::npos; lf = crlf.find('\n', lf + 2)) crlf.insert(lf, "\r");
    std::vector<std::pair<std::string, std::string>> libraries = {
        {"sample", readText(HARMONODE_SAMPLE_LIBRARY)},
        {"empty element tracks", plist("\t<key>Tracks</key><dict/>\n" + playlists(playlist(master + members({}))))},
        {"master without items", plist(tracks("") + playlists(other + playlist(master)))},
        {"empty element items", plist(tracks("") + playlists(playlist(master + "\t\t\t<key>Playlist Items</key><array/>\n")))},
        {"playlists first", plist(playlists(playlist(master + members({7}))) +
                                  tracks(track(7, str("Persistent ID", "00000000000000AB"))))},
        {"no master", plist(tracks(track(1, str("Persistent ID", "00000000000000A1"))) + playlists(other))},
        {"crlf", crlf},
    };
    for (const char* name : {"beets-12.1-unix", "beets-12.1-windows", "lastfm-itunes-11.1", "libpytunes-12.6",
                             "dwittenberg-11.1-windows"}) {
        libraries.emplace_back(name, readText(std::string(HARMONODE_TEST_DATA_DIR) + "/real/" + name + ".xml"));
    }
    int removalsFollowed = 0;
    for (const auto& [name, original] : libraries) {
        SCOPED_TRACE(name);
        std::string bytes = original;
        LibraryOutline outline = outlineOf(bytes);
        int followed = 0;
        // An addition is always followed; a removal may not be.
        const auto check = [&](const OutlineChange& change, bool mayNotFollow) {
            bytes = changed(bytes, change);
            const bool follows = outline.apply(change);
            const LibraryOutline fresh = outlineOf(bytes);
            if (follows) {
                EXPECT_TRUE(outline == fresh);
                ++followed;
            } else {
                EXPECT_TRUE(mayNotFollow);
            }
            outline = fresh;
        };
        std::int64_t id = 90000;
        check(outline.addition({newEntry(outline, ++id)}), false);
        check(outline.addition({newEntry(outline, ++id), newEntry(outline, ++id)}), false);
        check(outline.removal(outline.tracks().size() - 1), true);  // the entry new ones copy
        if (outline.tracks().size() > 3) check(outline.removal(1), true);
        check(outline.removal(0), true);
        check(outline.addition({newEntry(outline, ++id)}), false);
        EXPECT_GE(followed, 3);  // the additions
        removalsFollowed += followed - 3;
    }
    EXPECT_GT(removalsFollowed, 0) << "no removal was followed, so none was checked";
}

}  // namespace
}  // namespace platform
