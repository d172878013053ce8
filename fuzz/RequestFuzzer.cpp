// Request lines from a hostile host: the input is the bridge's standard
// input, read by the command loop's line reader, dispatched, and answered
// on standard output. Every block must end in a reply line of JSON text
// (an object) and the marker. The library commands read a copy of the
// sample library, so nothing outside a temporary folder is ever changed.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <boost/json/parse.hpp>

#include "bridge/Applications.h"
#include "bridge/CLI.h"
#include "bridge/LibraryCommands.h"

namespace {

int inputFd = -1, outputFd = -1;
std::filesystem::path libraryCopy;  // add_track and test change it; each input starts from the sample

void fail(const char* what, std::string_view line) {
    std::fprintf(stderr, "%s: %.*s\n", what, static_cast<int>(std::min<std::size_t>(line.size(), 500)), line.data());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    namespace fs = std::filesystem;
    // "write" replaces the library file at its fixed place: never where one may be.
    if (fs::exists(fs::path(harmonode::kDefaultLibraryFile).parent_path())) {
        std::fprintf(stderr, "%s exists here; not fuzzing requests on this machine\n", harmonode::kDefaultLibraryFile);
        std::exit(1);
    }
    std::string folder = (fs::temp_directory_path() / "harmonode-fuzz-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) std::abort();
    libraryCopy = fs::path(folder) / "Library.xml";
    ::setenv("HARMONODE_MUSIC_LIBRARY", libraryCopy.c_str(), 1);
    harmonode::itunes = platform::SBApplication::applicationWithBundleIdentifier("com.apple.Music");
    ::setenv("HOME", folder.c_str(), 1);
    inputFd = ::memfd_create("stdin", MFD_CLOEXEC);
    outputFd = ::memfd_create("stdout", MFD_CLOEXEC);
    if (inputFd < 0 || outputFd < 0) std::abort();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::filesystem::copy_file(HARMONODE_SAMPLE_LIBRARY, libraryCopy, std::filesystem::copy_options::overwrite_existing);
    if (::ftruncate(inputFd, 0) != 0 || ::pwrite(inputFd, data, size, 0) != static_cast<ssize_t>(size) ||
        ::lseek(inputFd, 0, SEEK_SET) != 0 || ::dup2(inputFd, STDIN_FILENO) < 0) {
        std::abort();
    }
    if (::ftruncate(outputFd, 0) != 0 || ::lseek(outputFd, 0, SEEK_SET) != 0 || ::dup2(outputFd, STDOUT_FILENO) < 0) {
        std::abort();
    }
    harmonode::CLI cli;
    cli.run();
    std::fflush(stdout);

    const off_t written = ::lseek(outputFd, 0, SEEK_CUR);
    std::string output(static_cast<std::size_t>(written), '\0');
    if (::pread(outputFd, output.data(), output.size(), 0) != written) std::abort();
    if (!output.ends_with("\n###\n")) fail("the output does not end with a marker", output);
    std::string_view rest = output, previous;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        if (line == "###") {
            boost::system::error_code ec;
            const auto reply = boost::json::parse(previous, ec);
            if (ec || !reply.is_object()) fail("a reply line that is not a JSON object", previous);
        }
        previous = line;
    }
    return 0;
}
