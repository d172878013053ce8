#pragma once
// The application object of the headless AppKit model, and the user agent:
// the seam through which the sheets the application shows are answered.
//
// On the platform a person answers a sheet in the window system. Here a host
// installs a user agent, an object of its own that is told on the main
// thread when a sheet has begun and answers it through the sheet's user
// operations (NSAlert::pressButton, NSSavePanel::choose, a check box's
// performClick, ...), at once or later, always on the main thread.
// ScriptedUserAgent is one that follows a script and records what it saw.
//
// With no agent installed there is nobody to ask, and a sheet does not wait
// for ever: it ends as the system ends a sheet whose window goes away (an
// alert with return code 0, a panel cancelled), after one log line.
//
// The application is one per process (this is a shared library). Setting and
// reading the agent and the icon are thread-safe; everything else is for the
// main thread.

#include <memory>

#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSWindow.h"

namespace platform::appkit {

class NSAlert;
class NSSavePanel;

class PLATFORM_APPKIT_API NSUserAgent {
public:
    virtual ~NSUserAgent();

    // The window the user works in, which the application reports as its
    // key window. None by default.
    virtual std::shared_ptr<NSWindow> keyWindow();

    // An alert's sheet has begun (on alert->sheetParent(), which may be
    // none). Called on the main thread in a block of its own, after the
    // block that began the sheet. The agent ends the sheet through the
    // alert's user operations, now or later.
    virtual void alertSheetDidBegin(const std::shared_ptr<NSAlert>& alert) = 0;

    // The same for a save or open panel.
    virtual void panelSheetDidBegin(const std::shared_ptr<NSSavePanel>& panel) = 0;
};

class PLATFORM_APPKIT_API NSApplication {
public:
    // NSApp: the one application object.
    static NSApplication& sharedApplication();

    NSApplication(const NSApplication&) = delete;
    NSApplication& operator=(const NSApplication&) = delete;

    // The user agent's key window; none without an agent.
    std::shared_ptr<NSWindow> keyWindow() const;

    // The application's icon: a 128 by 128 image named "NSApplicationIcon"
    // unless the host sets another.
    std::shared_ptr<NSImage> applicationIconImage() const;
    void setApplicationIconImage(std::shared_ptr<NSImage> image);

    // Installs `agent` (null: none) for the sheets that begin from now on.
    void setUserAgent(std::shared_ptr<NSUserAgent> agent);
    std::shared_ptr<NSUserAgent> userAgent() const;

private:
    NSApplication();
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform::appkit
