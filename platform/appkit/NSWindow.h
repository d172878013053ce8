#pragma once
// Windows of the headless AppKit model and the results of modal sessions.
// Used on the main thread only.

#include <memory>
#include <string>

#include "platform/appkit/NSView.h"

namespace platform::appkit {

using NSModalResponse = long;
inline constexpr NSModalResponse NSModalResponseCancel = 0;
inline constexpr NSModalResponse NSModalResponseOK = 1;
inline constexpr NSModalResponse NSAlertFirstButtonReturn = 1000;
inline constexpr NSModalResponse NSAlertSecondButtonReturn = 1001;
inline constexpr NSModalResponse NSAlertThirdButtonReturn = 1002;

class PLATFORM_APPKIT_API NSWindow : public std::enable_shared_from_this<NSWindow> {
public:
    NSWindow() : NSWindow("NSWindow") {}
    virtual ~NSWindow();
    NSWindow(const NSWindow&) = delete;
    NSWindow& operator=(const NSWindow&) = delete;

    // The name the run-time reports for the object's class.
    const std::string& className() const noexcept { return className_; }

    const std::u16string& title() const noexcept { return title_; }
    void setTitle(std::u16string title) { title_ = std::move(title); }

    // Never null.
    const std::shared_ptr<NSView>& contentView() const noexcept { return contentView_; }
    void setContentView(std::shared_ptr<NSView> view);

protected:
    explicit NSWindow(std::string className);

private:
    std::string className_;
    std::u16string title_;
    std::shared_ptr<NSView> contentView_;
};

}  // namespace platform::appkit
