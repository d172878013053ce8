#include "platform/foundation/Error.h"

#include <cstring>

#include "platform/foundation/UTF8.h"

namespace platform {

std::string systemReason(int error) {
    char buffer[256];
    // The GNU strerror_r gives its text, in `buffer` or a static one.
    return ::strerror_r(error, buffer, sizeof buffer);
}

std::string shownPath(std::string_view path) { return decodeUTF8Lossy(path); }

Error systemError(std::string_view what, std::string_view path, int error) {
    return Error{"could not " + std::string(what) + " \"" + shownPath(path) + "\": " + systemReason(error), error};
}

}  // namespace platform
