#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/freedesktop/BaseDirectories.h"
#include "platform/freedesktop/DesktopEntry.h"

namespace platform::freedesktop {
namespace {

namespace fs = std::filesystem;

using Strings = std::vector<std::string>;

// The variables the conventions read, set per case and put back after.
class Freedesktop : public ::testing::Test {
protected:
    static constexpr const char* kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME"};

    void SetUp() override {
        for (const char* name : kVariables) {
            if (const char* value = std::getenv(name)) saved_[name] = value;
        }
        root_ = fs::temp_directory_path() / ("harmonode-freedesktop-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override {
        for (const char* name : kVariables) set(name, saved_.count(name) ? std::optional(saved_[name]) : std::nullopt);
        fs::remove_all(root_);
    }
    static void set(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    // Writes `content` to `path` under the test's folder, making its folders.
    std::string write(const std::string& path, const std::string& content) const {
        const fs::path file = root_ / path;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << content;
        return file.string();
    }
    std::string at(const std::string& path) const { return (root_ / path).string(); }

private:
    std::map<std::string, std::string> saved_;
    fs::path root_;
};

// The home folder of the user database, which stands in for a missing or
// relative HOME.
std::optional<std::string> databaseHome() {
    const passwd* entry = ::getpwuid(::getuid());
    if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') return std::nullopt;
    return std::string(entry->pw_dir);
}

std::optional<std::string> under(const std::optional<std::string>& folder, const char* rest) {
    if (!folder) return std::nullopt;
    return *folder + rest;
}

TEST_F(Freedesktop, BaseDirectoriesFollowTheVariablesAndFallBackToTheDefaults) {
    const std::optional<std::string> unset;
    struct Case {
        const char* what;
        std::optional<std::string> home, dataHome, dataDirs, configHome;
        std::optional<std::string> wantDataHome, wantConfigHome;
        Strings wantDataDirs;
    } cases[] = {
        {"nothing but HOME", "/h", unset, unset, unset, "/h/.local/share", "/h/.config", {"/usr/local/share", "/usr/share"}},
        {"empty variables", "/h", "", "", "", "/h/.local/share", "/h/.config", {"/usr/local/share", "/usr/share"}},
        {"every variable", "/h", "/data", "/a:/b", "/config", "/data", "/config", {"/a", "/b"}},
        {"relative paths are ignored", "/h", "data", "a:/b::/c/:", "config", "/h/.local/share", "/h/.config",
         {"/b", "/c/"}},
        {"a relative HOME gives the user database's", "home", unset, "/only", unset,
         under(databaseHome(), "/.local/share"), under(databaseHome(), "/.config"), {"/only"}},
        {"no HOME gives the user database's", unset, unset, unset, "/config", under(databaseHome(), "/.local/share"),
         "/config", {"/usr/local/share", "/usr/share"}},
    };
    for (const Case& c : cases) {
        set("HOME", c.home);
        set("XDG_DATA_HOME", c.dataHome);
        set("XDG_DATA_DIRS", c.dataDirs);
        set("XDG_CONFIG_HOME", c.configHome);
        EXPECT_EQ(dataHome(), c.wantDataHome) << c.what;
        EXPECT_EQ(configHome(), c.wantConfigHome) << c.what;
        EXPECT_EQ(dataDirs(), c.wantDataDirs) << c.what;
        Strings applications;
        if (c.wantDataHome) applications.push_back(*c.wantDataHome + "/applications");
        for (const std::string& folder : c.wantDataDirs) applications.push_back(folder + "/applications");
        EXPECT_EQ(applicationFolders(), applications) << c.what << ": the data home first, then the data folders in order";
    }
}

TEST_F(Freedesktop, TheEntryOfTheMostImportantFolderAppliesAndOnlyWellFormedApplicationsAreListed) {
    set("XDG_DATA_HOME", at("home"));
    set("XDG_DATA_DIRS", at("first") + ":" + at("second"));
    const auto entry = [](const std::string& name, const std::string& more = "") {
        return "# made by the test\n[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name + " %u\n" + more;
    };
    write("home/applications/a.desktop", entry("A home"));
    write("first/applications/a.desktop", entry("A first"));
    write("first/applications/b.desktop", entry("B first"));
    write("second/applications/b.desktop", entry("B second"));
    write("home/applications/hidden.desktop", entry("Hidden", "Hidden=true\n"));
    write("second/applications/hidden.desktop", entry("Shown below"));
    write("first/applications/nogroup.desktop", "Type=Application\nName=No group\n");
    write("second/applications/nogroup.desktop", entry("Below a malformed one"));
    write("second/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.com\n");
    write("second/applications/spaced.desktop",
          "[Desktop Entry]\n  Type = Application  \r\nName=Two\\swords\\tand\\\\ a tab\nno equals sign\n"
          "Exec=\"/opt/My App/run\" --flag\n[Desktop Action new]\nName=Not the name\nExec=other\n");
    write("home/applications/sub/nested.desktop", entry("Nested"));
    fs::create_directories(at("first/applications/folder.desktop"));

    struct Case {
        const char* id;
        std::optional<std::string> name, path, exec;
    } cases[] = {
        {"a", "A home", at("home/applications/a.desktop"), "A home %u"},
        {"b", "B first", at("first/applications/b.desktop"), "B first %u"},
        {"link", "Link", at("second/applications/link.desktop"), ""},
        {"spaced", "Two words\tand\\ a tab", at("second/applications/spaced.desktop"), "\"/opt/My App/run\" --flag"},
        // Hidden, malformed or unreadable where it applies: none, not the one below.
        {"hidden", {}, {}, {}},
        {"nogroup", {}, {}, {}},
        {"folder", {}, {}, {}},
        {"missing", {}, {}, {}},
        {"nested", {}, {}, {}},
        {"sub/nested", {}, {}, {}},
        {"../applications/a", {}, {}, {}},
        {"", {}, {}, {}},
    };
    for (const Case& c : cases) {
        const auto found = findDesktopEntry(c.id);
        ASSERT_EQ(found.has_value(), c.name.has_value()) << c.id;
        if (!found) continue;
        EXPECT_EQ(found->id, c.id);
        EXPECT_EQ(found->name, *c.name) << c.id;
        EXPECT_EQ(found->path, *c.path) << c.id;
        EXPECT_EQ(found->exec, *c.exec) << c.id;
    }

    Strings listed;
    for (const DesktopEntry& application : applicationEntries()) listed.push_back(application.id + " " + application.path);
    EXPECT_EQ(listed, (Strings{"a " + at("home/applications/a.desktop"), "b " + at("first/applications/b.desktop"),
                               "spaced " + at("second/applications/spaced.desktop")}));
}

TEST(ExecProgram, IsTheFirstWordWithTheQuotingUndone) {
    const struct {
        const char* exec;
        const char* program;
    } cases[] = {
        {"firefox %u", "firefox"},
        {"  /usr/bin/app\t--x  ", "/usr/bin/app"},
        {"\"/opt/My App/run\" --flag", "/opt/My App/run"},
        {R"("a\"b\`c\$d\\e\f")", R"(a"b`c$d\e\f)"},
        {"\"unterminated quote", "unterminated quote"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(execProgram(c.exec), c.program) << c.exec;
}

}  // namespace
}  // namespace platform::freedesktop
