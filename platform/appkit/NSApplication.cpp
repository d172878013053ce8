#include "platform/appkit/NSApplication.h"

#include <exception>
#include <mutex>

#include "platform/appkit/internal/Sheets.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"

namespace platform::appkit {

struct NSApplication::State {
    mutable std::mutex lock;
    std::shared_ptr<NSUserAgent> agent;
    std::shared_ptr<NSImage> icon = NSImage::namedImage(std::string(NSImageNameApplicationIcon), NSSize{128, 128});
};

NSUserAgent::~NSUserAgent() = default;

std::shared_ptr<NSWindow> NSUserAgent::keyWindow() { return nullptr; }

NSApplication::NSApplication() : state_(std::make_unique<State>()) {}

NSApplication& NSApplication::sharedApplication() {
    // Never destroyed: the main queue's thread may use it while the process exits.
    static NSApplication* const application = new NSApplication;
    return *application;
}

std::shared_ptr<NSWindow> NSApplication::keyWindow() const {
    const std::shared_ptr<NSUserAgent> agent = userAgent();
    return agent ? agent->keyWindow() : nullptr;
}

std::shared_ptr<NSImage> NSApplication::applicationIconImage() const {
    const std::lock_guard<std::mutex> hold(state_->lock);
    return state_->icon;
}

void NSApplication::setApplicationIconImage(std::shared_ptr<NSImage> image) {
    const std::lock_guard<std::mutex> hold(state_->lock);
    state_->icon = std::move(image);
}

void NSApplication::setUserAgent(std::shared_ptr<NSUserAgent> agent) {
    const std::lock_guard<std::mutex> hold(state_->lock);
    state_->agent = std::move(agent);
}

std::shared_ptr<NSUserAgent> NSApplication::userAgent() const {
    const std::lock_guard<std::mutex> hold(state_->lock);
    return state_->agent;
}

namespace detail {

void presentSheet(std::function<void(NSUserAgent&)> ask, std::function<void()> systemEnds, std::string ending) {
    dispatch::dispatch_async(dispatch::dispatch_get_main_queue(), [ask = std::move(ask),
                                                                   systemEnds = std::move(systemEnds),
                                                                   ending = std::move(ending)] {
        const std::shared_ptr<NSUserAgent> agent = NSApplication::sharedApplication().userAgent();
        if (!agent) {
            NSLog("No user agent answers the sheet: %@", ending);
            systemEnds();
            return;
        }
        try {
            ask(*agent);
        } catch (const std::exception& e) {
            NSLog("The user agent failed on a sheet (%@): %@", e.what(), ending);
            systemEnds();
        }
    });
}

}  // namespace detail
}  // namespace platform::appkit
