#include "export/JsonText.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <type_traits>

#include "export/Assert.h"
#include "platform/foundation/UTF8.h"

namespace harmonode {
namespace {

class Writer {
public:
    // Collects the text in `out`; with a sink, hands `out` over whenever it
    // holds about kPiece bytes, so the buffer is reused and stays small.
    Writer(JsonLayout layout, std::string& out, const JsonSink* sink = nullptr)
        : pretty_(layout == JsonLayout::pretty), validate_(sink == nullptr), out_(out), sink_(sink) {
        if (sink_) out_.reserve(kPiece + kPiece / 4);
    }

    void finish() {
        if (sink_ && !out_.empty()) (*sink_)(out_);
        out_.clear();
    }

    // Gives false, with `error` set, when the value cannot be written.
    bool write(const boost::json::value& value, int depth) {
        switch (value.kind()) {
            case boost::json::kind::null: out_ += "null"; return true;
            case boost::json::kind::bool_: out_ += value.get_bool() ? "true" : "false"; return true;
            case boost::json::kind::int64: return number(value.get_int64());
            case boost::json::kind::uint64: return number(value.get_uint64());
            case boost::json::kind::double_: return number(value.get_double());
            case boost::json::kind::string: return string(value.get_string());
            case boost::json::kind::array: return array(value.get_array(), depth);
            case boost::json::kind::object: return object(value.get_object(), depth);
        }
        return fail("a value of unknown kind");
    }

    std::string error;

    bool object(const boost::json::object& o, int depth) {
        spill();
        out_ += '{';
        bool first = true;
        for (const auto& member : o) {
            if (!first) out_ += ',';
            first = false;
            newline(depth + 1);
            if (!string(member.key())) return false;
            out_ += pretty_ ? " : " : ":";
            if (!write(member.value(), depth + 1)) return false;
        }
        if (!o.empty()) newline(depth);
        out_ += '}';
        return true;
    }

private:
    static constexpr std::size_t kPiece = 1 << 20;

    void spill() {
        if (sink_ && out_.size() >= kPiece) {
            (*sink_)(out_);
            out_.clear();
        }
    }

    bool fail(std::string what);

    template <class Number>
    bool number(Number n) {
        if constexpr (std::is_floating_point_v<Number>) {
            if (!std::isfinite(n)) return fail("a number that is not finite");
        }
        char buffer[32];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, n);
        out_.append(buffer, end);
        return true;
    }

    bool string(std::string_view s) {
        if (validate_ && !platform::isValidUTF8(s)) return fail("a string that is not valid UTF-8");
        static constexpr char kHex[] = "0123456789abcdef";
        out_ += '"';
        std::size_t start = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const auto c = static_cast<unsigned char>(s[i]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            out_.append(s.data() + start, i - start);
            start = i + 1;
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
        return true;
    }

    void newline(int depth) {
        if (!pretty_) return;
        out_ += '\n';
        out_.append(static_cast<std::size_t>(depth) * 2, ' ');
    }

    bool array(const boost::json::array& a, int depth) {
        spill();
        out_ += '[';
        bool first = true;
        for (const auto& element : a) {
            if (!first) out_ += ',';
            first = false;
            newline(depth + 1);
            if (!write(element, depth + 1)) return false;
        }
        if (!a.empty()) newline(depth);
        out_ += ']';
        return true;
    }

    bool pretty_;
    bool validate_;  // streamed text is checked beforehand, whole
    std::string& out_;
    const JsonSink* sink_;
};

std::string describeProblem(std::string what) { return "cannot write " + std::move(what) + " as JSON"; }

bool Writer::fail(std::string what) {
    error = describeProblem(std::move(what));
    return false;
}

// The first reason `value` cannot be written, if any.
std::optional<std::string> problemOf(const boost::json::value& value);

std::optional<std::string> problemOf(const boost::json::object& object) {
    for (const auto& member : object) {
        if (!platform::isValidUTF8(member.key())) return describeProblem("a key that is not valid UTF-8");
        if (auto problem = problemOf(member.value())) return problem;
    }
    return std::nullopt;
}

std::optional<std::string> problemOf(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::double_:
            if (!std::isfinite(value.get_double())) return describeProblem("a number that is not finite");
            return std::nullopt;
        case boost::json::kind::string:
            if (!platform::isValidUTF8(value.get_string())) return describeProblem("a string that is not valid UTF-8");
            return std::nullopt;
        case boost::json::kind::array:
            for (const auto& element : value.get_array()) {
                if (auto problem = problemOf(element)) return problem;
            }
            return std::nullopt;
        case boost::json::kind::object:
            return problemOf(value.get_object());
        default:
            return std::nullopt;
    }
}

}  // namespace

platform::Result<std::string> serializeJSON(const boost::json::value& value, JsonLayout layout) {
    std::string text;
    Writer writer(layout, text);
    if (!writer.write(value, 0)) return platform::Error{writer.error};
    return text;
}

platform::Result<std::string> serializeJSON(const boost::json::object& object, JsonLayout layout) {
    std::string text;
    Writer writer(layout, text);
    if (!writer.object(object, 0)) return platform::Error{writer.error};
    return text;
}

void streamJSON(const boost::json::object& object, JsonLayout layout, const JsonSink& sink) {
    std::string buffer;
    Writer writer(layout, buffer, &sink);
    const bool written = writer.object(object, 0);
    HARMONODE_ASSERT(written);  // only a value that fails checkJSON can fail here
    writer.finish();
}

platform::Status checkJSON(const boost::json::value& value) {
    if (auto problem = problemOf(value)) return platform::Error{*problem};
    return platform::success();
}

platform::Status checkJSON(const boost::json::object& object) {
    if (auto problem = problemOf(object)) return platform::Error{*problem};
    return platform::success();
}

}  // namespace harmonode
