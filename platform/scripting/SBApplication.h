#pragma once
// Scripting objects of applications, bound by bundle identifier.
//
// An `SBApplication` is a handle on an application that forwards requests
// to it. This platform knows the music application ("com.apple.Music") and
// the file manager ("com.apple.Finder"); binding any other identifier gives
// none. Handles are not thread-safe; the bridge uses them from one thread.

#include <memory>
#include <string>
#include <string_view>

namespace platform {

class SBApplication {
public:
    // The handle for `bundleIdentifier`, or none when no application with
    // that identifier is known.
    static std::unique_ptr<SBApplication> applicationWithBundleIdentifier(std::string_view bundleIdentifier);

    const std::string& bundleIdentifier() const noexcept { return bundleIdentifier_; }

private:
    explicit SBApplication(std::string bundleIdentifier) : bundleIdentifier_(std::move(bundleIdentifier)) {}
    std::string bundleIdentifier_;
};

}  // namespace platform
