#include "bridge/LibraryCommands.h"

#include "bridge/Output.h"
#include "export/Utils.h"
#include "platform/itlibrary/ITLibrary.h"

namespace harmonode {
namespace {

// The library, opened and reloaded, as a document whose facts are taken now.
platform::Result<LibraryDocument> openDocument() {
    auto library = platform::ITLibrary::initWithAPIVersion("1.0");
    if (!library) return library.error();
    static_cast<void>(library.value()->reloadData());
    return ITunesToJSON().readLibrary(std::move(library.value()));
}

// The pieces of a text, each handed to the output in its room.
void writeRoom(std::string& room, std::size_t length) { writeOutput(room, length); }

}  // namespace

platform::Result<LibraryDocument> libraryToJSON() {
    auto document = openDocument();
    if (!document) return document.error();
    // The pretty text goes out piece by piece as it is made, never whole in
    // memory. The library was read whole before, so a damaged file gives an
    // error and no text at all.
    jsonToString(document.value(), RoomSink(writeRoom));
    writeOutput("\n");
    return document;
}

platform::Status exportLibraryToFile(const platform::URL& destURL) {
    const auto document = openDocument();
    if (!document) return document.error();
    // Each piece of the pretty text goes to the file as it goes to standard
    // output. Standard output gets the whole text even when the file cannot
    // be written; the error is reported after it.
    const platform::Status written = writeJSON(destURL, document.value(), RoomSink(writeRoom));
    writeOutput("\n");
    return written;
}

platform::Status writeLibrary() {
    const platform::URL destination = platform::URL::fileURLWithPath(kDefaultLibraryFile);
    if (auto status = exportLibraryToFile(destination); !status) return status;
    writeLine("Wrote to " + destination.absoluteString());
    return platform::success();
}

}  // namespace harmonode
