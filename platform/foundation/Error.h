#pragma once
// Errors as values at the platform boundary.
//
// `Error` carries the human-readable description that a platform operation
// gives when it fails (the localized description of the platform's error
// objects). `Result<T>` holds either a value or an `Error`; callers test it
// with `ok()` and read `value()` or `error()`. Nothing here throws.

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace platform {

struct Error {
    std::string description;
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

}  // namespace platform
