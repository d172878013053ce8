#pragma once
// Predicates as the platform makes them from a format text and arguments
// (NSPredicate), for the one form this platform evaluates: a key compared
// for equality with one text argument, "KEY == %@". Any other format is an
// error, so a predicate never silently matches everything. Immutable
// values; thread-safe to share.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace platform {

class NSPredicate {
public:
    // The predicate of `format` with `argument` in place of its "%@". KEY is
    // a name of ASCII letters, digits and underscores; blanks may stand
    // around "==".
    static Result<NSPredicate> predicateWithFormat(std::string_view format, std::string argument);

    // The key whose value is compared, and the text it must equal.
    const std::string& key() const noexcept { return key_; }
    const std::string& argument() const noexcept { return argument_; }

    // True when an object whose value for key() is `value` matches; an
    // object without the key (none) never matches.
    bool evaluateWithValue(const std::optional<std::string>& value) const { return value && *value == argument_; }

private:
    NSPredicate(std::string key, std::string argument) : key_(std::move(key)), argument_(std::move(argument)) {}
    std::string key_;
    std::string argument_;
};

}  // namespace platform
