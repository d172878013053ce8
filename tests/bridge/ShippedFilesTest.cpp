// Where the bridge finds the files it ships with: from the folder of its own
// executable, in the installed layout or beside it as in the build tree,
// wherever that folder is and however the bridge was started.

#include "bridge/ShippedFiles.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <boost/json/parse.hpp>

#include "tests/bridge/BridgeProcess.h"

namespace harmonode::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = HARMONODE_SOURCE_DIR;

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ShippedFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "shipped-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = fs::canonical(pattern);
        fs::copy_file(kSource / "samples/Library.xml", dir_ / "Library.xml");
        options_.environment["HARMONODE_MUSIC_LIBRARY"] = (dir_ / "Library.xml").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A copy of the bridge and its tag reader at `folder`, as an
    // installation or an unpacked package has them.
    fs::path copyBridgeTo(const fs::path& folder) {
        fs::create_directories(folder);
        fs::copy_file(bridgePath(), folder / "HarmonodeAppleMusic");
        fs::copy_file(fs::path(bridgePath()).parent_path() / "harmonode-tags", folder / "harmonode-tags");
        return folder / "HarmonodeAppleMusic";
    }

    fs::path dir_;
    BridgeOptions options_;
};

TEST_F(ShippedFiles, TheSampleIsTheInstalledOneElseTheOneBesideTheBridge) {
    const fs::path programs = dir_ / "usr/libexec/harmonode";
    const fs::path installed = dir_ / "usr/share/harmonode/sample.mp3";
    const fs::path beside = programs / "sample.mp3";
    struct Case {
        bool installed, beside, besideIsFolder;
        fs::path expected;
    };
    // With neither, the installed path, which the failed import then names.
    for (const Case& c : {Case{true, true, false, installed}, Case{true, false, false, installed},
                          Case{false, true, false, beside}, Case{false, false, false, installed},
                          Case{false, false, true, installed}}) {
        fs::remove_all(dir_ / "usr");
        fs::create_directories(programs);
        fs::create_directories(installed.parent_path());
        if (c.installed) std::ofstream(installed) << "mp3";
        if (c.beside) std::ofstream(beside) << "mp3";
        if (c.besideIsFolder) fs::create_directory(beside);
        EXPECT_EQ(sampleAudioFile(programs.string()), c.expected.string())
            << c.installed << c.beside << c.besideIsFolder;
    }
}

TEST_F(ShippedFiles, TestImportsTheSampleOfTheInstallationStartedThroughALink) {
    const fs::path bridge = copyBridgeTo(dir_ / "prefix/libexec/harmonode");
    const fs::path sample = dir_ / "prefix/share/harmonode/sample.mp3";
    fs::create_directories(sample.parent_path());
    fs::copy_file(kSource / "samples/sample.mp3", sample);
    // A link elsewhere leads to the files of the installation it names.
    fs::create_directories(dir_ / "bin");
    fs::create_symlink(bridge, dir_ / "bin/harmonode-bridge");
    options_.program = (dir_ / "bin/harmonode-bridge").string();

    const BridgeRun run = runBridge("test\nlibrary\nquit\n", options_);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto blocks = run.blocks();
    ASSERT_EQ(blocks.size(), 3u) << run.out;
    EXPECT_EQ(blocks[0], (std::vector<std::string>{"add " + sample.string(), R"({"pid":"testing..."})"}));
    const boost::json::array tracks = boost::json::parse(blocks[1].back()).at("tracks").as_array();
    ASSERT_FALSE(tracks.empty());
    EXPECT_EQ(tracks.back().at("FilePath"), sample.c_str());
    EXPECT_EQ(tracks.back().at("Title"), "Ton d’essai à 440 Hz");
}

TEST_F(ShippedFiles, WithoutItsSampleTestNamesTheMissingFileAndChangesNothing) {
    options_.program = copyBridgeTo(dir_ / "a/b").string();
    const std::string before = contentOf(dir_ / "Library.xml");

    const BridgeRun run = runBridge("test\nquit\n", options_);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const std::string missing = (dir_ / "share/harmonode/sample.mp3").string();
    EXPECT_EQ(run.blocks().at(0), (std::vector<std::string>{"add " + missing, R"({"pid":"testing..."})"}));
    EXPECT_NE(run.err.find(missing), std::string::npos) << run.err;
    EXPECT_EQ(contentOf(dir_ / "Library.xml"), before);
}

}  // namespace
}  // namespace harmonode::testing
