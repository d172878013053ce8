#pragma once
// What the tag reader (the program harmonode-tags, TagLib in a process of
// its own) hands back of one audio file, its bounds, and the framed text it
// is handed back in. Private to platform/scripting: the tag reader writes
// the text, readAudioFile reads it. Pure functions; thread-safe.
//
// The text is a header line, one record per field the file has, and an end
// line:
//
//     harmonode-tags 1\n
//     title 5\nHello\n
//     year 4\n2024\n
//     end\n
//
// A record is its field's name, a blank, the decimal length of its value in
// bytes and a line feed, then the value and a line feed; values may hold
// any byte. A file the reader refuses is answered with the single record
// "refused" whose value is the reason.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace platform {

// The longest text field kept: 1 KiB of UTF-8, cut before the first
// character that does not fit whole.
inline constexpr std::size_t kTagTextLimit = 1024;

// The limits the tag reader runs under. A file that reaches one of them is
// refused.
inline constexpr std::uint64_t kTagReaderMemoryLimit = std::uint64_t{512} << 20;  // address space, bytes
inline constexpr std::uint64_t kTagReaderStackLimit = std::uint64_t{8} << 20;     // bytes
inline constexpr unsigned kTagReaderProcessorSeconds = 4;
inline constexpr unsigned kTagReaderWallSeconds = 5;
// The longest answer taken from the tag reader.
inline constexpr std::size_t kTagReaderAnswerLimit = std::size_t{64} << 10;

struct AudioTags {
    std::string kind;  // as the music application names the file type: "MPEG audio file"
    // Tags: valid UTF-8 of at most kTagTextLimit bytes, none where the file
    // has no such tag, an empty one, or one that does not decode.
    std::optional<std::string> title, artist, albumArtist, composer, album, genre, comments;
    // Numbers within their field's range (tagNumberInRange), 0 where the
    // file has none or one outside it.
    int year = 0, trackNumber = 0, trackCount = 0, discNumber = 0, discCount = 0;
    std::int64_t totalTime = 0;  // milliseconds
    int bitRate = 0;             // kilobits per second
    int sampleRate = 0;          // hertz
};

// The fields of numbers, for their ranges.
enum class TagNumber { year, trackOrDisc, totalTime, bitRate, sampleRate };

// Whether `value` is one the field takes: a year from 1 to 9999; track and
// disc numbers and counts, bit and sample rates from 1 to 2^31 - 1; a total
// time from 1 ms to 2^63 - 1 ms.
bool tagNumberInRange(TagNumber field, std::int64_t value) noexcept;

// `text` cut to at most `limit` bytes before the first character that does
// not fit whole; `text` must be valid UTF-8.
std::string_view cutOnCharacter(std::string_view text, std::size_t limit) noexcept;

// The framed text of `tags`.
std::string encodeAudioTags(const AudioTags& tags);

// The framed text of a refusal with `reason`.
std::string encodeRefusal(std::string_view reason);

// What a framed text says: the tags, the refusal's reason as an error, or
// an error for a text that is not one whole answer. Every bound above is
// applied again: a text that is not UTF-8 is none, a longer one is cut, a
// number outside its range is 0.
Result<AudioTags> decodeAudioTags(std::string_view text);

}  // namespace platform
