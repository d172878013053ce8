#include "bridge/LibraryCommands.h"

#include <optional>

#include "bridge/Output.h"
#include "platform/foundation/File.h"

namespace harmonode {
namespace {

// The library, opened and reloaded, as a document whose facts are taken now.
platform::Result<LibraryDocument> openDocument() {
    auto library = platform::ITLibrary::initWithAPIVersion("1.0");
    if (!library) return library.error();
    static_cast<void>(library.value()->reloadData());
    return LibraryDocument(std::move(library.value()));
}

}  // namespace

platform::Result<LibraryDocument> libraryToJSON() {
    auto document = openDocument();
    if (!document) return document.error();
    // The pretty text goes out piece by piece as it is made, never whole in
    // memory. The library was read whole before, so a damaged file gives an
    // error and no text at all.
    document.value().write(JsonLayout::pretty, writeOutput);
    writeOutput("\n");
    return document;
}

platform::Status exportLibraryToFile(const platform::URL& destURL) {
    const auto document = openDocument();
    if (!document) return document.error();
    // Each piece of the pretty text goes to the file as it goes to standard
    // output. Standard output gets the whole text even when the file cannot
    // be written; the error is reported after it.
    std::optional<platform::Error> failure;
    std::optional<platform::AtomicFileWriter> file;
    if (!destURL.isFileURL()) {
        failure = platform::Error{"cannot write to \"" + destURL.absoluteString() + "\": not a file URL"};
    } else if (auto started = platform::AtomicFileWriter::create(destURL.path()); !started) {
        failure = started.error();
    } else {
        file.emplace(std::move(started.value()));
    }
    document.value().write(JsonLayout::pretty, [&](std::string_view piece) {
        writeOutput(piece);
        if (file) file->write(piece);
    });
    writeOutput("\n");
    if (failure) return *failure;
    return file->commit();
}

platform::Status writeLibrary() {
    const platform::URL destination = platform::URL::fileURLWithPath(kDefaultLibraryFile);
    if (auto status = exportLibraryToFile(destination); !status) return status;
    writeLine("Wrote to " + destination.absoluteString());
    return platform::success();
}

}  // namespace harmonode
