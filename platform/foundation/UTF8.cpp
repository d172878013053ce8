#include "platform/foundation/UTF8.h"

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence starting at `i`, or 0 when the bytes
// there are ill-formed. `*consumed` is set to the length of the maximal
// ill-formed subpart in that case (at least 1).
std::size_t sequenceLength(std::string_view s, std::size_t i, std::size_t* consumed) noexcept {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t b0 = byte(i);
    if (b0 < 0x80) return 1;
    const UTF8Lead lead = utf8Lead(b0);
    if (!lead.valid) {
        *consumed = 1;
        return 0;
    }
    const std::size_t need = lead.following;
    std::size_t k = 1;
    for (; k <= need; ++k) {
        if (i + k >= s.size()) break;
        const std::uint8_t b = byte(i + k);
        const std::uint8_t l = (k == 1) ? lead.low : 0x80;
        const std::uint8_t h = (k == 1) ? lead.high : 0xBF;
        if (b < l || b > h) break;
    }
    if (k > need) return need + 1;
    *consumed = k;
    return 0;
}

std::size_t firstInvalid(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size()) {
        // Sixteen ASCII bytes at a time: the common case for library text.
        while (i + 16 <= s.size()) {
            std::uint64_t words[2];
            std::memcpy(words, s.data() + i, sizeof words);
            if ((words[0] | words[1]) & 0x8080808080808080ULL) break;
            i += 16;
        }
        while (i < s.size() && static_cast<std::uint8_t>(s[i]) < 0x80) ++i;
        if (i >= s.size()) break;
        std::size_t consumed = 0;
        const std::size_t n = sequenceLength(s, i, &consumed);
        if (n == 0) return i;
        i += n;
    }
    return s.size();
}

}  // namespace

bool isValidUTF8(std::string_view bytes) noexcept {
    return firstInvalid(bytes) == bytes.size();
}

std::string decodeUTF8Lossy(std::string_view bytes) {
    std::size_t i = firstInvalid(bytes);
    if (i == bytes.size()) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 16);
    out.append(bytes.substr(0, i));
    while (i < bytes.size()) {
        std::size_t consumed = 0;
        const std::size_t n = sequenceLength(bytes, i, &consumed);
        if (n == 0) {
            out.append(kReplacement);
            i += consumed;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

void appendUTF8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string utf16ToUTF8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            appendUTF8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUTF8(out, 0xFFFD);
        } else {
            appendUTF8(out, u);
        }
    }
    return out;
}

std::u16string utf8ToUTF16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<std::uint8_t>(text[i]);
        char32_t cp;
        std::size_t n;
        if (b0 < 0x80) { cp = b0; n = 1; }
        else if (b0 < 0xE0) { cp = b0 & 0x1F; n = 2; }
        else if (b0 < 0xF0) { cp = b0 & 0x0F; n = 3; }
        else { cp = b0 & 0x07; n = 4; }
        for (std::size_t k = 1; k < n && i + k < text.size(); ++k) cp = (cp << 6) | (static_cast<std::uint8_t>(text[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

}  // namespace platform
