#pragma once
// Small text helpers shared by the stand-ins. Pure; thread-safe.

#include <string>
#include <string_view>

namespace platform {

// `text` without the characters of `blanks` at either end.
constexpr std::string_view trim(std::string_view text, std::string_view blanks = " \t\r\n") noexcept {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// `text` with A to Z made lower case; every other byte as it was.
inline std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace platform
