#include "platform/foundation/Predicate.h"

namespace platform {
namespace {

bool isKeyCharacter(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::string_view trimBlanks(std::string_view text) noexcept {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

}  // namespace

Result<NSPredicate> NSPredicate::predicateWithFormat(std::string_view format, std::string argument) {
    const auto unsupported = [&] {
        return Error{"The predicate format \"" + std::string(format) +
                     "\" is not supported; only \"KEY == %@\" with one text argument is"};
    };
    const std::size_t equals = format.find("==");
    if (equals == std::string_view::npos) return unsupported();
    const std::string_view key = trimBlanks(format.substr(0, equals));
    const std::string_view value = trimBlanks(format.substr(equals + 2));
    if (key.empty() || value != "%@") return unsupported();
    for (const char c : key) {
        if (!isKeyCharacter(c)) return unsupported();
    }
    return NSPredicate(std::string(key), std::move(argument));
}

}  // namespace platform
