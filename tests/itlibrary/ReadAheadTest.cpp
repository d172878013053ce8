#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/itlibrary/internal/ReadAhead.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Everything `fd` gives through a read-ahead, and the error it ends with.
std::pair<std::string, int> readAll(int fd, std::size_t chunk) {
    ReadAhead reader(fd, chunk);
    std::string all;
    for (;;) {
        const ReadAhead::Chunk next = reader.next();
        if (next.error != 0 || next.bytes.empty()) {
            EXPECT_TRUE(reader.next().bytes.empty()) << "the end is given again";
            return {all, next.error};
        }
        EXPECT_LE(next.bytes.size(), chunk);
        all += next.bytes;
    }
}

TEST(ReadAhead, GivesTheWholeFileInOrderWhateverItsSize) {
    const fs::path path = fs::temp_directory_path() / ("read-ahead-" + std::to_string(::getpid()));
    constexpr std::size_t kChunk = 4096;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, kChunk - 1, kChunk, kChunk + 1, 7 * kChunk + 5}) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>('a' + (i * 7 + i / kChunk) % 26);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const auto [read, error] = readAll(fd, kChunk);
        ::close(fd);
        EXPECT_EQ(error, 0) << size;
        EXPECT_TRUE(read == content) << size;
    }
    fs::remove(path);

    // A failed read ends it with its error.
    const int folder = ::open(fs::temp_directory_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(readAll(folder, kChunk).second, EISDIR);
    ::close(folder);
}

}  // namespace
}  // namespace platform
