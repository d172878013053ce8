// The library reader on any bytes: read whole, read in pieces and with its
// scanner in parts, it must give the same library or the same error.
// Sanitizers catch the rest.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/itlibrary/ITLibrary.h"
#include "platform/itlibrary/internal/ITLibraryReader.h"

namespace {

using platform::ITLibrary;
using platform::ITLibraryReader;

// Everything the reader made of the bytes, or its error.
std::string describe(const platform::Result<std::unique_ptr<ITLibrary>>& opened) {
    if (!opened) return "error: " + opened.error().description;
    const ITLibrary& library = *opened.value();
    std::ostringstream text;
    const auto date = [](const std::optional<platform::Date>& d) {
        return d ? std::to_string(d->timeIntervalSince1970) : std::string("-");
    };
    text << library.apiMajorVersion() << '.' << library.apiMinorVersion() << ' '
         << (library.musicFolderLocation() ? library.musicFolderLocation()->absoluteString() : "-") << '\n';
    for (const auto& item : library.allMediaItems()) {
        text << item.persistentID() << '|' << item.title() << '|'
             << (item.artist() ? item.artist()->name().value_or("-") : "-") << '|' << item.album().title().value_or("-")
             << '|' << item.composer() << '|' << item.genre() << '|' << item.comments().value_or("-") << '|'
             << item.kind().value_or("-") << '|' << (item.location() ? item.location()->absoluteString() : "-") << '|'
             << date(item.addedDate()) << '|' << date(item.modifiedDate()) << '|' << date(item.lastPlayedDate())
             << '|' << item.fileSize() << '|' << item.totalTime() << '|' << item.year() << '|' << item.playCount()
             << '|' << static_cast<int>(item.mediaKind()) << '|' << item.isCloud() << '\n';
    }
    for (const auto& list : library.allPlaylists()) {
        text << list.persistentID() << '|' << list.name() << '|' << static_cast<int>(list.kind()) << '|'
             << static_cast<int>(list.distinguishedKind()) << '|' << (list.parentID() ? *list.parentID() : 0) << ':';
        for (const platform::ITLibMediaItem* member : list.items()) text << ' ' << member->persistentID();
        text << '\n';
    }
    return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string whole = describe(ITLibraryReader::readBytes(bytes, "fuzz.xml", size + 1));
    // Small pieces of a size the input chooses, then pieces that cut the
    // cleaner's and the parser's slices at odd places.
    for (const std::size_t piece : {std::size_t{1} + size % 13, std::size_t{65537}}) {
        const std::string cut = describe(ITLibraryReader::readBytes(bytes, "fuzz.xml", piece));
        if (cut != whole) {
            std::fprintf(stderr, "read whole:\n%s\nread in pieces of %zu:\n%s\n", whole.c_str(), piece, cut.c_str());
            std::abort();
        }
    }
    const platform::ScannerParts parts{{size / 4, size / 2, 3 * size / 4}};
    const std::string inParts = describe(ITLibraryReader::readBytes(bytes, "fuzz.xml", 1 + size % 5,
                                                                    ITLibraryReader::Readers::Both, parts));
    if (inParts != whole) {
        std::fprintf(stderr, "read whole:\n%s\nread in parts:\n%s\n", whole.c_str(), inParts.c_str());
        std::abort();
    }
    return 0;
}
