#pragma once
// Alerts of the headless AppKit model.
//
// An alert shown as a sheet stays open until its user agent (NSApplication.h)
// ends it: a button pressed, a key that is a button's key equivalent, or the
// system ending it. Then the modal delegate's end handler runs with the
// return code: NSAlertFirstButtonReturn (1000) for the first button added,
// 1001 for the second, and so on, or the code the system ended it with.
//
// Ownership: the sheet holds the alert and its modal delegate weakly, as the
// platform does not retain them; whoever shows an alert keeps it (and the
// delegate) alive until the end handler has run. An alert that goes away
// with its sheet open takes the sheet with it, and no end handler runs.
// Alerts are made with std::make_shared. Used on the main thread only.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/appkit/NSControl.h"
#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSWindow.h"

namespace platform::appkit {

enum NSAlertStyle : unsigned long {
    NSAlertStyleWarning = 0,
    NSAlertStyleInformational = 1,
    NSAlertStyleCritical = 2,
};

class PLATFORM_APPKIT_API NSAlert : public std::enable_shared_from_this<NSAlert> {
public:
    NSAlert() : NSAlert("NSAlert") {}
    virtual ~NSAlert();
    NSAlert(const NSAlert&) = delete;
    NSAlert& operator=(const NSAlert&) = delete;

    // The name the run-time reports for the object's class.
    const std::string& className() const noexcept { return className_; }

    // Adds a button last. As on the platform, the first button added answers
    // Return ("\r") and a button titled "Cancel" answers Escape ("\x1b").
    std::shared_ptr<NSButton> addButtonWithTitle(std::u16string title);
    const std::vector<std::shared_ptr<NSButton>>& buttons() const noexcept { return buttons_; }

    // "Alert" until set.
    const std::u16string& messageText() const noexcept { return messageText_; }
    void setMessageText(std::u16string text) { messageText_ = std::move(text); }
    // Empty until set.
    const std::u16string& informativeText() const noexcept { return informativeText_; }
    void setInformativeText(std::u16string text) { informativeText_ = std::move(text); }

    bool showsSuppressionButton() const noexcept { return showsSuppressionButton_; }
    void setShowsSuppressionButton(bool shows) noexcept { showsSuppressionButton_ = shows; }
    // A check box titled "Do not show this message again", made on first use
    // whether it is shown or not.
    const std::shared_ptr<NSButton>& suppressionButton();

    // The icon set; none (the platform's default icon, the application's) until set.
    const std::shared_ptr<NSImage>& icon() const noexcept { return icon_; }
    void setIcon(std::shared_ptr<NSImage> icon) { icon_ = std::move(icon); }

    NSAlertStyle alertStyle() const noexcept { return style_; }
    void setAlertStyle(NSAlertStyle style) noexcept { style_ = style; }

    // beginSheetModalForWindow:modalDelegate:didEndSelector:contextInfo:.
    // Begins the sheet on `window` (none: the alert stands alone) and
    // returns at once; when the sheet ends, `didEnd` of `modalDelegate` runs
    // with this alert, the return code and `contextInfo`. An alert with no
    // button gets an "OK" button, as on the platform. Throws
    // std::logic_error when a sheet of this alert is already open or the
    // alert is not owned by a std::shared_ptr.
    template <class Delegate>
    void beginSheetModalForWindow(const std::shared_ptr<NSWindow>& window,
                                  const std::shared_ptr<Delegate>& modalDelegate,
                                  void (Delegate::*didEnd)(NSAlert* alert, NSModalResponse returnCode,
                                                           void* contextInfo),
                                  void* contextInfo) {
        std::weak_ptr<Delegate> weak = modalDelegate;
        beginSheet(window, [weak, didEnd, contextInfo](NSAlert* alert, NSModalResponse returnCode) {
            if (const std::shared_ptr<Delegate> delegate = weak.lock()) {
                ((*delegate).*didEnd)(alert, returnCode, contextInfo);
            }
        });
    }

    bool isSheetOpen() const noexcept { return sheetOpen_; }
    // The window the open sheet was begun on; none when it stands alone.
    std::shared_ptr<NSWindow> sheetParent() const { return sheetParent_.lock(); }

    // The user's operations, for user agents, while the sheet is open.
    // Presses button `index` (0 for the first): the sheet ends with
    // NSAlertFirstButtonReturn + index. False, nothing done, for no such button.
    bool pressButton(std::size_t index);
    // Presses the first button whose key equivalent is `key`; false, nothing
    // done, when no button has it.
    bool pressKey(std::u16string_view key);
    // Ends the sheet with `returnCode`, as the system does when it closes a
    // sheet by itself (0). No effect when no sheet is open.
    void endSheet(NSModalResponse returnCode);

protected:
    explicit NSAlert(std::string className) : className_(std::move(className)) {}

private:
    using EndHandler = std::function<void(NSAlert*, NSModalResponse)>;
    void beginSheet(const std::shared_ptr<NSWindow>& window, EndHandler didEnd);

    std::string className_;
    std::vector<std::shared_ptr<NSButton>> buttons_;
    std::u16string messageText_ = u"Alert";
    std::u16string informativeText_;
    bool showsSuppressionButton_ = false;
    std::shared_ptr<NSButton> suppressionButton_;
    std::shared_ptr<NSImage> icon_;
    NSAlertStyle style_ = NSAlertStyleWarning;
    bool sheetOpen_ = false;
    std::weak_ptr<NSWindow> sheetParent_;
    EndHandler didEnd_;
};

}  // namespace platform::appkit
