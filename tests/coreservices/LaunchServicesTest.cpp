#include "platform/coreservices/LaunchServices.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

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

TEST_F(LaunchServices, ALinkedListStaysALink) {
    fs::create_directories(root_ / "config");
    write(root_ / "shared.list", "[Default Applications]\n");
    fs::create_symlink(root_ / "shared.list", list());
    ASSERT_EQ(LSSetDefaultHandlerForURLScheme(u"bfg", u"org.example.Handler"), noErr);
    EXPECT_TRUE(fs::is_symlink(list()));
    EXPECT_EQ(read(root_ / "shared.list"), "[Default Applications]\nx-scheme-handler/bfg=org.example.Handler.desktop;\n");
}

}  // namespace
}  // namespace platform
