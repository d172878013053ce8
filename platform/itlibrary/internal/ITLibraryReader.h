#pragma once
// The reader behind ITLibrary: opens a library file and runs its bytes
// through the reading pipeline in one pass, keeping of the XML only the
// values it delivers. Private to platform/itlibrary (and its tests).
//
// A file's bytes are turned into UTF-8 as its start says (TextEncoding.h),
// repaired (XmlByteCleaner.h), and read by an event source whose events
// LibraryBuilder.h turns into the library: first by PlistScanner.h, made
// for the export's XML; where it gives up, the file is read again from its
// start by PlistParser.h (libxml2), which decides every file the scanner
// does not read and words every error. Both hand the same events to the
// same builder, so a file gives one library whichever reads it.
//
// A large file is scanned in parts at once, each but the first on a thread
// of its own, from places between two entries of "Tracks" (PlistScanner.h,
// LibraryBuilder.h); where a part does not end where the next began, it
// reads on and the parts after it are dropped, so the parts always give
// what one scan gives. Any error or giving up is the whole file's: no
// library comes of a file until all of it has been read.
//
// Stateless; each call reads on its own, on the calling thread and threads
// of its own: one for each later part, or, where the file is read in one
// part, one reading it ahead.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/itlibrary/ITLibrary.h"

namespace platform {

// Where the scanner's later parts begin: at the first entry of "Tracks" (as
// exports write them) from each offset on, or, where `exact`, at each offset
// itself (for tests: a part that begins anywhere else is found out and
// dropped). None: one part.
struct ScannerParts {
    std::vector<std::size_t> from;
    bool exact = false;
    // Where given, set to the number of later parts the scan took.
    std::size_t* taken = nullptr;
};

class ITLibraryReader {
public:
    // Bytes read from a file and handed on at a time.
    static constexpr std::size_t kChunkSize = std::size_t{1} << 20;

    // Reads the library file at `path` into `library` (whose items and
    // playlists must be empty) and records the file's identity. On failure
    // `library` holds partial data and the error says what went wrong.
    static Status readFile(const std::string& path, ITLibrary& library);

    // Who reads: the scanner and, where it gives up, the parser; for tests
    // that compare them, one of them alone (the scanner's giving up is then
    // the error kScannerGaveUp).
    enum class Readers : std::uint8_t { Both, ScannerOnly, ParserOnly };
    static constexpr std::string_view kScannerGaveUp = "the scanner gave up";

    using Parts = ScannerParts;
    // The parts readFile reads a file of `size` bytes in on this machine:
    // one for each hardware thread, up to kMostParts, of kLeastPart bytes
    // at least.
    static constexpr std::uint64_t kMostParts = 8, kLeastPart = std::uint64_t{1} << 20;
    static Parts partsFor(std::uint64_t size);

    // Reads `bytes` as the content of a library file named `name`, handing
    // them on `chunkSize` bytes at a time, the scanner in `parts`.
    static Result<std::unique_ptr<ITLibrary>> readBytes(std::string_view bytes, std::string_view name,
                                                        std::size_t chunkSize = kChunkSize,
                                                        Readers readers = Readers::Both, const Parts& parts = {});

    ITLibraryReader() = delete;
};

}  // namespace platform
