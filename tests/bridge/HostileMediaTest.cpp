// add_track of audio files made to hurt whoever reads them, each made here
// at test time: the bridge answers on, the library is unchanged or holds
// one sane track more, and memory stays bounded.

#include <unistd.h>

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "tests/bridge/BridgeProcess.h"

namespace harmonode::testing {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

const fs::path kSource = HARMONODE_SOURCE_DIR;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string bigEndian32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// ID3v2.4 sizes: 28 bits, seven to a byte.
std::string synchsafe(std::uint32_t v) {
    return {static_cast<char>((v >> 21) & 0x7F), static_cast<char>((v >> 14) & 0x7F),
            static_cast<char>((v >> 7) & 0x7F), static_cast<char>(v & 0x7F)};
}

std::string frame(std::string_view id, std::string_view body, char formatFlags = 0) {
    return std::string(id) + synchsafe(static_cast<std::uint32_t>(body.size())) + '\0' + formatFlags + std::string(body);
}

std::string textFrame(std::string_view id, char encoding, std::string_view text) {
    return frame(id, std::string(1, encoding) + std::string(text));
}

// `depth` frames `id` inside each other, each holding `fields` before the
// next: written from the outside in, each size known from the depth.
std::string nestedFrames(std::string_view id, std::string_view fields, std::uint32_t depth) {
    const std::uint32_t each = 10 + static_cast<std::uint32_t>(fields.size());
    std::string out;
    out.reserve(std::size_t{depth} * each);
    for (std::uint32_t level = 0; level < depth; ++level) {
        out += id;
        out += synchsafe((depth - level) * each - 10);
        out += std::string(2, '\0');
        out += fields;
    }
    return out;
}

// An MP3 file: an ID3v2.4 tag of `frames`, then the sample's audio.
std::string mp3(const std::string& frames) {
    const std::string sample = readFile(kSource / "samples/sample.mp3");
    const std::size_t tagSize = 10 + ((std::size_t(sample[6]) << 21) | (std::size_t(sample[7]) << 14) |
                                      (std::size_t(sample[8]) << 7) | std::size_t(sample[9]));
    return std::string("ID3\x04\0\0", 6) + synchsafe(static_cast<std::uint32_t>(frames.size())) + frames +
           sample.substr(tagSize);
}

// A title frame whose compressed text inflates to `size` bytes.
std::string compressedTitle(std::uint32_t size) {
    z_stream z{};
    EXPECT_EQ(deflateInit(&z, 9), Z_OK);
    std::string in(1 << 20, 'A'), out(1 << 20, '\0'), packed;
    in[0] = '\0';  // the text encoding: Latin-1
    for (std::uint32_t left = size; left > 0;) {
        const std::uint32_t n = std::min<std::uint32_t>(left, static_cast<std::uint32_t>(in.size()));
        left -= n;
        z.next_in = reinterpret_cast<Bytef*>(in.data());
        z.avail_in = n;
        do {
            z.next_out = reinterpret_cast<Bytef*>(out.data());
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            packed.append(out.data(), out.size() - z.avail_out);
        } while (z.avail_out == 0);
        in[0] = 'A';
    }
    deflateEnd(&z);
    // Compressed, with the data length indicator that compression needs.
    return frame("TIT2", synchsafe(size) + packed, '\x09');
}

std::string repeated(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

class HostileMedia : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "hostile-media-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        library_ = dir_ / "Library.xml";
        options_.environment["HARMONODE_MUSIC_LIBRARY"] = library_.string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_, library_;
    BridgeOptions options_;
};

TEST_F(HostileMedia, NoFileTakesTheBridgeDownOrTheLibraryOutOfShape) {
    const std::string euro = "\xE2\x82\xAC";
    const std::uint32_t kBomb = (1u << 28) - 1;  // 256 MiB, the most a frame can say it holds
    struct Case {
        std::string name;
        std::function<void(const fs::path&)> make;
        // Given the new track's record and its entry in the library file;
        // none when the file must be refused.
        std::function<void(const json::object&, const std::string&)> check;
        std::vector<std::string> reasons;  // one of them in the refusal's text on standard error
    };
    const Case cases[] = {
        {"chapters in chapters, 20000 deep",
         [](const fs::path& p) { writeFile(p, mp3(nestedFrames("CHAP", std::string("c\0", 2) + std::string(16, '\xFF'), 20000))); },
         nullptr, {"the tag reader fail"}},
        {"tables of contents in tables of contents, 40000 deep",
         [](const fs::path& p) { writeFile(p, mp3(nestedFrames("CTOC", std::string("t\0\x03\0", 4), 40000))); }, nullptr,
         {"the tag reader fail"}},
        {"MP4 atoms in atoms, 80000 deep",
         [](const fs::path& p) {
             std::string bytes = bigEndian32(20) + "ftypM4A " + bigEndian32(0) + "M4A ";
             for (std::uint32_t level = 0; level < 80000; ++level) bytes += bigEndian32((80000 - level) * 8) + "moov";
             writeFile(p, bytes);
         },
         nullptr, {"the tag reader fail"}},
        // Under AddressSanitizer its allocator is the bound, and ends the reader.
        {"a title that inflates to 256 MiB", [&](const fs::path& p) { writeFile(p, mp3(compressedTitle(kBomb))); },
         nullptr, {"memory", "the tag reader fail"}},
        {"8 GiB, nearly all of it a hole",
         [](const fs::path& p) {
             fs::copy_file(kSource / "samples/sample.mp3", p);
             fs::resize_file(p, std::uintmax_t{8} << 30);
         },
         nullptr, {"seconds of processor time", "took longer"}},
        {"titles and artists in broken UTF-16",
         [](const fs::path& p) {
             writeFile(p, mp3(textFrame("TIT2", 1, std::string("\xFF\xFE" "A\0\0\xD8" "B\0", 8)) +
                              textFrame("TPE1", 1, std::string("\xFF\xFE\0\xDCx\0", 6)) +
                              textFrame("TALB", 0, "Album")));
         },
         [](const json::object& track, const std::string&) {
             EXPECT_EQ(track.at("Title"), "untitled") << "the file's name, as for a file without a title";
             EXPECT_FALSE(track.contains("Artist"));
             EXPECT_EQ(track.at("Album"), "Album");
         },
         {}},
        {"negative and overlong numbers",
         [](const fs::path& p) {
             writeFile(p, mp3(textFrame("TDRC", 0, "-1") + textFrame("TRCK", 0, "-3/-5") +
                              textFrame("TPOS", 0, "99999999999/2")));
         },
         [](const json::object&, const std::string& entry) {
             for (const char* left : {"Year", "Track Number", "Track Count", "Disc Number"}) {
                 EXPECT_EQ(entry.find(std::string("<key>") + left + "</key>"), std::string::npos) << left << " in " << entry;
             }
             EXPECT_NE(entry.find("<key>Disc Count</key><integer>2</integer>"), std::string::npos) << entry;
         },
         {}},
        {"a title of 2000 three-byte characters",
         [&](const fs::path& p) { writeFile(p, mp3(textFrame("TIT2", 3, repeated(euro, 2000)))); },
         [&](const json::object& track, const std::string&) {
             EXPECT_EQ(track.at("Title").as_string(), repeated(euro, 1024 / 3));
         },
         {}},
    };
    const std::string original = readFile(kSource / "samples/Library.xml");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(library_, original);
        const fs::path file = dir_ / "untitled.mp3";
        fs::remove(file);
        c.make(file);
        const std::string request = json::serialize(json::object{{"cmd", "add_track"}, {"path", file.string()}});
        const BridgeRun run = runBridge(request + "\nping\nlibrary\nquit\n", options_);
        fs::remove(file);
        ASSERT_FALSE(run.timedOut);
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        const auto blocks = run.blocks();
        ASSERT_EQ(blocks.size(), 4u) << run.out;
        EXPECT_EQ(blocks[0], (std::vector<std::string>{"add " + file.string(), R"({"pid":"testing..."})"}));
        EXPECT_EQ(blocks[1].back(), R"({"pong":"yes..."})");
        EXPECT_LT(run.maxResidentKiB, 1L << 20) << "KiB at the peak, the tag reader's included";

        const json::object document = json::parse(blocks[2].back()).as_object();
        const json::object* added = nullptr;
        for (const auto& track : document.at("tracks").as_array()) {
            if (const auto* path = track.as_object().if_contains("FilePath"); path && *path == file.c_str()) {
                added = &track.as_object();
            }
        }
        if (!c.check) {
            EXPECT_EQ(readFile(library_), original);
            EXPECT_NE(run.err.find("cannot be added: "), std::string::npos) << run.err;
            EXPECT_TRUE(std::any_of(c.reasons.begin(), c.reasons.end(),
                                    [&](const std::string& reason) { return run.err.find(reason) != run.err.npos; }))
                << run.err;
            continue;
        }
        ASSERT_NE(added, nullptr) << run.err;
        // The entry runs from its track ID to its location, the last field.
        const std::string now = readFile(library_);
        const std::size_t location = now.find("<string>file://" + file.string() + "</string>");
        ASSERT_NE(location, std::string::npos);
        const std::size_t entry = now.rfind("<key>Track ID</key>", location);
        EXPECT_LT(now.size(), original.size() + (64 << 10));
        c.check(*added, now.substr(entry, location - entry));
    }
}

}  // namespace
}  // namespace harmonode::testing
