#pragma once
// The tokens of JSON text, and whether a JSON value can be written as text.
//
// The text is always valid UTF-8: line feeds and other control characters
// inside strings are written escaped, so compact text never holds a line
// break. Pure; thread-safe.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include <boost/json/object.hpp>

#include "platform/foundation/Error.h"

namespace harmonode {

enum class JsonLayout { compact, pretty };

// Receives the text in pieces of about a megabyte, in order.
using JsonSink = std::function<void(std::string_view)>;

// Receives the text in pieces, in order, each in the room it was written
// in: the piece is the first `length` bytes of `room`. The sink may keep
// the room, leaving another in its place (whose size is the room it
// offers; its bytes do not matter) for later pieces to be written into.
using RoomSink = std::function<void(std::string& room, std::size_t length)>;

// Whether `object` can be written as JSON text: every key and string valid
// UTF-8, every number finite. The error names the first value that cannot.
platform::Status checkJSON(const boost::json::object& object);

// The tokens of JSON text, collected in one buffer that goes to a sink in
// pieces of about kPiece bytes wherever the writer calls spill(), or that
// collects the whole text, or that writes over a room it is lent. The
// writer decides the structure; strings are quoted and escaped here. A
// string that is not valid UTF-8 stops the process (an assertion): every
// text reaches the writers valid. One writer per output; not thread-safe.
class JsonTextOutput {
public:
    static constexpr std::size_t kPiece = std::size_t{1} << 20;

    // Pieces go to `sink`, which must outlive the output.
    explicit JsonTextOutput(const JsonSink& sink);
    // Everything is appended to `whole`, which holds it all once finish()
    // has been called or the output is dropped.
    explicit JsonTextOutput(std::string& whole);
    // The text is written over `room` from its start: the room's size is
    // what may be written before it grows, and it never shrinks; text()
    // is what was written. So a room lent again and again is not cleared
    // or grown again.
    struct Overwrite {};
    JsonTextOutput(std::string& room, Overwrite);
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
    // The first `size` of the `Room` bytes at `text`: all of them are
    // copied, which is quicker than a copy of just those, and only those
    // count.
    template <std::size_t Room>
    void rawFrom(const char (&text)[Room], std::size_t size) {
        std::memcpy(room(Room), text, Room);
        used_ += size;
    }
    void string(std::string_view text);
    void number(std::int64_t n);
    void number(std::uint64_t n);
    void boolean(bool b) { raw(b ? std::string_view("true") : std::string_view("false")); }
    // A line feed and two blanks per level of `depth`.
    void newline(int depth);

    // Hands the text so far to the sink once it holds a piece's worth.
    void spill() {
        if (sink_ != nullptr && used_ >= kPiece) handOver();
    }
    // Hands over whatever is left; the end of the text.
    void finish();

    // What has been written and not yet handed over.
    std::string_view text() const noexcept { return {out_.data(), used_}; }

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
    bool keepRoom_ = false;  // the room is lent: never cut down to the text
};

}  // namespace harmonode
