#include "platform/foundation/Bundle.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/native/StderrCapture.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class Bundle : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/harmonode-bundle-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    void write(const fs::path& relative, std::string_view bytes) const {
        fs::create_directories((folder / relative).parent_path());
        std::ofstream(folder / relative, std::ios::binary) << bytes;
    }

    fs::path folder;
};

TEST_F(Bundle, OnlyAFolderIsABundleAndEachFolderHasOne) {
    write("file", "x");
    EXPECT_EQ(NSBundle::bundleWithPath((folder / "file").string()), nullptr);
    EXPECT_EQ(NSBundle::bundleWithPath((folder / "missing").string()), nullptr);
    EXPECT_EQ(NSBundle::bundleWithPath(""), nullptr);
    EXPECT_EQ(NSBundle::bundleWithPath(std::string(folder.string() + std::string(1, '\0') + "x")), nullptr);

    fs::create_directory_symlink(folder, folder.string() + "-link");
    const std::shared_ptr<NSBundle> bundle = NSBundle::bundleWithPath(folder.string());
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(NSBundle::bundleWithPath(folder.string() + "/"), bundle);
    EXPECT_EQ(NSBundle::bundleWithPath(folder.string() + "-link"), bundle);
    fs::remove(folder.string() + "-link");
}

TEST_F(Bundle, ResourcesAreFoundInTheUsualFoldersInOrderAndNeverOutside) {
    write("Contents/Resources/a.txt", "1");
    write("Resources/a.txt", "2");
    write("Resources/b.txt", "2");
    write("a.txt", "3");
    write("b.txt", "3");
    write("c.txt", "3");
    write("c", "3");
    write("Resources/x/up.txt", "4");
    const std::shared_ptr<NSBundle> bundle = NSBundle::bundleWithPath(folder.string());
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->pathForResource("a", "txt"), bundle->bundlePath() + "/Contents/Resources/a.txt");
    EXPECT_EQ(bundle->pathForResource("b", "txt"), bundle->bundlePath() + "/Resources/b.txt");
    EXPECT_EQ(bundle->pathForResource("c", "txt"), bundle->bundlePath() + "/c.txt");
    EXPECT_EQ(bundle->pathForResource("c", ""), bundle->bundlePath() + "/c");
    EXPECT_EQ(bundle->pathForResource("d", "txt"), std::nullopt);
    EXPECT_EQ(bundle->pathForResource("x/up", "txt"), std::nullopt);
    EXPECT_EQ(bundle->pathForResource("..", ""), std::nullopt);
    EXPECT_EQ(bundle->pathForResource("", "txt"), std::nullopt);
}

TEST_F(Bundle, LookupsFallBackToTheValueThenTheKey) {
    write("Localizable.strings", R"("k" = "default table";)");
    write("Custom.strings", R"("k" = "custom table";)");
    const std::shared_ptr<NSBundle> bundle = NSBundle::bundleWithPath(folder.string());
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->localizedStringForKey(u"k", u"v", std::nullopt), u"default table");
    EXPECT_EQ(bundle->localizedStringForKey(u"k", u"v", u"Custom"), u"custom table");
    EXPECT_EQ(bundle->localizedStringForKey(u"other", u"v", std::nullopt), u"v");
    EXPECT_EQ(bundle->localizedStringForKey(u"k", u"v", u"Missing"), u"v");
    EXPECT_EQ(bundle->localizedStringForKey(u"other", u"", std::nullopt), u"other");
    EXPECT_EQ(bundle->localizedStringForKey(u"other", std::nullopt, std::nullopt), u"other");
}

TEST_F(Bundle, AMalformedTableIsLoggedOnceAndReadsAsEmpty) {
    write("Broken.strings", "\"k\" = \"v\"\n\"l\" = \"w\";");
    write("Localizable.strings", R"("k" = "fine";)");
    const std::shared_ptr<NSBundle> bundle = NSBundle::bundleWithPath(folder.string());
    ASSERT_NE(bundle, nullptr);
    const std::string log = bfgtest::captureStderr([&] {
        for (int i = 0; i < 3; ++i) EXPECT_EQ(bundle->localizedStringForKey(u"k", u"_", u"Broken"), u"_");
        EXPECT_EQ(bundle->localizedStringForKey(u"k", u"_", std::nullopt), u"fine");
        // The same folder named again is the same bundle: still no second entry.
        EXPECT_EQ(NSBundle::bundleWithPath(folder.string())->localizedStringForKey(u"l", u"_", u"Broken"), u"_");
    });
    const std::string entry = "Could not read the strings table " + bundle->bundlePath() +
                              "/Broken.strings: line 2: expected ';' after the value";
    EXPECT_NE(log.find(entry), std::string::npos) << log;
    EXPECT_EQ(log.find("Could not read"), log.rfind("Could not read")) << log;
}

TEST_F(Bundle, ThreadsReadingTheSameNewTablesAtOnceAllSeeThem) {
    std::string table;
    for (int i = 0; i < 500; ++i) table += "\"k" + std::to_string(i) + "\" = \"v" + std::to_string(i) + "\";\n";
    write("Localizable.strings", table);
    write("Other.strings", table);
    const std::shared_ptr<NSBundle> bundle = NSBundle::bundleWithPath(folder.string());
    ASSERT_NE(bundle, nullptr);
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                const std::u16string key = u"k" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
                const std::optional<std::u16string_view> name =
                    t % 2 ? std::optional<std::u16string_view>(u"Other") : std::nullopt;
                if (bundle->localizedStringForKey(key, u"_", name) != u"v" + key.substr(1)) ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

}  // namespace
}  // namespace platform
