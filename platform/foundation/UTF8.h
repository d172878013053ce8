#pragma once
// Text decoding as the platform's string type does it: bytes that are not
// valid UTF-8 become U+FFFD, UTF-16 with unpaired surrogates becomes UTF-8
// with U+FFFD in their place. All functions are pure and thread-safe.

#include <string>
#include <string_view>

namespace platform {

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
