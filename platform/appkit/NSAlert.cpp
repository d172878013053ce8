#include "platform/appkit/NSAlert.h"

#include <stdexcept>

#include "platform/appkit/internal/Sheets.h"
#include "platform/foundation/UTF8.h"

namespace platform::appkit {

NSAlert::~NSAlert() = default;

std::shared_ptr<NSButton> NSAlert::addButtonWithTitle(std::u16string title) {
    auto button = std::make_shared<NSButton>();
    if (buttons_.empty()) {
        button->setKeyEquivalent(u"\r");
    } else if (title == u"Cancel") {
        button->setKeyEquivalent(u"\x1b");
    }
    button->setTitle(std::move(title));
    buttons_.push_back(button);
    return button;
}

const std::shared_ptr<NSButton>& NSAlert::suppressionButton() {
    if (!suppressionButton_) {
        suppressionButton_ = std::make_shared<NSButton>();
        suppressionButton_->setButtonType(NSButtonTypeSwitch);
        suppressionButton_->setTitle(u"Do not show this message again");
    }
    return suppressionButton_;
}

void NSAlert::beginSheet(const std::shared_ptr<NSWindow>& window, EndHandler didEnd) {
    const std::weak_ptr<NSAlert> self = weak_from_this();
    if (self.expired()) throw std::logic_error("an alert shows as a sheet only when a std::shared_ptr owns it");
    if (sheetOpen_) throw std::logic_error("the alert's sheet is already open");
    if (buttons_.empty()) addButtonWithTitle(u"OK");
    sheetOpen_ = true;
    sheetParent_ = window;
    didEnd_ = std::move(didEnd);
    detail::presentSheet(
        [self](NSUserAgent& agent) {
            const std::shared_ptr<NSAlert> alert = self.lock();
            if (alert && alert->isSheetOpen()) agent.alertSheetDidBegin(alert);
        },
        [self] {
            if (const std::shared_ptr<NSAlert> alert = self.lock()) alert->endSheet(0);
        },
        "the system ends the alert \"" + utf16ToUTF8(messageText_) + "\" with return code 0");
}

bool NSAlert::pressButton(std::size_t index) {
    if (!sheetOpen_ || index >= buttons_.size()) return false;
    endSheet(NSAlertFirstButtonReturn + static_cast<NSModalResponse>(index));
    return true;
}

bool NSAlert::pressKey(std::u16string_view key) {
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        if (buttons_[i]->keyEquivalent() == key) return pressButton(i);
    }
    return false;
}

void NSAlert::endSheet(NSModalResponse returnCode) {
    if (!sheetOpen_) return;
    // Whoever keeps the alert may let it go in the end handler.
    const std::shared_ptr<NSAlert> keep = shared_from_this();
    sheetOpen_ = false;
    sheetParent_.reset();
    const EndHandler didEnd = std::move(didEnd_);
    didEnd_ = nullptr;
    if (didEnd) didEnd(this, returnCode);
}

}  // namespace platform::appkit
