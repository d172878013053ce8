#pragma once
// JSON text of JSON values, compact (one line, no blanks between tokens) or
// pretty (one member or element per line, two blanks of indentation per
// level, " : " between a key and its value).
//
// The text is always valid UTF-8: a value holding a string that is not
// valid UTF-8, or a number that is not finite, cannot be written and gives
// an error instead. Line feeds and other control characters inside strings
// are written escaped, so compact text never holds a line break. Members
// are written in the order the object holds them. Pure; thread-safe.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include <boost/json/value.hpp>

#include "platform/foundation/Error.h"

namespace harmonode {

enum class JsonLayout { compact, pretty };

// The JSON text of a value as one string.
platform::Result<std::string> serializeJSON(const boost::json::value& value, JsonLayout layout);
platform::Result<std::string> serializeJSON(const boost::json::object& object, JsonLayout layout);

// Receives the text in pieces of about a megabyte, in order.
using JsonSink = std::function<void(std::string_view)>;

// Streams the JSON text of `object` into `sink` without holding it whole.
// `object` must have passed checkJSON: it is not checked again here.
void streamJSON(const boost::json::object& object, JsonLayout layout, const JsonSink& sink);

// Whether `value` can be written as JSON text, without writing it.
platform::Status checkJSON(const boost::json::value& value);
platform::Status checkJSON(const boost::json::object& object);

// The tokens of JSON text, collected in one buffer that goes to a sink in
// pieces of about kPiece bytes wherever the writer calls spill(), or that
// collects the whole text. The writer decides the structure; strings are
// quoted and escaped here. A string that is not valid UTF-8 stops the
// process (an assertion): every text reaches the writers valid. One writer
// per output; not thread-safe.
class JsonTextOutput {
public:
    static constexpr std::size_t kPiece = std::size_t{1} << 20;

    // Pieces go to `sink`, which must outlive the output.
    explicit JsonTextOutput(const JsonSink& sink);
    // Everything is appended to `whole`, which holds it all once finish()
    // has been called or the output is dropped.
    explicit JsonTextOutput(std::string& whole);
    JsonTextOutput(const JsonTextOutput&) = delete;
    JsonTextOutput& operator=(const JsonTextOutput&) = delete;
    ~JsonTextOutput();

    void raw(std::string_view text) {
        std::memcpy(room(text.size()), text.data(), text.size());
        used_ += text.size();
    }
    void raw(char c) {
        *room(1) = c;
        ++used_;
    }
    void string(std::string_view text);
    void number(std::int64_t n);
    void number(std::uint64_t n);
    void number(double n);
    void boolean(bool b) { raw(b ? std::string_view("true") : std::string_view("false")); }
    // A line feed and two blanks per level of `depth`.
    void newline(int depth);

    // Hands the text so far to the sink once it holds a piece's worth.
    void spill() {
        if (sink_ != nullptr && used_ >= kPiece) handOver();
    }
    // Hands over whatever is left; the end of the text.
    void finish();

private:
    // Room for `size` more bytes at the end of the text.
    char* room(std::size_t size) {
        if (out_.size() - used_ < size) grow(size);
        return out_.data() + used_;
    }
    void grow(std::size_t size);
    void handOver();

    std::string own_;
    std::string& out_;      // its size is the room; the text is its first used_ bytes
    std::size_t used_ = 0;
    const JsonSink* sink_ = nullptr;
};

}  // namespace harmonode
