#pragma once
// What the XML of a library export is made of, for every reader of it in
// this folder: the property-list elements and their names, the characters
// of markup (blanks, and the ASCII characters of names: other names are
// none of an export's), the delimiters of comments, CDATA sections and
// processing instructions, the five entities XML predefines, character
// references and the characters XML allows. Constants and pure functions;
// thread-safe.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

enum class PlistElement : std::uint8_t { Other, Plist, Dict, Array, Key, String, Integer, Real, Date, Data, True, False };

// Each element's name, by its number (Other has none).
inline constexpr std::array<std::string_view, 12> kPlistElementNames = {
    "", "plist", "dict", "array", "key", "string", "integer", "real", "date", "data", "true", "false",
};

// The element a name names, found at a slot its first and last characters
// give, which no two of the names share.
constexpr std::size_t plistNameSlot(std::string_view name) noexcept {
    return (static_cast<unsigned char>(name.front()) * 3u + static_cast<unsigned char>(name.back())) & 63u;
}
inline constexpr std::array<std::uint8_t, 64> kPlistNameSlots = [] {
    std::array<std::uint8_t, 64> slots{};
    for (std::size_t i = 1; i < kPlistElementNames.size(); ++i) {
        std::uint8_t& slot = slots[plistNameSlot(kPlistElementNames[i])];
        if (slot != 0) throw "two element names share a slot";  // stops the build
        slot = static_cast<std::uint8_t>(i);
    }
    return slots;
}();
constexpr PlistElement plistElementNamed(std::string_view name) noexcept {
    if (name.empty()) return PlistElement::Other;
    const std::uint8_t i = kPlistNameSlots[plistNameSlot(name)];
    const std::string_view known = kPlistElementNames[i];
    if (known.size() != name.size()) return PlistElement::Other;  // as Other's name is empty
    for (std::size_t k = 0; k < known.size(); ++k) {
        if (known[k] != name[k]) return PlistElement::Other;
    }
    return static_cast<PlistElement>(i);
}

inline constexpr std::string_view kCommentOpen = "<!--", kCommentClose = "-->";
inline constexpr std::string_view kCDataOpen = "<![CDATA[", kCDataClose = "]]>";
inline constexpr std::string_view kInstructionOpen = "<?", kInstructionClose = "?>";

// What a byte can be in markup.
enum : std::uint8_t { kXmlBlank = 1, kXmlNameStart = 2, kXmlNameChar = 4 };
inline constexpr std::array<std::uint8_t, 256> kXmlClasses = [] {
    std::array<std::uint8_t, 256> classes{};
    for (const char c : {' ', '\n', '\t', '\r'}) classes[static_cast<unsigned char>(c)] = kXmlBlank;
    for (int c = 0; c < 256; ++c) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') classes[c] = kXmlNameStart | kXmlNameChar;
        if ((c >= '0' && c <= '9') || c == '-' || c == '.') classes[c] = kXmlNameChar;
    }
    return classes;
}();
constexpr bool isXmlBlank(char c) noexcept { return kXmlClasses[static_cast<unsigned char>(c)] & kXmlBlank; }
constexpr bool isXmlNameStart(char c) noexcept { return kXmlClasses[static_cast<unsigned char>(c)] & kXmlNameStart; }
constexpr bool isXmlNameChar(char c) noexcept { return kXmlClasses[static_cast<unsigned char>(c)] & kXmlNameChar; }

// The characters XML allows in a document.
constexpr bool isXmlChar(std::uint32_t v) noexcept {
    return v == 0x9 || v == 0xA || v == 0xD || (v >= 0x20 && v <= 0xD7FF) || (v >= 0xE000 && v <= 0xFFFD) ||
           (v >= 0x10000 && v <= 0x10FFFF);
}

// A hexadecimal digit's value, or -1.
constexpr int hexDigitValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// What stands for itself of a reference: `name` is what stands between "&"
// and ";". One of the five entities XML predefines ("amp") gives its
// character; none for any other name.
constexpr std::optional<char> xmlPredefinedEntity(std::string_view name) noexcept {
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "amp") return '&';
    if (name == "apos") return '\'';
    if (name == "quot") return '"';
    return std::nullopt;
}

// A character reference ("#233", "#xE9": decimal, or hexadecimal after a
// lower-case "x", at most eight digits) gives its character; none for any
// other name, or for a character XML does not allow.
constexpr std::optional<char32_t> xmlCharacterReference(std::string_view name) noexcept {
    if (name.size() < 2 || name[0] != '#') return std::nullopt;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : digits) {
        const int digit = hex ? hexDigitValue(c) : c >= '0' && c <= '9' ? c - '0' : -1;
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    if (!isXmlChar(value)) return std::nullopt;
    return static_cast<char32_t>(value);
}

}  // namespace platform
