#include "export/DocumentArena.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "export/ITunesToJSON.h"
#include "platform/itlibrary/ITLibrary.h"

namespace harmonode {
namespace {

// What the process has mapped: the number of mappings and their total
// size, from /proc/self.
struct Footprint {
    std::size_t mappings = 0;
    std::size_t virtualKiB = 0;
};

Footprint footprint() {
    Footprint now;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) ++now.mappings;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmSize:")) now.virtualKiB = std::stoul(line.substr(7));
    }
    return now;
}

TEST(DocumentArena, MappingsAndMemoryComeBackAfterManyExports) {
    auto library = platform::ITLibrary::initWithFile(HARMONODE_SAMPLE_LIBRARY);
    ASSERT_TRUE(library) << library.error().description;
    const auto exportOnce = [&] { static_cast<void>(ITunesToJSON().readLibrary(*library.value())); };
    // Documents of many blocks: the arena doubles its block size each time.
    const auto largeDocument = [] {
        auto arena = makeDocumentArena();
        for (int i = 0; i < 40; ++i) arena->allocate(std::size_t{1} << 20);
    };
    exportOnce();
    largeDocument();

    const Footprint before = footprint();
    for (int i = 0; i < 300; ++i) exportOnce();
    for (int i = 0; i < 30; ++i) largeDocument();
    const Footprint after = footprint();
    // Every block kept would cost at least 2 MiB.
    EXPECT_LE(after.mappings, before.mappings + 16);
    EXPECT_LE(after.virtualKiB, before.virtualKiB + 64 * 1024) << "from " << before.virtualKiB << " KiB";
}

}  // namespace
}  // namespace harmonode
