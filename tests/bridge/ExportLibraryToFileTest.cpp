#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <boost/json/parse.hpp>

#include "bridge/LibraryCommands.h"

namespace harmonode {
namespace {

namespace fs = std::filesystem;

class ExportLibraryToFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("harmonode-export-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        ::setenv("HARMONODE_MUSIC_LIBRARY", HARMONODE_SOURCE_DIR "/samples/Library.xml", 1);
    }
    void TearDown() override {
        ::unsetenv("HARMONODE_MUSIC_LIBRARY");
        fs::remove_all(folder);
    }
    fs::path folder;
};

TEST_F(ExportLibraryToFile, WritesThePrettyDocumentItAlsoPrinted) {
    const fs::path file = folder / "harmonode_itunes.json";
    std::ofstream(file) << "{\"old\":true}";
    ::testing::internal::CaptureStdout();
    const auto status = exportLibraryToFile(platform::URL::fileURLWithPath(file.string()));
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(status.ok()) << status.error().description;

    std::ifstream in(file);
    const std::string written(std::istreambuf_iterator<char>(in), {});
    EXPECT_GT(std::count(written.begin(), written.end(), '\n'), 100) << "pretty-printed";
    auto fromFile = boost::json::parse(written).as_object();
    auto fromOutput = boost::json::parse(printed).as_object();
    EXPECT_FALSE(fromFile.contains("old"));
    EXPECT_EQ(fromFile.at("tracks"), fromOutput.at("tracks"));
    EXPECT_EQ(fromFile.at("playlists").as_array().size(), fromOutput.at("playlists").as_array().size());
}

TEST_F(ExportLibraryToFile, AFolderThatIsNotThereIsAnErrorAndCreatesNothing) {
    ::testing::internal::CaptureStdout();
    const auto status = exportLibraryToFile(platform::URL::fileURLWithPath((folder / "no/such/file.json").string()));
    ::testing::internal::GetCapturedStdout();
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.error().description.find("no/such/file.json"), std::string::npos) << status.error().description;
    EXPECT_FALSE(fs::exists(folder / "no"));
}

TEST_F(ExportLibraryToFile, ALibraryThatCannotBeOpenedWritesNothingAnywhere) {
    ::setenv("HARMONODE_MUSIC_LIBRARY", (folder / "absent.xml").c_str(), 1);
    const fs::path file = folder / "out.json";
    ::testing::internal::CaptureStdout();
    const auto status = exportLibraryToFile(platform::URL::fileURLWithPath(file.string()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    ASSERT_FALSE(status.ok());
    EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace harmonode
