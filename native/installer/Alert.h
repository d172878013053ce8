#pragma once
// The alert of MacosUiHelper.showAlert0: an NSAlert shown as a sheet on the
// application's key window. When it ends, the Java callback "(IZ)V" gets the
// zero-based index of the button that ended it (return code - 1000, so a
// sheet the system ended with 0 gives -1000) and whether the suppression
// check box was shown and ticked.
//
// Ownership: made with std::make_shared on the main queue's thread, an Alert
// keeps itself alive from show() until its end handler has delivered the
// result, and is freed then. Used on the main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "native/installer/Callback.h"
#include "platform/appkit/NSAlert.h"

namespace bfgnative {

class Alert : public platform::appkit::NSAlert {
public:
    // initWithOptions:$callback:title:message:buttonTitles:cancelButtonTitle:suppressionShown:imageData:warning:
    // The callback carries the Java VM and the global reference.
    Alert(DialogCallback callback, std::optional<std::u16string> title, std::optional<std::u16string> message,
          std::vector<std::u16string> buttonsTitles, std::optional<std::u16string> cancelButtonTitle,
          bool suppressionShown, std::optional<std::vector<std::uint8_t>> imageData, bool warning);
    ~Alert() override;

    // Builds the alert and begins its sheet.
    void show();

    // The sheet's end handler: delivers the result.
    void alertDidEnd(platform::appkit::NSAlert* alert, platform::appkit::NSModalResponse returnCode,
                     void* contextInfo);

private:
    DialogCallback callback_;
    std::optional<std::u16string> title_;
    std::optional<std::u16string> message_;
    std::vector<std::u16string> buttonsTitles_;
    std::optional<std::u16string> cancelButtonTitle_;
    bool suppressionShown_;
    std::optional<std::vector<std::uint8_t>> imageData_;
    bool warning_;
    std::shared_ptr<Alert> self_;  // while the sheet is open
};

}  // namespace bfgnative
