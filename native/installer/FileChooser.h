#pragma once
// The file chooser of MacosUiHelper.showFileChooser0: an open or save panel
// shown as a sheet on the application's key window, with a row of check
// boxes ("questions") and a pop-up list of file filters in its accessory
// view. When it ends, the Java callback "([Ljava/lang/String;[Z)V" gets the
// chosen paths (none when cancelled) and the check boxes' states.
//
// Ownership: a FileChooserController is made with std::make_shared on the
// main queue's thread; it owns its panel, and the panel's completion handler
// holds the controller, so the controller lives until the panel has ended
// and is freed then. The accessory view and its components belong to the
// panel; the filter pop-up refers to the panel weakly, so nothing owns
// itself. Everything here runs on the main thread, except getFileFilters,
// which runs on the calling Java thread.

#include <jni.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "native/installer/Callback.h"
#include "platform/appkit/NSControl.h"
#include "platform/appkit/NSSavePanel.h"

namespace bfgnative {

// One file filter: file name suffixes without the dot ("*" allows
// everything), or, when exact, complete file names. Immutable.
class FileFilter {
public:
    // initWithSuffixes:description:exact:.
    FileFilter(std::vector<std::u16string> suffixes, std::u16string description, bool exact);

    bool exact() const noexcept { return exact_; }
    const std::vector<std::u16string>& suffixes() const noexcept { return suffixes_; }
    const std::u16string& filterDescription() const noexcept { return filterDescription_; }
    // The text shown in the pop-up list: the description, and for a suffix
    // filter the patterns, "Text files (*.txt, *.log)".
    const std::u16string& verbose() const noexcept { return verbose_; }
    const std::u16string& description() const noexcept { return filterDescription_; }

private:
    bool exact_;
    std::vector<std::u16string> suffixes_;
    std::u16string filterDescription_;
    std::u16string verbose_;
};

using FileFilters = std::vector<std::shared_ptr<const FileFilter>>;

// An open panel that can enable only items with given exact names. It is its
// own delegate.
class CustomOpenPanel : public platform::appkit::NSOpenPanel,
                        public platform::appkit::NSOpenSavePanelDelegate {
public:
    // init: made with its delegate set.
    static std::shared_ptr<CustomOpenPanel> create();
    CustomOpenPanel() : NSOpenPanel("CustomOpenPanel") {}
    ~CustomOpenPanel() override;

    // None: every item is enabled.
    const std::optional<std::vector<std::u16string>>& exactNames() const noexcept { return exactNames_; }
    void setExactNames(std::optional<std::vector<std::u16string>> names) { exactNames_ = std::move(names); }

    // Enables an item exactly when its last path component is one of the
    // exact names (case-sensitive), folders included; everything when none.
    bool panelShouldEnableURL(platform::appkit::NSSavePanel& sender, const platform::URL& url) override;

private:
    std::optional<std::vector<std::u16string>> exactNames_;
};

// The pop-up list of filters; selecting one applies it to the panel.
class FilterPopupButton : public platform::appkit::NSPopUpButton {
public:
    // initWithFileFilters:index:panel:. Selects item `index` (none when it is
    // outside the list) and applies it at once.
    static std::shared_ptr<FilterPopupButton> create(FileFilters fileFilters, int index,
                                                     const std::shared_ptr<platform::appkit::NSSavePanel>& panel);
    FilterPopupButton(FileFilters fileFilters, const std::shared_ptr<platform::appkit::NSSavePanel>& panel);
    ~FilterPopupButton() override;

    // The action: applies the selected filter to the panel's allowed types,
    // its name field and its exact names; nothing when none is selected.
    void fileFilterChanged(platform::appkit::NSControl* sender);
    // Reloads the panel's file list, when it has one.
    void refreshFileTable();
    // The first view of class "FI_TListView" among `views` and below them,
    // depth first; none when there is none.
    static platform::appkit::NSTableView* findFileTable(
        const std::vector<std::shared_ptr<platform::appkit::NSView>>& views);

private:
    FileFilters fileFilters_;
    std::weak_ptr<platform::appkit::NSSavePanel> panel_;
};

class FileChooserController : public std::enable_shared_from_this<FileChooserController> {
public:
    // initWithOptions:$callback:dialogType:title:currentDirectory:approveButtonText:defaultFileName:showHiddenFiles:fileFilters:fileFilterIndex:questions:questionPresets:.
    // Types: 1 an open panel enabling exact names, 2 several files, 3 a save
    // panel, 4 folders only, 5 files and folders. None, with "Invalid dialog
    // type %i" logged, for any other type. The callback carries the Java VM
    // and the global reference. Missing presets count as off.
    static std::shared_ptr<FileChooserController> create(
        DialogCallback callback, int dialogType, std::optional<std::u16string> title,
        std::optional<std::u16string> currentDirectory, std::optional<std::u16string> approveButtonText,
        std::optional<std::u16string> defaultFileName, bool showHiddenFiles, FileFilters fileFilters,
        int fileFilterIndex, std::vector<std::u16string> questions, std::vector<bool> questionPresets);

    FileChooserController(DialogCallback callback, int dialogType, FileFilters fileFilters, int fileFilterIndex,
                          std::vector<std::u16string> questions, std::vector<bool> questionPresets);
    ~FileChooserController();

    // Begins the panel's sheet.
    void show();

    // The panel for the dialog type; none for an unknown type.
    std::shared_ptr<platform::appkit::NSSavePanel> createSaveOrOpenPanel();
    // The accessory view with the check boxes and the filter list; none when
    // there is neither.
    std::shared_ptr<platform::appkit::NSView> createAccessory();
    void addCheckbox(const std::u16string& title, const std::string& id, bool selected, std::string& horizontalLayout,
                     std::string& verticalLayout, const std::shared_ptr<platform::appkit::NSView>& container);
    void addFilterPopUpButton(const std::shared_ptr<platform::appkit::NSView>& container,
                              std::string& verticalLayout);
    // Delivers the paths of `urls` and the check boxes' states.
    void invokeCallBack(const std::vector<platform::URL>& urls);

    // The layout name of question `index`: "question0", "question1", ...
    static std::string getQuestionId(int index);

    const std::shared_ptr<platform::appkit::NSSavePanel>& panel() const noexcept { return panel_; }

private:
    DialogCallback callback_;
    int dialogType_;
    FileFilters fileFilters_;
    int fileFilterIndex_;
    std::shared_ptr<platform::appkit::NSSavePanel> panel_;
    std::vector<std::u16string> questions_;
    platform::appkit::NSLayoutConstraint::Views components_;  // the accessory's views by layout name
    std::vector<bool> questionPresets_;
};

}  // namespace bfgnative

extern "C" {

// The filters of showFileChooser0, on the calling Java thread: filter i has
// the strings of suffixLists[i], descriptions[i] and exactFlags[i]. A null
// array, or one shorter than the suffix lists, gives no filter for the
// elements it lacks; a null description is an empty text. Each element's
// local references are deleted as it goes. Empty when a Java exception is
// pending (it stays pending).
JNIEXPORT bfgnative::FileFilters getFileFilters(JNIEnv* env, jobjectArray suffixLists, jobjectArray descriptions,
                                                jbooleanArray exactFlags) noexcept;

}  // extern "C"
