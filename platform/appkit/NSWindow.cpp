#include "platform/appkit/NSWindow.h"

namespace platform::appkit {

NSWindow::NSWindow(std::string className)
    : className_(std::move(className)), contentView_(std::make_shared<NSView>()) {}

NSWindow::~NSWindow() = default;

void NSWindow::setContentView(std::shared_ptr<NSView> view) {
    contentView_ = view ? std::move(view) : std::make_shared<NSView>();
}

}  // namespace platform::appkit
