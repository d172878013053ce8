// The file chooser and its natives, MacosUiHelper.showFileChooser0 and getFileFilters.
#include "native/installer/FileChooser.h"

#include <algorithm>
#include <tuple>

#include "native/installer/JavaValues.h"
#include "native/installer/Library.h"
#include "platform/appkit/NSApplication.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PathComponents.h"
#include "platform/foundation/UTF8.h"

namespace bfgnative {

namespace appkit = platform::appkit;
using appkit::NSLayoutConstraint;

FileFilter::FileFilter(std::vector<std::u16string> suffixes, std::u16string description, bool exact)
    : exact_(exact), suffixes_(std::move(suffixes)), filterDescription_(std::move(description)) {
    verbose_ = filterDescription_;
    if (exact_) return;
    verbose_ += u" (";
    for (std::size_t i = 0; i < suffixes_.size(); ++i) {
        if (i > 0) verbose_ += u", ";
        verbose_ += u"*.";
        verbose_ += suffixes_[i];
    }
    verbose_ += u")";
}

std::shared_ptr<CustomOpenPanel> CustomOpenPanel::create() {
    auto panel = std::make_shared<CustomOpenPanel>();
    panel->setDelegate(std::shared_ptr<appkit::NSOpenSavePanelDelegate>(panel));
    return panel;
}

CustomOpenPanel::~CustomOpenPanel() = default;

bool CustomOpenPanel::panelShouldEnableURL(appkit::NSSavePanel&, const platform::URL& url) {
    if (!exactNames_) return true;
    const std::u16string name = platform::lastPathComponent(platform::utf8ToUTF16(url.path()));
    return std::find(exactNames_->begin(), exactNames_->end(), name) != exactNames_->end();
}

FilterPopupButton::FilterPopupButton(FileFilters fileFilters, const std::shared_ptr<appkit::NSSavePanel>& panel)
    : NSPopUpButton("FilterPopupButton", appkit::NSZeroRect, false),
      fileFilters_(std::move(fileFilters)),
      panel_(panel) {}

FilterPopupButton::~FilterPopupButton() = default;

std::shared_ptr<FilterPopupButton> FilterPopupButton::create(FileFilters fileFilters, int index,
                                                             const std::shared_ptr<appkit::NSSavePanel>& panel) {
    auto button = std::make_shared<FilterPopupButton>(std::move(fileFilters), panel);
    for (const auto& filter : button->fileFilters_) button->addItemWithTitle(filter->verbose());
    button->selectItemAtIndex(index);
    button->setTarget(button, &FilterPopupButton::fileFilterChanged);
    button->fileFilterChanged(button.get());
    button->sizeToFit();
    button->setTranslatesAutoresizingMaskIntoConstraints(false);
    return button;
}

void FilterPopupButton::fileFilterChanged(appkit::NSControl*) {
    const long index = indexOfSelectedItem();
    const std::shared_ptr<appkit::NSSavePanel> panel = panel_.lock();
    if (index < 0 || static_cast<std::size_t>(index) >= fileFilters_.size() || !panel) return;
    const FileFilter& filter = *fileFilters_[static_cast<std::size_t>(index)];
    const auto& suffixes = filter.suffixes();
    const bool showsEverything = filter.exact() || std::find(suffixes.begin(), suffixes.end(), u"*") != suffixes.end();
    if (showsEverything) {
        panel->setAllowedFileTypes(std::nullopt);
        panel->setNameFieldStringValue(platform::stringByDeletingPathExtension(panel->nameFieldStringValue()));
    } else {
        panel->setAllowedFileTypes(suffixes);
    }
    if (auto* custom = dynamic_cast<CustomOpenPanel*>(panel.get())) {
        custom->setExactNames(filter.exact() ? std::optional(suffixes) : std::nullopt);
    }
    refreshFileTable();
    panel->validateVisibleColumns();
}

void FilterPopupButton::refreshFileTable() {
    const std::shared_ptr<appkit::NSSavePanel> panel = panel_.lock();
    if (!panel) return;
    if (appkit::NSTableView* table = findFileTable(panel->contentView()->subviews())) table->reloadData();
}

appkit::NSTableView* FilterPopupButton::findFileTable(const std::vector<std::shared_ptr<appkit::NSView>>& views) {
    for (const auto& view : views) {
        if (view->className() == "FI_TListView") {
            if (auto* table = dynamic_cast<appkit::NSTableView*>(view.get())) return table;
        }
        if (appkit::NSTableView* found = findFileTable(view->subviews())) return found;
    }
    return nullptr;
}

FileChooserController::FileChooserController(DialogCallback callback, int dialogType, FileFilters fileFilters,
                                             int fileFilterIndex, std::vector<std::u16string> questions,
                                             std::vector<bool> questionPresets)
    : callback_(std::move(callback)),
      dialogType_(dialogType),
      fileFilters_(std::move(fileFilters)),
      fileFilterIndex_(fileFilterIndex),
      questions_(std::move(questions)),
      questionPresets_(std::move(questionPresets)) {}

FileChooserController::~FileChooserController() = default;

std::shared_ptr<FileChooserController> FileChooserController::create(
    DialogCallback callback, int dialogType, std::optional<std::u16string> title,
    std::optional<std::u16string> currentDirectory, std::optional<std::u16string> approveButtonText,
    std::optional<std::u16string> defaultFileName, bool showHiddenFiles, FileFilters fileFilters,
    int fileFilterIndex, std::vector<std::u16string> questions, std::vector<bool> questionPresets) {
    if (questionPresets.size() < questions.size()) {
        platform::NSLog("showFileChooser0: %i of %i check boxes have no preset and start off",
                        questions.size() - questionPresets.size(), questions.size());
    }
    auto controller = std::make_shared<FileChooserController>(std::move(callback), dialogType, std::move(fileFilters),
                                                              fileFilterIndex, std::move(questions),
                                                              std::move(questionPresets));
    controller->panel_ = controller->createSaveOrOpenPanel();
    if (!controller->panel_) return nullptr;
    appkit::NSSavePanel& panel = *controller->panel_;
    if (title) panel.setMessage(std::move(title));
    if (currentDirectory) panel.setDirectoryURL(platform::URL::fileURLWithPath(platform::utf16ToUTF8(*currentDirectory)));
    if (defaultFileName) panel.setNameFieldStringValue(std::move(*defaultFileName));
    if (approveButtonText) panel.setPrompt(std::move(approveButtonText));
    if (dialogType != 1) panel.setCanCreateDirectories(true);
    panel.setShowsHiddenFiles(showHiddenFiles);
    panel.setAccessoryView(controller->createAccessory());
    return controller;
}

std::shared_ptr<appkit::NSSavePanel> FileChooserController::createSaveOrOpenPanel() {
    switch (dialogType_) {
        case 1:
            return CustomOpenPanel::create();
        case 2: {
            auto panel = std::make_shared<appkit::NSOpenPanel>();
            panel->setAllowsMultipleSelection(true);
            return panel;
        }
        case 3:
            return std::make_shared<appkit::NSSavePanel>();
        case 4:
        case 5: {
            auto panel = std::make_shared<appkit::NSOpenPanel>();
            panel->setCanChooseDirectories(true);
            panel->setCanChooseFiles(dialogType_ == 5);
            return panel;
        }
        default:
            platform::NSLog("Invalid dialog type %i", dialogType_);
            return nullptr;
    }
}

std::shared_ptr<appkit::NSView> FileChooserController::createAccessory() {
    const auto container = std::make_shared<appkit::NSView>();
    container->setTranslatesAutoresizingMaskIntoConstraints(false);
    components_.clear();
    std::string horizontal;
    std::string vertical = "V:|-10";
    for (std::size_t i = 0; i < questions_.size(); ++i) {
        const bool preset = i < questionPresets_.size() && questionPresets_[i];
        addCheckbox(questions_[i], getQuestionId(static_cast<int>(i)), preset, horizontal, vertical, container);
    }
    addFilterPopUpButton(container, vertical);
    if (!horizontal.empty()) {
        horizontal += "->=0-|";
        container->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
            horizontal, appkit::NSLayoutFormatAlignAllLastBaseline, nullptr, components_));
    }
    if (components_.empty()) return nullptr;
    vertical += "-10-|";
    container->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(vertical, 0, nullptr, components_));
    container->setFrameSize(container->fittingSize());
    return container;
}

void FileChooserController::addCheckbox(const std::u16string& title, const std::string& id, bool selected,
                                        std::string& horizontalLayout, std::string& verticalLayout,
                                        const std::shared_ptr<appkit::NSView>& container) {
    const auto box = std::make_shared<appkit::NSButton>();
    box->setButtonType(appkit::NSButtonTypeSwitch);
    box->setTitle(title);
    box->sizeToFit();
    box->setTranslatesAutoresizingMaskIntoConstraints(false);
    box->setState(selected ? appkit::NSControlStateValueOn : appkit::NSControlStateValueOff);
    container->addSubview(box);
    components_[id] = box;
    if (horizontalLayout.empty()) {
        horizontalLayout += "H:|-10-[" + id + "]";
        verticalLayout += "-[" + id + "]";
    } else {
        horizontalLayout += "-[" + id + "]";
    }
}

void FileChooserController::addFilterPopUpButton(const std::shared_ptr<appkit::NSView>& container,
                                                 std::string& verticalLayout) {
    if (fileFilters_.empty()) return;
    const auto button = FilterPopupButton::create(fileFilters_, fileFilterIndex_, panel_);
    container->addSubview(button);
    components_["filters"] = button;
    container->addConstraint(NSLayoutConstraint::constraintWithItem(
        button, appkit::NSLayoutAttributeCenterX, appkit::NSLayoutRelationEqual, container,
        appkit::NSLayoutAttributeCenterX, 1.0, 0));
    container->addConstraints(
        NSLayoutConstraint::constraintsWithVisualFormat("|->=0-[filters]->=0-|", 0, nullptr, components_));
    verticalLayout += "-[filters]";
}

void FileChooserController::show() {
    const std::shared_ptr<appkit::NSWindow> parent = appkit::NSApplication::sharedApplication().keyWindow();
    panel_->beginSheetModalForWindow(parent, [self = shared_from_this()](appkit::NSModalResponse response) {
        std::vector<platform::URL> urls;
        if (response != appkit::NSModalResponseCancel) {
            if (self->dialogType_ == 3) {
                // A save panel ended without a location has nothing to report.
                if (std::optional<platform::URL> url = self->panel_->URL()) urls.push_back(std::move(*url));
            } else if (const auto* open = dynamic_cast<const appkit::NSOpenPanel*>(self->panel_.get())) {
                urls = open->URLs();
            }
        }
        self->invokeCallBack(urls);
    });
}

void FileChooserController::invokeCallBack(const std::vector<platform::URL>& urls) {
    // The paths go to Java as UTF-16, so every character of a file name arrives intact.
    std::vector<std::u16string> paths;
    paths.reserve(urls.size());
    for (const platform::URL& url : urls) paths.push_back(platform::utf8ToUTF16(url.path()));
    std::vector<bool> states(questions_.size(), false);
    for (std::size_t i = 0; i < questions_.size(); ++i) {
        const auto found = components_.find(getQuestionId(static_cast<int>(i)));
        const auto* box = found == components_.end() ? nullptr : dynamic_cast<const appkit::NSButton*>(found->second.get());
        states[i] = box && box->state() == appkit::NSControlStateValueOn;
    }
    callback_.deliver<"([Ljava/lang/String;[Z)V">([&](JNIEnv* env) {
        return std::tuple{bfg::newStringArray(env, paths), bfg::newBooleanArray(env, states)};
    });
}

std::string FileChooserController::getQuestionId(int index) { return "question" + std::to_string(index); }

}  // namespace bfgnative

extern "C" {

JNIEXPORT bfgnative::FileFilters getFileFilters(JNIEnv* env, jobjectArray suffixLists, jobjectArray descriptions,
                                                jbooleanArray exactFlags) noexcept {
    using bfgnative::FileFilters;
    return bfg::guarded("getFileFilters", FileFilters(), [&] {
        FileFilters filters;
        if (env->ExceptionCheck()) return filters;
        if (!suffixLists || !descriptions || !exactFlags) {
            platform::NSLog("getFileFilters: a null array read as no filters");
            return filters;
        }
        const jsize lists = env->GetArrayLength(suffixLists);
        const jsize count = std::min({lists, env->GetArrayLength(descriptions), env->GetArrayLength(exactFlags)});
        if (count < lists) {
            platform::NSLog("getFileFilters: %i of %i filters lack a description or an exact flag and are left out",
                            lists - count, lists);
        }
        const std::vector<bool> exact = getBooleanArray(env, exactFlags);
        if (env->ExceptionCheck()) return filters;
        filters.reserve(static_cast<std::size_t>(count));
        for (jsize i = 0; i < count; ++i) {
            const bfg::LocalRef<jstring> description(env, static_cast<jstring>(env->GetObjectArrayElement(descriptions, i)));
            if (env->ExceptionCheck()) return FileFilters();
            const bfg::LocalRef<jobjectArray> suffixes(env,
                                                       static_cast<jobjectArray>(env->GetObjectArrayElement(suffixLists, i)));
            if (env->ExceptionCheck()) return FileFilters();
            std::optional<std::u16string> text = getString(env, description.get());
            std::vector<std::u16string> names = getStringArray(env, suffixes.get());
            if (env->ExceptionCheck()) return FileFilters();
            filters.push_back(std::make_shared<const bfgnative::FileFilter>(
                std::move(names), std::move(text).value_or(std::u16string()), exact[static_cast<std::size_t>(i)]));
        }
        return filters;
    });
}

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacosUiHelper_showFileChooser0(
    JNIEnv* env, jclass, jint dialogType, jstring title, jstring currentDirectory, jstring approveButtonText,
    jstring defaultFileName, jboolean showHiddenFiles, jobjectArray suffixLists, jobjectArray descriptions,
    jint fileFilterIndex, jbooleanArray exactFlags, jobjectArray questions, jbooleanArray questionPresets,
    jobject callback) {
    bfg::guarded("showFileChooser0", [&] {
        struct Values {
            std::optional<std::u16string> title;
            std::optional<std::u16string> currentDirectory;
            std::optional<std::u16string> approveButtonText;
            std::optional<std::u16string> defaultFileName;
            bfgnative::FileFilters fileFilters;
            std::vector<std::u16string> questions;
            std::vector<bool> questionPresets;
        };
        const bool showsHidden = showHiddenFiles != JNI_FALSE;
        bfgnative::postDialog(
            bfgnative::javaVM(), env, callback,
            [&](JNIEnv* e) {
                return Values{getString(e, title),
                              getString(e, currentDirectory),
                              getString(e, approveButtonText),
                              getString(e, defaultFileName),
                              getFileFilters(e, suffixLists, descriptions, exactFlags),
                              getStringArray(e, questions),
                              getBooleanArray(e, questionPresets)};
            },
            [dialogType, fileFilterIndex, showsHidden](Values values, bfgnative::DialogCallback result) {
                const auto controller = bfgnative::FileChooserController::create(
                    std::move(result), dialogType, std::move(values.title), std::move(values.currentDirectory),
                    std::move(values.approveButtonText), std::move(values.defaultFileName), showsHidden,
                    std::move(values.fileFilters), fileFilterIndex, std::move(values.questions),
                    std::move(values.questionPresets));
                if (controller) controller->show();
            });
    });
}

}  // extern "C"
