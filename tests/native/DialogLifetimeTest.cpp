// How long the alert and the file chooser's controller live, seen through a
// user agent that answers later and holds the sheets only weakly.
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "native/installer/Alert.h"
#include "native/installer/FileChooser.h"
#include "platform/appkit/NSApplication.h"
#include "tests/native/StderrCapture.h"

namespace {

namespace appkit = platform::appkit;
using bfgnative::DialogCallback;
using platform::dispatch::dispatch_get_main_queue;
using platform::dispatch::dispatch_sync;

class LateUser : public appkit::NSUserAgent {
public:
    void alertSheetDidBegin(const std::shared_ptr<appkit::NSAlert>& a) override { alert = a; }
    void panelSheetDidBegin(const std::shared_ptr<appkit::NSSavePanel>& p) override { panel = p; }

    std::weak_ptr<appkit::NSAlert> alert;
    std::weak_ptr<appkit::NSSavePanel> panel;
};

void onMainQueue(const std::function<void()>& body) { dispatch_sync(dispatch_get_main_queue(), body); }

TEST(DialogLifetime, AlertAndChooserLiveUntilTheirSheetsEndAndNoLonger) {
    const auto user = std::make_shared<LateUser>();
    appkit::NSApplication::sharedApplication().setUserAgent(user);
    std::weak_ptr<bfgnative::Alert> alert;
    std::weak_ptr<bfgnative::FileChooserController> controller;
    std::weak_ptr<appkit::NSSavePanel> panel;
    onMainQueue([&] {
        // No Java VM here: a null callback object, whose delivery only logs.
        const auto a = std::make_shared<bfgnative::Alert>(DialogCallback(nullptr, nullptr, nullptr), u"Install?",
                                                          std::nullopt, std::vector<std::u16string>{u"OK"},
                                                          std::nullopt, true, std::nullopt, false);
        a->show();
        alert = a;
        const auto filter = std::make_shared<const bfgnative::FileFilter>(std::vector<std::u16string>{u"txt"}, u"Text", false);
        const auto c = bfgnative::FileChooserController::create(
            DialogCallback(nullptr, nullptr, nullptr), 2, u"Pick", std::nullopt, std::nullopt, std::nullopt, false,
            {filter}, 0, {u"Shortcut"}, {true});
        ASSERT_NE(c, nullptr);
        c->show();
        controller = c;
        panel = c->panel();
    });
    onMainQueue([] {});  // the agent has been told of both sheets
    ASSERT_FALSE(user->alert.expired());
    ASSERT_FALSE(user->panel.expired());
    EXPECT_FALSE(alert.expired());
    EXPECT_FALSE(controller.expired());

    const std::string log = bfgtest::captureStderr([&] {
        onMainQueue([&] {
            EXPECT_TRUE(user->alert.lock()->pressButton(0));
            user->panel.lock()->cancel();
        });
    });
    // Both end handlers tried to deliver.
    std::size_t deliveries = 0;
    for (std::size_t at = log.find("] Could not get JNI env\n"); at != std::string::npos;
         at = log.find("] Could not get JNI env\n", at + 1)) {
        ++deliveries;
    }
    EXPECT_EQ(deliveries, 2u) << log;
    EXPECT_TRUE(alert.expired());
    EXPECT_TRUE(controller.expired());
    EXPECT_TRUE(panel.expired());
    appkit::NSApplication::sharedApplication().setUserAgent(nullptr);
}

TEST(DialogLifetime, AnInvalidDialogTypeMakesNoControllerAndIsLogged) {
    std::shared_ptr<bfgnative::FileChooserController> controller;
    const std::string log = bfgtest::captureStderr([&] {
        controller = bfgnative::FileChooserController::create(DialogCallback(nullptr, nullptr, nullptr), 6,
                                                              std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                                              false, {}, 0, {}, {});
    });
    EXPECT_EQ(controller, nullptr);
    EXPECT_NE(log.find("] Invalid dialog type 6\n"), std::string::npos) << log;
}

}  // namespace
