// Times the music application's changes of a library in one process, as a
// host's commands make them: change_library LIBRARY.xml AUDIO [ADDS]
//
// Adds AUDIO ADDS times (default 1), one add at a time, then lists the
// tracks and deletes the one in the middle through the platform's calls
// (tracks, a persistent-ID predicate, delete). Changes LIBRARY in place:
// give it a copy. Prints one line per step ("add 1: 0.712 s") and the
// peak resident memory; exits with 1 when a step fails.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/foundation/Predicate.h"
#include "platform/foundation/URL.h"
#include "platform/scripting/SBApplication.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int fail(const char* step, const std::optional<platform::Error>& error) {
    std::fprintf(stderr, "%s failed: %s\n", step, error ? error->description.c_str() : "no reason given");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LIBRARY.xml AUDIO [ADDS]\n", argv[0]);
        return 2;
    }
    ::setenv("HARMONODE_MUSIC_LIBRARY", argv[1], 1);
    const int adds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    const auto music = platform::SBApplication::applicationWithBundleIdentifier("com.apple.Music");
    const platform::URL audio = platform::URL::fileURLWithPath(argv[2]);

    for (int i = 1; i <= adds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (music->add({audio}, nullptr) == nullptr) return fail("add", music->lastError());
        std::printf("add %d: %.3f s\n", i, secondsSince(start));
    }

    auto start = std::chrono::steady_clock::now();
    const platform::SBElementArray tracks = music->tracks();
    if (music->lastError() || tracks.count() == 0) return fail("tracks", music->lastError());
    std::printf("tracks: %.3f s\n", secondsSince(start));

    start = std::chrono::steady_clock::now();
    const auto id = tracks.objectAtIndex(tracks.count() / 2)->valueForKey("persistentID");
    const auto matches =
        tracks.filteredArrayUsingPredicate(platform::NSPredicate::predicateWithFormat("persistentID == %@", *id).value());
    if (!matches || matches.value().size() != 1) return fail("finding the track to delete", std::nullopt);
    matches.value().front()->deleteObject();
    if (matches.value().front()->lastError()) return fail("delete", matches.value().front()->lastError());
    std::printf("delete: %.3f s\n", secondsSince(start));

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak: %.1f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024);
    return 0;
}
