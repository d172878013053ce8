#include "platform/coreservices/LaunchServices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/File.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/UTF8.h"
#include "platform/freedesktop/BaseDirectories.h"
#include "platform/freedesktop/DesktopEntry.h"

namespace platform {
namespace {

constexpr std::string_view kGroup = "[Default Applications]";

bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// The scheme in lower case, or none when it is not a URL scheme.
std::optional<std::string> urlScheme(std::u16string_view scheme) {
    if (scheme.empty() || !isAsciiLetter(scheme.front())) return std::nullopt;
    std::string lower;
    for (const char16_t c : scheme) {
        const bool allowed = isAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
        if (!allowed) return std::nullopt;
        lower += static_cast<char>(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c);
    }
    return lower;
}

bool nameableId(std::string_view id) {
    if (id.empty()) return false;
    for (const char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '/' || c == ';') return false;
    }
    return true;
}

bool makeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

// The file's text; empty when it does not exist yet.
Result<std::string> readText(const std::string& path) {
    Result<std::string> text = readFile(path, kSmallFileLimit);
    if (!text && text.error().systemCode == ENOENT) return std::string();
    return text;
}

// The text of mimeapps.list with `key` set to `value` in its default group:
// every line of the key there is replaced; without one, the line is added
// after the last entry of the first such group, or a group is added at the
// end. Every other line stays as it was.
std::string withDefault(std::string_view text, const std::string& key, const std::string& value) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    bool newlineAtEnd = text.empty() || text.back() == '\n';
    const std::string entry = key + "=" + value;

    bool inGroup = false, inFirstGroup = false, replaced = false;
    std::optional<std::size_t> insertAt;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view trimmed = trim(lines[i], " \t\r");
        if (!trimmed.empty() && trimmed.front() == '[') {
            inGroup = trimmed == kGroup;
            inFirstGroup = inGroup && !insertAt;
            if (inFirstGroup) insertAt = i + 1;
            continue;
        }
        if (!inGroup || trimmed.empty() || trimmed.front() == '#') continue;
        if (inFirstGroup) insertAt = i + 1;
        const std::size_t equals = trimmed.find('=');
        if (equals != std::string_view::npos && lowerAscii(trim(trimmed.substr(0, equals), " \t\r")) == key) {
            lines[i] = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        if (!insertAt) {
            if (!lines.empty() && !trim(lines.back(), " \t\r").empty()) lines.emplace_back();
            lines.emplace_back(kGroup);
            insertAt = lines.size();
        }
        if (*insertAt == lines.size()) newlineAtEnd = true;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*insertAt), entry);
    }

    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += '\n';
        out += lines[i];
    }
    if (newlineAtEnd && !lines.empty()) out += '\n';
    return out;
}

}  // namespace

OSStatus LSSetDefaultHandlerForURLScheme(std::u16string_view inScheme, std::u16string_view handlerBundleID) noexcept {
    try {
        const std::optional<std::string> scheme = urlScheme(inScheme);
        const std::string id = utf16ToUTF8(handlerBundleID);
        if (!scheme || !nameableId(id)) return paramErr;
        if (!freedesktop::findDesktopEntry(id)) return kLSApplicationNotFoundErr;
        const std::optional<std::string> folder = freedesktop::configHome();
        if (!folder) {
            NSLog("LSSetDefaultHandlerForURLScheme: no home folder for mimeapps.list");
            return kLSUnknownErr;
        }
        std::string path = *folder + "/mimeapps.list";
        // A link (to a shared configuration, say) stays a link: its target is replaced.
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            path = real;
            std::free(real);
        }
        const Result<std::string> text = readText(path);
        if (!text) {
            NSLog("LSSetDefaultHandlerForURLScheme: %@", text.error().description);
            return kLSUnknownErr;
        }
        if (!makeFolders(*folder)) {
            NSLog("LSSetDefaultHandlerForURLScheme: %@", systemError("make", *folder, errno).description);
            return kLSUnknownErr;
        }
        const Status written =
            writeFileAtomically(path, withDefault(text.value(), "x-scheme-handler/" + *scheme, id + ".desktop;"));
        if (!written) {
            NSLog("LSSetDefaultHandlerForURLScheme: %@", written.error().description);
            return kLSUnknownErr;
        }
        return noErr;
    } catch (const std::exception& e) {
        NSLog("LSSetDefaultHandlerForURLScheme: %@", e.what());
        return kLSUnknownErr;
    }
}

}  // namespace platform
