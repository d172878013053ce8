// A C++ host's user agent: it answers the alerts and the open and save
// panels that libbfgnative shows as sheets. A host installs it before the
// first dialog. To see it answer, this program then shows an alert and a
// save panel of its own from the main queue, as libbfgnative does.
#include <cstdio>
#include <future>
#include <memory>
#include <string>

#include "platform/appkit/NSAlert.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSSavePanel.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/URL.h"

namespace appkit = platform::appkit;

class MyUser : public appkit::NSUserAgent {
    void alertSheetDidBegin(const std::shared_ptr<appkit::NSAlert>& alert) override {
        alert->pressButton(1);  // or later, from the main queue
    }
    void panelSheetDidBegin(const std::shared_ptr<appkit::NSSavePanel>& panel) override {
        panel->choose({platform::URL::fileURLWithPath("/tmp/answer.txt")});  // or cancel()
    }
};

// The alert's modal delegate: hands the return code on.
struct AlertEnd {
    std::promise<appkit::NSModalResponse> returnCode;
    void alertDidEnd(appkit::NSAlert*, appkit::NSModalResponse code, void*) { returnCode.set_value(code); }
};

int main() {
    appkit::NSApplication::sharedApplication().setUserAgent(std::make_shared<MyUser>());

    // AppKit objects are used on the main queue alone.
    std::shared_ptr<appkit::NSAlert> alert;
    std::shared_ptr<appkit::NSSavePanel> panel;
    auto end = std::make_shared<AlertEnd>();
    std::promise<appkit::NSModalResponse> panelResponse;
    const auto main = platform::dispatch::dispatch_get_main_queue();
    platform::dispatch::dispatch_async(main, [&] {
        alert = std::make_shared<appkit::NSAlert>();
        alert->addButtonWithTitle(u"Install");
        alert->addButtonWithTitle(u"Later");
        alert->beginSheetModalForWindow(nullptr, end, &AlertEnd::alertDidEnd, nullptr);
        panel = std::make_shared<appkit::NSSavePanel>();
        panel->beginSheetModalForWindow(nullptr, [&](appkit::NSModalResponse r) { panelResponse.set_value(r); });
    });
    const appkit::NSModalResponse button = end->returnCode.get_future().get();
    const appkit::NSModalResponse response = panelResponse.get_future().get();
    std::string chosen;
    platform::dispatch::dispatch_sync(main, [&] {
        chosen = panel->URL() ? panel->URL()->path() : "(none)";
        alert.reset();
        panel.reset();
    });

    std::printf("alert: button %ld\nsave panel: response %ld, %s\n", button - appkit::NSAlertFirstButtonReturn,
                response, chosen.c_str());
    return button == appkit::NSAlertSecondButtonReturn && response == appkit::NSModalResponseOK ? 0 : 1;
}
