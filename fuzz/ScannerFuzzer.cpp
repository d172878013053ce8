// The reader's scanner against the XML parser on any bytes: wherever the
// scanner reads a library, the parser reads the very same library from the
// same bytes, and the scanner reads the bytes alike in pieces and in parts
// (or gives up alike). Seeded with real exports; the mutations damage them
// every way.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/itlibrary/internal/ITLibraryReader.h"
#include "tests/itlibrary/LibraryText.h"

namespace {

using platform::ITLibraryReader;
using Readers = ITLibraryReader::Readers;

void differ(const char* what, const std::string& a, const std::string& b) {
    std::fprintf(stderr, "%s\n--- first:\n%s\n--- second:\n%s\n", what, a.c_str(), b.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto read = [&](std::size_t piece, Readers readers, const platform::ScannerParts& parts = {}) {
        return platform::testing::libraryText(ITLibraryReader::readBytes(bytes, "fuzz.xml", piece, readers, parts));
    };
    const std::string gaveUp = "error: " + std::string(ITLibraryReader::kScannerGaveUp);
    const std::string scanned = read(size + 1, Readers::ScannerOnly);
    const std::string inPieces = read(1 + size % 13, Readers::ScannerOnly);
    if (inPieces != scanned) differ("the scanner read the bytes whole and in pieces differently", scanned, inPieces);
    // Parts from the entries found past a third and two thirds of the
    // bytes, and from a place the bytes choose, whatever stands there.
    const std::size_t chosen = size == 0 ? 0 : (data[0] * 257u + data[size - 1]) % size;
    for (const platform::ScannerParts& parts :
         {platform::ScannerParts{{size / 3, 2 * size / 3}}, platform::ScannerParts{{chosen}, true}}) {
        const std::string inParts = read(1 + size % 7, Readers::ScannerOnly, parts);
        if (inParts != scanned) differ("the scanner read the bytes whole and in parts differently", scanned, inParts);
    }
    if (scanned == gaveUp) return 0;
    const std::string parsed = read(size + 1, Readers::ParserOnly);
    // Both refuse what is plainly no library (empty, binary) before reading.
    if (parsed != scanned) differ("the scanner read what the parser read differently", scanned, parsed);
    return 0;
}
