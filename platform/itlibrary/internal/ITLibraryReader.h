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
// Stateless; each call reads on its own, on the calling thread (and one
// thread of its own reading the file ahead).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/itlibrary/ITLibrary.h"

namespace platform {

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

    // Reads `bytes` as the content of a library file named `name`, handing
    // them on `chunkSize` bytes at a time.
    static Result<std::unique_ptr<ITLibrary>> readBytes(std::string_view bytes, std::string_view name,
                                                        std::size_t chunkSize = kChunkSize,
                                                        Readers readers = Readers::Both);

    ITLibraryReader() = delete;
};

}  // namespace platform
