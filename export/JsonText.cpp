#include "export/JsonText.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "export/Assert.h"
#include "platform/foundation/UTF8.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace harmonode {
namespace {

// The length of the well-formed UTF-8 sequence that starts at `p` with a
// byte from 0x80 up, or 0 when none does (an overlong form, a surrogate,
// a value past U+10FFFF, a sequence cut short).
std::size_t sequenceLength(const unsigned char* p, const unsigned char* end) noexcept {
    const platform::UTF8Lead lead = platform::utf8Lead(*p);
    const std::size_t need = lead.following;
    if (!lead.valid || need == 0) return 0;
    const unsigned char low = lead.low, high = lead.high;
    if (static_cast<std::size_t>(end - p) <= need || p[1] < low || p[1] > high) return 0;
    for (std::size_t i = 2; i <= need; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    }
    return need + 1;
}

// The first byte from `p` on that a JSON string cannot hold as it stands
// (a control character, '"' or '\\') or that starts a multi-byte sequence.
const unsigned char* nextSpecial(const unsigned char* p, const unsigned char* end) noexcept {
#ifdef __SSE2__
    // As signed bytes, the control characters and every byte from 0x80 up
    // are below 0x20.
    const __m128i space = _mm_set1_epi8(0x20), quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i special = _mm_or_si128(_mm_cmplt_epi8(bytes, space),
                                             _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
        if (const int mask = _mm_movemask_epi8(special); mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        // Eight at a time, in one word: a byte's high bit marks it. (A
        // borrow may mark bytes after the first marked one, never before.)
        constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
        while (end - p >= 8) {
            std::uint64_t x;
            std::memcpy(&x, p, sizeof x);
            const std::uint64_t quote = x ^ (kOnes * '"'), backslash = x ^ (kOnes * '\\');
            const std::uint64_t special = (((x - kOnes * 0x20) & ~x) | x | ((quote - kOnes) & ~quote) |
                                           ((backslash - kOnes) & ~backslash)) &
                                          kHigh;
            if (special != 0) return p + (__builtin_ctzll(special) >> 3);
            p += 8;
        }
    }
    while (p < end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
    return p;
}

platform::Error problem(std::string_view what) { return {"cannot write " + std::string(what) + " as JSON"}; }

// The first reason `value` cannot be written, if any.
std::optional<platform::Error> problemOf(const boost::json::value& value);

std::optional<platform::Error> problemOf(const boost::json::object& object) {
    for (const auto& member : object) {
        if (!platform::isValidUTF8(member.key())) return problem("a key that is not valid UTF-8");
        if (auto found = problemOf(member.value())) return found;
    }
    return std::nullopt;
}

std::optional<platform::Error> problemOf(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::double_:
            if (!std::isfinite(value.get_double())) return problem("a number that is not finite");
            return std::nullopt;
        case boost::json::kind::string:
            if (!platform::isValidUTF8(value.get_string())) return problem("a string that is not valid UTF-8");
            return std::nullopt;
        case boost::json::kind::array:
            for (const auto& element : value.get_array()) {
                if (auto found = problemOf(element)) return found;
            }
            return std::nullopt;
        case boost::json::kind::object:
            return problemOf(value.get_object());
        default:
            return std::nullopt;
    }
}

}  // namespace

platform::Status checkJSON(const boost::json::object& object) {
    if (auto found = problemOf(object)) return *found;
    return platform::success();
}

JsonTextOutput::JsonTextOutput(const JsonSink& sink) : out_(own_), sink_(&sink) { own_.resize(kPiece + kPiece / 4); }

JsonTextOutput::JsonTextOutput(std::string& whole) : out_(whole), used_(whole.size()) {}

JsonTextOutput::JsonTextOutput(std::string& room, Overwrite) : out_(room), keepRoom_(true) {}

JsonTextOutput::~JsonTextOutput() {
    if (sink_ == nullptr && !keepRoom_) out_.resize(used_);
}

void JsonTextOutput::grow(std::size_t size) { out_.resize(std::max(out_.size() * 2, used_ + size + 64)); }

void JsonTextOutput::handOver() {
    (*sink_)(std::string_view(out_.data(), used_));
    used_ = 0;
}

void JsonTextOutput::finish() {
    if (sink_ != nullptr) {
        if (used_ > 0) handOver();
    } else if (!keepRoom_) {
        out_.resize(used_);
    }
}

void JsonTextOutput::string(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    raw('"');
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    const unsigned char* run = p;  // the start of what is copied as it stands
    while ((p = nextSpecial(p, end)) != end) {
        const unsigned char c = *p;
        if (c >= 0x80) {
            const std::size_t length = sequenceLength(p, end);
            HARMONODE_ASSERT(length != 0);
            p += length;
            continue;
        }
        raw(std::string_view(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run)));
        run = ++p;
        switch (c) {
            case '"': raw("\\\""); break;
            case '\\': raw("\\\\"); break;
            case '\b': raw("\\b"); break;
            case '\f': raw("\\f"); break;
            case '\n': raw("\\n"); break;
            case '\r': raw("\\r"); break;
            case '\t': raw("\\t"); break;
            default: {
                const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
                raw(std::string_view(escape, sizeof escape));
            }
        }
    }
    raw(std::string_view(reinterpret_cast<const char*>(run), static_cast<std::size_t>(end - run)));
    raw('"');
}

namespace {
// Room enough for any of the numbers written.
constexpr std::size_t kNumberRoom = 32;

// The decimal digits of `n` at `at`, two at a time from the last; gives
// the end of them.
char* decimal(char* at, std::uint64_t n) noexcept {
    static constexpr auto kPairs = [] {
        std::array<char, 200> pairs{};
        for (int i = 0; i < 100; ++i) {
            pairs[2 * i] = static_cast<char>('0' + i / 10);
            pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
        return pairs;
    }();
    std::size_t digits = 1;
    for (std::uint64_t rest = n;; rest /= 10000, digits += 4) {
        if (rest < 10) break;
        if (rest < 100) {
            digits += 1;
            break;
        }
        if (rest < 1000) {
            digits += 2;
            break;
        }
        if (rest < 10000) {
            digits += 3;
            break;
        }
    }
    char* const end = at + digits;
    char* p = end;
    while (n >= 100) {
        p -= 2;
        std::memcpy(p, &kPairs[2 * (n % 100)], 2);
        n /= 100;
    }
    if (n >= 10) {
        p -= 2;
        std::memcpy(p, &kPairs[2 * n], 2);
    } else {
        *--p = static_cast<char>('0' + n);
    }
    return end;
}

}  // namespace

void JsonTextOutput::number(std::int64_t n) {
    // Many of the numbers a library gives are single digits, zero mostly.
    if (n >= 0 && n < 10) return raw(static_cast<char>('0' + n));
    char* at = room(kNumberRoom);
    if (n < 0) *at++ = '-';
    used_ = static_cast<std::size_t>(decimal(at, n < 0 ? ~static_cast<std::uint64_t>(n) + 1 : static_cast<std::uint64_t>(n)) - out_.data());
}

void JsonTextOutput::number(std::uint64_t n) {
    if (n < 10) return raw(static_cast<char>('0' + n));
    char* at = room(kNumberRoom);
    used_ = static_cast<std::size_t>(decimal(at, n) - out_.data());
}

void JsonTextOutput::newline(int depth) {
    const std::size_t blanks = static_cast<std::size_t>(depth) * 2;
    char* at = room(blanks + 1);
    *at = '\n';
    std::memset(at + 1, ' ', blanks);
    used_ += blanks + 1;
}

}  // namespace harmonode
