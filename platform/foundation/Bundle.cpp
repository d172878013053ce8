#include "platform/foundation/Bundle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/foundation/File.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/internal/StringsTable.h"
#include "platform/foundation/UTF8.h"

namespace platform {
namespace {

// The resource folders of a bundle, in the order they are searched.
constexpr std::string_view kResourceFolders[] = {"/Contents/Resources/", "/Resources/", "/"};

bool isSafeName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

}  // namespace

struct NSBundle::Table {
    std::once_flag once;
    StringsTable entries;
};

NSBundle::NSBundle(std::string path) : path_(std::move(path)) {}

NSBundle::~NSBundle() = default;

std::shared_ptr<NSBundle> NSBundle::bundleWithPath(std::string_view path) {
    if (path.empty() || path.find('\0') != std::string_view::npos) return nullptr;
    std::error_code error;
    std::string folder = std::filesystem::canonical(std::filesystem::path(path), error).string();
    if (error || !std::filesystem::is_directory(folder, error)) return nullptr;

    // Bundles live as long as the process, as on the platform; there is one
    // per folder a caller ever named.
    static std::mutex lock;
    static std::unordered_map<std::string, std::shared_ptr<NSBundle>> bundles;
    const std::lock_guard<std::mutex> hold(lock);
    std::shared_ptr<NSBundle>& bundle = bundles[folder];
    if (!bundle) bundle.reset(new NSBundle(std::move(folder)));
    return bundle;
}

std::optional<std::string> NSBundle::pathForResource(std::string_view name, std::string_view type) const {
    if (!isSafeName(name) || type.find('/') != std::string_view::npos || type.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string file(name);
    if (!type.empty()) {
        file += '.';
        file += type;
    }
    for (const std::string_view folder : kResourceFolders) {
        std::string candidate = path_;
        if (candidate == "/") candidate.clear();
        candidate += folder;
        candidate += file;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0) return candidate;
    }
    return std::nullopt;
}

const NSBundle::Table& NSBundle::table(const std::string& name) const {
    std::shared_ptr<Table> table;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        std::shared_ptr<Table>& slot = tables_[name];
        if (!slot) slot = std::make_shared<Table>();
        table = slot;
    }
    // Parsed by the first caller; the others wait for it, then read freely.
    std::call_once(table->once, [&] {
        const std::optional<std::string> path = pathForResource(name, "strings");
        if (!path) return;
        Result<std::string> bytes = readFile(*path, kSmallFileLimit);
        Result<StringsTable> entries = bytes ? parseStringsTable(bytes.value()) : Result<StringsTable>(bytes.error());
        if (entries) {
            table->entries = std::move(entries).value();
        } else {
            NSLog("Could not read the strings table %@: %@; it is treated as empty", *path,
                  entries.error().description);
        }
    });
    return *table;  // tables_ keeps it alive as long as this bundle
}

std::u16string NSBundle::localizedStringForKey(std::u16string_view key, std::optional<std::u16string_view> value,
                                               std::optional<std::u16string_view> table) const {
    const std::string name = table && !table->empty() ? utf16ToUTF8(*table) : std::string("Localizable");
    const Table& entries = this->table(name);
    if (const auto found = entries.entries.find(std::u16string(key)); found != entries.entries.end()) {
        return found->second;
    }
    if (value && !value->empty()) return std::u16string(*value);
    return std::u16string(key);
}

}  // namespace platform
