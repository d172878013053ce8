// The AppKit model's own logic where it reads data: image headers and visual formats.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/appkit/NSImage.h"
#include "platform/appkit/NSView.h"

namespace {

using namespace platform::appkit;

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(NSImage, KnowsTheFormatAndSizeFromTheHeadersAndRefusesEverythingElse) {
    using namespace std::string_view_literals;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> data;
        std::string type;  // empty: no image
        NSSize size;
    };
    const Case cases[] = {
        {"PNG", bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x01\x00\0\0\0\x20"sv), "png", {256, 32}},
        {"GIF", bytes("GIF89a\x10\x00\x08\x00"sv), "gif", {16, 8}},
        // A start-of-image, an APP0 segment to skip, fill bytes, then a baseline start-of-frame.
        {"JPEG", bytes("\xFF\xD8\xFF\xE0\x00\x04JF\xFF\xFF\xC0\x00\x0B\x08\x00\x02\x00\x03\x01\x01\x11\x00"sv), "jpeg",
         {3, 2}},
        {"TIFF, little-endian", bytes("II*\0\x08\0\0\0\x02\0\x00\x01\x03\0\x01\0\0\0\x05\0\0\0"
                                      "\x01\x01\x04\0\x01\0\0\0\x07\0\0\0"sv), "tiff", {5, 7}},
        {"TIFF, big-endian", bytes("MM\0*\0\0\0\x08\0\x02\x01\x00\0\x03\0\0\0\x01\0\x05\0\0"
                                   "\x01\x01\0\x04\0\0\0\x01\0\0\0\x07"sv), "tiff", {5, 7}},
        {"PNG cut short", bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0"sv), "", {}},
        {"GIF of no pixels", bytes("GIF87a\0\0\x08\0"sv), "", {}},
        {"JPEG with no frame", bytes("\xFF\xD8\xFF\xDA\x00\x02"sv), "", {}},
        {"TIFF whose directory is past the end", bytes("II*\0\xFF\0\0\0"sv), "", {}},
        {"text", bytes("not an image"), "", {}},
        {"nothing", {}, "", {}},
    };
    for (const Case& c : cases) {
        const std::shared_ptr<NSImage> image = NSImage::imageWithData(c.data);
        if (c.type.empty()) {
            EXPECT_EQ(image, nullptr) << c.what;
            continue;
        }
        ASSERT_NE(image, nullptr) << c.what;
        EXPECT_EQ(image->type(), c.type) << c.what;
        EXPECT_EQ(image->size(), c.size) << c.what;
    }
}

TEST(NSLayoutConstraint, VisualFormatsNamingUnknownOrUnplacedViewsAreRefused) {
    const auto container = std::make_shared<NSView>();
    const auto placed = std::make_shared<NSView>();
    container->addSubview(placed);
    const auto loose = std::make_shared<NSView>();
    const NSLayoutConstraint::Views views{{"placed", placed}, {"loose", loose}};

    const auto kept = NSLayoutConstraint::constraintsWithVisualFormat("H:|-10-[placed(>=40)]->=0-|",
                                                                      NSLayoutFormatAlignAllLastBaseline, nullptr, views);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0]->visualFormat(), "H:|-10-[placed(>=40)]->=0-|");
    EXPECT_EQ(kept[0]->options(), 0x800u);
    ASSERT_EQ(kept[0]->views().size(), 1u);
    EXPECT_EQ(kept[0]->views().at("placed").lock(), placed);

    for (const char* format : {"V:|-10-[missing]-10-|", "[placed]-[loose]-|", "H:|-[placed", "H:|-[]-|", "V:|-10-|"}) {
        EXPECT_THROW(NSLayoutConstraint::constraintsWithVisualFormat(format, 0, nullptr, views),
                     NSInvalidArgumentException)
            << format;
    }
}

}  // namespace
