#pragma once
// The library snapshot commands: the library document as a reply, and the
// same document written to the library file. Each call opens, reloads and
// reads its own library object and drops it afterwards; errors come back
// as values for the dispatch to turn into error replies. Bridge thread only.

#include "export/DocumentArena.h"

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"

namespace harmonode {

// Where `write` puts the library document.
inline constexpr const char* kDefaultLibraryFile = "/Volumes/Media/_harmonode/harmonode_itunes.json";

// Builds the library document and writes it, pretty-printed, to standard
// output as progress text; gives the document.
platform::Result<JsonDocument> libraryToJSON();

// libraryToJSON, then the document written atomically to `destURL`.
platform::Status exportLibraryToFile(const platform::URL& destURL);

// exportLibraryToFile to the default file, then the line "Wrote to <URL>".
platform::Status writeLibrary();

}  // namespace harmonode
