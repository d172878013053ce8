#pragma once
// Text decoding as the platform's string type does it: bytes that are not
// valid UTF-8 become U+FFFD, UTF-16 with unpaired surrogates becomes UTF-8
// with U+FFFD in their place. All functions are pure and thread-safe.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// What the first byte of a UTF-8 sequence asks of the bytes after it: how
// many follow (0 for ASCII) and the range the first of them must lie in
// (the others lie in 0x80..0xBF). The ranges rule out overlong forms,
// surrogates and values past U+10FFFF. `valid` is false for a byte that
// never begins a sequence (a continuation byte, 0xC0, 0xC1, 0xF5 up).
struct UTF8Lead {
    bool valid = false;
    std::uint8_t following = 0;
    unsigned char low = 0x80, high = 0xBF;
};

constexpr UTF8Lead utf8Lead(unsigned char b) noexcept {
    if (b < 0x80) return {true, 0, 0x80, 0xBF};
    if (b >= 0xC2 && b <= 0xDF) return {true, 1, 0x80, 0xBF};
    if (b == 0xE0) return {true, 2, 0xA0, 0xBF};
    if (b == 0xED) return {true, 2, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {true, 2, 0x80, 0xBF};
    if (b == 0xF0) return {true, 3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {true, 3, 0x80, 0xBF};
    if (b == 0xF4) return {true, 3, 0x80, 0x8F};
    return {};
}

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates,
// nothing above U+10FFFF).
bool isValidUTF8(std::string_view bytes) noexcept;

// `bytes` with every ill-formed subsequence replaced by U+FFFD (one
// replacement per maximal ill-formed subpart, as the Unicode standard
// recommends). Valid input comes back unchanged.
std::string decodeUTF8Lossy(std::string_view bytes);

// The UTF-8 form of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUTF8(std::u16string_view text);

// The UTF-16 form of valid UTF-8 text (decodeUTF8Lossy first if unsure).
std::u16string utf8ToUTF16(std::string_view text);

// Appends the UTF-8 encoding of the scalar value `cp` (must not be a
// surrogate and must be at most U+10FFFF).
void appendUTF8(std::string& out, char32_t cp);

}  // namespace platform
