#pragma once
// The text forms of property-list values that library files use, parsed
// without locale, allocation or range limits beyond 64 bits. Pure functions;
// thread-safe. Each gives none for text that is not of its form; ASCII
// white space around the value is ignored.

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// An integer as property-list readers read it: an optional sign, then
// decimal digits or "0x" (or "0X") and hexadecimal digits. A value beyond
// the signed 64-bit range saturates at its nearer end.
std::optional<std::int64_t> parsePlistInteger(std::string_view text) noexcept;

// The same form for an unsigned 64-bit field: a negative value gives 0, one
// beyond 2^64 - 1 gives 2^64 - 1.
std::optional<std::uint64_t> parsePlistUnsigned(std::string_view text) noexcept;

// The same form for an identifier (a track ID), which must be exact: a value
// beyond the signed 64-bit range gives none rather than another's ID.
std::optional<std::int64_t> parsePlistIdentifier(std::string_view text) noexcept;

// A persistent ID: 1 to 16 hexadecimal digits, either case, no prefix.
std::optional<std::uint64_t> parsePersistentID(std::string_view text) noexcept;

// A date "YYYY-MM-DDTHH:MM:SS" with an optional trailing "Z", always taken
// as UTC, as whole seconds since 1970-01-01 00:00:00 UTC. The year has at
// least four digits and may carry a sign; any date whose seconds fit in 64
// bits is accepted (proleptic Gregorian calendar).
std::optional<std::int64_t> parsePlistDate(std::string_view text) noexcept;

// Days from 1970-01-01 to the given proleptic Gregorian date; `month` is
// 1 to 12, `day` 1 to 31. Exact for |year| up to 10^15.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept;

}  // namespace platform
