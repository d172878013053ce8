// add_track and test through the bridge process, on copies of libraries in
// a temporary folder; deleteTrack and testSBTracks called in this process.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "bridge/Applications.h"
#include "bridge/MusicControl.h"
#include "platform/itlibrary/ITLibrary.h"
#include "tests/bridge/BridgeProcess.h"
#include "tests/scripting/OtherWriters.h"

namespace harmonode::testing {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

const fs::path kSource = HARMONODE_SOURCE_DIR;
const fs::path kSampleAudio = kSource / "samples/sample.mp3";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class MusicControl : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "music-control-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        library_ = dir_ / "Library.xml";
        fs::copy_file(kSource / "samples/Library.xml", library_);
        options_.environment["HARMONODE_MUSIC_LIBRARY"] = library_.string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The library document's tracks and master playlist from a reply line.
    static std::pair<json::array, json::object> tracksAndMaster(const std::string& reply) {
        json::object document = json::parse(reply).as_object();
        json::object master;
        for (auto& playlist : document.at("playlists").as_array()) {
            if (playlist.at("isMaster").as_bool()) master = playlist.as_object();
        }
        return {document.at("tracks").as_array(), master};
    }

    fs::path dir_, library_;
    BridgeOptions options_;
};

TEST_F(MusicControl, AnAddedTrackIsInTheNextLibraryWithItsTagsAndInTheMasterPlaylist) {
    // A relative path is taken against the working directory.
    options_.prepareChild = [] {
        return ::chdir((kSource / "samples").c_str()) == 0 ? std::nullopt : std::optional<std::string>("chdir");
    };
    const BridgeRun run = runBridge("library\n{\"cmd\":\"add_track\",\"path\":\"sample.mp3\"}\nlibrary\ntest\nquit\n", options_);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto blocks = run.blocks();
    ASSERT_EQ(blocks.size(), 5u);
    EXPECT_EQ(blocks[1], (std::vector<std::string>{"add sample.mp3", R"({"pid":"testing..."})"}));
    // test imports the copy of the sample that the build puts beside the bridge.
    const fs::path shipped = fs::canonical(bridgePath()).parent_path() / "sample.mp3";
    EXPECT_EQ(blocks[3], (std::vector<std::string>{"add " + shipped.string(), R"({"pid":"testing..."})"}));

    const auto [before, masterBefore] = tracksAndMaster(blocks[0].back());
    const auto [after, masterAfter] = tracksAndMaster(blocks[2].back());
    ASSERT_EQ(after.size(), before.size() + 1);
    const json::object& track = after.back().as_object();
    EXPECT_EQ(track.at("Title"), "Ton d’essai à 440 Hz");
    EXPECT_EQ(track.at("Artist"), "Ørjan Šimić");
    EXPECT_EQ(track.at("Album"), "Harmonode Échantillons");
    EXPECT_EQ(track.at("Track Number"), 1);
    EXPECT_EQ(track.at("Kind"), "MPEG audio file");
    EXPECT_EQ(track.at("FilePath"), kSampleAudio.c_str());
    EXPECT_EQ(track.at("Location").as_string(), "file://" + kSampleAudio.string());
    const json::value& pid = track.at("Persistent ID");
    for (const auto& old : before) EXPECT_NE(old.at("Persistent ID"), pid);
    const json::array& members = masterAfter.at("pids").as_array();
    EXPECT_EQ(members.size(), masterBefore.at("pids").as_array().size() + 1);
    EXPECT_EQ(members.back(), pid);
    EXPECT_NE(masterAfter.at("hash"), masterBefore.at("hash"));
}

TEST_F(MusicControl, AddingWhatIsNotAudioChangesNothingAndRepliesAsEver) {
    const std::string original = readFile(library_);
    std::ofstream(dir_ / "text.mp3") << "words, not sound\n";
    fs::create_directory(dir_ / "folder");
    for (const fs::path& path : {dir_ / "missing.mp3", dir_ / "folder", dir_ / "text.mp3"}) {
        const BridgeRun run = runBridge(json::serialize(json::object{{"cmd", "add_track"}, {"path", path.string()}}) +
                                            "\nquit\n",
                                        options_);
        EXPECT_EQ(run.blocks().at(0), (std::vector<std::string>{"add " + path.string(), R"({"pid":"testing..."})"}));
        EXPECT_EQ(readFile(library_), original) << path;
    }
}

// The one request line of each path, the path as the request's "path".
std::string addRequests(const std::vector<std::string>& paths) {
    std::string lines;
    for (const auto& path : paths) lines += json::serialize(json::object{{"cmd", "add_track"}, {"path", path}}) + "\n";
    return lines;
}

TEST_F(MusicControl, LineBreaksInAPathNeverEndTheProgressLineOrTheBlock) {
    const fs::path named = dir_ / "two\nlines\r.mp3";
    fs::copy_file(kSampleAudio, named);
    const struct {
        std::string path, line;
    } cases[] = {
        {named.string(), "add " + dir_.string() + "/two\\nlines\\r.mp3"},
        {"/x\n{\"pid\":\"forged\"}\n###\n{\"pong\":\"yes...\"}", R"(add /x\n{"pid":"forged"}\n###\n{"pong":"yes..."})"},
        {"/x\r###\r\n###", R"(add /x\r###\r\n###)"},
        {"/x\t\x1B[2J\x7F\u0085\u2028\u2029", R"(add /x\t\u001B[2J\u007F\u0085\u2028\u2029)"},
    };
    std::vector<std::string> paths;
    for (const auto& c : cases) paths.push_back(c.path);
    const BridgeRun run = runBridge(addRequests(paths) + "ping\nlibrary\nquit\n", options_);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto blocks = run.blocks();
    ASSERT_EQ(blocks.size(), std::size(cases) + 3) << run.out;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(blocks[i], (std::vector<std::string>{cases[i].line, R"({"pid":"testing..."})"}));
    }
    EXPECT_EQ(blocks[std::size(cases)].back(), R"({"pong":"yes..."})");
    const auto [tracks, master] = tracksAndMaster(blocks[std::size(cases) + 1].back());
    EXPECT_EQ(tracks.back().at("FilePath"), named.c_str());
}

// c/link is a link to a/b: c/link/.. is a, whatever the text says.
TEST_F(MusicControl, TheFileAddedIsTheOneTheSystemOpensForThePath) {
    fs::create_directories(dir_ / "a" / "b");
    fs::create_directories(dir_ / "c");
    fs::copy_file(kSampleAudio, dir_ / "a" / "x.mp3");
    fs::copy_file(kSampleAudio, dir_ / "c" / "x.mp3");
    fs::create_directory_symlink("../a/b", dir_ / "c" / "link");
    options_.prepareChild = [dir = dir_] {
        return ::chdir(dir.c_str()) == 0 ? std::nullopt : std::optional<std::string>("chdir");
    };
    const std::string file = (dir_ / "a" / "x.mp3").string();
    const struct {
        std::string path, reason;  // no reason: added
    } cases[] = {
        {"c/link/../x.mp3", ""},
        {file + std::string("\0.txt", 5), "its path holds a NUL character"},
        {file + "/", "its path ends in \"/\", but it names a file, not a folder"},
        {"c/link/", "it is a folder"},
    };
    std::vector<std::string> paths;
    for (const auto& c : cases) paths.push_back(c.path);
    const BridgeRun run = runBridge(addRequests(paths) + "library\nquit\n", options_);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto blocks = run.blocks();
    ASSERT_EQ(blocks.size(), std::size(cases) + 2) << run.out;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(blocks[i].back(), R"({"pid":"testing..."})");
        if (!cases[i].reason.empty()) {
            EXPECT_NE(run.err.find(cases[i].reason), std::string::npos) << run.err;
        }
    }
    const auto [tracks, master] = tracksAndMaster(blocks[std::size(cases)].back());
    std::vector<std::string> added;
    for (const auto& track : tracks) {
        if (const auto* path = track.as_object().if_contains("FilePath"); path && path->as_string().starts_with(dir_.string())) {
            added.emplace_back(path->as_string());
        }
    }
    EXPECT_EQ(added, std::vector<std::string>{file});
    EXPECT_EQ(tracks.back().at("Location").as_string(), "file://" + file);
}

TEST_F(MusicControl, TwoBridgesAddingAtOnceLoseNoTrack) {
    constexpr int kEach = 50;
    std::string requests[2];
    for (int bridge = 0; bridge < 2; ++bridge) {
        for (int i = 0; i < kEach; ++i) {
            const fs::path copy = dir_ / ("song-" + std::to_string(bridge) + "-" + std::to_string(i) + ".mp3");
            fs::copy_file(kSampleAudio, copy);
            requests[bridge] += json::serialize(json::object{{"cmd", "add_track"}, {"path", copy.string()}}) + "\n";
        }
        requests[bridge] += "quit\n";
    }
    BridgeRun runs[2];
    std::thread other([&] { runs[1] = runBridge(requests[1], options_); });
    runs[0] = runBridge(requests[0], options_);
    other.join();
    ASSERT_EQ(runs[0].exitStatus, 0) << runs[0].err;
    ASSERT_EQ(runs[1].exitStatus, 0) << runs[1].err;

    const auto [tracks, master] = tracksAndMaster(runBridge("library\nquit\n", options_).replies().at(0));
    std::set<std::string> files, pids;
    for (const auto& track : tracks) {
        pids.insert(std::string(track.at("Persistent ID").as_string()));
        if (const auto* path = track.as_object().if_contains("FilePath")) files.insert(std::string(path->as_string()));
    }
    EXPECT_EQ(std::count_if(files.begin(), files.end(), [](const std::string& f) { return f.find("song-") != f.npos; }),
              2 * kEach);
    EXPECT_EQ(pids.size(), tracks.size()) << "every track has a persistent ID of its own";
    EXPECT_EQ(master.at("pids").as_array().size(), tracks.size());
}

// A bridge that is handed one request at a time, so that a test can act
// between two of them.
class Conversation {
public:
    explicit Conversation(const BridgeOptions& options) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            for (const auto& [name, value] : options.environment) ::setenv(name.c_str(), value.c_str(), 1);
            ::execl(bridgePath().c_str(), bridgePath().c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;
    ~Conversation() {
        if (to_ >= 0) ::close(to_);
        if (from_ >= 0) ::close(from_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }

    // Writes `text` in one write.
    bool send(const std::string& text) {
        return ::write(to_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    // The lines of the next block, without its marker (none when the bridge
    // ends first).
    std::vector<std::string> nextBlock() {
        const auto markerAt = [&]() -> std::size_t {
            if (pending_.starts_with("###\n")) return 0;
            const std::size_t at = pending_.find("\n###\n");
            return at == std::string::npos ? at : at + 1;
        };
        std::size_t marker;
        while ((marker = markerAt()) == std::string::npos) {
            char buffer[65536];
            const ssize_t n = ::read(from_, buffer, sizeof buffer);
            if (n <= 0) return {};
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
        std::vector<std::string> lines;
        for (std::size_t at = 0; at < marker;) {
            const std::size_t lf = pending_.find('\n', at);
            lines.push_back(pending_.substr(at, lf - at));
            at = lf + 1;
        }
        pending_.erase(0, marker + 4);
        return lines;
    }
    // Sends `line` and gives the reply line of its block ("" when the bridge
    // ends first).
    std::string ask(const std::string& line) {
        if (!send(line + "\n")) return "";
        const std::vector<std::string> block = nextBlock();
        return block.empty() ? "" : block.back();
    }

private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string pending_;
};

// Between two adds of one bridge, another bridge adds a file, and a tool
// takes the last member out of the master playlist, in place, leaving the
// file's size and modification time as they were: the bridge's next add
// keeps both changes.
TEST_F(MusicControl, ChangesByOthersBetweenTwoAddsOfABridgeAreSeenAndKept) {
    std::vector<fs::path> songs;
    for (int i = 0; i < 4; ++i) {
        songs.push_back(dir_ / ("song-" + std::to_string(i) + ".mp3"));
        fs::copy_file(kSampleAudio, songs.back());
    }
    const auto request = [](const fs::path& song) {
        return json::serialize(json::object{{"cmd", "add_track"}, {"path", song.string()}});
    };
    Conversation bridge(options_);
    ASSERT_EQ(bridge.ask(request(songs[0])), R"({"pid":"testing..."})");
    ASSERT_EQ(runBridge(addRequests({songs[1].string()}) + "quit\n", options_).replies().at(0), R"({"pid":"testing..."})");
    ASSERT_EQ(bridge.ask(request(songs[2])), R"({"pid":"testing..."})");
    ASSERT_TRUE(platform::testing::rewriteInPlaceKeepingSizeAndTime(
        library_, platform::testing::withoutLastMasterMember(platform::testing::fileBytes(library_))));
    ASSERT_EQ(bridge.ask(request(songs[3])), R"({"pid":"testing..."})");

    const auto [tracks, master] = tracksAndMaster(bridge.ask("library"));
    std::map<std::string, json::value> pidOf;
    for (const auto& track : tracks) {
        if (const auto* path = track.as_object().if_contains("FilePath")) pidOf[std::string(path->as_string())] = track.at("Persistent ID");
    }
    const json::array& members = master.at("pids").as_array();
    const auto inMaster = [&](const fs::path& song) {
        return std::count(members.begin(), members.end(), pidOf.at(song.string())) == 1;
    };
    for (const auto& song : songs) ASSERT_TRUE(pidOf.contains(song.string())) << song;
    EXPECT_TRUE(inMaster(songs[0]));
    EXPECT_TRUE(inMaster(songs[1]));
    EXPECT_FALSE(inMaster(songs[2])) << "the tool took it out";
    EXPECT_TRUE(inMaster(songs[3]));
}

// add_track requests that arrive together are imported together, and each
// still has its block, in order; a host that reads a reply finds its file
// in the library. A request of another kind ends the run of them.
TEST_F(MusicControl, AddRequestsThatArriveTogetherAreAnsweredInOrderOnceTheirFilesAreSaved) {
    std::vector<std::string> songs;
    for (int i = 0; i < 5; ++i) {
        songs.push_back((dir_ / ("song-" + std::to_string(i) + ".mp3")).string());
        fs::copy_file(kSampleAudio, songs.back());
    }
    std::ofstream(dir_ / "words.mp3") << "words, not sound\n";
    const std::string words = (dir_ / "words.mp3").string();
    Conversation bridge(options_);
    // One write: the bridge finds them all waiting as it takes the first.
    ASSERT_TRUE(bridge.send(addRequests({songs[0], words, songs[1], songs[2]}) + "ping\n" +
                            addRequests({songs[3], songs[4]})));
    const std::string reply = R"({"pid":"testing..."})";
    const auto saved = [&](const std::string& song) {
        return platform::testing::fileBytes(library_).find(fs::path(song).filename().string()) != std::string::npos;
    };
    EXPECT_EQ(bridge.nextBlock(), (std::vector<std::string>{"add " + songs[0], reply}));
    EXPECT_TRUE(saved(songs[0]) && saved(songs[1]) && saved(songs[2])) << "imported with the first";
    EXPECT_EQ(bridge.nextBlock(), (std::vector<std::string>{"add " + words, reply}));
    EXPECT_EQ(bridge.nextBlock(), (std::vector<std::string>{"add " + songs[1], reply}));
    EXPECT_EQ(bridge.nextBlock(), (std::vector<std::string>{"add " + songs[2], reply}));
    EXPECT_EQ(bridge.nextBlock(), (std::vector<std::string>{R"({"pong":"yes..."})"}));
    EXPECT_EQ(bridge.nextBlock(), (std::vector<std::string>{"add " + songs[3], reply}));
    EXPECT_TRUE(saved(songs[3]) && saved(songs[4])) << "imported with the first after the ping";
    EXPECT_EQ(bridge.nextBlock(), (std::vector<std::string>{"add " + songs[4], reply}));

    const auto [tracks, master] = tracksAndMaster(bridge.ask("library"));
    std::multiset<std::string> files;
    for (const auto& track : tracks) {
        if (const auto* path = track.as_object().if_contains("FilePath")) files.insert(std::string(path->as_string()));
    }
    for (const auto& song : songs) EXPECT_EQ(files.count(song), 1u) << song;
    EXPECT_EQ(files.count(words), 0u);
    EXPECT_EQ(master.at("pids").as_array().size(), tracks.size());
}

// A library whose save takes a while: tracks with large data blobs, which
// take far longer to write than to read.
std::string largeLibrary(int trackCount) {
    const std::string blob = "\t\t\t<key>Sound Check Data</key>\n\t\t\t<data>\n" +
                             std::string(20000, 'A') + "\n\t\t\t</data>\n";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                      "\t<key>Tracks</key>\n\t<dict>\n";
    for (int id = 1; id <= trackCount; ++id) {
        char pid[17];
        std::snprintf(pid, sizeof pid, "%016X", id);
        const std::string n = std::to_string(id);
        xml += "\t\t<key>" + n + "</key>\n\t\t<dict>\n\t\t\t<key>Track ID</key><integer>" + n +
               "</integer>\n\t\t\t<key>Name</key><string>Track " + n + "</string>\n" + blob +
               "\t\t\t<key>Persistent ID</key><string>" + pid + "</string>\n\t\t</dict>\n";
    }
    xml += "\t</dict>\n\t<key>Playlists</key>\n\t<array>\n\t\t<dict>\n\t\t\t<key>Master</key><true/>\n"
           "\t\t\t<key>Playlist Persistent ID</key><string>F000000000000000</string>\n"
           "\t\t\t<key>Playlist Items</key>\n\t\t\t<array>\n";
    for (int id = 1; id <= trackCount; ++id) {
        xml += "\t\t\t\t<dict>\n\t\t\t\t\t<key>Track ID</key><integer>" + std::to_string(id) + "</integer>\n\t\t\t\t</dict>\n";
    }
    return xml + "\t\t\t</array>\n\t\t</dict>\n\t</array>\n</dict>\n</plist>\n";
}

// True while process `pid` has a file in `folder` open for writing, the
// library's lock file aside: a save is under way, whatever its method.
bool savingInto(pid_t pid, const fs::path& folder) {
    std::error_code ec;
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    for (fs::directory_iterator it(fds, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string target = fs::read_symlink(it->path(), ec).string();
        if (ec || !target.starts_with(folder.string() + "/") || target.ends_with(".lock")) continue;
        std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + it->path().filename().string());
        std::string field;
        unsigned flags = 0;
        while (info >> field && field != "flags:") {}
        if (info >> std::oct >> flags && (flags & O_ACCMODE) != O_RDONLY) return true;
    }
    return false;
}

// Runs the bridge with one add_track request; with `delay`, kills it that
// long after it began to save.
void addAndKill(const BridgeOptions& options, const fs::path& folder, std::optional<std::chrono::microseconds> delay) {
    int in[2];
    ASSERT_EQ(::pipe(in), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::close(in[1]);
        for (const auto& [name, value] : options.environment) ::setenv(name.c_str(), value.c_str(), 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(bridgePath().c_str(), bridgePath().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    const std::string line = "{\"cmd\":\"add_track\",\"path\":\"" + kSampleAudio.string() + "\"}\nquit\n";
    static_cast<void>(::write(in[1], line.data(), line.size()));
    int status = 0;
    if (delay) {
        while (!savingInto(pid, folder) && ::waitpid(pid, &status, WNOHANG) == 0) {}
        std::this_thread::sleep_for(*delay);
        ::kill(pid, SIGKILL);
    }
    ::waitpid(pid, &status, 0);
    ::close(in[1]);
}

TEST_F(MusicControl, ABridgeKilledDuringASaveLeavesTheOldFileOrTheNewOneWhole) {
    constexpr int kTracks = 500;
    const std::string original = largeLibrary(kTracks);
    std::ofstream(library_, std::ios::binary | std::ios::trunc) << original;
    addAndKill(options_, dir_, std::nullopt);
    const std::string added = readFile(library_);
    ASSERT_GT(added.size(), original.size()) << "an add that is not killed saves";

    int saved = 0;
    for (const int delay : {0, 200, 500, 1000, 2000, 4000, 8000, 16000, 32000, 64000}) {
        std::ofstream(library_, std::ios::binary | std::ios::trunc) << original;
        addAndKill(options_, dir_, std::chrono::microseconds(delay));
        const std::string now = readFile(library_);
        if (now == original) continue;
        // The new file: the original with one track and one member more.
        ASSERT_EQ(now.size(), added.size()) << "killed " << delay << " us into the save";
        const auto library = platform::ITLibrary::initWithFile(library_.string());
        ASSERT_TRUE(library.ok()) << library.error().description;
        ASSERT_EQ(library.value()->allMediaItems().size(), kTracks + 1u) << "killed " << delay << " us into the save";
        ++saved;
    }
    RecordProperty("killedAddsThatHadSaved", saved);
}

// deleteTrack and testSBTracks, called here through the process's own handle.
class DeleteTrack : public MusicControl {
protected:
    void SetUp() override {
        MusicControl::SetUp();
        ::setenv("HARMONODE_MUSIC_LIBRARY", library_.c_str(), 1);
        itunes = platform::SBApplication::applicationWithBundleIdentifier("com.apple.Music");
    }
    void TearDown() override {
        itunes.reset();
        ::unsetenv("HARMONODE_MUSIC_LIBRARY");
        MusicControl::TearDown();
    }
};

TEST_F(DeleteTrack, DeletesOnlyWhenExactlyOneTrackHasTheID) {
    // The sample's track 203 is A1B2C3D4E5F60718; here a second track shares 0000A1B2C3D4E5F6.
    std::string twice = readFile(library_);
    const std::string second = "<string>0000A1B2C3D4E5F6</string>";
    const std::size_t at = twice.find("<string>091A2B3C4D5E6F70</string>");
    ASSERT_NE(at, std::string::npos);
    twice.replace(at, second.size(), second);
    std::ofstream(library_, std::ios::binary | std::ios::trunc) << twice;

    const struct {
        std::uint64_t id;
        std::string line;
        bool deleted;
    } cases[] = {
        {255, "delete track 00000000000000FF\n", false},
        {0x0000A1B2C3D4E5F6, "delete track 0000A1B2C3D4E5F6\n", false},
        {0xA1B2C3D4E5F60718, "delete track A1B2C3D4E5F60718\n", true},
    };
    for (const auto& c : cases) {
        const std::string before = readFile(library_);
        ::testing::internal::CaptureStdout();
        deleteTrack(c.id);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.line);
        EXPECT_EQ(readFile(library_) != before, c.deleted) << c.line;
    }
    EXPECT_EQ(readFile(library_).find("A1B2C3D4E5F60718"), std::string::npos);

    ::testing::internal::CaptureStdout();
    const platform::SBElementArray tracks = testSBTracks();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "testSBTracks\n");
    EXPECT_EQ(tracks.count(), 11u);
}

}  // namespace
}  // namespace harmonode::testing
