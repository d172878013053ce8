#include "platform/appkit/NSControl.h"

#include <algorithm>

namespace platform::appkit {
namespace {

// A rough width of a text of `units` UTF-16 code units in the system font.
double textWidth(std::size_t units) { return 7.0 * static_cast<double>(units); }

}  // namespace

NSControl::~NSControl() = default;

bool NSControl::sendAction() {
    if (!action_) return false;
    // A copy, so that an action that replaces the control's action runs to its end.
    const auto action = action_;
    action(this);
    return true;
}

NSButton::~NSButton() = default;

NSSize NSButton::fittingSize() const {
    if (type_ == NSButtonTypeSwitch || type_ == NSButtonTypeRadio) return {22 + textWidth(title_.size()), 18};
    return {std::max(80.0, 28 + textWidth(title_.size())), 32};
}

void NSButton::performClick() {
    if (type_ == NSButtonTypeSwitch || type_ == NSButtonTypeRadio || type_ == NSButtonTypeToggle ||
        type_ == NSButtonTypePushOnPushOff || type_ == NSButtonTypeOnOff) {
        state_ = (type_ == NSButtonTypeRadio || state_ != NSControlStateValueOn) ? NSControlStateValueOn
                                                                                  : NSControlStateValueOff;
    }
    sendAction();
}

NSPopUpButton::~NSPopUpButton() = default;

void NSPopUpButton::addItemWithTitle(std::u16string title) {
    items_.push_back(std::move(title));
    if (!pullsDown_ && items_.size() == 1) selected_ = 0;
}

void NSPopUpButton::selectItemAtIndex(long index) noexcept {
    selected_ = (index >= 0 && index < numberOfItems()) ? index : -1;
}

NSSize NSPopUpButton::fittingSize() const {
    std::size_t longest = 0;
    for (const auto& item : items_) longest = std::max(longest, item.size());
    return {40 + textWidth(longest), 25};
}

bool NSPopUpButton::pickItem(long index) {
    if (index < 0 || index >= numberOfItems()) return false;
    selectItemAtIndex(index);
    sendAction();
    return true;
}

NSTableView::~NSTableView() = default;

}  // namespace platform::appkit
