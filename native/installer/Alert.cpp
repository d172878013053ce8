// The alert and its native, MacosUiHelper.showAlert0.
#include "native/installer/Alert.h"

#include <tuple>

#include "native/installer/JavaValues.h"
#include "native/installer/Library.h"
#include "platform/appkit/NSApplication.h"

namespace bfgnative {

namespace appkit = platform::appkit;

Alert::Alert(DialogCallback callback, std::optional<std::u16string> title, std::optional<std::u16string> message,
             std::vector<std::u16string> buttonsTitles, std::optional<std::u16string> cancelButtonTitle,
             bool suppressionShown, std::optional<std::vector<std::uint8_t>> imageData, bool warning)
    : NSAlert("Alert"),
      callback_(std::move(callback)),
      title_(std::move(title)),
      message_(std::move(message)),
      buttonsTitles_(std::move(buttonsTitles)),
      cancelButtonTitle_(std::move(cancelButtonTitle)),
      suppressionShown_(suppressionShown),
      imageData_(std::move(imageData)),
      warning_(warning) {}

Alert::~Alert() = default;

void Alert::show() {
    appkit::NSApplication& application = appkit::NSApplication::sharedApplication();
    const std::shared_ptr<appkit::NSWindow> parent = application.keyWindow();
    for (const std::u16string& title : buttonsTitles_) {
        const std::shared_ptr<appkit::NSButton> button = addButtonWithTitle(title);
        if (cancelButtonTitle_ && title == *cancelButtonTitle_) button->setKeyEquivalent(u"\x1b");
    }
    if (title_) setMessageText(*title_);
    if (message_) setInformativeText(*message_);
    setShowsSuppressionButton(suppressionShown_);
    // Data that is no image leaves the icon unset: the platform's default.
    setIcon(imageData_ ? appkit::NSImage::imageWithData(*imageData_) : application.applicationIconImage());
    if (warning_) setAlertStyle(appkit::NSAlertStyleCritical);

    const auto self = std::static_pointer_cast<Alert>(shared_from_this());
    beginSheetModalForWindow(parent, self, &Alert::alertDidEnd, nullptr);
    self_ = self;
}

void Alert::alertDidEnd(appkit::NSAlert*, appkit::NSModalResponse returnCode, void*) {
    const auto index = static_cast<jint>(returnCode - appkit::NSAlertFirstButtonReturn);
    const bool suppressed = suppressionShown_ && suppressionButton()->state() == appkit::NSControlStateValueOn;
    callback_.deliver<"(IZ)V">([&](JNIEnv*) { return std::tuple{index, suppressed}; });
    self_.reset();  // the sheet's end keeps the alert until this returns
}

}  // namespace bfgnative

extern "C" {

JNIEXPORT void JNICALL Java_com_brimforge_runtime_installer_platform_macos_MacosUiHelper_showAlert0(
    JNIEnv* env, jclass, jstring title, jstring message, jobjectArray buttonTitles, jstring cancelButtonTitle,
    jbyteArray imageData, jboolean warning, jboolean suppressionShown, jobject callback) {
    bfg::guarded("showAlert0", [&] {
        struct Values {
            std::optional<std::u16string> title;
            std::optional<std::u16string> message;
            std::vector<std::u16string> buttonTitles;
            std::optional<std::u16string> cancelButtonTitle;
            std::optional<std::vector<std::uint8_t>> imageData;
        };
        const bool isWarning = warning != JNI_FALSE;
        const bool showsSuppression = suppressionShown != JNI_FALSE;
        bfgnative::postDialog(
            bfgnative::javaVM(), env, callback,
            [&](JNIEnv* e) {
                return Values{getString(e, title), getString(e, message), getStringArray(e, buttonTitles),
                              getString(e, cancelButtonTitle), getData(e, imageData)};
            },
            [isWarning, showsSuppression](Values values, bfgnative::DialogCallback result) {
                const auto alert = std::make_shared<bfgnative::Alert>(
                    std::move(result), std::move(values.title), std::move(values.message),
                    std::move(values.buttonTitles), std::move(values.cancelButtonTitle), showsSuppression,
                    std::move(values.imageData), isWarning);
                alert->show();
            });
    });
}

}  // extern "C"
