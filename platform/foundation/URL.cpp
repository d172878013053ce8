#include "platform/foundation/URL.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <string>

#include "platform/foundation/UTF8.h"

namespace platform {
namespace {

// Length of the scheme at the start of `text` (without the ":"), or 0.
std::size_t schemeLength(std::string_view text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == ':') return i;
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return 0;
    }
    return 0;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool allowedInPath(unsigned char c) {
    return std::isalnum(c) || std::string_view("-._~!$&'()*+,;=:@/").find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::optional<URL> URL::fromString(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return URL(std::string(text));
}

URL URL::fileURLWithPath(std::string_view path) {
    std::string absolute;
    if (!path.empty() && path[0] == '/') {
        absolute = path;
    } else {
        char buffer[PATH_MAX];
        absolute = getcwd(buffer, sizeof buffer) ? buffer : "";
        if (absolute.empty() || absolute.back() != '/') absolute += '/';
        absolute += path;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text = "file://";
    for (const char ch : absolute) {
        const auto c = static_cast<unsigned char>(ch);
        if (allowedInPath(c)) {
            text += ch;
        } else {
            text += '%';
            text += kHex[c >> 4];
            text += kHex[c & 0xF];
        }
    }
    return URL(std::move(text));
}

std::string URL::scheme() const {
    std::string s(text_.substr(0, schemeLength(text_)));
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

namespace {

// The path component of `text`, still percent-encoded.
std::string_view pathComponent(std::string_view rest) {
    if (const std::size_t n = schemeLength(rest); n > 0) rest.remove_prefix(n + 1);
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        std::size_t host = 0;  // the authority ends at the path, query or fragment
        while (host < rest.size() && rest[host] != '/' && rest[host] != '?' && rest[host] != '#') ++host;
        rest.remove_prefix(host);
    }
    return rest.substr(0, std::min(rest.find('?'), rest.find('#')));
}

// `text` with every "%XX" escape replaced by its byte.
std::string percentDecodeBytes(std::string_view text) {
    std::string bytes(text.size(), '\0');  // decoding only ever shortens
    char* out = bytes.data();
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                *out++ = static_cast<char>(hi * 16 + lo);
                i += 3;
                continue;
            }
        }
        *out++ = text[i++];
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}

std::string withoutTrailingSlash(std::string path) {
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string URL::path() const { return withoutTrailingSlash(percentDecode(pathComponent(text_))); }

std::string URL::fileSystemRepresentation() const {
    return withoutTrailingSlash(percentDecodeBytes(pathComponent(text_)));
}

std::string percentDecode(std::string_view text) {
    std::string bytes = percentDecodeBytes(text);
    if (isValidUTF8(bytes)) return bytes;  // as it stands, without a copy
    return decodeUTF8Lossy(bytes);
}

}  // namespace platform
