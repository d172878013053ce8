#include "platform/appkit/NSSavePanel.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/appkit/internal/Sheets.h"
#include "platform/foundation/PathComponents.h"
#include "platform/foundation/UTF8.h"

namespace platform::appkit {
namespace {

namespace fs = std::filesystem;

// A view of one of the panel's own classes.
class PanelView : public NSView {
public:
    explicit PanelView(std::string className) : NSView(std::move(className), NSZeroRect) {}
};

class FileListView : public NSTableView {
public:
    FileListView() : NSTableView("FI_TListView") {}
};

char16_t lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool equalIgnoringASCIICase(std::u16string_view a, std::u16string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

bool isDirectory(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

}  // namespace

NSOpenSavePanelDelegate::~NSOpenSavePanelDelegate() = default;

bool NSOpenSavePanelDelegate::panelShouldEnableURL(NSSavePanel&, const platform::URL&) { return true; }

NSSavePanel::NSSavePanel(std::string className)
    : NSWindow(std::move(className)), fileList_(std::make_shared<FileListView>()) {
    // The browser's views as the platform nests them: the list sits in a
    // clip view in a scroll view, after the panel's top bar.
    const auto topBar = std::make_shared<PanelView>("NSView");
    topBar->addSubview(std::make_shared<NSButton>());
    const auto scroll = std::make_shared<PanelView>("NSScrollView");
    const auto clip = std::make_shared<PanelView>("NSClipView");
    clip->addSubview(fileList_);
    scroll->addSubview(clip);
    contentView()->addSubview(topBar);
    contentView()->addSubview(scroll);
}

NSSavePanel::~NSSavePanel() = default;

std::optional<platform::URL> NSSavePanel::URL() const {
    if (chosen_.empty()) return std::nullopt;
    return chosen_.front();
}

void NSSavePanel::beginSheetModalForWindow(const std::shared_ptr<NSWindow>& window,
                                           std::function<void(NSModalResponse)> completionHandler) {
    const std::shared_ptr<NSWindow> self = weak_from_this().lock();
    if (!self) throw std::logic_error("a panel shows as a sheet only when a std::shared_ptr owns it");
    if (handler_) throw std::logic_error("the panel's sheet is already open");
    const auto panel = std::static_pointer_cast<NSSavePanel>(self);
    chosen_.clear();
    handler_ = completionHandler ? std::move(completionHandler) : [](NSModalResponse) {};
    sheetParent_ = window;
    keepAlive_ = self;
    std::string title = className();
    if (message_) title += " \"" + utf16ToUTF8(*message_) + "\"";
    detail::presentSheet(
        [panel](NSUserAgent& agent) {
            if (panel->isSheetOpen()) agent.panelSheetDidBegin(panel);
        },
        [panel] { panel->endSheet(NSModalResponseCancel); }, "the system cancels the " + title);
}

bool NSSavePanel::typeAllowed(const std::string& name) const {
    if (!allowedTypes_) return true;
    const std::u16string extension = pathExtension(utf8ToUTF16(decodeUTF8Lossy(name)));
    if (extension.empty()) return false;
    return std::any_of(allowedTypes_->begin(), allowedTypes_->end(),
                       [&](const std::u16string& type) { return equalIgnoringASCIICase(type, extension); });
}

bool NSSavePanel::enables(const platform::URL& url) {
    if (const std::shared_ptr<NSOpenSavePanelDelegate> d = delegate(); d && !d->panelShouldEnableURL(*this, url)) {
        return false;
    }
    const std::string path = url.path();
    if (isDirectory(path)) return true;
    return enablesFiles() && typeAllowed(fs::path(path).filename().string());
}

std::vector<std::string> NSSavePanel::enabledItemNames() {
    std::vector<std::string> names;
    if (!directoryURL_) return names;
    std::error_code error;
    for (fs::directory_iterator it(directoryURL_->path(), error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.starts_with('.') && !showsHiddenFiles_) continue;
        if (!enables(platform::URL::fileURLWithPath(it->path().string()))) continue;
        if (isDirectory(it->path().string())) name += '/';
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool NSSavePanel::choose(const std::vector<platform::URL>& urls) {
    if (!isSheetOpen() || urls.size() != 1) return false;
    const std::string path = urls.front().path();
    const fs::path location(path);
    const std::string name = location.filename().string();
    if (name.empty() || isDirectory(path) || !isDirectory(location.parent_path().string()) || !typeAllowed(name)) {
        return false;
    }
    nameField_ = utf8ToUTF16(decodeUTF8Lossy(name));
    chosen_ = urls;
    endSheet(NSModalResponseOK);
    return true;
}

void NSSavePanel::endSheet(NSModalResponse response) {
    if (!handler_) return;
    // The handler may hold the last owner of the panel: keep it to the end.
    const std::shared_ptr<NSWindow> keep = std::move(keepAlive_);
    keepAlive_ = nullptr;
    const std::function<void(NSModalResponse)> handler = std::move(handler_);
    handler_ = nullptr;
    sheetParent_.reset();
    if (response == NSModalResponseCancel) chosen_.clear();
    handler(response);
}

NSOpenPanel::NSOpenPanel(std::string className) : NSSavePanel(std::move(className)) {
    setCanCreateDirectories(false);
}

NSOpenPanel::~NSOpenPanel() = default;

bool NSOpenPanel::choose(const std::vector<platform::URL>& urls) {
    if (!isSheetOpen() || urls.empty() || (urls.size() > 1 && !allowsMultipleSelection_)) return false;
    for (const platform::URL& url : urls) {
        const std::string path = url.path();
        if (!exists(path)) return false;
        if (!(isDirectory(path) ? canChooseDirectories_ : canChooseFiles_) || !enables(url)) return false;
    }
    setChosen(urls);
    endSheet(NSModalResponseOK);
    return true;
}

}  // namespace platform::appkit
