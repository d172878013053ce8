// The exported Apple event sender, without a Java VM.
#include "native/installer/SystemServices.h"

#include <gtest/gtest.h>

#include "platform/coreservices/AppleEvents.h"

namespace {

TEST(SendAppleEventToSystemProcess, AnswersWhatTheSystemProcessAnswers) {
    EXPECT_EQ(SendAppleEventToSystemProcess(platform::kAERestart), platform::procNotFound) << "no receiver";
    platform::AEEventID seen = 0;
    ASSERT_EQ(platform::AEInstallProcessReceiver({0, platform::kSystemProcess},
                                                 [&](const platform::AppleEvent& event, platform::AESendMode, long) {
                                                     platform::AEEventAttributes attributes;
                                                     platform::AEGetEventAttributes(&event, &attributes);
                                                     seen = attributes.eventID;
                                                     return platform::OSErr{-1};
                                                 }),
              platform::noErr);
    EXPECT_EQ(SendAppleEventToSystemProcess(platform::kAEShutDown), -1);
    EXPECT_EQ(seen, platform::kAEShutDown);
    platform::AEInstallProcessReceiver({0, platform::kSystemProcess}, nullptr);
}

}  // namespace
