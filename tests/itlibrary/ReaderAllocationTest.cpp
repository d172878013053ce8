// The reader when memory runs out: every allocation of a read is made to
// fail in turn, and each time the read must end in the out-of-memory error
// or, where the failure was worked around (a sort without its scratch
// buffer), in the whole library: no exception escapes (through the
// parser's C frames or out of the Result-returning calls), and no library
// missing what failed to allocate is handed back.
//
// This binary's operator new (and delete, to match) is replaced for that;
// it fails only while a countdown is armed on the calling thread.

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>

#include "platform/itlibrary/ITLibrary.h"
#include "platform/itlibrary/internal/ITLibraryReader.h"
#include "tests/itlibrary/LibraryXml.h"

namespace {
thread_local long allocationsBeforeFailure = -1;  // <0: none fails
}  // namespace

void* operator new(std::size_t size) {
    if (allocationsBeforeFailure >= 0 && allocationsBeforeFailure-- == 0) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace platform {
namespace {

using namespace platform::testing;

// A library that makes the reader allocate on each of its paths: strings
// past the short-string size, dates, URLs, playlists and their members, a
// reference kept as written, and text split across chunks.
std::string library() {
    return plist(integer("Major Version", 1) + str("Music Folder", "file:///Users/someone/Music/Media%20Folder/") +
                 tracks(track(1, str("Name", "A title longer than the short-string buffer") +
                                     str("Artist", "An artist with a long name") + str("Album", "Album &amp; more") +
                                     str("Location", "file:///Users/someone/Music/Media%20Folder/a.m4a") +
                                     date("Date Added", "2014-04-24T09:28:38Z") + yes("Podcast")) +
                        track(2, str("Name", "Caf\xC3\xA9 &nbsp; kept as written, and long enough") +
                                     str("Kind", "MPEG audio file"))) +
                 playlists(playlist(str("Name", "Library") + yes("Master") + members({1, 2})) +
                           playlist(str("Name", "A playlist with a long name") + members({2, 2, 1}))));
}

// What a reader's result holds, as text: the error, or every value the
// library was read with.
std::string summary(const Result<std::unique_ptr<ITLibrary>>& result) {
    if (!result) return "error: " + result.error().description;
    const ITLibrary& library = *result.value();
    std::string text = std::to_string(library.apiMajorVersion()) + " " +
                       (library.musicFolderLocation() ? library.musicFolderLocation()->absoluteString() : "-") + "\n";
    for (const ITLibMediaItem& item : library.allMediaItems()) {
        text += std::string(item.title()) + "|" +
                std::string(item.artist() ? item.artist()->name().value_or("-") : "-") + "|" +
                std::string(item.album().title().value_or("-")) + "|" + std::string(item.kind().value_or("-")) + "|" +
                (item.location() ? item.location()->absoluteString() : "-") + "|" +
                std::to_string(item.addedDate() ? item.addedDate()->timeIntervalSince1970 : -1) + "|" +
                std::to_string(static_cast<int>(item.mediaKind())) + "\n";
    }
    for (const ITLibPlaylist& list : library.allPlaylists()) {
        text += std::string(list.name()) + (list.isMaster() ? " (master):" : ":");
        for (const ITLibMediaItem* item : list.items()) {
            text += " " + std::to_string(library.allMediaItems().indexOf(item).value_or(SIZE_MAX));
        }
        text += "\n";
    }
    return text;
}

// Runs `read` with the n-th allocation failing, for every n up to the
// number a successful run makes.
template <typename Read>
void failEachAllocation(Read read, const std::string& expected) {
    allocationsBeforeFailure = LONG_MAX;
    auto first = read();
    const long allocations = LONG_MAX - allocationsBeforeFailure;
    allocationsBeforeFailure = -1;
    const std::string whole = summary(first);
    ASSERT_TRUE(first) << whole;
    ASSERT_GT(allocations, 20);
    for (long n = 0; n < allocations; ++n) {
        allocationsBeforeFailure = n;
        std::optional<Result<std::unique_ptr<ITLibrary>>> result;
        try {
            result.emplace(read());
        } catch (...) {
        }
        allocationsBeforeFailure = -1;
        if (!result) {
            ADD_FAILURE() << "allocation " << n << " of " << allocations << ": an exception escaped";
            continue;
        }
        if (const std::string got = summary(*result); got != whole) {
            EXPECT_EQ(got, "error: " + expected) << "allocation " << n << " of " << allocations;
        }
    }
}

TEST(ReaderAllocation, EveryFailedAllocationOfAReadIsReported) {
    const std::string xml = library();
    for (const std::size_t chunk : {std::size_t{7}, ITLibraryReader::kChunkSize}) {
        SCOPED_TRACE(chunk);
        failEachAllocation(
            [&] {
                return ITLibraryReader::readBytes(xml, "Library.xml", chunk);
            },
            "There is not enough memory to read the music library file \"Library.xml\"");
    }
}

TEST(ReaderAllocation, EveryFailedAllocationOfOpeningAFileIsReported) {
    namespace fs = std::filesystem;
    const fs::path path = fs::temp_directory_path() / ("reader-allocation-" + std::to_string(::getpid()) + ".xml");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << library();
    const std::string name = path.string();
    failEachAllocation(
        [&] {
            return ITLibrary::initWithFile(name);
        },
        "There is not enough memory to read the music library file \"" + name + "\"");
    fs::remove(path);
}

}  // namespace
}  // namespace platform
