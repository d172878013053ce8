#include "platform/freedesktop/DesktopEntry.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "platform/foundation/File.h"
#include "platform/foundation/Text.h"
#include "platform/freedesktop/BaseDirectories.h"

namespace platform::freedesktop {
namespace {

constexpr std::string_view kSuffix = ".desktop";

// The escapes of a string value: \s \n \t \r \\.
std::string unescape(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's': out += ' '; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case '\\': out += '\\'; break;
            default: out += '\\'; out += value[i];
        }
    }
    return out;
}

struct Parsed {
    DesktopEntry entry;
    bool hidden = false;
    std::string type;
};

std::optional<Parsed> readEntry(const std::string& path, std::string id) {
    const Result<std::string> bytes = readFile(path, kSmallFileLimit);
    if (!bytes) return std::nullopt;
    Parsed parsed;
    parsed.entry.id = std::move(id);
    parsed.entry.path = path;
    bool inGroup = false, sawGroup = false;
    const std::string_view content = bytes.value();
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        const std::string_view text = trim(content.substr(start, end - start), " \t\r");
        start = end + 1;
        if (text.empty() || text.front() == '#') continue;
        if (text.front() == '[') {
            inGroup = text == "[Desktop Entry]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup) continue;
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = trim(text.substr(0, equals), " \t\r");
        const std::string value = unescape(trim(text.substr(equals + 1), " \t\r"));
        if (key == "Name") parsed.entry.name = value;
        else if (key == "Exec") parsed.entry.exec = value;
        else if (key == "Type") parsed.type = value;
        else if (key == "Hidden") parsed.hidden = value == "true";
    }
    if (!sawGroup) return std::nullopt;
    return parsed;
}

bool nameableId(std::string_view id) {
    return !id.empty() && id.find('/') == std::string_view::npos && id.find('\0') == std::string_view::npos &&
           id != "." && id != "..";
}

std::vector<std::string> idsIn(const std::string& folder) {
    std::vector<std::string> ids;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return ids;
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name = item->d_name;
        if (name.size() > kSuffix.size() && name.ends_with(kSuffix)) {
            ids.emplace_back(name.substr(0, name.size() - kSuffix.size()));
        }
    }
    ::closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

}  // namespace

std::optional<DesktopEntry> findDesktopEntry(std::string_view id) {
    if (!nameableId(id)) return std::nullopt;
    for (const std::string& folder : applicationFolders()) {
        const std::string path = folder + "/" + std::string(id) + std::string(kSuffix);
        if (struct stat info {}; ::stat(path.c_str(), &info) != 0) continue;
        std::optional<Parsed> parsed = readEntry(path, std::string(id));
        if (!parsed || parsed->hidden) return std::nullopt;
        return std::move(parsed->entry);
    }
    return std::nullopt;
}

std::vector<DesktopEntry> applicationEntries() {
    std::vector<DesktopEntry> entries;
    std::set<std::string> seen;
    for (const std::string& folder : applicationFolders()) {
        for (std::string& id : idsIn(folder)) {
            if (!seen.insert(id).second) continue;
            std::optional<Parsed> parsed = readEntry(folder + "/" + id + std::string(kSuffix), id);
            if (parsed && !parsed->hidden && parsed->type == "Application") entries.push_back(std::move(parsed->entry));
        }
    }
    return entries;
}

std::string execProgram(std::string_view exec) {
    exec = trim(exec, " \t\r");
    std::string program;
    if (exec.empty() || exec.front() != '"') {
        return std::string(exec.substr(0, exec.find_first_of(" \t")));
    }
    for (std::size_t i = 1; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '"') break;
        if (c == '\\' && i + 1 < exec.size() && std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
            program += exec[++i];
        } else {
            program += c;
        }
    }
    return program;
}

}  // namespace platform::freedesktop
