#pragma once
// Errors as values at the platform boundary.
//
// `Error` carries the human-readable description that a platform operation
// gives when it fails (the localized description of the platform's error
// objects). `Result<T>` holds either a value or an `Error`; callers test it
// with `ok()` and read `value()` or `error()`. Nothing here throws but
// std::bad_alloc. Descriptions are always valid UTF-8.

#include <cassert>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace platform {

struct Error {
    std::string description;
    int systemCode = 0;  // the errno of the system call that failed, 0 for any other failure
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { assert(ok()); return std::get<0>(state_); }
    const T& value() const& { assert(ok()); return std::get<0>(state_); }
    T&& value() && { assert(ok()); return std::get<0>(std::move(state_)); }
    const Error& error() const { assert(!ok()); return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// The result of an operation that gives nothing on success.
struct Done {};
using Status = Result<Done>;
inline Status success() { return Done{}; }

// The system's text for the errno value `error` ("No such file or
// directory"). Thread-safe.
std::string systemReason(int error);

// The one wording of a failed system call on a file: could not `what`
// "`path`": the system's reason. Bytes of `path` that are not UTF-8 are
// shown as U+FFFD.
// The error's systemCode is `error`.
Error systemError(std::string_view what, std::string_view path, int error);

// `path` as an error text may show it: U+FFFD for bytes that are not UTF-8.
std::string shownPath(std::string_view path);

}  // namespace platform
