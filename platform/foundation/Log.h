#pragma once
// The system log (NSLog).
//
// One call writes one entry: the message goes to standard error in the
// platform's log-line shape
//
//     2026-12-08 14:20:34.123 java[1234:5678] message
//
// (local date, time with milliseconds, process name, process id, thread id)
// and to syslog. The line is written with a single write(2) so lines from
// concurrent callers never interleave. Any thread may log; nothing here
// throws. Text arguments in UTF-16 are written as UTF-8 (an unpaired
// surrogate becomes U+FFFD); a U+0000 in the message reaches standard error
// unchanged but ends the syslog copy of the entry there.
//
// Format directives:
//   %@      a text argument; a missing one is written "(null)"
//   %d, %i  an integer argument
//   %%      a percent sign
// Any other "%" is written as it stands. A directive whose argument is missing
// or of the other kind is written "(null)" for %@ and "0" for %d and %i.

#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace platform {

// One argument of a log format: a text, a missing text, or an integer. It
// only refers to the text it was made from; it lives for the call.
class LogArgument {
public:
    LogArgument(std::nullopt_t) noexcept {}
    LogArgument(const std::optional<std::u16string>& text) noexcept {
        if (text) value_ = std::u16string_view(*text);
    }
    LogArgument(const std::u16string& text) noexcept : value_(std::u16string_view(text)) {}
    LogArgument(std::u16string_view text) noexcept : value_(text) {}
    // NUL-terminated UTF-16 text; a null pointer is a missing text.
    LogArgument(const char16_t* text) noexcept {
        if (text) value_ = std::u16string_view(text);
    }
    // UTF-8 text; a null pointer is a missing text.
    LogArgument(const char* utf8) noexcept {
        if (utf8) value_ = std::string_view(utf8);
    }
    LogArgument(std::string_view utf8) noexcept : value_(utf8) {}
    LogArgument(const std::string& utf8) noexcept : value_(std::string_view(utf8)) {}
    template <std::integral T>
    LogArgument(T value) noexcept : value_(static_cast<long long>(value)) {}

    using Value = std::variant<std::monostate, std::u16string_view, std::string_view, long long>;
    const Value& value() const noexcept { return value_; }

private:
    Value value_;
};

// Writes one log entry of `format` with `arguments` (see above).
void NSLogv(std::string_view format, std::span<const LogArgument> arguments) noexcept;

template <class... Args>
void NSLog(std::string_view format, const Args&... args) noexcept {
    const LogArgument list[sizeof...(Args) + 1] = {LogArgument(args)..., LogArgument(std::nullopt)};
    NSLogv(format, std::span<const LogArgument>(list, sizeof...(Args)));
}

}  // namespace platform
