#include "bridge/Request.h"

#include <algorithm>
#include <cstddef>

#include <boost/json/array.hpp>
#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/object.hpp>
#include <boost/json/string.hpp>

namespace harmonode {
namespace {

using boost::json::error_code;
using boost::json::string_view;

// Keeps the top-level "cmd" and "path" texts of the object being parsed
// and nothing else; the parser checks the rest and counts its elements.
class RequestHandler {
public:
    // The limits of the parser that builds values, so that the same lines fail.
    static constexpr std::size_t max_object_size = boost::json::object::max_size();
    static constexpr std::size_t max_array_size = boost::json::array::max_size();
    static constexpr std::size_t max_key_size = boost::json::string::max_size();
    static constexpr std::size_t max_string_size = boost::json::string::max_size();

    Request request;

    bool on_document_begin(error_code&) { return true; }
    bool on_document_end(error_code&) { return true; }
    bool on_object_begin(error_code&) { return container(); }
    bool on_object_end(std::size_t, error_code&) { return leave(); }
    bool on_array_begin(error_code&) { return container(); }
    bool on_array_end(std::size_t, error_code&) { return leave(); }
    bool on_key_part(string_view s, std::size_t, error_code&) { return keyPart(s); }
    bool on_key(string_view s, std::size_t, error_code&) {
        keyPart(s);
        if (depth_ == 1) {
            member_ = !keyTooLong_ && key_ == "cmd" ? Member::Cmd : !keyTooLong_ && key_ == "path" ? Member::Path
                                                                                               : Member::Other;
        }
        key_.clear();
        keyTooLong_ = false;
        return true;
    }
    bool on_string_part(string_view s, std::size_t, error_code&) { return textPart(s); }
    bool on_string(string_view s, std::size_t, error_code&) {
        textPart(s);
        if (depth_ == 1 && member_ != Member::Other) {
            (member_ == Member::Cmd ? request.cmd : request.path) = std::move(text_);
            text_.clear();
            member_ = Member::Other;
        }
        return true;
    }
    bool on_number_part(string_view, error_code&) { return true; }
    bool on_int64(std::int64_t, string_view, error_code&) { return scalar(); }
    bool on_uint64(std::uint64_t, string_view, error_code&) { return scalar(); }
    bool on_double(double, string_view, error_code&) { return scalar(); }
    bool on_bool(bool, error_code&) { return scalar(); }
    bool on_null(error_code&) { return scalar(); }
    bool on_comment_part(string_view, error_code&) { return true; }
    bool on_comment(string_view, error_code&) { return true; }

private:
    enum class Member { Other, Cmd, Path };  // whose value comes next at the top level

    // A value that is not a text: the member it belongs to is no text.
    bool scalar() {
        if (depth_ == 1 && member_ != Member::Other) {
            (member_ == Member::Cmd ? request.cmd : request.path).reset();
            member_ = Member::Other;
        }
        return true;
    }
    bool container() {
        scalar();
        ++depth_;
        return true;
    }
    bool leave() {
        --depth_;
        return true;
    }
    bool keyPart(string_view s) {
        if (depth_ != 1 || keyTooLong_) return true;
        if (key_.size() + s.size() > 4) {
            keyTooLong_ = true;  // neither "cmd" nor "path"
        } else {
            key_.append(s.data(), s.size());
        }
        return true;
    }
    bool textPart(string_view s) {
        if (depth_ != 1 || member_ == Member::Other) return true;
        if (member_ == Member::Cmd) s = s.substr(0, kMaxCommandText + 1 - std::min(text_.size(), kMaxCommandText + 1));
        text_.append(s.data(), s.size());
        return true;
    }

    std::size_t depth_ = 0;
    Member member_ = Member::Other;
    std::string key_;
    bool keyTooLong_ = false;
    std::string text_;
};

}  // namespace

Request Request::fromWord(std::string_view word) {
    return Request{std::string(word.substr(0, kMaxCommandText + 1)), std::nullopt};
}

platform::Result<Request> parseRequest(std::string_view line) {
    boost::json::basic_parser<RequestHandler> parser{boost::json::parse_options{}};
    error_code ec;
    const std::size_t consumed = parser.write_some(false, line.data(), line.size(), ec);
    if (!ec && consumed < line.size()) ec = boost::json::error::extra_data;
    if (ec) return platform::Error{ec.message() + " at byte offset " + std::to_string(consumed)};
    return std::move(parser.handler().request);
}

}  // namespace harmonode
