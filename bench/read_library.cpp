// Times ITLibrary::initWithFile alone: read_library FILE [RUNS] [outline]
// Prints the counts read, the best wall and CPU times, the page faults of
// the fastest run and the peak memory. With "outline", times instead what
// a change of the library makes of the file's bytes once they are read:
// LibraryOutline::of, the reader and the scan of the file's own bytes.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/File.h"
#include "platform/itlibrary/ITLibrary.h"
#include "platform/itlibrary/LibraryOutline.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s LIBRARY.xml [RUNS] [outline]\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const bool outline = argc > 3 && std::string(argv[3]) == "outline";
    std::string bytes;
    if (outline) {
        auto read = platform::readFile(path);
        if (!read) {
            std::fprintf(stderr, "%s\n", read.error().description.c_str());
            return 1;
        }
        bytes = std::move(read.value());
    }
    double best = 0, bestCPU = 0;
    long bestFaults = 0;
    std::size_t items = 0, playlists = 0, members = 0;
    for (int run = 0; run < runs; ++run) {
        const long faultsStart = minorFaults();
        const double cpuStart = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::optional<platform::LibraryOutline> outlined;
        std::unique_ptr<platform::ITLibrary> opened;
        if (outline) {
            auto made = platform::LibraryOutline::of(bytes, path);
            if (!made) {
                std::fprintf(stderr, "%s\n", made.error().description.c_str());
                return 1;
            }
            outlined.emplace(std::move(made.value()));
        } else {
            auto read = platform::ITLibrary::initWithFile(path);
            if (!read) {
                std::fprintf(stderr, "%s\n", read.error().description.c_str());
                return 1;
            }
            opened = std::move(read.value());
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = cpuSeconds() - cpuStart;
        const long faults = minorFaults() - faultsStart;
        members = 0;
        if (outlined) {
            items = outlined->tracks().size();
            playlists = outlined->playlists().size();
            for (const auto& playlist : outlined->playlists()) members += playlist.members.size();
        } else {
            items = opened->allMediaItems().size();
            playlists = opened->allPlaylists().size();
            for (const auto& playlist : opened->allPlaylists()) members += playlist.items().size();
        }
        if (run == 0 || seconds < best) {
            best = seconds;
            bestFaults = faults;
        }
        if (run == 0 || cpu < bestCPU) bestCPU = cpu;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("items %zu, playlists %zu, playlist members %zu\n", items, playlists, members);
    std::printf("read in %.3f s wall, %.3f s CPU (best of %d), %ld page faults, peak RSS %.1f MiB\n", best, bestCPU,
                runs, bestFaults, usage.ru_maxrss / 1024.0);
    return 0;
}
