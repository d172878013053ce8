#include "platform/itlibrary/internal/TextEncoding.h"

#include <cerrno>
#include <new>

#include "platform/foundation/Text.h"
#include "platform/itlibrary/internal/XmlMarkup.h"

namespace platform {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The XML declaration is looked for this far into the file.
constexpr std::size_t kDeclarationLimit = 1024;

// Whether text in `name` is read as UTF-8 as it stands: UTF-8 and ASCII,
// and the Unicode forms whose byte patterns the file's start did not show.
bool readAsUTF8(std::string_view name) {
    const std::string lower = lowerAscii(name);
    if (lower == "utf-8" || lower == "utf8" || lower == "us-ascii" || lower == "ascii") return true;
    for (const std::string_view unicode : {"utf-16", "utf-32", "ucs-2", "ucs-4", "utf16", "utf32"}) {
        if (lower.starts_with(unicode)) return true;
    }
    return false;
}

bool converterExists(const std::string& name) {
    const iconv_t cd = ::iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    ::iconv_close(cd);
    return true;
}

}  // namespace

std::optional<std::string_view> declaredEncoding(std::string_view declaration) noexcept {
    std::size_t at = 0;
    while ((at = declaration.find("encoding", at)) != std::string_view::npos) {
        at += 8;
        std::size_t i = at;
        const auto blank = [&] {
            while (i < declaration.size() && isXmlBlank(declaration[i])) ++i;
        };
        blank();
        if (i >= declaration.size() || declaration[i] != '=') continue;
        ++i;
        blank();
        if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) continue;
        const char quote = declaration[i++];
        const std::size_t end = declaration.find(quote, i);
        if (end == std::string_view::npos) return std::nullopt;
        return declaration.substr(i, end - i);
    }
    return std::nullopt;
}

std::optional<std::string> detectTextEncoding(std::string_view start, bool complete) {
    const auto begins = [&](std::string_view bytes) { return start.substr(0, bytes.size()) == bytes; };
    if (start.size() < 5 && !complete) return std::nullopt;
    if (begins("\xFF\xFE") || begins("\xFE\xFF")) return std::string("UTF-16");  // the mark tells the order
    if (begins(std::string_view("<\0?\0", 4))) return std::string("UTF-16LE");
    if (begins(std::string_view("\0<\0?", 4))) return std::string("UTF-16BE");
    if (!begins("<?xml")) return std::string();
    const std::size_t end = start.substr(0, kDeclarationLimit).find("?>");
    if (end == std::string_view::npos) {
        if (start.size() < kDeclarationLimit && !complete) return std::nullopt;
        return std::string();  // no declaration worth the name: the parser will say so
    }
    const auto name = declaredEncoding(start.substr(0, end));
    if (!name || name->empty() || readAsUTF8(*name)) return std::string();
    std::string encoding(*name);
    if (!converterExists(encoding)) return std::string();
    return encoding;
}

TextConverter::TextConverter(const std::string& encoding) : cd_(::iconv_open("UTF-8", encoding.c_str())) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::bad_alloc();
}

TextConverter::~TextConverter() { ::iconv_close(cd_); }

void TextConverter::convert(std::string_view bytes, std::string& out) {
    std::string joined;
    if (!pending_.empty()) {
        joined = pending_ + std::string(bytes);
        pending_.clear();
        bytes = joined;
    }
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        const std::size_t used = out.size();
        out.resize(used + inLeft * 4 + 16);
        char* to = out.data() + used;
        std::size_t toLeft = out.size() - used;
        const std::size_t result = ::iconv(cd_, &in, &inLeft, &to, &toLeft);
        const int error = errno;
        out.resize(static_cast<std::size_t>(to - out.data()));
        if (result != static_cast<std::size_t>(-1)) break;
        if (error == EILSEQ) {  // not text in this encoding: one byte of it goes
            out += kReplacement;
            ++in;
            --inLeft;
        } else if (error == EINVAL) {  // cut off: the rest comes with the next piece
            pending_.assign(in, inLeft);
            break;
        } else if (error != E2BIG) {
            throw std::bad_alloc();
        }
    }
}

void TextConverter::finish(std::string& out) {
    if (!pending_.empty()) {
        out += kReplacement;
        pending_.clear();
    }
    char buffer[64];
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    ::iconv(cd_, nullptr, nullptr, &to, &toLeft);  // back to the initial shift state
    out.append(buffer, static_cast<std::size_t>(to - buffer));
}

}  // namespace platform
