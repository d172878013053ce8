#pragma once
// Images of the headless AppKit model.
//
// An image made from data only knows what its data is: the format (PNG,
// JPEG, GIF or TIFF, read from the data's own headers) and its size in
// pixels, taken as points. Data in any other format, or too short to hold a
// size, gives no image, as the platform's initWithData: does. Images are
// immutable and may be shared between threads.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/appkit/NSView.h"

namespace platform::appkit {

inline constexpr std::string_view NSImageNameApplicationIcon = "NSApplicationIcon";

class PLATFORM_APPKIT_API NSImage {
public:
    // initWithData:. None when the data is not an image of a known format.
    static std::shared_ptr<NSImage> imageWithData(std::span<const std::uint8_t> data);
    // An image of `size` with a name, as the application's icon is.
    static std::shared_ptr<NSImage> namedImage(std::string name, NSSize size);

    ~NSImage();

    NSSize size() const noexcept { return size_; }
    // "png", "jpeg", "gif" or "tiff" for an image from data; empty otherwise.
    const std::string& type() const noexcept { return type_; }
    // The image's name; empty for an image from data.
    const std::string& name() const noexcept { return name_; }

private:
    NSImage(std::string type, std::string name, NSSize size)
        : type_(std::move(type)), name_(std::move(name)), size_(size) {}

    std::string type_;
    std::string name_;
    NSSize size_;
};

}  // namespace platform::appkit
