#pragma once
// The encodings every JSON text of the bridge shares: persistent-ID text,
// millisecond times, the pretty JSON text of a library document and its
// atomic file, and the start-up self-check. Stateless; thread-safe.

#include <cstdint>
#include <string>
#include <string_view>

#include "export/JsonText.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"

namespace harmonode {

class LibraryDocument;  // ITunesToJSON.h

// Exactly 16 upper-case hexadecimal digits, zero-padded, no prefix: the text
// that "%016lX" gives for the value.
std::string pidToString(std::uint64_t persistentID);

// The same text in a fixed buffer, for the export's hot paths.
struct PidText {
    char chars[16];
    std::string_view view() const noexcept { return {chars, sizeof chars}; }
};
PidText pidText(std::uint64_t persistentID) noexcept;

// Milliseconds since 1970-01-01 00:00:00 UTC, rounded half away from zero,
// negative before 1970. Times beyond the signed 64-bit range are clamped to
// it, a time that is not a number gives 0.
std::int64_t millisecondsSince1970(const platform::Date& date) noexcept;

// The pretty-printed JSON text of `json` (several indented lines, UTF-8),
// handed to `sink` piece by piece as it is made, never whole in memory.
void jsonToString(const LibraryDocument& json, const JsonSink& sink);
void jsonToString(const LibraryDocument& json, const RoomSink& sink);

// Writes the text of jsonToString(json) exactly, atomically, to the file
// named by the file URL `destURL`. Each piece of it goes to `echo` as well
// (where given; after the file has it), all of it even when the file
// cannot be written; the error comes after. A failed write leaves an
// earlier file as it was.
platform::Status writeJSON(const platform::URL& destURL, const LibraryDocument& json, const RoomSink& echo);
platform::Status writeJSON(const platform::URL& destURL, const LibraryDocument& json, const JsonSink& echo = {});

// Start-up self-check of the persistent-ID text; stops the process with
// "Assertion failed" when the text is wrong. Prints nothing otherwise.
void runTests();

}  // namespace harmonode
