#include "platform/appkit/NSImage.h"

#include <cstring>
#include <optional>

namespace platform::appkit {
namespace {

using Bytes = std::span<const std::uint8_t>;

struct Header {
    std::string type;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

std::uint32_t be16(Bytes d, std::size_t i) { return static_cast<std::uint32_t>(d[i] << 8 | d[i + 1]); }
std::uint32_t le16(Bytes d, std::size_t i) { return static_cast<std::uint32_t>(d[i] | d[i + 1] << 8); }
std::uint32_t be32(Bytes d, std::size_t i) { return be16(d, i) << 16 | be16(d, i + 2); }
std::uint32_t le32(Bytes d, std::size_t i) { return le16(d, i) | le16(d, i + 2) << 16; }

bool startsWith(Bytes d, std::string_view magic) {
    return d.size() >= magic.size() && std::memcmp(d.data(), magic.data(), magic.size()) == 0;
}

// The signature, then the IHDR chunk, which comes first: width and height.
std::optional<Header> png(Bytes d) {
    if (!startsWith(d, "\x89PNG\r\n\x1a\n") || d.size() < 24 || std::memcmp(d.data() + 12, "IHDR", 4) != 0) {
        return std::nullopt;
    }
    return Header{"png", be32(d, 16), be32(d, 20)};
}

// The signature, then the logical screen's width and height.
std::optional<Header> gif(Bytes d) {
    if ((!startsWith(d, "GIF87a") && !startsWith(d, "GIF89a")) || d.size() < 10) return std::nullopt;
    return Header{"gif", le16(d, 6), le16(d, 8)};
}

// Segments up to the first start-of-frame, whose header holds the size.
std::optional<Header> jpeg(Bytes d) {
    if (!startsWith(d, "\xFF\xD8")) return std::nullopt;
    std::size_t i = 2;
    while (i < d.size()) {
        if (d[i] != 0xFF) return std::nullopt;
        while (i < d.size() && d[i] == 0xFF) ++i;  // fill bytes
        if (i >= d.size()) return std::nullopt;
        const std::uint8_t marker = d[i++];
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length
        if (marker == 0xD9 || marker == 0xDA || i + 2 > d.size()) return std::nullopt;
        const std::uint32_t length = be16(d, i);
        if (length < 2) return std::nullopt;
        const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                                  marker != 0xCC;
        if (startOfFrame) {
            if (length < 7 || i + 7 > d.size()) return std::nullopt;
            return Header{"jpeg", be16(d, i + 5), be16(d, i + 3)};
        }
        i += length;
    }
    return std::nullopt;
}

// The byte order, the first directory, and its ImageWidth and ImageLength entries.
std::optional<Header> tiff(Bytes d) {
    const bool little = startsWith(d, std::string_view("II*\0", 4));
    if (!little && !startsWith(d, std::string_view("MM\0*", 4))) return std::nullopt;
    if (d.size() < 8) return std::nullopt;
    const auto u16 = [&](std::size_t i) { return little ? le16(d, i) : be16(d, i); };
    const auto u32 = [&](std::size_t i) { return little ? le32(d, i) : be32(d, i); };
    const std::size_t directory = u32(4);
    if (directory > d.size() || d.size() - directory < 2) return std::nullopt;
    const std::size_t count = u16(directory);
    Header header{"tiff", 0, 0};
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t entry = directory + 2 + 12 * k;
        if (entry + 12 > d.size()) return std::nullopt;
        const std::uint32_t tag = u16(entry);
        const std::uint32_t type = u16(entry + 2);
        if (tag != 256 && tag != 257) continue;
        std::uint32_t value = 0;
        if (type == 3) {
            value = u16(entry + 8);
        } else if (type == 4) {
            value = u32(entry + 8);
        } else {
            return std::nullopt;
        }
        (tag == 256 ? header.width : header.height) = value;
    }
    return header;
}

}  // namespace

std::shared_ptr<NSImage> NSImage::imageWithData(std::span<const std::uint8_t> data) {
    std::optional<Header> header = png(data);
    if (!header) header = gif(data);
    if (!header) header = jpeg(data);
    if (!header) header = tiff(data);
    if (!header || header->width == 0 || header->height == 0) return nullptr;
    return std::shared_ptr<NSImage>(new NSImage(std::move(header->type), std::string(),
                                                NSSize{static_cast<double>(header->width),
                                                       static_cast<double>(header->height)}));
}

std::shared_ptr<NSImage> NSImage::namedImage(std::string name, NSSize size) {
    return std::shared_ptr<NSImage>(new NSImage(std::string(), std::move(name), size));
}

NSImage::~NSImage() = default;

}  // namespace platform::appkit
