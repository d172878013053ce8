// The byte cleaner on any bytes: its output is valid UTF-8, and cleaning
// in pieces gives what cleaning the whole gives.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/UTF8.h"
#include "platform/itlibrary/internal/XmlByteCleaner.h"

using platform::XmlByteCleaner;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string whole = XmlByteCleaner::clean(input);
    if (!platform::isValidUTF8(whole)) {
        std::fprintf(stderr, "the cleaner's output is not valid UTF-8\n");
        std::abort();
    }
    // Pieces whose sizes the input's bytes choose, from 1 to 64 bytes.
    XmlByteCleaner cleaner;
    std::string pieces, buffer;
    std::size_t at = 0;
    for (std::size_t k = 0; at < size; ++k) {
        const std::size_t piece = std::min<std::size_t>(1 + data[k % size] % 64, size - at);
        buffer.resize(XmlByteCleaner::maxOutput(piece));
        pieces.append(buffer.data(), cleaner.feed(input.substr(at, piece), buffer.data()));
        at += piece;
    }
    buffer.resize(XmlByteCleaner::maxOutput(0));
    pieces.append(buffer.data(), cleaner.finish(buffer.data()));
    if (pieces != whole) {
        std::fprintf(stderr, "cleaned in pieces, the text differs from the whole's\n");
        std::abort();
    }
    return 0;
}
