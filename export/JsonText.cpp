#include "export/JsonText.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <type_traits>

#include "platform/foundation/UTF8.h"

namespace harmonode {
namespace {

class Writer {
public:
    Writer(JsonLayout layout, std::string& out) : pretty_(layout == JsonLayout::pretty), out_(out) {}

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
    bool fail(std::string what) {
        error = "cannot write " + std::move(what) + " as JSON";
        return false;
    }

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
        if (!platform::isValidUTF8(s)) return fail("a string that is not valid UTF-8");
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
    std::string& out_;
};

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

}  // namespace harmonode
