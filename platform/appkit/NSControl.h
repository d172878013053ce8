#pragma once
// Controls of the headless AppKit model: buttons (check boxes among them),
// pop-up buttons and table views.
//
// Target and action: a control calls a member function of its target with
// itself as the sender. It holds the target weakly, as the platform does, so
// a control may be its own target. Used on the main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/NSView.h"

namespace platform::appkit {

using NSControlStateValue = long;
inline constexpr NSControlStateValue NSControlStateValueMixed = -1;
inline constexpr NSControlStateValue NSControlStateValueOff = 0;
inline constexpr NSControlStateValue NSControlStateValueOn = 1;

class PLATFORM_APPKIT_API NSControl : public NSView {
public:
    ~NSControl() override;

    // Sets the action: `action` of `target`, called with this control.
    template <class Target>
    void setTarget(const std::shared_ptr<Target>& target, void (Target::*action)(NSControl* sender)) {
        std::weak_ptr<Target> weak = target;
        action_ = [weak, action](NSControl* sender) {
            if (const std::shared_ptr<Target> strong = weak.lock()) ((*strong).*action)(sender);
        };
    }
    bool hasAction() const noexcept { return static_cast<bool>(action_); }
    // Calls the action; false when there is none or its target is gone.
    bool sendAction();

protected:
    NSControl(std::string className, NSRect frame) : NSView(std::move(className), frame) {}

private:
    std::function<void(NSControl*)> action_;
};

enum NSButtonType : unsigned long {
    NSButtonTypeMomentaryPushIn = 0,
    NSButtonTypePushOnPushOff = 1,
    NSButtonTypeToggle = 2,
    NSButtonTypeSwitch = 3,  // a check box
    NSButtonTypeRadio = 4,
    NSButtonTypeMomentaryChange = 5,
    NSButtonTypeOnOff = 6,
    NSButtonTypeMomentaryLight = 7,
};

class PLATFORM_APPKIT_API NSButton : public NSControl {
public:
    NSButton() : NSControl("NSButton", NSZeroRect) {}
    ~NSButton() override;

    const std::u16string& title() const noexcept { return title_; }
    void setTitle(std::u16string title) { title_ = std::move(title); }
    NSButtonType buttonType() const noexcept { return type_; }
    void setButtonType(NSButtonType type) noexcept { type_ = type; }
    NSControlStateValue state() const noexcept { return state_; }
    void setState(NSControlStateValue state) noexcept { state_ = state; }
    // The key that presses the button: "\r" for Return, "\x1b" for Escape.
    const std::u16string& keyEquivalent() const noexcept { return keyEquivalent_; }
    void setKeyEquivalent(std::u16string key) { keyEquivalent_ = std::move(key); }

    NSSize fittingSize() const override;
    void sizeToFit() { setFrameSize(fittingSize()); }

    // The user clicks the button: a check box, toggle or on-off button
    // changes its state between on and off; then the action is sent.
    void performClick();

private:
    std::u16string title_ = u"Button";
    NSButtonType type_ = NSButtonTypeMomentaryPushIn;
    NSControlStateValue state_ = NSControlStateValueOff;
    std::u16string keyEquivalent_;
};

class PLATFORM_APPKIT_API NSPopUpButton : public NSControl {
public:
    // initWithFrame:pullsDown:.
    NSPopUpButton(NSRect frame, bool pullsDown) : NSPopUpButton("NSPopUpButton", frame, pullsDown) {}
    ~NSPopUpButton() override;

    bool pullsDown() const noexcept { return pullsDown_; }
    // Adds an item last; the first item of a pop-up (not pull-down) list is
    // selected as it is added.
    void addItemWithTitle(std::u16string title);
    long numberOfItems() const noexcept { return static_cast<long>(items_.size()); }
    const std::vector<std::u16string>& itemTitles() const noexcept { return items_; }
    // Selects the item at `index`; an index outside the list selects nothing.
    void selectItemAtIndex(long index) noexcept;
    // -1 when nothing is selected.
    long indexOfSelectedItem() const noexcept { return selected_; }

    NSSize fittingSize() const override;
    void sizeToFit() { setFrameSize(fittingSize()); }

    // The user picks the item at `index`: it is selected and the action
    // sent. False, and nothing done, for an index outside the list.
    bool pickItem(long index);

protected:
    NSPopUpButton(std::string className, NSRect frame, bool pullsDown)
        : NSControl(std::move(className), frame), pullsDown_(pullsDown) {}

private:
    bool pullsDown_;
    std::vector<std::u16string> items_;
    long selected_ = -1;
};

class PLATFORM_APPKIT_API NSTableView : public NSControl {
public:
    NSTableView() : NSTableView("NSTableView") {}
    ~NSTableView() override;

    // Reloads the rows; here it counts the reloads.
    virtual void reloadData() { ++reloads_; }
    int reloadDataCount() const noexcept { return reloads_; }

protected:
    explicit NSTableView(std::string className) : NSControl(std::move(className), NSZeroRect) {}

private:
    int reloads_ = 0;
};

}  // namespace platform::appkit
