#pragma once
// Save and open panels of the headless AppKit model.
//
// A panel browses the real file system: the items of its directory that it
// enables, and what the user may choose, follow its settings, its allowed
// file types (a name's extension, compared without regard to ASCII case; none
// set: every type) and its delegate's panel:shouldEnableURL:, which is asked
// about every item, folders included. Its content view holds the file list,
// a table view of class "FI_TListView", somewhere below other views.
//
// A panel shown as a sheet stays open until its user agent (NSApplication.h)
// ends it: the user chooses items (NSModalResponseOK, 1) or cancels
// (NSModalResponseCancel, 0), or the system ends it (0). Then the completion
// handler runs with the response and is released.
//
// Ownership: while its sheet is open the panel keeps itself alive, as the
// window system keeps a sheet on screen, and it holds its completion handler, so whatever the
// handler holds lives until the panel ends. The delegate is held weakly, as
// the platform does. Panels are made with std::make_shared. Used on the main
// thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSControl.h"
#include "platform/appkit/NSWindow.h"
#include "platform/foundation/URL.h"

namespace platform::appkit {

class NSSavePanel;

class PLATFORM_APPKIT_API NSOpenSavePanelDelegate {
public:
    virtual ~NSOpenSavePanelDelegate();
    // panel:shouldEnableURL:. Every item is enabled by default.
    virtual bool panelShouldEnableURL(NSSavePanel& sender, const URL& url);
};

class PLATFORM_APPKIT_API NSSavePanel : public NSWindow {
public:
    NSSavePanel() : NSSavePanel("NSSavePanel") {}
    ~NSSavePanel() override;

    const std::optional<std::u16string>& message() const noexcept { return message_; }
    void setMessage(std::optional<std::u16string> message) { message_ = std::move(message); }
    const std::optional<platform::URL>& directoryURL() const noexcept { return directoryURL_; }
    void setDirectoryURL(std::optional<platform::URL> url) { directoryURL_ = std::move(url); }
    const std::u16string& nameFieldStringValue() const noexcept { return nameField_; }
    void setNameFieldStringValue(std::u16string name) { nameField_ = std::move(name); }
    // The approve button's text; none: the platform's ("Save", "Open").
    const std::optional<std::u16string>& prompt() const noexcept { return prompt_; }
    void setPrompt(std::optional<std::u16string> prompt) { prompt_ = std::move(prompt); }
    bool canCreateDirectories() const noexcept { return canCreateDirectories_; }
    void setCanCreateDirectories(bool value) noexcept { canCreateDirectories_ = value; }
    bool showsHiddenFiles() const noexcept { return showsHiddenFiles_; }
    void setShowsHiddenFiles(bool value) noexcept { showsHiddenFiles_ = value; }
    // Name extensions without the dot; none: every type.
    const std::optional<std::vector<std::u16string>>& allowedFileTypes() const noexcept { return allowedTypes_; }
    void setAllowedFileTypes(std::optional<std::vector<std::u16string>> types) { allowedTypes_ = std::move(types); }
    const std::shared_ptr<NSView>& accessoryView() const noexcept { return accessoryView_; }
    void setAccessoryView(std::shared_ptr<NSView> view) { accessoryView_ = std::move(view); }
    std::shared_ptr<NSOpenSavePanelDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<NSOpenSavePanelDelegate> delegate) { delegate_ = std::move(delegate); }

    // Revalidates the visible columns of the file browser (counted here).
    void validateVisibleColumns() noexcept { ++columnValidations_; }
    int columnValidationCount() const noexcept { return columnValidations_; }
    // The file list in the content view, for agents that report on it.
    const std::shared_ptr<NSTableView>& fileList() const noexcept { return fileList_; }

    // The item chosen when the panel ended with OK.
    std::optional<platform::URL> URL() const;

    // beginSheetModalForWindow:completionHandler:. Begins the sheet on
    // `window` (none: the panel stands alone) and returns at once. Throws
    // std::logic_error when a sheet of this panel is already open or the
    // panel is not owned by a std::shared_ptr.
    void beginSheetModalForWindow(const std::shared_ptr<NSWindow>& window,
                                  std::function<void(NSModalResponse)> completionHandler);
    bool isSheetOpen() const noexcept { return static_cast<bool>(handler_); }
    std::shared_ptr<NSWindow> sheetParent() const { return sheetParent_.lock(); }

    // True when the panel shows the item at `url` enabled: its delegate
    // agrees and it is a folder or a file of an allowed type.
    bool enables(const platform::URL& url);
    // The names of the items of the directory that the panel shows and
    // enables, sorted; folders end in "/". Hidden items are shown only when
    // the panel shows hidden files.
    std::vector<std::string> enabledItemNames();

    // The user's operations, for user agents, while the sheet is open.
    // Chooses `urls` and confirms: the sheet ends with OK. False, nothing
    // done, when the panel would not let the user choose them. A save panel
    // takes one location whose folder exists, with an allowed extension.
    virtual bool choose(const std::vector<platform::URL>& urls);
    void cancel() { endSheet(NSModalResponseCancel); }
    // Ends the sheet with `response`, as the system does when it closes a
    // sheet by itself (0). No effect when no sheet is open.
    void endSheet(NSModalResponse response);

protected:
    explicit NSSavePanel(std::string className);
    bool typeAllowed(const std::string& name) const;
    void setChosen(std::vector<platform::URL> urls) { chosen_ = std::move(urls); }
    const std::vector<platform::URL>& chosen() const noexcept { return chosen_; }
    // Whether the panel enables files at all (open panels may not).
    virtual bool enablesFiles() const noexcept { return true; }

private:
    std::optional<std::u16string> message_;
    std::optional<platform::URL> directoryURL_;
    std::u16string nameField_;
    std::optional<std::u16string> prompt_;
    bool canCreateDirectories_ = true;
    bool showsHiddenFiles_ = false;
    std::optional<std::vector<std::u16string>> allowedTypes_;
    std::shared_ptr<NSView> accessoryView_;
    std::weak_ptr<NSOpenSavePanelDelegate> delegate_;
    std::shared_ptr<NSTableView> fileList_;
    int columnValidations_ = 0;
    std::vector<platform::URL> chosen_;
    std::function<void(NSModalResponse)> handler_;
    std::weak_ptr<NSWindow> sheetParent_;
    std::shared_ptr<NSWindow> keepAlive_;  // itself, while its sheet is open
};

class PLATFORM_APPKIT_API NSOpenPanel : public NSSavePanel {
public:
    NSOpenPanel() : NSOpenPanel("NSOpenPanel") {}
    ~NSOpenPanel() override;

    bool allowsMultipleSelection() const noexcept { return allowsMultipleSelection_; }
    void setAllowsMultipleSelection(bool value) noexcept { allowsMultipleSelection_ = value; }
    bool canChooseFiles() const noexcept { return canChooseFiles_; }
    void setCanChooseFiles(bool value) noexcept { canChooseFiles_ = value; }
    bool canChooseDirectories() const noexcept { return canChooseDirectories_; }
    void setCanChooseDirectories(bool value) noexcept { canChooseDirectories_ = value; }

    // The items chosen when the panel ended with OK, in the order chosen.
    std::vector<platform::URL> URLs() const { return chosen(); }

    // Chooses existing items the panel enables: files when it chooses
    // files, folders when it chooses folders, several only when it allows
    // multiple selection.
    bool choose(const std::vector<platform::URL>& urls) override;

protected:
    explicit NSOpenPanel(std::string className);
    bool enablesFiles() const noexcept override { return canChooseFiles_; }

private:
    bool allowsMultipleSelection_ = false;
    bool canChooseFiles_ = true;
    bool canChooseDirectories_ = false;
};

}  // namespace platform::appkit
