#include "platform/scripting/SBApplication.h"

#include <array>

namespace platform {

std::unique_ptr<SBApplication> SBApplication::applicationWithBundleIdentifier(std::string_view bundleIdentifier) {
    static constexpr std::array<std::string_view, 2> kKnown = {"com.apple.Music", "com.apple.Finder"};
    for (const std::string_view known : kKnown) {
        if (bundleIdentifier == known) return std::unique_ptr<SBApplication>(new SBApplication(std::string(known)));
    }
    return nullptr;
}

}  // namespace platform
