#include "platform/foundation/PathComponents.h"

namespace platform {
namespace {

// `path` without trailing slashes, keeping a lone "/".
std::u16string_view trimmed(std::u16string_view path) {
    while (path.size() > 1 && path.back() == u'/') path.remove_suffix(1);
    return path;
}

// Where the last component's extension dot is, or npos.
std::size_t extensionDot(std::u16string_view path) {
    const std::size_t slash = path.rfind(u'/');
    const std::size_t start = slash == std::u16string_view::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind(u'.');
    if (dot == std::u16string_view::npos || dot <= start) return std::u16string_view::npos;
    return dot;
}

}  // namespace

std::u16string lastPathComponent(std::u16string_view path) {
    path = trimmed(path);
    if (path == u"/") return u"/";
    const std::size_t slash = path.rfind(u'/');
    return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

std::u16string pathExtension(std::u16string_view path) {
    path = trimmed(path);
    const std::size_t dot = extensionDot(path);
    return dot == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(dot + 1));
}

std::u16string stringByDeletingPathExtension(std::u16string_view path) {
    path = trimmed(path);
    const std::size_t dot = extensionDot(path);
    return std::u16string(dot == std::u16string_view::npos ? path : path.substr(0, dot));
}

}  // namespace platform
