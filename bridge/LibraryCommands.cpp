#include "bridge/LibraryCommands.h"

#include "bridge/Output.h"
#include "export/ITunesToJSON.h"
#include "export/JsonText.h"
#include "export/Utils.h"
#include "platform/itlibrary/ITLibrary.h"

namespace harmonode {

platform::Result<JsonDocument> libraryToJSON() {
    ITunesToJSON converter;
    auto library = platform::ITLibrary::initWithAPIVersion("1.0");
    if (!library) return library.error();
    static_cast<void>(library.value()->reloadData());
    JsonDocument document = converter.readLibrary(*library.value());
    library.value().reset();  // the document holds its own copies from here on
    // The pretty text goes out piece by piece as it is made, never whole in
    // memory; checked first, so a document that cannot be text writes nothing.
    if (auto valid = checkJSON(document.json()); !valid) return valid.error();
    streamJSON(document.json(), JsonLayout::pretty, writeOutput);
    writeOutput("\n");
    return document;
}

platform::Status exportLibraryToFile(const platform::URL& destURL) {
    const auto document = libraryToJSON();
    if (!document) return document.error();
    return writeJSON(destURL, document.value().json());
}

platform::Status writeLibrary() {
    const platform::URL destination = platform::URL::fileURLWithPath(kDefaultLibraryFile);
    if (auto status = exportLibraryToFile(destination); !status) return status;
    writeLine("Wrote to " + destination.absoluteString());
    return platform::success();
}

}  // namespace harmonode
