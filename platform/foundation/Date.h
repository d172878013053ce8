#pragma once
// A point in time, as the platform's date objects hold it: seconds since
// 1970-01-01 00:00:00 UTC, negative before. A plain value type.

namespace platform {

struct Date {
    double timeIntervalSince1970 = 0.0;

    // The current wall-clock time.
    static Date now() noexcept;

    friend bool operator==(const Date&, const Date&) = default;
};

}  // namespace platform
