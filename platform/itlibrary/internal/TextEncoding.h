#pragma once
// The encoding a library file is written in, and its text turned into
// UTF-8 for the byte cleaner and the parser, which read UTF-8 alone.
//
// The encoding is told from the file's first bytes: a UTF-16 byte order
// mark or UTF-16 "<?xml", else the XML declaration's encoding when it names
// one the system converts from (through iconv, as the XML parser itself
// does). UTF-8, ASCII, UTF-16 declared in a file whose bytes are not UTF-16,
// and names no converter knows are all read as UTF-8, bad bytes repaired
// later by the cleaner. One converter serves one file; not thread-safe.

#include <iconv.h>

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The encoding to convert the file from, "" for none (read as UTF-8), or
// nothing yet while `start` is too short to tell and more of the file may
// follow (`complete` false). What is told depends only on the bytes, never
// on how much of them was given.
std::optional<std::string> detectTextEncoding(std::string_view start, bool complete);

// The value of the pseudo-attribute "encoding" in the XML declaration whose
// text (up to its "?>") is `declaration`, if it names one.
std::optional<std::string_view> declaredEncoding(std::string_view declaration) noexcept;

class TextConverter {
public:
    // Throws std::bad_alloc when no converter can be made for `encoding`,
    // which detectTextEncoding has named.
    explicit TextConverter(const std::string& encoding);
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;
    ~TextConverter();

    // Appends the UTF-8 form of `bytes` to `out`. A sequence cut off at the
    // end waits for the next call; bytes that are not text in the encoding
    // become U+FFFD, one per byte.
    void convert(std::string_view bytes, std::string& out);
    // Ends the text: what is still waiting becomes U+FFFD.
    void finish(std::string& out);

private:
    iconv_t cd_;
    std::string pending_;  // the start of a sequence cut off by the end of a piece
};

}  // namespace platform
