// The bytes the library commands write, against the bytes the export wrote
// when it was first built: the progress text and the reply line of
// `library`, the progress text and the file of `write`, for the real
// exports, the sample library and a generated library (also with a comment,
// a processing instruction and an undeclared entity reference among its
// tracks), from a bridge whose document creation time and hash key are
// fixed (ReproducibleBridge.cpp).
// Any changed byte fails here; the text that differs is left in the test's
// working folder for comparison.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "tests/bridge/BridgeProcess.h"

namespace harmonode::testing {
namespace {

namespace fs = std::filesystem;

std::uint64_t fnv1a(std::string_view bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    return hash;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

BridgeOptions reproducible(const std::string& library) {
    BridgeOptions options;
    options.program = HARMONODE_REPRODUCIBLE_BRIDGE;
    options.environment["HARMONODE_MUSIC_LIBRARY"] = library;
    return options;
}

// The block of the first request: its progress text (every line before the
// reply line, with their line feeds) and its reply line.
struct Block {
    std::string progress, reply;
};
Block firstBlock(const std::string& out) {
    const std::size_t marker = out.find("\n###\n");
    if (marker == std::string::npos) return {out, ""};
    const std::size_t replyStart = out.rfind('\n', marker - 1);
    const std::size_t start = replyStart == std::string::npos ? 0 : replyStart + 1;
    return {out.substr(0, start), out.substr(start, marker - start)};
}

struct Recorded {
    const char* library;  // under the source folder, or "generated" or "generated with markup"
    std::size_t progressSize;
    std::uint64_t progressDigest;
    std::size_t replySize;
    std::uint64_t replyDigest;
};

std::string libraryPath(const std::string& name) {
    if (name == "generated") return HARMONODE_GENERATED_LIBRARY;
    if (name == "generated with markup") return HARMONODE_GENERATED_MARKUP_LIBRARY;
    return std::string(HARMONODE_SOURCE_DIR "/") + name;
}

// Compares `text` with its recorded size and digest; keeps it when it differs.
void expectRecorded(const std::string& text, std::size_t size, std::uint64_t digest, const std::string& what) {
    if (text.size() == size && fnv1a(text) == digest) return;
    std::string file = what;
    for (char& c : file) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    std::ofstream(file, std::ios::binary) << text;
    ADD_FAILURE() << what << ": " << text.size() << " bytes, digest 0x" << std::hex << fnv1a(text) << std::dec
                  << "; recorded " << size << " bytes, digest 0x" << std::hex << digest << std::dec
                  << " (the text is in " << fs::absolute(file) << ")";
}

TEST(ExportBytes, LibraryAndWriteWriteTheRecordedBytes) {
    const Recorded recorded[] = {
        {"samples/Library.xml", 15183, 0xD92313081E11CFBDULL, 10878, 0x8789493E88DC4B13ULL},
        {"tests/data/real/beets-12.1-unix.xml", 3860, 0x3227862B171E44D6ULL, 2721, 0x53BDFD1E3E66D52CULL},
        {"tests/data/real/beets-12.1-windows.xml", 4219, 0x5805FEDD7EF5869CULL, 3080, 0x7B02F512DB7101C4ULL},
        {"tests/data/real/dwittenberg-11.1-windows.xml", 2071187, 0x60AA88F1AAD5E526ULL, 1537916, 0x594CCB1528774B1AULL},
        {"tests/data/real/lastfm-itunes-11.1.xml", 185955, 0x61B4E157CDE520A6ULL, 136165, 0xC4EEABEF415B3764ULL},
        {"tests/data/real/libpytunes-12.6.xml", 482599, 0x5A72F449131EEC20ULL, 364425, 0x3E0556F1C93291B0ULL},
        {"generated", 4086346, 0x27D10AA27B801F1EULL, 2970255, 0x23F7E02E381BA2DCULL},
        {"generated with markup", 4086359, 0x8C025B0C80A137E3ULL, 2970268, 0xCBFBF22E0FF7A033ULL},
    };
    for (const Recorded& r : recorded) {
        SCOPED_TRACE(r.library);
        const BridgeRun library = runBridge("library\nquit\n", reproducible(libraryPath(r.library)));
        ASSERT_EQ(library.exitStatus, 0) << library.err;
        const Block block = firstBlock(library.out);
        expectRecorded(block.progress, r.progressSize, r.progressDigest, std::string(r.library) + " progress");
        expectRecorded(block.reply, r.replySize, r.replyDigest, std::string(r.library) + " reply");

        // `write` shows the same text, and the file holds it without the
        // line feed that ends the progress text.
        const PrivateRoot root;
        BridgeOptions options = reproducible(libraryPath(r.library));
        root.enterIn(options);
        const BridgeRun write = runBridge("write\nquit\n", options);
        if (write.exitStatus == 125) GTEST_SKIP() << "no private mount namespace here: " << write.err;
        ASSERT_EQ(write.exitStatus, 0) << write.err;
        const Block written = firstBlock(write.out);
        EXPECT_EQ(written.reply, "{}");
        EXPECT_TRUE(written.progress == block.progress + "Wrote to file:///Volumes/Media/_harmonode/harmonode_itunes.json\n")
            << "the progress text of write differs from that of library";
        const std::string file = readFile(fs::path(root.destinationFolder()) / "harmonode_itunes.json");
        EXPECT_TRUE(file + "\n" == block.progress) << "the file differs from the progress text";
    }
}

// A large library damaged halfway: nothing but the error reply, whatever
// was read before the damage, with the error text the file always gave.
TEST(ExportBytes, ALibraryDamagedHalfwayGivesOnlyTheRecordedErrorReply) {
    const std::string whole = readFile(HARMONODE_GENERATED_LIBRARY);
    ASSERT_GT(whole.size(), 1'000'000u);
    const std::size_t middle = whole.find("<key>Name</key>", whole.size() / 2);
    ASSERT_NE(middle, std::string::npos);
    const auto replaced = [&](std::string_view from, std::string_view to) {
        std::string damaged = whole;
        return damaged.replace(damaged.find(from, middle), from.size(), to);
    };
    const struct {
        const char* what;
        std::string bytes;
        const char* error;  // after "error The music library file \"<path>\" "
    } cases[] = {
        {"cut off", whole.substr(0, middle + 20),
         "is malformed at line 72674 column 24: Couldn't find end of Start Tag stri"},
        {"a mismatched end tag", replaced("</string>", "</strong>"),
         "is malformed at line 72674 column 65: Opening and ending tag mismatch: string line 72674 and strong"},
        {"a malformed character reference", replaced("</string>", "&#xZZ;</string>"),
         "is malformed at line 72674 column 59: CharRef: invalid hexadecimal value"},
        {"a bare \"<\" in text", replaced("</string>", " < </string>"),
         "is malformed at line 72674 column 58: StartTag: invalid element name"},
        {"an element cut open", replaced("<key>", "<ke"),
         "is malformed at line 72674 column 11: error parsing attribute name"},
    };
    const fs::path folder = fs::temp_directory_path() / ("harmonode-damaged-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = (folder / "Library.xml").string();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
        const BridgeRun run = runBridge("library\nwrite\nping\nquit\n", reproducible(path));
        const auto blocks = run.blocks();
        ASSERT_EQ(blocks.size(), 4u) << run.err;
        const std::string expected =
            "{\"error\":\"error The music library file \\\"" + path + "\\\" " + c.error + "\"}";
        for (int i = 0; i < 2; ++i) EXPECT_EQ(blocks[i], std::vector<std::string>{expected});
        EXPECT_EQ(blocks[2], std::vector<std::string>{R"({"pong":"yes..."})"});
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace harmonode::testing
