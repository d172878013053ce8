#include "platform/itlibrary/internal/PlistValues.h"

#include <charconv>
#include <limits>

#include "platform/foundation/Text.h"
#include "platform/itlibrary/internal/XmlMarkup.h"

namespace platform {
namespace {

template <class T>
std::optional<T> parseWhole(std::string_view text, int base) noexcept {
    T value{};
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Two decimal digits at `text[at]`, or -1.
int twoDigits(std::string_view text, std::size_t at) noexcept {
    if (at + 2 > text.size() || !isDigit(text[at]) || !isDigit(text[at + 1])) return -1;
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

bool isLeapYear(std::int64_t y) noexcept { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

unsigned daysInMonth(std::int64_t year, unsigned month) noexcept {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// An integer as property-list readers read it: an optional sign, then
// decimal digits or "0x" and hexadecimal digits. Its magnitude is clamped
// to 2^64 - 1, with `clamped` telling so.
struct PlistNumber {
    bool negative = false;
    std::uint64_t magnitude = 0;
    bool clamped = false;
};

std::optional<PlistNumber> parseNumber(std::string_view text) noexcept {
    // Mostly decimal digits alone, too few to overflow.
    if (!text.empty() && text.size() <= 19) {
        std::uint64_t magnitude = 0;
        std::size_t at = 0;
        for (; at < text.size() && isDigit(text[at]); ++at) magnitude = magnitude * 10 + static_cast<unsigned>(text[at] - '0');
        if (at == text.size()) return PlistNumber{false, magnitude, false};
    }
    text = trim(text);
    PlistNumber number;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        number.negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    for (const char c : text) {
        const int digit = base == 16 ? hexDigitValue(c) : isDigit(c) ? c - '0' : -1;
        if (digit < 0) return std::nullopt;
        if (number.clamped) continue;
        if (__builtin_mul_overflow(number.magnitude, static_cast<std::uint64_t>(base), &number.magnitude) ||
            __builtin_add_overflow(number.magnitude, static_cast<std::uint64_t>(digit), &number.magnitude)) {
            number.magnitude = std::numeric_limits<std::uint64_t>::max();
            number.clamped = true;
        }
    }
    return number;
}

constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;  // of the most negative int64

}  // namespace

std::optional<std::int64_t> parsePlistInteger(std::string_view text) noexcept {
    const auto number = parseNumber(text);
    if (!number) return std::nullopt;
    if (number->negative) {
        if (number->magnitude >= kMinMagnitude) return std::numeric_limits<std::int64_t>::min();
        return -static_cast<std::int64_t>(number->magnitude);
    }
    if (number->magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return static_cast<std::int64_t>(number->magnitude);
}

std::optional<std::uint64_t> parsePlistUnsigned(std::string_view text) noexcept {
    const auto number = parseNumber(text);
    if (!number) return std::nullopt;
    return number->negative ? 0 : number->magnitude;
}

std::optional<std::int64_t> parsePlistIdentifier(std::string_view text) noexcept {
    const auto number = parseNumber(text);
    if (!number || number->clamped) return std::nullopt;
    if (number->negative) {
        if (number->magnitude > kMinMagnitude) return std::nullopt;
        return number->magnitude == kMinMagnitude ? std::numeric_limits<std::int64_t>::min()
                                                  : -static_cast<std::int64_t>(number->magnitude);
    }
    if (number->magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(number->magnitude);
}

std::optional<std::uint64_t> parsePersistentID(std::string_view text) noexcept {
    text = trim(text);
    if (text.empty() || text.size() > 16) return std::nullopt;
    return parseWhole<std::uint64_t>(text, 16);
}

std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept {
    // Counted in 400-year eras of 146097 days, with years starting in March
    // so that the leap day falls at the end of each.
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::optional<std::int64_t> parsePlistDate(std::string_view text) noexcept {
    text = trim(text);
    if (!text.empty() && text.back() == 'Z') text.remove_suffix(1);
    // The fixed tail "-MM-DDTHH:MM:SS" has 15 characters; the year is before it.
    if (text.size() < 4 + 15) return std::nullopt;
    const std::string_view tail = text.substr(text.size() - 15);
    std::string_view yearText = text.substr(0, text.size() - 15);
    bool negative = false;
    if (yearText[0] == '-' || yearText[0] == '+') {
        negative = yearText[0] == '-';
        yearText.remove_prefix(1);
    }
    // Years beyond 10^15 cannot give seconds within 64 bits.
    if (yearText.size() < 4 || yearText.size() > 15) return std::nullopt;
    for (const char c : yearText) {
        if (!isDigit(c)) return std::nullopt;
    }
    const auto magnitude = parseWhole<std::int64_t>(yearText, 10);
    if (!magnitude) return std::nullopt;
    const std::int64_t year = negative ? -*magnitude : *magnitude;

    if (tail[0] != '-' || tail[3] != '-' || tail[6] != 'T' || tail[9] != ':' || tail[12] != ':') return std::nullopt;
    const int month = twoDigits(tail, 1), day = twoDigits(tail, 4);
    const int hour = twoDigits(tail, 7), minute = twoDigits(tail, 10), second = twoDigits(tail, 13);
    if (month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 60) {
        return std::nullopt;
    }
    if (static_cast<unsigned>(day) > daysInMonth(year, static_cast<unsigned>(month))) return std::nullopt;

    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    // Before 1970 the day's midnight may lie below the 64-bit range while the
    // moment itself does not, so count from the next midnight back.
    const std::int64_t timeOfDay = std::int64_t{hour} * 3600 + minute * 60 + second;
    const std::int64_t midnight = days < 0 ? days + 1 : days;
    const std::int64_t offset = days < 0 ? timeOfDay - 86400 : timeOfDay;
    std::int64_t seconds = 0;
    if (__builtin_mul_overflow(midnight, std::int64_t{86400}, &seconds) ||
        __builtin_add_overflow(seconds, offset, &seconds)) {
        return std::nullopt;
    }
    return seconds;
}

}  // namespace platform
