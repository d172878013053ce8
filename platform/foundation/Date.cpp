#include "platform/foundation/Date.h"

#include <chrono>

namespace platform {

Date Date::now() noexcept {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return Date{std::chrono::duration<double>(since).count()};
}

}  // namespace platform
