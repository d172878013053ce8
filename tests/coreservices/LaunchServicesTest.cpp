#include "platform/coreservices/LaunchServices.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/native/StderrCapture.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Temporary XDG folders: one desktop entry "org.example.Handler" installed
// in the user's data folder, and the system folders empty.
class LaunchServices : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "bfg-ls-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "data/applications");
        fs::create_directories(root_ / "system/applications");
        write(root_ / "data/applications/org.example.Handler.desktop", "[Desktop Entry]\nType=Application\nName=H\n");
        ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (root_ / "system").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    }
    void TearDown() override {
        for (const char* name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME"}) ::unsetenv(name);
        fs::remove_all(root_);
    }

    static void write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string read(const fs::path& path) {
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }
    fs::path list() const { return root_ / "config/mimeapps.list"; }

    fs::path root_;
};

TEST_F(LaunchServices, SetsTheDefaultAndKeepsEveryOtherLine) {
    const std::string entry = "x-scheme-handler/bfg=org.example.Handler.desktop;";
    const struct {
        const char* what;
        std::string before;  // empty: no file
        std::u16string scheme;
        std::string after;
    } cases[] = {
        {"new file", "", u"bfg", "[Default Applications]\n" + entry + "\n"},
        {"replaced in place, case of scheme and key ignored",
         "# mine\n[Default Applications]\ntext/html=firefox.desktop\nX-Scheme-Handler/BFG = old.desktop;\n"
         "image/png=gimp.desktop\n",
         u"BFG",
         "# mine\n[Default Applications]\ntext/html=firefox.desktop\n" + entry + "\nimage/png=gimp.desktop\n"},
        {"added after the group's last entry, other groups untouched",
         "[Added Associations]\nx-scheme-handler/bfg=other.desktop;\n\n[Default Applications]\ntext/html=a.desktop\n\n"
         "[Removed Associations]\n",
         u"bfg",
         "[Added Associations]\nx-scheme-handler/bfg=other.desktop;\n\n[Default Applications]\ntext/html=a.desktop\n" +
             entry + "\n\n[Removed Associations]\n"},
        {"group added at the end, no final newline kept as it was",
         "[Added Associations]\ntext/html=a.desktop", u"bfg",
         "[Added Associations]\ntext/html=a.desktop\n\n[Default Applications]\n" + entry + "\n"},
    };
    for (const auto& c : cases) {
        fs::remove_all(root_ / "config");
        if (!c.before.empty()) {
            fs::create_directories(root_ / "config");
            write(list(), c.before);
        }
        EXPECT_EQ(LSSetDefaultHandlerForURLScheme(c.scheme, u"org.example.Handler"), noErr) << c.what;
        EXPECT_EQ(read(list()), c.after) << c.what;
    }
}

TEST_F(LaunchServices, BadRequestsChangeNothing) {
    fs::create_directories(root_ / "config");
    const std::string before = "[Default Applications]\ntext/html=a.desktop\n";
    write(list(), before);
    // The user's hidden copy of a system entry counts as deleted.
    write(root_ / "system/applications/org.example.Gone.desktop", "[Desktop Entry]\nType=Application\n");
    write(root_ / "data/applications/org.example.Gone.desktop", "[Desktop Entry]\nHidden=true\n");
    write(root_ / "system/applications/org.example.Handler;x.desktop", "[Desktop Entry]\nType=Application\n");

    const struct {
        std::u16string scheme, id;
        OSStatus expected;
    } cases[] = {
        {u"", u"org.example.Handler", paramErr},
        {u"1bfg", u"org.example.Handler", paramErr},
        {u"bfg:", u"org.example.Handler", paramErr},
        {u"b\u00E9g", u"org.example.Handler", paramErr},
        {u"bfg", u"../data/applications/org.example.Handler", paramErr},
        {u"bfg", u"org.example.Handler;x", paramErr},
        {u"bfg", u"org.example.Missing", kLSApplicationNotFoundErr},
        {u"bfg", u"org.example.Gone", kLSApplicationNotFoundErr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LSSetDefaultHandlerForURLScheme(c.scheme, c.id), c.expected)
            << std::string(c.scheme.begin(), c.scheme.end()) << " " << std::string(c.id.begin(), c.id.end());
    }
    EXPECT_EQ(read(list()), before);
}

TEST_F(LaunchServices, ALinkStaysALinkAndWhatItLeadsToIsWritten) {
    const std::string written = "[Default Applications]\nx-scheme-handler/bfg=org.example.Handler.desktop;\n";
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> links;  // link (under root_), what it holds
        const char* target;                                      // the file written, under root_
        std::string before;                                      // its text before; empty: none
    } cases[] = {
        {"absolute link", {{"config/mimeapps.list", "ROOT/shared.list"}}, "shared.list", "[Default Applications]\n"},
        {"relative links, one to the next",
         {{"config/mimeapps.list", "../links/first"}, {"links/first", "second"}, {"links/second", "../shared.list"}},
         "shared.list", "[Default Applications]\n"},
        {"dangling link", {{"config/mimeapps.list", "../shared/new.list"}}, "shared/new.list", ""},
    };
    for (const auto& c : cases) {
        for (const char* folder : {"config", "links", "shared", "shared.list"}) fs::remove_all(root_ / folder);
        fs::create_directories(root_ / "config");
        fs::create_directories(root_ / "links");
        fs::create_directories(root_ / "shared");
        for (const auto& [link, text] : c.links) {
            const std::string to = text.starts_with("ROOT/") ? (root_ / text.substr(5)).string() : text;
            fs::create_symlink(to, root_ / link);
        }
        if (!c.before.empty()) write(root_ / c.target, c.before);
        ASSERT_EQ(LSSetDefaultHandlerForURLScheme(u"bfg", u"org.example.Handler"), noErr) << c.what;
        for (const auto& link : c.links) EXPECT_TRUE(fs::is_symlink(root_ / link.first)) << c.what << ": " << link.first;
        EXPECT_EQ(read(root_ / c.target), written) << c.what;
    }
}

// The status of one change, or none when it has not answered within a
// second (the change is left running on a thread of its own).
std::optional<OSStatus> changeAnsweredWithinASecond() {
    auto answer = std::make_shared<std::promise<OSStatus>>();
    std::future<OSStatus> status = answer->get_future();
    std::thread([answer] { answer->set_value(LSSetDefaultHandlerForURLScheme(u"bfg", u"org.example.Handler")); })
        .detach();
    if (status.wait_for(std::chrono::seconds(1)) != std::future_status::ready) return std::nullopt;
    return status.get();
}

// What `path` is, as lstat sees it: its type, and the size of a file or what
// a link holds.
std::string describe(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "missing";
    if (S_ISLNK(st.st_mode)) return "link to " + fs::read_symlink(path).string();
    if (S_ISFIFO(st.st_mode)) return "fifo";
    if (S_ISDIR(st.st_mode)) return "folder";
    return "file of " + std::to_string(st.st_size) + " bytes";
}

TEST_F(LaunchServices, ListsThatAreNoSmallRegularFileAreRefusedAtOnceAndLeftAlone) {
    const struct {
        const char* what;
        std::function<void(const fs::path&)> make;
    } cases[] = {
        {"FIFO", [](const fs::path& list) { ASSERT_EQ(::mkfifo(list.c_str(), 0600), 0); }},
        {"link to /dev/zero", [](const fs::path& list) { fs::create_symlink("/dev/zero", list); }},
        {"folder", [](const fs::path& list) { fs::create_directory(list); }},
        {"larger than 4 MiB",
         [](const fs::path& list) { write(list, "[Default Applications]\n" + std::string(4 << 20, '#')); }},
        {"dangling link into a missing folder", [this](const fs::path& list) {
             fs::create_symlink(root_ / "missing/mimeapps.list", list);
         }},
    };
    for (const auto& c : cases) {
        fs::remove_all(root_ / "config");
        fs::create_directories(root_ / "config");
        c.make(list());
        const std::string before = describe(list());
        std::optional<OSStatus> status;
        const std::string log = bfgtest::captureStderr([&] { status = changeAnsweredWithinASecond(); });
        ASSERT_TRUE(status.has_value()) << c.what << ": no answer within a second";
        EXPECT_EQ(*status, kLSUnknownErr) << c.what;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << c.what << ":\n" << log;
        EXPECT_NE(log.find("LSSetDefaultHandlerForURLScheme: could not "), std::string::npos) << c.what << ": " << log;
        EXPECT_EQ(describe(list()), before) << c.what;
        EXPECT_FALSE(fs::exists(root_ / "missing")) << c.what;
    }
}

// Each of `threads` threads sets the handler of its own `count` schemes,
// named "<prefix>-<thread>-<n>"; the number of calls that failed.
int setSchemes(const std::string& prefix, int threads, int count) {
    std::vector<std::thread> running;
    std::vector<int> failed(static_cast<std::size_t>(threads));
    for (int t = 0; t < threads; ++t) {
        running.emplace_back([&, t] {
            for (int n = 0; n < count; ++n) {
                const std::string scheme = prefix + "-" + std::to_string(t) + "-" + std::to_string(n);
                if (LSSetDefaultHandlerForURLScheme(std::u16string(scheme.begin(), scheme.end()),
                                                    u"org.example.Handler") != noErr) {
                    ++failed[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (std::thread& thread : running) thread.join();
    int total = 0;
    for (const int f : failed) total += f;
    return total;
}

TEST_F(LaunchServices, ChangesFromManyThreadsOfTwoProcessesAllSurvive) {
    constexpr int kThreads = 4, kCount = 10;
    fs::create_directories(root_ / "config");
    write(list(), "# kept\n[Default Applications]\ntext/html=a.desktop\n");
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) ::_exit(std::min(setSchemes("second", kThreads, kCount), 100));
    EXPECT_EQ(setSchemes("first", kThreads, kCount), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "calls that failed in the other process";

    const std::string text = read(list());
    EXPECT_TRUE(text.starts_with("# kept\n[Default Applications]\ntext/html=a.desktop\n")) << text;
    int missing = 0;
    for (const char* prefix : {"first", "second"}) {
        for (int t = 0; t < kThreads; ++t) {
            for (int n = 0; n < kCount; ++n) {
                const std::string entry = "\nx-scheme-handler/" + std::string(prefix) + "-" + std::to_string(t) + "-" +
                                          std::to_string(n) + "=org.example.Handler.desktop;\n";
                if (text.find(entry) == std::string::npos) ++missing;
            }
        }
    }
    EXPECT_EQ(missing, 0) << text;
}

}  // namespace
}  // namespace platform
