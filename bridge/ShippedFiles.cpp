#include "bridge/ShippedFiles.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/foundation/Executable.h"

namespace harmonode {
namespace {

constexpr const char* kSampleAudio = "sample.mp3";

}  // namespace

std::string sampleAudioFile(const std::string& programFolder) {
    namespace fs = std::filesystem;
    // HARMONODE_DATA_FOLDER: the data folder relative to the bridge's
    // install folder ("../../share/harmonode").
    const fs::path installed = (fs::path(programFolder) / HARMONODE_DATA_FOLDER / kSampleAudio).lexically_normal();
    const fs::path beside = fs::path(programFolder) / kSampleAudio;
    std::error_code error;
    if (!fs::is_regular_file(installed, error) && fs::is_regular_file(beside, error)) return beside.string();
    return installed.string();
}

std::optional<std::string> sampleAudioFile() {
    const platform::Result<std::string> folder = platform::executableFolder();
    if (!folder) {
        std::fprintf(stderr, "HarmonodeAppleMusic: no sample audio file: %s\n", folder.error().description.c_str());
        return std::nullopt;
    }
    return sampleAudioFile(folder.value());
}

}  // namespace harmonode
