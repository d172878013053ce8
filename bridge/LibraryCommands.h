#pragma once
// The library snapshot commands: the library document as a reply, and the
// same document written to the library file. Each call opens, reloads and
// reads its own library object, which its document holds; errors come back
// as values for the dispatch to turn into error replies. Bridge thread only.
//
// The document is never built as JSON values: its text is written straight
// from the library object, once for each text the command writes, the same
// bytes each time.

#include "export/ITunesToJSON.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"

namespace harmonode {

// Where `write` puts the library document.
inline constexpr const char* kDefaultLibraryFile = "/Volumes/Media/_harmonode/harmonode_itunes.json";

// Opens the library and writes its document, pretty-printed, to standard
// output as progress text; gives the document.
platform::Result<LibraryDocument> libraryToJSON();

// The same, with the pretty text written atomically to `destURL` as well.
platform::Status exportLibraryToFile(const platform::URL& destURL);

// exportLibraryToFile to the default file, then the line "Wrote to <URL>".
platform::Status writeLibrary();

}  // namespace harmonode
