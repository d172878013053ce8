#pragma once
// Bundles (NSBundle): a folder on disk with resources and string tables.
//
// A bundle is looked up by its folder's path and shared: every
// bundleWithPath of the same folder gives the same object, which lives until
// the process ends, so that each of its string tables is read and parsed at
// most once. Resources are found in "Contents/Resources/", then
// "Resources/", then the folder itself, as the platform's bundles are laid
// out; a language folder ("fr.lproj") is a bundle of its own whose tables
// sit in it directly. A table is the file "<table>.strings" (see
// StringsTable.h for the formats); the default table is "Localizable".
//
// A table that cannot be read or parsed is logged once (NSLog) and then
// behaves as an empty table; a missing table is empty without a word.
// Bundles are immutable apart from their table cache, and every operation is
// safe to call from several threads at once. Nothing here throws except
// std::bad_alloc.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace platform {

class NSBundle {
public:
    // The bundle of the folder at `path` (absolute, or relative to the
    // working directory); none when the path names no folder or holds a NUL.
    static std::shared_ptr<NSBundle> bundleWithPath(std::string_view path);

    // The folder's path, with symbolic links resolved.
    const std::string& bundlePath() const noexcept { return path_; }

    // The path of the resource "<name>.<type>" ("<name>" for an empty type),
    // looked for in the resource folders in order; none when it is in none
    // of them, or when the name is empty, ".", "..", or holds a "/" or NUL
    // (a resource name never reaches outside the bundle).
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type) const;

    // The text of `key` in `table` (none or empty: "Localizable"). A key the
    // table does not hold, or a missing table, gives `value`; with `value`
    // none or empty it gives the key itself, as the platform does.
    std::u16string localizedStringForKey(std::u16string_view key, std::optional<std::u16string_view> value,
                                         std::optional<std::u16string_view> table) const;

    NSBundle(const NSBundle&) = delete;
    NSBundle& operator=(const NSBundle&) = delete;
    ~NSBundle();

private:
    struct Table;
    explicit NSBundle(std::string path);
    const Table& table(const std::string& name) const;

    std::string path_;
    mutable std::mutex lock_;  // guards tables_, not the tables
    mutable std::unordered_map<std::string, std::shared_ptr<Table>> tables_;
};

}  // namespace platform
