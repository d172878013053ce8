// A C++ host's receiver of the Apple events sent to the system process:
// with it registered, libbfgnative's restart request (reboot0) reaches the
// host instead of answering -600 (no such process). To see it answer, this
// program then sends the restart request itself, as libbfgnative does.
#include <cstdio>

#include "platform/coreservices/AppleEvents.h"

int main() {
    platform::AEInstallProcessReceiver({0, platform::kSystemProcess},
        [](const platform::AppleEvent& event, platform::AESendMode, long) -> platform::OSErr {
            platform::AEEventAttributes a;
            platform::AEGetEventAttributes(&event, &a);
            if (a.eventClass == platform::kCoreEventClass && a.eventID == platform::kAERestart) {
                std::puts("restart requested");  // ask the user, then restart through the session manager
            }
            return platform::noErr;  // the sender's status
        });

    const platform::ProcessSerialNumber system{0, platform::kSystemProcess};
    platform::AEAddressDesc target;
    platform::AppleEvent event;
    platform::AECreateDesc(platform::typeProcessSerialNumber, &system, sizeof system, &target);
    platform::AECreateAppleEvent(platform::kCoreEventClass, platform::kAERestart, &target,
                                 platform::kAutoGenerateReturnID, platform::kAnyTransactionID, &event);
    const platform::OSStatus status = platform::AESendMessage(&event, nullptr, platform::kAENoReply,
                                                              platform::kAEDefaultTimeout);
    platform::AEDisposeDesc(&event);
    platform::AEDisposeDesc(&target);
    std::printf("sent: status %d\n", static_cast<int>(status));

    platform::AEInstallProcessReceiver({0, platform::kSystemProcess}, {});  // an empty receiver removes it
    return status == platform::noErr ? 0 : 1;
}
