#include "export/JsonText.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>

#include "platform/foundation/UTF8.h"

namespace harmonode {
namespace {

// Writes JSON text of values that passed checkJSON. With a sink, hands the
// text over whenever about kPiece bytes are collected, so one buffer is
// reused and stays small; without one, collects it all in `out`.
class Writer {
public:
    Writer(JsonLayout layout, std::string& out, const JsonSink* sink = nullptr)
        : pretty_(layout == JsonLayout::pretty), out_(out), sink_(sink) {
        if (sink_) out_.reserve(kPiece + kPiece / 4);
    }

    void finish() {
        if (sink_ && !out_.empty()) (*sink_)(out_);
        out_.clear();
    }

    void write(const boost::json::value& value, int depth) {
        switch (value.kind()) {
            case boost::json::kind::null: out_ += "null"; return;
            case boost::json::kind::bool_: out_ += value.get_bool() ? "true" : "false"; return;
            case boost::json::kind::int64: return number(value.get_int64());
            case boost::json::kind::uint64: return number(value.get_uint64());
            case boost::json::kind::double_: return number(value.get_double());
            case boost::json::kind::string: return string(value.get_string());
            case boost::json::kind::array: return array(value.get_array(), depth);
            case boost::json::kind::object: return object(value.get_object(), depth);
        }
    }

    void object(const boost::json::object& o, int depth) {
        spill();
        out_ += '{';
        bool first = true;
        for (const auto& member : o) {
            if (!first) out_ += ',';
            first = false;
            newline(depth + 1);
            string(member.key());
            out_ += pretty_ ? " : " : ":";
            write(member.value(), depth + 1);
        }
        if (!o.empty()) newline(depth);
        out_ += '}';
    }

private:
    static constexpr std::size_t kPiece = 1 << 20;

    void spill() {
        if (sink_ && out_.size() >= kPiece) {
            (*sink_)(out_);
            out_.clear();
        }
    }

    template <class Number>
    void number(Number n) {
        char buffer[32];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, n);
        out_.append(buffer, end);
    }

    // The bytes a JSON string cannot hold as they stand.
    static constexpr auto kEscaped = [] {
        std::array<bool, 256> table{};
        for (int c = 0; c < 0x20; ++c) table[c] = true;
        table['"'] = table['\\'] = true;
        return table;
    }();

    // Whether any of the eight bytes in `word` needs escaping: a control
    // character, '"' or '\\' (a false alarm only after a true one).
    static bool needsEscape(std::uint64_t word) noexcept {
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
        const auto hasZero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
        return (((word - kOnes * 0x20) & ~word & kHigh) | hasZero(word ^ (kOnes * '"')) |
                hasZero(word ^ (kOnes * '\\'))) != 0;
    }

    void string(std::string_view s) {
        static constexpr char kHex[] = "0123456789abcdef";
        out_ += '"';
        std::size_t start = 0;
        for (std::size_t i = 0; i < s.size();) {
            if (i + 8 <= s.size()) {
                std::uint64_t word;
                std::memcpy(&word, s.data() + i, sizeof word);
                if (!needsEscape(word)) {
                    i += 8;
                    continue;
                }
            }
            const auto c = static_cast<unsigned char>(s[i++]);
            if (!kEscaped[c]) continue;
            out_.append(s.data() + start, i - 1 - start);
            start = i;
            switch (c) {
                case '"': out_ += "\\\""; break;
                case '\\': out_ += "\\\\"; break;
                case '\b': out_ += "\\b"; break;
                case '\f': out_ += "\\f"; break;
                case '\n': out_ += "\\n"; break;
                case '\r': out_ += "\\r"; break;
                case '\t': out_ += "\\t"; break;
                default:
                    out_ += "\\u00";
                    out_ += kHex[c >> 4];
                    out_ += kHex[c & 0xF];
            }
        }
        out_.append(s.data() + start, s.size() - start);
        out_ += '"';
    }

    void newline(int depth) {
        if (!pretty_) return;
        out_ += '\n';
        out_.append(static_cast<std::size_t>(depth) * 2, ' ');
    }

    void array(const boost::json::array& a, int depth) {
        spill();
        out_ += '[';
        bool first = true;
        for (const auto& element : a) {
            if (!first) out_ += ',';
            first = false;
            newline(depth + 1);
            write(element, depth + 1);
        }
        if (!a.empty()) newline(depth);
        out_ += ']';
    }

    bool pretty_;
    std::string& out_;
    const JsonSink* sink_;
};

// Whether `text` is valid UTF-8; short ASCII texts, most of a library
// document's, are settled here without the full decoder.
bool validText(std::string_view text) noexcept {
    if (text.size() <= 32) {
        unsigned char bits = 0;
        for (const char c : text) bits |= static_cast<unsigned char>(c);
        if (bits < 0x80) return true;
    }
    return platform::isValidUTF8(text);
}

platform::Error problem(std::string_view what) { return {"cannot write " + std::string(what) + " as JSON"}; }

// The first reason `value` cannot be written, if any.
std::optional<platform::Error> problemOf(const boost::json::value& value);

std::optional<platform::Error> problemOf(const boost::json::object& object) {
    for (const auto& member : object) {
        if (!validText(member.key())) return problem("a key that is not valid UTF-8");
        if (auto found = problemOf(member.value())) return found;
    }
    return std::nullopt;
}

std::optional<platform::Error> problemOf(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::double_:
            if (!std::isfinite(value.get_double())) return problem("a number that is not finite");
            return std::nullopt;
        case boost::json::kind::string:
            if (!validText(value.get_string())) return problem("a string that is not valid UTF-8");
            return std::nullopt;
        case boost::json::kind::array:
            for (const auto& element : value.get_array()) {
                if (auto found = problemOf(element)) return found;
            }
            return std::nullopt;
        case boost::json::kind::object:
            return problemOf(value.get_object());
        default:
            return std::nullopt;
    }
}

template <class Value>
platform::Status check(const Value& value) {
    if (auto found = problemOf(value)) return *found;
    return platform::success();
}

template <class Value>
platform::Result<std::string> serialize(const Value& value, JsonLayout layout) {
    if (auto found = problemOf(value)) return *found;
    std::string text;
    Writer writer(layout, text);
    if constexpr (std::is_same_v<Value, boost::json::object>) {
        writer.object(value, 0);
    } else {
        writer.write(value, 0);
    }
    return text;
}

}  // namespace

platform::Result<std::string> serializeJSON(const boost::json::value& value, JsonLayout layout) {
    return serialize(value, layout);
}

platform::Result<std::string> serializeJSON(const boost::json::object& object, JsonLayout layout) {
    return serialize(object, layout);
}

void streamJSON(const boost::json::object& object, JsonLayout layout, const JsonSink& sink) {
    std::string buffer;
    Writer writer(layout, buffer, &sink);
    writer.object(object, 0);
    writer.finish();
}

platform::Status checkJSON(const boost::json::value& value) { return check(value); }

platform::Status checkJSON(const boost::json::object& object) { return check(object); }

}  // namespace harmonode
